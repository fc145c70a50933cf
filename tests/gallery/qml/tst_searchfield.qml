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

        // Grows when clicked, takes the focus once grown, and folds when
        // the focus goes elsewhere, keeping the text.
        function test_unfold_type_fold() {
            compare(field.width, 48);
            compare(field.height, 48);
            mouseClick(field);
            verify(field.expanded);
            tryCompare(field, "width", 260, 400);
            tryVerify(() => field.inputFocused, 400);
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
