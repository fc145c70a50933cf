import QtQuick
import Lumivale.Gallery

// Scrolls `flickable` with the wheel and the trackpad only: the pages of the
// gallery do not follow mouse drags. Wheel events that a child takes (a
// carousel's horizontal ones) never arrive here.
MouseArea {
    id: area
    required property Flickable flickable
    required property HomeViewModel home

    acceptedButtons: Qt.NoButton
    onWheel: (wheel) => {
        const f = area.flickable;
        const top = f.originY - f.topMargin;
        const bottom = Math.max(top, f.originY + f.contentHeight + f.bottomMargin - f.height);
        const y = f.contentY + area.home.pageScrollDelta(wheel.pixelDelta, wheel.angleDelta);
        f.contentY = Math.min(Math.max(y, top), bottom);
    }
}
