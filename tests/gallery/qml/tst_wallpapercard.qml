import QtQuick
import QtTest
import Lumivale.Gallery

Item {
    id: root
    width: 500
    height: 300

    Component {
        id: cardComponent
        WallpaperCard {
            width: 380
            wallpaperID: "001"
            name: "Nebula Drift"
            category: "Space"
            resolution: "4K"
            isNew: false
            likeCountText: ""
            video: ""
            hasVideo: false
            isActive: false
            isDownloaded: false
            isDownloading: false
        }
    }

    TestCase {
        name: "WallpaperCard"
        when: windowShown

        function test_chips_data() {
            return [
                { tag: "plain", active: false, downloaded: false, likes: "", chip: "", top: 0 },
                { tag: "downloaded", active: false, downloaded: true, likes: "", chip: "DOWNLOADED", top: 12 },
                { tag: "active", active: true, downloaded: false, likes: "", chip: "ACTIVE", top: 12 },
                { tag: "active and downloaded", active: true, downloaded: true, likes: "", chip: "ACTIVE", top: 12 },
                { tag: "under a like badge", active: false, downloaded: true, likes: "12", chip: "DOWNLOADED", top: 46 },
                { tag: "new, active with likes", isNew: true, active: true, downloaded: true, likes: "1.0K", chip: "ACTIVE", top: 46 },
            ];
        }
        function test_chips(data) {
            const card = createTemporaryObject(cardComponent, root, { isNew: data.isNew ?? false,
                isActive: data.active, isDownloaded: data.downloaded, likeCountText: data.likes });
            const chip = card.stateChip;
            if (data.chip === "") {
                compare(chip, null);
            } else {
                compare(chip.text, data.chip);
                compare(chip.style, data.chip === "ACTIVE" ? "light" : "glass");
                const at = chip.mapToItem(card, 0, 0);
                compare(at.y, data.top);
                compare(card.width - (at.x + chip.width), 12);
            }
            compare(findChild(card, "likeBadge").visible, data.likes !== "");
            compare(findChild(card, "newBadge").visible, data.isNew ?? false);
        }

        function test_rounded_hit_area() {
            const card = createTemporaryObject(cardComponent, root);
            verify(!card.contains(Qt.point(1, 1)), "the corner lies outside");
            verify(card.contains(Qt.point(16, 1)));
            verify(card.contains(Qt.point(190, 100)));
        }
    }
}
