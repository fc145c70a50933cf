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
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.topMargin: 96
        width: parent.width - 64
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
