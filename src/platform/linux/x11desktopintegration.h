#pragma once

#include "platform/desktopintegration.h"
#include "x11desktopstacking.h"

#include <QObject>
#include <optional>

namespace lumivale {

// What the wallpaper windows need of the desktop the session runs, on X11:
// where they sit (see X11DesktopStacking), and what Lumivale changes on the
// desktop while they are there and puts back afterwards:
// - Cinnamon: "lumivale" is added to nemo-desktop's
//   org.nemo.desktop ignored-desktop-handlers, so that nemo-desktop starts
//   beside our desktop-type windows; the user's own entries are kept;
// - MATE, when taking over: org.mate.background show-desktop-icons off, so
//   that caja's opaque desktop goes;
// - XFCE, when taking over: xfdesktop quits, and is started again after;
// - GNOME and Budgie: when the window manager refuses to put our windows
//   below the icons' window, the icons are brought back above them (the
//   desktop-icons extension is disabled and enabled again; budgie-desktop-view
//   is restarted).
//
// Main thread only, made after the QGuiApplication. Changes to the desktop
// are made when the first wallpaper window is shown and undone by
// restoreDesktop(); failures are logged ("desktop integration: …") and
// never stop playback.
class X11DesktopIntegration : public QObject
{
    Q_OBJECT

public:
    // The key of the user default that names an integration, and the one that
    // allows taking over an opaque desktop.
    static inline const QString kIntegrationKey = QStringLiteral("desktopIntegration");
    static inline const QString kTakeOverKey = QStringLiteral("desktopTakeOver");
    // The name that nemo-desktop matches against other desktop windows'
    // WM_CLASS instance names.
    static constexpr char kNemoHandlerName[] = "lumivale";

    // The integration for this session: LUMIVALE_DESKTOP_INTEGRATION, else the
    // user default, else XDG_CURRENT_DESKTOP and the window manager's name;
    // taking over when LUMIVALE_TAKE_OVER_DESKTOP is "1" or the user default
    // is true.
    static DesktopIntegration detect();

    explicit X11DesktopIntegration(const DesktopIntegration &integration,
                                   QObject *parent = nullptr);
    ~X11DesktopIntegration() override;

    const DesktopIntegration &integration() const { return m_integration; }

    // A wallpaper window, created; kept in place until windowGone().
    void windowShown(std::uint32_t window);
    void windowGone(std::uint32_t window);

    // Puts back what Lumivale changed on the desktop. Safe to call at any
    // time and more than once.
    void restoreDesktop();

    // What is done when the window manager keeps a wallpaper window above the
    // icons' desktop window (the stacking watch reports it): GNOME turns its
    // icons extension off and on, Budgie restarts budgie-desktop-view, and
    // either maps its window again above ours. Elsewhere nothing.
    void bringIconsBackOnTop();

private:
    void engage();

    DesktopIntegration m_integration;
    X11DesktopStacking m_stacking;
    bool m_engaged = false;
    bool m_addedNemoHandler = false;
    bool m_hidMateDesktop = false;
    bool m_quitXfdesktop = false;
};

} // namespace lumivale
