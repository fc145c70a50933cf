import QtQuick
import Lumivale.Gallery

// The floating panel in which the user ticks the screens for a wallpaper.
Item {
    id: picker
    required property WallpaperDetailModel model

    width: 760
    height: column.implicitHeight + 44

    Shadow {
        target: panel
        cornerRadius: 24
        blurRadius: 24
        shadowOpacity: 0.38
        offsetY: 12
    }
    UltraThinMaterial {
        id: panel
        anchors.fill: parent
        radius: 24
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.14)
    }

    Column {
        id: column
        x: 22
        y: 22
        width: parent.width - 44
        spacing: 18

        // Header.
        Item {
            width: parent.width
            height: 36
            Row {
                anchors.verticalCenter: parent.verticalCenter
                spacing: 12
                Rectangle {
                    width: desktopLabel.implicitWidth + 44
                    height: 36
                    radius: 18
                    color: "white"
                    border.width: 3
                    border.color: Qt.rgba(0, 0.478, 1, 0.8)
                    Text {
                        id: desktopLabel
                        anchors.centerIn: parent
                        text: "Desktop"
                        color: "black"
                        font.family: Theme.fontFamily
                        font.pixelSize: 14
                        font.weight: Font.DemiBold
                    }
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    leftPadding: 4
                    text: "Choose display"
                    color: "white"
                    font.family: Theme.fontFamily
                    font.pixelSize: 17
                    font.weight: Font.Bold
                }
            }
            CapsuleButton {
                objectName: "allButton"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                height: 32
                padding: 12
                color: Qt.rgba(1, 1, 1, picker.model.isEveryScreenSelected ? 0.24 : 0.12)
                onClicked: picker.model.selectAllScreens()
                content: Text {
                    text: "All"
                    color: "white"
                    font.family: Theme.fontFamily
                    font.pixelSize: 13
                    font.weight: Font.Bold
                }
            }
        }

        // One tile per screen.
        Grid {
            id: tiles
            width: parent.width
            columns: picker.model.pickerColumns
            columnSpacing: 14
            rowSpacing: 14
            readonly property real tileWidth: (width - (columns - 1) * columnSpacing) / columns
            Repeater {
                model: picker.model.displayOptions
                delegate: Rectangle {
                    id: tile
                    required property var modelData
                    readonly property bool selected: modelData.isSelected
                    objectName: "displayTile_" + modelData.id
                    width: tiles.tileWidth
                    height: 150
                    radius: 14
                    color: Qt.rgba(1, 1, 1, selected ? 0.14 : 0.06)
                    border.width: selected ? 2 : 1
                    border.color: Qt.rgba(1, 1, 1, selected ? 0.42 : 0.12)
                    Column {
                        anchors.centerIn: parent
                        width: parent.width - 16
                        spacing: 8
                        Item {
                            width: parent.width
                            height: 38
                            Icon {
                                anchors.horizontalCenter: parent.horizontalCenter
                                name: "display"
                                size: 32
                                color: Qt.rgba(1, 1, 1, 0.72)
                            }
                        }
                        Text {
                            width: parent.width
                            horizontalAlignment: Text.AlignHCenter
                            text: tile.modelData.name
                            color: "white"
                            elide: Text.ElideRight
                            maximumLineCount: 1
                            font.family: Theme.fontFamily
                            font.pixelSize: 16
                            font.weight: Font.Bold
                        }
                        Text {
                            width: parent.width
                            horizontalAlignment: Text.AlignHCenter
                            visible: tile.modelData.isMain
                            text: "Main"
                            color: Qt.rgba(1, 1, 1, 0.52)
                            font.family: Theme.fontFamily
                            font.pixelSize: 13
                            font.weight: Font.DemiBold
                        }
                    }
                    TapHandler {
                        onTapped: picker.model.toggleScreen(tile.modelData.id)
                    }
                }
            }
        }

        // Footer.
        Row {
            anchors.right: parent.right
            spacing: 8
            CapsuleButton {
                objectName: "cancelButton"
                anchors.verticalCenter: parent.verticalCenter
                height: 38
                padding: 18
                color: Qt.rgba(1, 1, 1, 0.1)
                onClicked: picker.model.cancelPicker()
                content: Text {
                    text: "Cancel"
                    color: Qt.rgba(1, 1, 1, 0.78)
                    font.family: Theme.fontFamily
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                }
            }
            CapsuleButton {
                objectName: "confirmButton"
                anchors.verticalCenter: parent.verticalCenter
                height: 40
                padding: 22
                color: "white"
                enabled: picker.model.canConfirm
                opacity: picker.model.hasSelection ? 1 : 0.45
                onClicked: picker.model.confirm()
                content: [
                    SmallProgressIndicator {
                        anchors.verticalCenter: parent.verticalCenter
                        visible: picker.model.isApplying
                        fraction: picker.model.downloadFraction
                    },
                    Text {
                        objectName: "confirmTitle"
                        anchors.verticalCenter: parent.verticalCenter
                        text: picker.model.confirmTitle
                        color: "black"
                        font.family: Theme.fontFamily
                        font.pixelSize: 13
                        font.weight: Font.Bold
                    }
                ]
            }
        }
    }
}
