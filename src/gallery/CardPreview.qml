import QtQuick

// The card's preview seam: plays `video` muted and looped while `playing`,
// and holds no player otherwise.
Item {
    property url video
    property bool playing: false
}
