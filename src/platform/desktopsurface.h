#pragma once

#include "videoplayer.h"

#include <QObject>
#include <QRect>
#include <memory>

namespace lumivale {

// A borderless window that covers one screen at desktop level: above the
// desktop picture, below every normal window, on every workspace, left out of
// the taskbar, the pager and window cycling, taking neither input nor focus.
// Its background is black.
//
// Main thread only. Made hidden; `orderFront` shows it. The surface owns
// nothing that its players need after they are gone, and must outlive them.
class DesktopSurface : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Set (true) on every QWindow that backs a surface, so that code looking
    // for the application's own windows can leave the desktop out.
    static constexpr char kWindowProperty[] = "lumivaleDesktopSurface";

    virtual QRect frame() const = 0;
    virtual void setFrame(const QRect &frame) = 0;
    // Shows the window at desktop level; never raises it above other windows.
    virtual void orderFront() = 0;
    // Hides the window. Its players stop decoding while it is hidden.
    virtual void close() = 0;
    virtual bool isVisible() const = 0;

    // Makes a player for a local file, already loading, paused until told to
    // play, with its layer above every existing layer of this surface.
    virtual std::unique_ptr<VideoPlayer> createPlayer(const QUrl &file, qreal layerOpacity) = 0;
};

} // namespace lumivale
