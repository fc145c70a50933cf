import QtQuick

// Minimise, maximise or restore, and close, in the gallery's colours.
Row {
    id: buttons
    property bool maximized: false
    signal minimizeClicked()
    signal maximizeClicked()
    signal closeClicked()
    spacing: 8

    component WindowButton: Rectangle {
        id: button
        required property string icon
        signal clicked()
        width: 28
        height: 28
        radius: 14
        color: hover.hovered ? Qt.rgba(1, 1, 1, 0.16) : Theme.controlFill
        border.width: 1
        border.color: Theme.controlOutline
        Behavior on color {
            ColorAnimation { duration: 150; easing.type: Easing.OutQuad }
        }
        Icon {
            anchors.centerIn: parent
            name: button.icon
            color: hover.hovered ? "white" : Theme.icon
            size: 12
        }
        HoverHandler {
            id: hover
        }
        TapHandler {
            gesturePolicy: TapHandler.ReleaseWithinBounds
            onTapped: button.clicked()
        }
    }

    WindowButton {
        objectName: "minimizeButton"
        icon: "window-minimize"
        onClicked: buttons.minimizeClicked()
    }
    WindowButton {
        objectName: "maximizeButton"
        icon: buttons.maximized ? "window-restore" : "window-maximize"
        onClicked: buttons.maximizeClicked()
    }
    WindowButton {
        objectName: "closeButton"
        icon: "window-close"
        onClicked: buttons.closeClicked()
    }
}
