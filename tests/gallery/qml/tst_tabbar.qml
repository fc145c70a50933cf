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

        function test_pill_slides() {
            const home = findChild(bar, "tab-Home");
            const likes = findChild(bar, "tab-Likes");
            tryCompare(bar.pill, "x", home.x + 6, 1000);
            const from = bar.pill.x;
            const to = likes.x + 6;
            mouseClick(likes);
            compare(bar.selection, 1);
            wait(140);
            verify(bar.pill.x > from && bar.pill.x < to,
                   "at 140 ms the pill lies between: " + from + " < " + bar.pill.x + " < " + to);
            tryVerify(() => bar.pill.x === likes.x + 6 && bar.pill.width === likes.width, 500);
            mouseClick(likes);
            compare(bar.selection, 1, "choosing the selected tab changes nothing");
        }
    }
}
