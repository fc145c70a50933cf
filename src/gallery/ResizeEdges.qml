import QtQuick

// The window's edges and corners, 7 pixels deep: the matching cursor over
// them and a resize by the window manager on press.
Item {
    id: edges
    property int depth: 7
    signal resizeStarted(int edges)

    component Edge: MouseArea {
        required property int edgeFlags
        hoverEnabled: true
        acceptedButtons: Qt.LeftButton
        onPressed: edges.resizeStarted(edgeFlags)
    }

    Edge { edgeFlags: Qt.LeftEdge; x: 0; y: edges.depth; width: edges.depth; height: parent.height - 2 * edges.depth; cursorShape: Qt.SizeHorCursor; visible: edges.enabled }
    Edge { edgeFlags: Qt.RightEdge; x: parent.width - edges.depth; y: edges.depth; width: edges.depth; height: parent.height - 2 * edges.depth; cursorShape: Qt.SizeHorCursor; visible: edges.enabled }
    Edge { edgeFlags: Qt.TopEdge; x: edges.depth; y: 0; width: parent.width - 2 * edges.depth; height: edges.depth; cursorShape: Qt.SizeVerCursor; visible: edges.enabled }
    Edge { edgeFlags: Qt.BottomEdge; x: edges.depth; y: parent.height - edges.depth; width: parent.width - 2 * edges.depth; height: edges.depth; cursorShape: Qt.SizeVerCursor; visible: edges.enabled }
    Edge { edgeFlags: Qt.TopEdge | Qt.LeftEdge; x: 0; y: 0; width: edges.depth; height: edges.depth; cursorShape: Qt.SizeFDiagCursor; visible: edges.enabled }
    Edge { edgeFlags: Qt.BottomEdge | Qt.RightEdge; x: parent.width - edges.depth; y: parent.height - edges.depth; width: edges.depth; height: edges.depth; cursorShape: Qt.SizeFDiagCursor; visible: edges.enabled }
    Edge { edgeFlags: Qt.TopEdge | Qt.RightEdge; x: parent.width - edges.depth; y: 0; width: edges.depth; height: edges.depth; cursorShape: Qt.SizeBDiagCursor; visible: edges.enabled }
    Edge { edgeFlags: Qt.BottomEdge | Qt.LeftEdge; x: 0; y: parent.height - edges.depth; width: edges.depth; height: edges.depth; cursorShape: Qt.SizeBDiagCursor; visible: edges.enabled }
}
