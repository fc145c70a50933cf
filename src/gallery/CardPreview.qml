import QtQuick

// The card's preview: plays `video` muted and looped while `playing`, and
// holds no player otherwise. It comes and goes over 0.15 s.
Item {
    id: preview
    property url video
    property bool playing: false

    opacity: playing ? 1 : 0
    visible: opacity > 0
    Behavior on opacity {
        NumberAnimation { duration: 150; easing.type: Easing.OutQuad }
    }
}
