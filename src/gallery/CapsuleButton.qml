import QtQuick

// A plain capsule button of the wallpaper page: `fill` behind whatever the
// caller puts inside, padded `padding` on the sides. Taps reach `clicked`
// only while enabled.
Rectangle {
    id: button
    property real padding: 16
    property alias content: row.data
    property alias spacing: row.spacing
    signal clicked

    implicitWidth: row.implicitWidth + 2 * padding
    radius: height / 2
    Row {
        id: row
        anchors.centerIn: parent
        spacing: 8
    }
    TapHandler {
        enabled: button.enabled
        onTapped: button.clicked()
    }
}
