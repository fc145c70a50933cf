import QtQuick
import Lumivale.Gallery

// The card's preview: plays `video` muted and looped while `playing`, and
// holds no player otherwise (the surface exists only while it plays).
Item {
    id: preview
    property url video
    property bool playing: false
    readonly property bool isShowingVideo: surface.item !== null
                                           && surface.item.state === VideoSurface.Ready

    Loader {
        id: surface
        anchors.fill: parent
        active: preview.playing
        sourceComponent: VideoSurface {
            url: preview.video
            isPlaying: true
            loop: true
            muted: true
            videoGravity: VideoSurface.ResizeAspectFill
            placeholderColor: "transparent"
            releaseWhenPaused: true
        }
    }
}
