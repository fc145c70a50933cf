import QtQuick
import QtTest
import Lumivale.Gallery

Item {
    width: 600
    height: 200

    Item {
        id: elsewhere
        width: 10
        height: 10
        focus: true
    }
    SearchField {
        id: field
        x: 100
        y: 100
        onEdited: (t) => text = t
    }

    TestCase {
        name: "SearchField"
        when: windowShown

        function init() {
            field.fold();
            field.text = "";
            tryCompare(field, "width", 48);
        }

        function test_widths_and_focus() {
            compare(field.width, 48);
            compare(field.height, 48);
            mouseClick(field);
            verify(field.expanded);
            wait(100);
            verify(!field.inputFocused, "the focus waits for the field to grow");
            tryCompare(field, "width", 260, 400);
            tryVerify(() => field.inputFocused, 400);
        }

        function test_fold_keeps_text() {
            mouseClick(field);
            tryVerify(() => field.inputFocused, 500);
            keyClick(Qt.Key_N);
            keyClick(Qt.Key_E);
            compare(field.text, "ne");
            elsewhere.forceActiveFocus();
            verify(!field.expanded);
            tryCompare(field, "width", 48, 400);
            compare(field.text, "ne");
        }
    }
}
