import QtQuick

// A small capsule label on a card: "light" is black text on white, "glass"
// is white text on the thin material with a faint outline.
Item {
    id: chip
    required property string text
    property string style: "light"
    readonly property bool isLight: style === "light"

    implicitWidth: label.implicitWidth + 20
    implicitHeight: label.implicitHeight + 10
    width: implicitWidth
    height: implicitHeight

    UltraThinMaterial {
        anchors.fill: parent
        radius: height / 2
        visible: !chip.isLight
    }
    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: chip.isLight ? Qt.rgba(1, 1, 1, 0.95) : "transparent"
        border.width: chip.isLight ? 0 : 0.5
        border.color: Qt.rgba(1, 1, 1, 0.12)
    }
    Text {
        id: label
        anchors.centerIn: parent
        text: chip.text
        color: chip.isLight ? "black" : Qt.rgba(1, 1, 1, 0.85)
        font.family: Theme.fontFamily
        font.pixelSize: 10
        font.weight: Font.DemiBold
        font.letterSpacing: 0.6
    }
}
