import QtQuick
import Lumivale.Gallery

// Cards with every combination of badges and chips, for the screenshot.
Rectangle {
    id: sheet
    required property url red
    required property url blue
    color: Theme.background
    width: 1280
    height: 820

    Grid {
        anchors.centerIn: parent
        columns: 4
        spacing: 18
        Repeater {
            model: [
                { n: "Plain", v: true },
                { n: "New", v: true, isNew: true },
                { n: "Liked", v: true, likes: "12" },
                { n: "Downloaded", v: true, dl: true },
                { n: "Active", v: true, act: true },
                { n: "Active, downloaded", v: true, act: true, dl: true },
                { n: "Downloaded, liked", v: true, dl: true, likes: "1.2K" },
                { n: "Everything", v: true, isNew: true, act: true, dl: true, likes: "3.4M" },
                { n: "No video", v: false, isNew: true, likes: "7" },
                { n: "Downloading 40 %", v: true, loading: true, fraction: 0.4 },
                { n: "Downloading, size unknown", v: true, loading: true, fraction: -1 },
                { n: "New, downloaded", v: true, isNew: true, dl: true },
            ]
            delegate: WallpaperCard {
                required property var modelData
                required property int index
                width: 290
                wallpaperID: "card" + index
                name: modelData.n
                category: "Nature"
                resolution: "4K"
                isNew: modelData.isNew ?? false
                likeCountText: modelData.likes ?? ""
                video: modelData.v ? (index % 2 ? sheet.blue : sheet.red) : ""
                hasVideo: modelData.v
                isActive: modelData.act ?? false
                isDownloaded: modelData.dl ?? false
                isDownloading: modelData.loading ?? false
                downloadFraction: modelData.fraction ?? -1
            }
        }
    }
}
