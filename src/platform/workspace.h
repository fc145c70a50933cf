#pragma once

#include <QList>
#include <QObject>
#include <QRect>
#include <optional>

namespace lumivale {

// One top-level window of any application, as the window manager lists it.
// A field the window does not publish, or publishes malformed, is absent.
struct WindowDescription
{
    // The process that owns the window.
    std::optional<qint64> ownerProcessID;
    // The outer frame (client area plus the window manager's decorations) in
    // the desktop's coordinate space.
    std::optional<QRect> frame;
    // Minimised or otherwise not shown.
    bool isHidden = false;
    // Shown on the workspace the user is on (or on all of them).
    bool isOnCurrentWorkspace = true;
    // The window system's ID of the window (on X11 the client window, the
    // one QWindow::winId() names for our own); 0 when unknown.
    quint32 windowID = 0;

    friend bool operator==(const WindowDescription &, const WindowDescription &) = default;
};

// The other applications' windows on the desktop. Main thread only.
class Workspace : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Every managed window, front to back; absent when the window manager
    // publishes no list.
    virtual std::optional<QList<WindowDescription>> windowsFrontToBack() const = 0;
    // The frame of the window that has the focus, if any.
    virtual std::optional<QRect> activeWindowFrame() const = 0;

Q_SIGNALS:
    // The focused window now belongs to another process, or the focused window
    // entered or left full screen or changed its size. Delivered on the main
    // thread; several may arrive for one change.
    void activeApplicationChanged();
};

} // namespace lumivale
