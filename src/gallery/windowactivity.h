#pragma once

#include "platform/workspace.h"

#include <QList>
#include <QRect>
#include <optional>

namespace lumivale {

// Whether the gallery window can be seen, and so whether its videos may play.
// Pure functions of what the window system reports; any thread.
namespace WindowActivity {

// What is known of the gallery window at one moment.
struct State
{
    bool isVisible = false;
    bool isMinimized = false;
    // X reported the window fully obscured (only without a compositor).
    bool isObscured = false;
    // Other windows' frames cover all of ours (see isCovered()).
    bool isCovered = false;
};

// True exactly while the window is visible, not minimised and not covered.
bool allowsVideoPlayback(const State &state);

// Whether the windows stacked above `ownWindowID` in `frontToBack` together
// cover all of `ownFrame`. Hidden windows and those on another workspace
// count for nothing; so do windows without a frame. A list that does not
// hold our window (it is not mapped yet, or the window manager publishes no
// list) gives false: nothing is known to cover it.
bool isCovered(const QRect &ownFrame, quint32 ownWindowID,
               const QList<WindowDescription> &frontToBack);

} // namespace WindowActivity

} // namespace lumivale
