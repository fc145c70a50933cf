pragma Singleton
import QtQuick

// The gallery's shared colours, fonts and timings.
QtObject {
    readonly property color background: "#151719"
    readonly property color icon: Qt.rgba(1, 1, 1, 0.55)
    readonly property color secondaryText: Qt.rgba(1, 1, 1, 0.55)
    readonly property color caption: Qt.rgba(1, 1, 1, 0.45)
    readonly property color controlFill: Qt.rgba(1, 1, 1, 0.08)
    readonly property color controlOutline: Qt.rgba(1, 1, 1, 0.06)
    readonly property string fontFamily: "Inter"
}
