import QtQuick
import Lumivale.Gallery

// The Likes tab: the liked wallpapers that match the search, in catalogue
// order, in three columns inset 32 at the sides, 76 at the top and 112 at the
// bottom; or a quiet note when there are none.
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
        anchors.leftMargin: 32
        // The grid reaches one gap past its last column.
        anchors.rightMargin: 32 - 18
        topMargin: 76
        bottomMargin: 112
        visible: likedModel.count > 0
        content: likes.content
        model: likedModel
    }
    Column {
        objectName: "likesEmpty"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 76 + 140
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
