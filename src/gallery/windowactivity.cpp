#include "windowactivity.h"

#include <QRegion>

namespace lumivale::WindowActivity {

bool allowsVideoPlayback(const State &state)
{
    return state.isVisible && !state.isMinimized && !state.isObscured && !state.isCovered;
}

bool isCovered(const QRect &ownFrame, quint32 ownWindowID,
               const QList<WindowDescription> &frontToBack)
{
    if (ownFrame.isEmpty())
        return false;
    QRegion uncovered(ownFrame);
    for (const WindowDescription &window : frontToBack) {
        if (window.windowID == ownWindowID)
            return uncovered.isEmpty();
        if (window.isHidden || !window.isOnCurrentWorkspace || !window.frame)
            continue;
        uncovered -= QRegion(*window.frame);
    }
    return false;
}

} // namespace lumivale::WindowActivity
