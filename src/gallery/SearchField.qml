import QtQuick
import Lumivale.Gallery

// The round search button beside the tab bar. A click widens it into a field
// and gives the text the keyboard focus once it has grown; losing the focus
// folds it back, keeping the text.
Item {
    id: field
    property string text: ""
    property int controlHeight: 48
    readonly property bool expanded: state.expanded
    readonly property bool inputFocused: input.activeFocus
    signal edited(string text)

    function open() {
        state.open();
    }
    function fold() {
        input.focus = false;
        state.focusChanged(false);
    }

    width: expanded ? 260 : controlHeight
    height: controlHeight
    Behavior on width {
        NumberAnimation { duration: 150; easing.type: Easing.OutQuad }
    }

    SearchFieldState {
        id: state
        onFocusRequested: input.forceActiveFocus()
    }

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: Theme.controlFill
        border.width: 1
        border.color: Theme.controlOutline
    }

    Item {
        id: row
        anchors.fill: parent
        clip: true
        // Collapsed the glass sits in the middle; open, 18 from the leading edge.
        Icon {
            id: glass
            name: "search"
            color: Theme.icon
            size: 18
            anchors.verticalCenter: parent.verticalCenter
            x: field.expanded ? 18 : (field.controlHeight - width) / 2
            Behavior on x {
                NumberAnimation { duration: 150; easing.type: Easing.OutQuad }
            }
        }
        TextInput {
            id: input
            objectName: "searchInput"
            anchors.verticalCenter: parent.verticalCenter
            x: glass.x + glass.width + 10
            width: Math.max(0, field.width - x - 18)
            visible: field.expanded
            opacity: field.expanded ? 1 : 0
            Behavior on opacity {
                NumberAnimation { duration: 150; easing.type: Easing.OutQuad }
            }
            text: field.text
            color: "white"
            selectionColor: Qt.rgba(1, 1, 1, 0.3)
            selectedTextColor: "white"
            font.family: Theme.fontFamily
            font.pixelSize: 16
            font.weight: Font.Medium
            clip: true
            onTextEdited: field.edited(text)
            onActiveFocusChanged: state.focusChanged(activeFocus)
            Keys.onEscapePressed: field.fold()

            Text {
                anchors.fill: parent
                verticalAlignment: Text.AlignVCenter
                text: "Search"
                visible: input.text.length === 0
                color: Theme.caption
                font: input.font
            }
        }
    }

    TapHandler {
        gesturePolicy: TapHandler.ReleaseWithinBounds
        onTapped: field.open()
    }
}
