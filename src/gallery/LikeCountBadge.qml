import QtQuick

// The like counter of a card: a red heart over the count.
Column {
    id: badge
    required property string text
    spacing: 2

    Icon {
        anchors.horizontalCenter: parent.horizontalCenter
        name: "heart.fill"
        color: "#ff3b30"
        size: 15
    }
    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        text: badge.text
        color: "white"
        font.family: Theme.fontFamily
        font.pixelSize: 10
        font.weight: Font.Bold
        style: Text.Raised
        styleColor: Qt.rgba(0, 0, 0, 0.4)
    }
}
