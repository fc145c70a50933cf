import QtQuick
import Lumivale.Gallery

// One category on Home: its title, which opens the category's page, over a
// strip of its cards that mouse drags and horizontal wheel turns move
// (vertical ones are left to the page). The strip shows only the cards in
// view; MouseDraggableCarousel decides where it stands.
Column {
    id: row
    required property string category
    required property WallpaperListModel cards
    required property HomeViewModel home
    required property ContentView content
    readonly property MouseDraggableCarousel carousel: carousel
    readonly property ListView strip: list

    readonly property int cardWidth: 380
    readonly property int cardHeight: 214
    readonly property int cardGap: 28
    readonly property int trailingPadding: 32

    spacing: 12
    visible: cards.count > 0

    MouseArea {
        objectName: "rowTitle"
        width: title.width
        height: title.height
        cursorShape: Qt.PointingHandCursor
        onClicked: row.home.selectCategory(row.category)
        Row {
            id: title
            spacing: 8
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: row.category
                color: "white"
                font.family: Theme.fontFamily
                font.pixelSize: 22
                font.weight: Font.Bold
            }
            Icon {
                anchors.verticalCenter: parent.verticalCenter
                name: "chevron.right"
                color: Theme.icon
                size: 13
            }
        }
    }

    MouseArea {
        id: area
        objectName: "carousel"
        width: row.width
        height: row.cardHeight
        clip: true
        preventStealing: true
        property point pressedAt

        MouseDraggableCarousel {
            id: carousel
            viewportWidth: area.width
            contentWidth: list.count > 0 ? list.count * (row.cardWidth + row.cardGap)
                                           - row.cardGap + row.trailingPadding
                                         : 0
            tapSuppression: row.home.carouselTapSuppression
        }

        onPressed: (mouse) => pressedAt = Qt.point(mouse.x, mouse.y)
        onPositionChanged: (mouse) => carousel.dragChanged(mouse.x - pressedAt.x,
                                                           mouse.y - pressedAt.y)
        onReleased: (mouse) => {
            const tx = mouse.x - pressedAt.x, ty = mouse.y - pressedAt.y;
            carousel.dragEnded(tx, ty);
            if (!carousel.isTap(tx, ty))
                return;
            const card = list.itemAt(pressedAt.x + list.contentX, pressedAt.y);
            if (card)
                row.content.selectWallpaper(card.wallpaperID);
        }
        onWheel: (wheel) => {
            wheel.accepted = carousel.wheel(wheel.pixelDelta, wheel.angleDelta, wheel.modifiers);
        }

        ListView {
            id: list
            anchors.fill: parent
            orientation: ListView.Horizontal
            interactive: false
            spacing: row.cardGap
            cacheBuffer: 0
            highlightFollowsCurrentItem: false
            currentIndex: -1
            contentX: originX - carousel.offset
            model: row.cards
            delegate: WallpaperCard {
                required downloadFraction
                width: row.cardWidth
                coordinator: row.content.previewCoordinator
                playbackAllowed: row.content.isContentActive
            }
        }
    }
}
