import QtQuick
import Lumivale.Gallery

// The Home tab: every wallpaper that matches the search, as cards.
Item {
    id: home
    required property ContentView content

    CardGrid {
        objectName: "homeGrid"
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.topMargin: 96
        x: 32
        width: parent.width - 64 + 18
        topMargin: 0
        bottomMargin: 112
        clip: true
        content: home.content
        model: WallpaperListModel {
            content: home.content
            query: home.content.appliedQuery
        }
    }
}
