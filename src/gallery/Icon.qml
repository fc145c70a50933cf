import QtQuick

// One of our glyphs, tinted. `name` is the file name in resources/icons
// without ".svg"; the picture is drawn at the item's size.
Image {
    id: icon
    required property string name
    property color color: "white"
    property int size: 16

    width: size
    height: size
    sourceSize: Qt.size(size, size)
    source: name.length > 0 ? "image://gallery/icon/" + name + "/" + color.toString() : ""
    smooth: true
    cache: true
}
