import QtQuick
import Lumivale.Gallery

// The Likes tab: the liked wallpapers that match the search, in catalogue
// order, or a quiet note when there are none.
Item {
    id: likes
    required property ContentView content

    WallpaperListModel {
        id: likedModel
        content: likes.content
        query: likes.content.appliedQuery
        likedOnly: true
    }
    CardGrid {
        objectName: "likesGrid"
        anchors.fill: parent
        anchors.topMargin: 96
        anchors.leftMargin: 32
        anchors.rightMargin: 32 - 18
        bottomMargin: 112
        clip: true
        visible: likedModel.count > 0
        content: likes.content
        model: likedModel
    }
    Column {
        anchors.centerIn: parent
        spacing: 10
        visible: likedModel.count === 0
        Icon {
            anchors.horizontalCenter: parent.horizontalCenter
            name: "heart"
            color: Theme.icon
            size: 38
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "No liked wallpapers"
            color: Theme.caption
            font.family: Theme.fontFamily
            font.pixelSize: 14
            font.weight: Font.Medium
        }
    }
}
