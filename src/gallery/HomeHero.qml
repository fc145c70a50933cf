import QtQuick
import Lumivale.Gallery

// The large picture at the top of Home: the hero's still and, while the tab
// may play video, its muted looping video, under two fades, with its name and
// "category · resolution". A click opens it, except in the window's title
// area, where a press starts a window drag.
Item {
    id: hero
    required property HomeViewModel home
    required property ContentView content

    height: 640
    clip: true

    // The still, covering the hero at the video's 16:9 (it is stretched to
    // whatever size it is given).
    VideoPosterFrame {
        anchors.centerIn: parent
        width: Math.max(hero.width, hero.height * 16 / 9)
        height: width * 9 / 16
        video: hero.home.heroVideo
        maximumSize: Qt.size(Math.ceil(width * Screen.devicePixelRatio),
                             Math.ceil(height * Screen.devicePixelRatio))
    }
    // One surface per hero: a new hero shows its still until its own video
    // has a frame, never the last frame of the one before.
    Repeater {
        model: hero.home.hasHero ? [hero.home.heroVideo] : []
        delegate: VideoSurface {
            required property url modelData
            objectName: "heroBackdrop"
            width: hero.width
            height: hero.height
            url: modelData
            isPlaying: hero.content.isContentActive
            loop: true
            muted: true
            videoGravity: VideoSurface.ResizeAspectFill
            placeholderColor: "transparent"
            releaseWhenPaused: false
        }
    }

    Rectangle {
        anchors.fill: parent
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0.0; color: Qt.rgba(0, 0, 0, 0.36) }
            GradientStop { position: 0.5; color: Qt.rgba(0, 0, 0, 0.1) }
            GradientStop { position: 1.0; color: Qt.rgba(0, 0, 0, 0) }
        }
    }
    // From the middle down into the page's colour.
    Rectangle {
        y: parent.height / 2
        width: parent.width
        height: parent.height / 2
        gradient: Gradient {
            GradientStop { position: 0.3; color: Qt.rgba(0, 0, 0, 0) }
            GradientStop {
                position: 0.72
                color: Qt.rgba(Theme.background.r, Theme.background.g, Theme.background.b, 0.32)
            }
            GradientStop { position: 1.0; color: Theme.background }
        }
    }

    Column {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.leftMargin: 32
        anchors.rightMargin: 32
        anchors.bottomMargin: 118
        spacing: 6
        Text {
            objectName: "heroName"
            width: parent.width
            text: hero.home.heroName
            color: "white"
            elide: Text.ElideRight
            font.family: Theme.fontFamily
            font.pixelSize: 46
            font.weight: Font.Bold
        }
        Text {
            width: parent.width
            text: hero.home.heroSubtitle
            color: Qt.rgba(1, 1, 1, 0.72)
            elide: Text.ElideRight
            font.family: Theme.fontFamily
            font.pixelSize: 15
            font.weight: Font.Medium
        }
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: (mouse) => {
            if (hero.home.heroTakesClickAt(mapToItem(null, mouse.x, mouse.y).y))
                hero.content.selectWallpaper(hero.home.heroWallpaperID);
        }
    }
}
