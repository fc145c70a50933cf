import QtQuick

// A large white progress indicator: a ring that fills with `fraction`
// (0…1), or, while the fraction is unknown (below 0), a turning arc.
Item {
    id: ring
    property real fraction: -1
    property bool running: true
    readonly property bool determinate: fraction >= 0
    implicitWidth: 36
    implicitHeight: 36

    Canvas {
        id: canvas
        anchors.fill: parent
        property real drawnFraction: ring.determinate ? ring.fraction : 0.3
        onDrawnFractionChanged: requestPaint()
        onPaint: {
            const ctx = getContext("2d");
            ctx.reset();
            const r = width / 2 - 3;
            ctx.lineWidth = 4;
            ctx.lineCap = "round";
            ctx.strokeStyle = Qt.rgba(1, 1, 1, 0.25);
            ctx.beginPath();
            ctx.arc(width / 2, height / 2, r, 0, 2 * Math.PI);
            ctx.stroke();
            ctx.strokeStyle = "white";
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
            running: ring.running && !ring.determinate && ring.visible
        }
    }
}
