import QtQuick

// The tab switcher at the bottom of the gallery: one button per tab on a
// thin capsule, with a white pill that slides behind the selected one.
Item {
    id: bar
    // The selected tab's index in `titles`.
    property int selection: 0
    property var titles: ["Home", "Likes"]
    signal selected(int index)

    readonly property Item pill: pillShape
    implicitWidth: buttons.implicitWidth + 12
    implicitHeight: buttons.implicitHeight + 12
    width: implicitWidth
    height: implicitHeight

    Shadow {
        target: background
        blurRadius: 18
        shadowOpacity: 0.35
        offsetY: 6
    }
    UltraThinMaterial {
        id: background
        anchors.fill: parent
        radius: height / 2
    }
    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: "transparent"
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.08)
    }

    Rectangle {
        id: pillShape
        readonly property Item target: tabs.count > bar.selection ? tabs.itemAt(bar.selection) : null
        x: target ? buttons.x + target.x : 0
        y: buttons.y
        width: target ? target.width : 0
        height: buttons.height
        radius: height / 2
        color: "white"
        Behavior on x {
            NumberAnimation { duration: 280; easing.type: Easing.InOutQuad }
        }
        Behavior on width {
            NumberAnimation { duration: 280; easing.type: Easing.InOutQuad }
        }
    }

    Row {
        id: buttons
        x: 6
        y: 6
        spacing: 4
        Repeater {
            id: tabs
            model: bar.titles
            delegate: Item {
                id: button
                required property string modelData
                required property int index
                readonly property bool isSelected: index === bar.selection
                objectName: "tab-" + modelData
                implicitWidth: title.implicitWidth + 36
                implicitHeight: title.implicitHeight + 16
                width: implicitWidth
                height: implicitHeight
                Text {
                    id: title
                    anchors.centerIn: parent
                    text: button.modelData
                    color: button.isSelected ? "black" : Qt.rgba(1, 1, 1, 0.7)
                    font.family: Theme.fontFamily
                    font.pixelSize: 13
                    font.weight: button.isSelected ? Font.DemiBold : Font.Medium
                }
                TapHandler {
                    gesturePolicy: TapHandler.ReleaseWithinBounds
                    onTapped: bar.selected(button.index)
                }
            }
        }
    }
}
