#include "screencoverage.h"

#include "platform/platform.h"

#include <QCoreApplication>

namespace lumivale::screencoverage {

std::optional<Screen> mainScreen(const QList<Screen> &screens,
                                 const std::optional<QRect> &activeWindowFrame,
                                 const std::optional<Screen> &fallback)
{
    if (activeWindowFrame) {
        const QPoint centre = activeWindowFrame->center();
        for (const Screen &screen : screens) {
            if (screen.frame.contains(centre))
                return screen;
        }
    }
    return fallback;
}

bool isMainScreenCovered(const std::optional<QSize> &mainScreenSize,
                         const std::optional<QList<WindowDescription>> &windows,
                         qint64 ownProcessID)
{
    if (!mainScreenSize || !windows)
        return false;
    for (const WindowDescription &window : *windows) {
        if (!window.ownerProcessID || !window.frame)
            continue;
        if (*window.ownerProcessID == ownProcessID || window.isHidden ||
            !window.isOnCurrentWorkspace)
            continue;
        // Only the size counts: a window of the main screen's size on another
        // screen covers too.
        if (window.frame->size() == *mainScreenSize)
            return true;
    }
    return false;
}

bool isMainScreenCovered(Platform &platform)
{
    ScreenSystem &screens = platform.screens();
    Workspace &workspace = platform.workspace();
    const auto screen =
        mainScreen(screens.screens(), workspace.activeWindowFrame(), screens.mainScreen());
    if (!screen)
        return false;
    return isMainScreenCovered(screen->frame.size(), workspace.windowsFrontToBack(),
                               QCoreApplication::applicationPid());
}

} // namespace lumivale::screencoverage
