import QtQuick
import Lumivale.Gallery

// One wallpaper's tile: its still (and, after the pointer has rested on it,
// its muted preview), name and subtitle over a dark fade, and its badges.
// The caller sizes it by width and handles clicks; the card keeps 16:9.
Item {
    id: card
    required property string wallpaperID
    required property string name
    required property string category
    required property string resolution
    required property bool isNew
    required property string likeCountText
    required property url video
    required property bool hasVideo
    required property bool isActive
    required property bool isDownloaded
    required property bool isDownloading
    // 0…1 while the size is known, -1 while it is not.
    property real downloadFraction: -1
    property PreviewPlaybackCoordinator coordinator: null
    // Whether video may play at all: the window can be seen and no page
    // covers the card.
    property bool playbackAllowed: true
    // The colour behind the card, for its rounded corners.
    property color backdropColor: Theme.background

    readonly property bool hovering: hover.hovered
    readonly property bool isPreviewing: coordinator !== null && hasVideo
                                         && coordinator.activeWallpaperID === wallpaperID
    readonly property real cornerRadius: 16
    readonly property Item stateChip: stateChipLoader.item

    implicitWidth: 380
    width: implicitWidth
    height: Math.round(width * 9 / 16)

    // The pointer only counts inside the rounded shape.
    containmentMask: QtObject {
        function contains(point: point): bool {
            const r = card.cornerRadius;
            const x = Math.min(Math.max(point.x, r), card.width - r);
            const y = Math.min(Math.max(point.y, r), card.height - r);
            const dx = point.x - x, dy = point.y - y;
            return point.x >= 0 && point.y >= 0 && point.x <= card.width
                   && point.y <= card.height && dx * dx + dy * dy <= r * r;
        }
    }

    HoverHandler {
        id: hover
        onHoveredChanged: {
            if (card.coordinator)
                card.coordinator.hoverChanged(card.wallpaperID, hovered, card.hasVideo);
        }
    }
    Component.onDestruction: {
        if (coordinator)
            coordinator.cardDisappeared(wallpaperID);
    }

    // 1. The picture.
    Rectangle {
        anchors.fill: parent
        visible: !card.hasVideo
        color: Qt.rgba(0.025, 0.025, 0.025, 1)
    }
    VideoPosterFrame {
        anchors.fill: parent
        visible: card.hasVideo
        video: card.video
        // The size it is shown at: a larger still costs memory, decoding and
        // texture uploads for nothing.
        maximumSize: Qt.size(Math.ceil(card.width * Screen.devicePixelRatio),
                             Math.ceil(card.height * Screen.devicePixelRatio))
    }
    CardPreview {
        anchors.fill: parent
        video: card.video
        playing: card.isPreviewing && card.playbackAllowed
    }
    // 2. The fade under the text.
    Rectangle {
        anchors.fill: parent
        gradient: Gradient {
            GradientStop { position: 0.5; color: Qt.rgba(0, 0, 0, 0) }
            GradientStop { position: 1.0; color: Qt.rgba(0, 0, 0, 0.55) }
        }
    }
    // 3. Name and subtitle.
    Column {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 16
        spacing: 2
        Text {
            width: parent.width
            text: card.name
            color: "white"
            elide: Text.ElideRight
            font.family: Theme.fontFamily
            font.pixelSize: 18
            font.weight: Font.DemiBold
        }
        Text {
            width: parent.width
            text: card.category + " \u00B7 " + card.resolution
            color: Theme.secondaryText
            elide: Text.ElideRight
            font.family: Theme.fontFamily
            font.pixelSize: 12
        }
    }
    // 4. Downloading.
    Rectangle {
        anchors.fill: parent
        visible: card.isDownloading
        color: Qt.rgba(0, 0, 0, 0.45)
        ProgressRing {
            anchors.centerIn: parent
            fraction: card.downloadFraction
            running: card.isDownloading
        }
    }
    // 5. New.
    BadgeChip {
        objectName: "newBadge"
        x: 12
        y: 12
        visible: card.isNew
        text: "NEW"
        style: "light"
    }
    // 6. Likes.
    LikeCountBadge {
        objectName: "likeBadge"
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: 12
        visible: card.likeCountText.length > 0
        text: card.likeCountText
    }

    // The rounded corners: the backdrop's colour over the square ones.
    Repeater {
        model: 4
        delegate: Image {
            required property int index
            source: "image://gallery/corner/" + card.cornerRadius + "/" + card.backdropColor
            width: card.cornerRadius
            height: card.cornerRadius
            x: index % 2 === 0 ? 0 : card.width - width
            y: index < 2 ? 0 : card.height - height
            mirror: index % 2 === 1
            mirrorVertically: index >= 2
        }
    }

    // The state chip, top trailing.
    Loader {
        id: stateChipLoader
        active: card.isActive || card.isDownloaded
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.rightMargin: 12
        anchors.topMargin: card.likeCountText.length > 0 ? 46 : 12
        sourceComponent: BadgeChip {
            objectName: "stateChip"
            text: card.isActive ? "ACTIVE" : "DOWNLOADED"
            style: card.isActive ? "light" : "glass"
        }
    }

    // The outline.
    Rectangle {
        anchors.fill: parent
        radius: card.cornerRadius
        color: "transparent"
        border.width: card.isActive ? 2 : 1
        border.color: card.isActive ? "white" : Qt.rgba(1, 1, 1, 0.04)
    }
}
