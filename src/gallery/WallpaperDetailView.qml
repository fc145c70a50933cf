import QtQuick
import Lumivale.Gallery

// A wallpaper's page over the tabs: for now its name and the way back.
Rectangle {
    id: page
    required property ContentView content
    color: Theme.background

    Column {
        anchors.centerIn: parent
        spacing: 16
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: page.content.selectedWallpaperName
            color: "white"
            font.family: Theme.fontFamily
            font.pixelSize: 26
            font.weight: Font.Bold
        }
        Rectangle {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 40
            height: 40
            radius: 20
            color: Qt.rgba(1, 1, 1, 0.12)
            Icon {
                anchors.centerIn: parent
                name: "chevron.left"
                color: "white"
                size: 16
            }
            TapHandler {
                onTapped: page.content.closeSelectedWallpaper()
            }
        }
    }
}
