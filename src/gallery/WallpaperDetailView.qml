import QtQuick
import Lumivale.Gallery

// A wallpaper's page over the tabs: its video full-bleed behind a floating
// bar with the way back, the name and facts, the main action and the like
// button; the display picker above the bar while it is open.
Item {
    id: page
    objectName: "detailPage"
    required property ContentView content
    readonly property WallpaperDetailModel model: detail

    WallpaperDetailModel {
        id: detail
        content: page.content
    }

    // 1. The background: the still and the video over it, or, without a
    // video, the record's gradient from the top-left to the bottom-right.
    Rectangle {
        anchors.fill: parent
        color: "black"
        visible: detail.hasVideo
    }
    Canvas {
        anchors.fill: parent
        visible: !detail.hasVideo
        readonly property var colors: detail.gradient
        onColorsChanged: requestPaint()
        onPaint: {
            const ctx = getContext("2d");
            const fill = ctx.createLinearGradient(0, 0, width, height);
            for (let i = 0; i < colors.length; ++i)
                fill.addColorStop(colors.length > 1 ? i / (colors.length - 1) : 0, colors[i]);
            ctx.fillStyle = colors.length > 0 ? fill : Theme.background;
            ctx.fillRect(0, 0, width, height);
        }
    }
    VideoPosterFrame {
        anchors.fill: parent
        visible: detail.hasVideo
        video: detail.video
        maximumSize: Qt.size(1440, 810)
    }
    Loader {
        anchors.fill: parent
        active: detail.hasVideo
        sourceComponent: VideoSurface {
            url: detail.video
            isPlaying: page.content.windowAllowsVideoPlayback
            loop: true
            muted: true
            videoGravity: VideoSurface.ResizeAspectFill
            placeholderColor: "transparent"
            releaseWhenPaused: false
        }
    }

    // 2. The shade.
    Rectangle {
        anchors.fill: parent
        gradient: Gradient {
            GradientStop { position: 0.0; color: Qt.rgba(0, 0, 0, 0.22) }
            GradientStop { position: 0.5; color: Qt.rgba(0, 0, 0, 0) }
            GradientStop { position: 1.0; color: Qt.rgba(0, 0, 0, 0.62) }
        }
    }

    // Clicks and the pointer on the page do not reach the tab below.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        hoverEnabled: true
        onWheel: (wheel) => wheel.accepted = true
    }

    // 3. The information bar.
    Shadow {
        target: bar
        cornerRadius: bar.height / 2
        blurRadius: 24
        shadowOpacity: 0.38
        offsetY: 12
    }
    UltraThinMaterial {
        id: bar
        objectName: "infoBar"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 24
        width: 700
        height: barRow.implicitHeight + 20
        radius: height / 2
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.1)

        Row {
            id: barRow
            anchors.centerIn: parent
            spacing: 16

            Rectangle {
                objectName: "backButton"
                anchors.verticalCenter: parent.verticalCenter
                width: 40
                height: 40
                radius: 20
                color: Qt.rgba(1, 1, 1, 0.12)
                Icon {
                    anchors.centerIn: parent
                    name: "chevron.left"
                    color: "white"
                    size: 16
                }
                TapHandler {
                    onTapped: detail.back()
                }
            }

            Column {
                anchors.verticalCenter: parent.verticalCenter
                width: 310
                spacing: 5
                Text {
                    width: parent.width
                    text: detail.name
                    color: "white"
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    font.family: Theme.fontFamily
                    font.pixelSize: 15
                    font.weight: Font.DemiBold
                }
                Row {
                    objectName: "factLine"
                    spacing: 10
                    Repeater {
                        model: [page.model.resolution, page.model.sizeText,
                            page.model.durationText]
                        delegate: Row {
                            id: fact
                            required property string modelData
                            required property int index
                            spacing: 10
                            Rectangle {
                                anchors.verticalCenter: parent.verticalCenter
                                visible: fact.index > 0
                                width: 3
                                height: 3
                                radius: 1.5
                                color: Qt.rgba(1, 1, 1, 0.28)
                            }
                            Text {
                                text: fact.modelData
                                color: Qt.rgba(1, 1, 1, 0.68)
                                font.family: Theme.fontFamily
                                font.pixelSize: 12
                                font.weight: Font.Medium
                            }
                        }
                    }
                }
            }

            CapsuleButton {
                id: mainButton
                objectName: "mainButton"
                anchors.verticalCenter: parent.verticalCenter
                height: 38
                padding: 16
                color: Qt.rgba(1, 1, 1, detail.isCurrent ? 0.72 : 0.96)
                enabled: detail.isMainButtonEnabled
                opacity: detail.hasVideo ? 1 : 0.45
                onClicked: detail.mainAction()
                content: [
                    SmallProgressIndicator {
                        anchors.verticalCenter: parent.verticalCenter
                        visible: detail.isApplying
                    },
                    Icon {
                        anchors.verticalCenter: parent.verticalCenter
                        visible: !detail.isApplying
                        name: detail.mainButtonSymbol
                        color: "black"
                        size: 15
                    },
                    Text {
                        objectName: "mainButtonTitle"
                        anchors.verticalCenter: parent.verticalCenter
                        text: detail.mainButtonTitle
                        color: "black"
                        font.family: Theme.fontFamily
                        font.pixelSize: 13
                        font.weight: Font.DemiBold
                    }
                ]
            }

            Rectangle {
                objectName: "likeButton"
                anchors.verticalCenter: parent.verticalCenter
                width: 42
                height: 42
                radius: 21
                color: Qt.rgba(1, 1, 1, 0.12)
                Icon {
                    anchors.centerIn: parent
                    name: detail.isLiked ? "heart.fill" : "heart"
                    color: detail.isLiked ? "#ff3b30" : "white"
                    size: 18
                }
                TapHandler {
                    onTapped: detail.toggleLike()
                }
            }
        }
    }

    // The error, 44 above the bar.
    Rectangle {
        objectName: "applyError"
        anchors.horizontalCenter: bar.horizontalCenter
        y: bar.y - 44
        width: Math.min(errorText.implicitWidth, 676) + 24
        height: errorText.implicitHeight + 16
        radius: height / 2
        color: Qt.rgba(1, 0.231, 0.188, 0.88)
        opacity: detail.applyError.length > 0 ? 1 : 0
        visible: opacity > 0
        Behavior on opacity {
            NumberAnimation { duration: 100; easing.type: Easing.OutQuad }
        }
        Text {
            id: errorText
            anchors.centerIn: parent
            width: Math.min(implicitWidth, 676)
            text: detail.applyError
            color: "white"
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.family: Theme.fontFamily
            font.pixelSize: 12
            font.weight: Font.Medium
        }
    }

    // 4. The display picker.
    DisplayPicker {
        id: picker
        objectName: "displayPicker"
        model: page.model
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 116
        transformOrigin: Item.Bottom
        readonly property bool presented: page.model.isDisplayPickerPresented
        opacity: presented ? 1 : 0
        scale: presented ? 1 : 0.96
        visible: opacity > 0
        Behavior on opacity {
            NumberAnimation { duration: 200; easing.type: Easing.InOutQuad }
        }
        Behavior on scale {
            NumberAnimation { duration: 200; easing.type: Easing.InOutQuad }
        }
    }
}
