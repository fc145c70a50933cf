import QtQuick
import QtTest
import Lumivale.Gallery

Item {
    width: 400
    height: 120

    BottomTabBar {
        id: bar
        x: 20
        y: 20
        onSelected: (index) => selection = index
    }

    TestCase {
        name: "BottomTabBar"
        when: windowShown

        function test_pill_follows() {
            const home = findChild(bar, "tab-Home");
            const likes = findChild(bar, "tab-Likes");
            tryCompare(bar.pill, "x", home.x + 6, 1000);
            mouseClick(likes);
            compare(bar.selection, 1);
            tryVerify(() => bar.pill.x === likes.x + 6 && bar.pill.width === likes.width, 500);
            mouseClick(likes);
            compare(bar.selection, 1, "choosing the selected tab changes nothing");
        }
    }
}
