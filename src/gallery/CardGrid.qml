import QtQuick
import Lumivale.Gallery

// Cards of a list model in three columns with 18 between them; a click opens
// the wallpaper's page. The view reaches `gap` past the last column, so that
// three cells fit its width.
GridView {
    id: grid
    property ContentView content
    readonly property int columns: 3
    readonly property int gap: 18
    readonly property real cardWidth: cellWidth - gap

    cellWidth: Math.floor(width / columns)
    cellHeight: Math.round(cardWidth * 9 / 16) + gap
    boundsBehavior: Flickable.StopAtBounds
    cacheBuffer: 0
    reuseItems: false

    delegate: Item {
        id: cell
        required property string wallpaperID
        required property string name
        required property string category
        required property string resolution
        required property bool isNew
        required property string likeCountText
        required property url video
        required property bool hasVideo
        required property bool isActive
        required property bool isDownloaded
        required property bool isDownloading
        required property real downloadFraction
        width: grid.cellWidth
        height: grid.cellHeight
        WallpaperCard {
            width: grid.cardWidth
            wallpaperID: cell.wallpaperID
            name: cell.name
            category: cell.category
            resolution: cell.resolution
            isNew: cell.isNew
            likeCountText: cell.likeCountText
            video: cell.video
            hasVideo: cell.hasVideo
            isActive: cell.isActive
            isDownloaded: cell.isDownloaded
            isDownloading: cell.isDownloading
            downloadFraction: cell.downloadFraction
            coordinator: grid.content ? grid.content.previewCoordinator : null
            playbackAllowed: grid.content ? grid.content.isContentActive : false
            TapHandler {
                onTapped: grid.content.selectWallpaper(cell.wallpaperID)
            }
        }
    }
}
