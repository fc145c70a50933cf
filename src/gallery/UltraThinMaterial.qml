import QtQuick

// The translucent surface of the gallery's floating controls: a thin white
// veil over whatever lies behind. The shape (radius) is the caller's.
Rectangle {
    color: Qt.rgba(1, 1, 1, 0.10)
}
