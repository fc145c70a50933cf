import QtQuick

// The small progress indicator of the page's buttons: a turning arc, or,
// with a known `fraction` (0…1), a ring that fills.
Item {
    id: indicator
    property real fraction: -1
    property color color: "black"
    readonly property bool determinate: fraction >= 0
    implicitWidth: 16
    implicitHeight: 16

    Canvas {
        id: canvas
        anchors.fill: parent
        property real drawnFraction: indicator.determinate ? indicator.fraction : 0.28
        property color drawnColor: indicator.color
        onDrawnFractionChanged: requestPaint()
        onDrawnColorChanged: requestPaint()
        onPaint: {
            const ctx = getContext("2d");
            ctx.reset();
            const r = width / 2 - 1.5;
            ctx.lineWidth = 2;
            ctx.lineCap = "round";
            ctx.strokeStyle = Qt.rgba(drawnColor.r, drawnColor.g, drawnColor.b, 0.2);
            ctx.beginPath();
            ctx.arc(width / 2, height / 2, r, 0, 2 * Math.PI);
            ctx.stroke();
            ctx.strokeStyle = drawnColor;
            ctx.beginPath();
            ctx.arc(width / 2, height / 2, r, -Math.PI / 2,
                    -Math.PI / 2 + 2 * Math.PI * drawnFraction);
            ctx.stroke();
        }
        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
            running: !indicator.determinate && indicator.visible
        }
    }
}
