import QtQuick
import Lumivale.Gallery

// The gallery window's scene, back to front: background, the tab's content,
// the bottom bar, the brand, the detail page, the title area and the window
// buttons, and the resize edges.
Item {
    id: root
    required property ContentView content
    required property GalleryWindow window

    readonly property bool detailOpen: content.hasSelectedWallpaper
    readonly property Item searchField: searchField
    readonly property Item tabBar: tabBar

    width: 1280
    height: 820
    focus: true

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    // A click outside the search field takes its focus away, which folds it.
    TapHandler {
        onTapped: (eventPoint) => {
            const p = searchField.mapFromItem(root, eventPoint.position);
            if (!searchField.contains(p))
                root.forceActiveFocus();
        }
    }

    // The tab's content, over the whole window.
    Loader {
        id: tabContent
        anchors.fill: parent
        sourceComponent: root.content.tab === ContentView.Home ? homeTab : likesTab
    }
    Component {
        id: homeTab
        HomeView {
            content: root.content
        }
    }
    Component {
        id: likesTab
        LikesView {
            content: root.content
        }
    }

    // The bottom bar.
    Row {
        id: bottomBar
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 24
        spacing: 10
        opacity: root.detailOpen ? 0 : 1
        visible: opacity > 0
        Behavior on opacity {
            NumberAnimation { duration: 100; easing.type: Easing.OutQuad }
        }
        BottomTabBar {
            id: tabBar
            anchors.verticalCenter: parent.verticalCenter
            selection: root.content.tab === ContentView.Home ? 0 : 1
            onSelected: (index) => root.content.selectTab(index === 0 ? ContentView.Home
                                                                      : ContentView.Likes)
        }
        SearchField {
            id: searchField
            anchors.verticalCenter: parent.verticalCenter
            controlHeight: 48
            text: root.content.query
            onEdited: (text) => root.content.setQuery(text)
        }
    }

    // The brand.
    Row {
        x: 32
        y: 33
        spacing: 10
        opacity: root.detailOpen ? 0 : 1
        Behavior on opacity {
            NumberAnimation { duration: 100; easing.type: Easing.OutQuad }
        }
        Image {
            anchors.verticalCenter: parent.verticalCenter
            width: 30
            height: 30
            sourceSize: Qt.size(60, 60)
            source: "qrc:/lumivale/icons/LumivaleLogo.svg"
            smooth: true
            mipmap: true
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: "Lumivale"
            color: "white"
            font.family: Theme.fontFamily
            font.pixelSize: 26
            font.weight: Font.Bold
        }
    }

    // The detail page.
    Loader {
        id: detail
        anchors.fill: parent
        active: opacity > 0
        opacity: root.detailOpen ? 1 : 0
        Behavior on opacity {
            NumberAnimation { duration: 100; easing.type: Easing.OutQuad }
        }
        sourceComponent: WallpaperDetailView {
            content: root.content
        }
    }

    // The title area: drag to move, double-click to maximise or restore.
    Item {
        id: dragRegion
        objectName: "dragRegion"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: 72
        DragHandler {
            target: null
            onActiveChanged: {
                if (active)
                    root.window.beginMove();
            }
        }
        TapHandler {
            onDoubleTapped: root.window.toggleMaximized()
        }
    }

    WindowButtons {
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.topMargin: 14
        anchors.rightMargin: 16
        maximized: root.window.isMaximized
        onMinimizeClicked: root.window.minimize()
        onMaximizeClicked: root.window.toggleMaximized()
        onCloseClicked: root.window.hideWindow()
    }

    ResizeEdges {
        anchors.fill: parent
        enabled: !root.window.isMaximized
        onResizeStarted: (edges) => root.window.beginResize(edges)
    }

    Shortcut {
        sequence: "Escape"
        onActivated: {
            if (searchField.inputFocused)
                searchField.fold();
            else
                root.content.closeInnermostLayer();
        }
    }
    Shortcut {
        sequence: StandardKey.Find
        onActivated: searchField.open()
    }
}
