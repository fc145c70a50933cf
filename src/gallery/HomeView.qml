import QtQuick
import QtQuick.Controls
import Lumivale.Gallery

// The Home tab: a spinner while the catalogue first loads, the load error
// with "Retry", a category's page, or the home page: the hero over one
// carousel per category (or "No results"). The page scrolls with the wheel
// and its scroll bar, never with a mouse drag, which belongs to the
// carousels.
Item {
    id: homeView
    objectName: "homeView"
    required property ContentView content
    readonly property HomeViewModel model: viewModel
    readonly property Flickable page: flick
    readonly property Item hero: heroLoader.item
    readonly property color accent: "#0A84FF"

    HomeViewModel {
        id: viewModel
        content: homeView.content
        query: homeView.content.appliedQuery
    }

    ProgressRing {
        objectName: "loading"
        anchors.centerIn: parent
        visible: viewModel.page === HomeViewModel.Loading
        running: visible
    }

    Column {
        objectName: "loadError"
        anchors.centerIn: parent
        width: parent.width
        spacing: 10
        visible: viewModel.page === HomeViewModel.Error
        Icon {
            anchors.horizontalCenter: parent.horizontalCenter
            name: "warning"
            color: "orange"
            size: 34
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Could not load the manifest"
            color: "white"
            font.family: Theme.fontFamily
            font.pixelSize: 14
            font.weight: Font.Medium
        }
        Text {
            x: 32
            width: parent.width - 64
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: viewModel.loadError
            color: "white"
            font.family: Theme.fontFamily
            font.pixelSize: 12
        }
        Rectangle {
            objectName: "retry"
            anchors.horizontalCenter: parent.horizontalCenter
            width: retryLabel.implicitWidth + 24
            height: retryLabel.implicitHeight + 10
            radius: 6
            color: retryArea.pressed ? Qt.darker(homeView.accent, 1.2) : homeView.accent
            Text {
                id: retryLabel
                anchors.centerIn: parent
                text: "Retry"
                color: "white"
                font.family: Theme.fontFamily
                font.pixelSize: 13
                font.weight: Font.Medium
            }
            MouseArea {
                id: retryArea
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: viewModel.retry()
            }
        }
    }

    Loader {
        anchors.fill: parent
        active: viewModel.page === HomeViewModel.Category
        sourceComponent: CategoryPage {
            home: viewModel
            content: homeView.content
        }
    }

    WheelScrollArea {
        anchors.fill: parent
        visible: viewModel.page === HomeViewModel.Home
        flickable: flick
        home: viewModel

        Flickable {
            id: flick
            objectName: "homePage"
            anchors.fill: parent
            interactive: false
            contentWidth: width
            contentHeight: column.height
            clip: true
            ScrollBar.vertical: ScrollBar {}

            Column {
                id: column
                width: flick.width
                spacing: 28
                topPadding: viewModel.hasHero ? 0 : 84
                bottomPadding: 112

                Loader {
                    id: heroLoader
                    width: parent.width
                    active: viewModel.hasHero
                    visible: active
                    sourceComponent: HomeHero {
                        home: viewModel
                        content: homeView.content
                    }
                }

                Repeater {
                    model: viewModel.homeCategories
                    delegate: CarouselRow {
                        required property int index
                        required property string modelData
                        x: 32
                        width: column.width - 64
                        category: modelData
                        cards: viewModel.rowModel(index)
                        home: viewModel
                        content: homeView.content
                    }
                }

                Item {
                    objectName: "noResults"
                    width: parent.width
                    height: noResults.y + noResults.height
                    visible: viewModel.rowCategories.length === 0
                    Column {
                        id: noResults
                        y: 80
                        anchors.horizontalCenter: parent.horizontalCenter
                        spacing: 10
                        Icon {
                            anchors.horizontalCenter: parent.horizontalCenter
                            name: "search"
                            color: "white"
                            size: 30
                        }
                        Text {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: "No results"
                            color: "white"
                            font.family: Theme.fontFamily
                            font.pixelSize: 14
                        }
                    }
                }
            }
        }
    }
}
