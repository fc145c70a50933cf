import QtQuick
import Lumivale.Gallery

// All the wallpapers of one category in three columns, under a way back and
// the category's name; a click on a card opens it.
Item {
    id: page
    required property HomeViewModel home
    required property ContentView content

    WheelScrollArea {
        anchors.fill: parent
        flickable: grid
        home: page.home
        CardGrid {
            id: grid
            objectName: "categoryGrid"
            x: 32
            width: parent.width - 64 + gap
            height: parent.height
            topMargin: 84
            bottomMargin: 112
            interactive: false
            content: page.content
            model: page.home.categoryModel
            header: Item {
                width: grid.width
                height: 34 + 20
                Row {
                    spacing: 12
                    Rectangle {
                        objectName: "categoryBack"
                        anchors.verticalCenter: parent.verticalCenter
                        width: 34
                        height: 34
                        radius: 17
                        color: Theme.controlFill
                        Icon {
                            anchors.centerIn: parent
                            name: "chevron.left"
                            color: "white"
                            size: 15
                        }
                        MouseArea {
                            anchors.fill: parent
                            cursorShape: Qt.PointingHandCursor
                            onClicked: page.home.closeCategory()
                        }
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: page.home.selectedCategory
                        color: "white"
                        font.family: Theme.fontFamily
                        font.pixelSize: 34
                        font.weight: Font.Bold
                    }
                }
            }
        }
    }
}
