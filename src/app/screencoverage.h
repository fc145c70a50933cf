#pragma once

#include "platform/screens.h"
#include "platform/workspace.h"

#include <QList>
#include <QRect>
#include <QSize>
#include <optional>

namespace lumivale {

class Platform;

// Whether another application's window hides the desktop on the main screen,
// one of the automatic reasons to pause the wallpaper (see PlaybackPolicy).
// Plain functions of what the platform reports; the last one asks it.
//
// Main thread only for the one that reads the platform; the others are pure.
// Nothing fails: no screen, no window list or a window without a frame or an
// owner counts as not covering.
namespace screencoverage {

// The first window, front to back, that is not this process's, is shown on
// the current workspace and whose frame has exactly the main screen's size.
bool isMainScreenCovered(const std::optional<QSize> &mainScreenSize,
                         const std::optional<QList<WindowDescription>> &windows,
                         qint64 ownProcessID);
// The screen that holds the focused window's centre, else `fallback`.
std::optional<Screen> mainScreen(const QList<Screen> &screens,
                                 const std::optional<QRect> &activeWindowFrame,
                                 const std::optional<Screen> &fallback);
// The rule applied to the platform's screens and windows now.
bool isMainScreenCovered(Platform &platform);

} // namespace screencoverage
} // namespace lumivale
