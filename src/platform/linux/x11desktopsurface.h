#pragma once

#include "platform/desktopsurface.h"

#include <QPointer>
#include <memory>

class QScreen;

namespace lumivale {

class RenderHost;
class X11DesktopIntegration;

// The desktop-level window on X11, with libmpv drawing straight into it:
// through OpenGL where OpenGL is hardware-accelerated, through mpv's software
// renderer and shared memory where OpenGL is itself software (see
// desktopRenderPath(); one choice for the whole process).
//
// The window carries the EWMH desktop type, is on every workspace, sticky,
// below other windows and skipped by taskbar and pager (all written before
// every map, since a window manager drops them when a window is hidden), has
// an empty input shape and never takes focus; it is also lowered whenever it
// is shown, for window managers that ignore the desktop type. Where the
// window manager has no desktop layer, the window is unmanaged instead and
// kept at the bottom of the stack; where the desktop's own window is opaque
// and not taken over, it is never mapped. Its players are paused for as long as the
// window is not exposed, or the desktop cannot show it (see
// DesktopIntegration), so a hidden wallpaper decodes nothing; every expose is
// drawn again from the shown frame, also while paused.
//
// Main thread only. Players retire in the background: the old player is
// stopped behind the new one, and its render context is freed only once mpv
// has closed its video output, so a hand-over never stalls drawing. Destroying
// the surface hides the window at once; its native window and render thread
// go when the last player has retired (see pendingDisposals()).
class X11DesktopSurface : public DesktopSurface
{
    Q_OBJECT

public:
    // `integration` (may be null: a plain desktop-type window) decides how
    // the window is made and kept in place, and must outlive the surface.
    X11DesktopSurface(QScreen *screen, const QRect &frame,
                      X11DesktopIntegration *integration = nullptr);
    ~X11DesktopSurface() override;

    QRect frame() const override;
    void setFrame(const QRect &frame) override;
    void orderFront() override;
    void close() override;
    bool isVisible() const override;
    std::unique_ptr<VideoPlayer> createPlayer(const QUrl &file, qreal layerOpacity) override;

    // The X11 window ID, for tests and tools.
    quintptr nativeWindowID() const;

    // Surfaces destroyed whose window and render thread are still winding down.
    static int pendingDisposals();

private:
    std::shared_ptr<RenderHost> m_host;
};

} // namespace lumivale
