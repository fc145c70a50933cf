import QtQuick

// A soft shadow under a rounded shape, from one pre-rendered nine-slice
// picture. Place it as a sibling under the shape and set `target`.
BorderImage {
    id: shadow
    required property Item target
    property int cornerRadius: target.height / 2
    property int blurRadius: 18
    property real shadowOpacity: 0.35
    property real offsetX: 0
    property real offsetY: 6

    readonly property int inset: cornerRadius + blurRadius
    x: target.x + offsetX - blurRadius
    y: target.y + offsetY - blurRadius
    width: target.width + 2 * blurRadius
    height: target.height + 2 * blurRadius
    opacity: target.opacity
    visible: target.visible
    border.left: inset
    border.right: inset
    border.top: inset
    border.bottom: inset
    source: "image://gallery/shadow/" + cornerRadius + "/" + blurRadius + "/" + shadowOpacity
}
