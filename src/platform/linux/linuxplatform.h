#pragma once

#include "platform/platform.h"
#include "powerprofilesstate.h"
#include "widgetuserprompts.h"
#include "x11desktopintegration.h"
#include "x11screens.h"
#include "x11workspace.h"
#include "xdgautostartloginitem.h"

namespace lumivale {

// The real desktop: X11 screens and desktop windows with libmpv, and the desktop
// pictures of the desktop the session runs. Made on the main thread after the
// QGuiApplication.
//
// The desktop-picture backend follows XDG_CURRENT_DESKTOP and
// XDG_SESSION_TYPE; LUMIVALE_DESKTOP_PICTURES in the environment, or else the
// user default "desktopPicturesBackend", names one instead ("gnome",
// "cinnamon", "mate", "kde", "xfce", "sway", "x11" or "none").
//
// How the desktop windows are made and kept in place follows the desktop too
// (see X11DesktopIntegration::detect()).
class LinuxPlatform : public Platform
{
public:
    LinuxPlatform();
    ~LinuxPlatform() override;

    static inline const QString kDesktopPicturesKey = QStringLiteral("desktopPicturesBackend");

    X11ScreenSystem &screens() override { return m_screens; }
    DesktopPictures &desktopPictures() override { return *m_pictures; }
    X11Workspace &workspace() override { return m_workspace; }
    PowerProfilesState &powerState() override { return m_power; }
    XdgAutostartLoginItem &loginItem() override { return m_loginItem; }
    WidgetUserPrompts &prompts() override { return m_prompts; }
    std::unique_ptr<DesktopSurface> createDesktopSurface(const Screen &screen) override;
    QString desktopIntegrationDescription() const override;
    QString desktopRenderDescription() const override;
    void restoreDesktop() override;
    std::unique_ptr<GalleryPlayer> createGalleryPlayer(const QUrl &url, QQuickItem *view) override;

private:
    X11ScreenSystem m_screens;
    std::unique_ptr<DesktopPictures> m_pictures;
    X11Workspace m_workspace;
    PowerProfilesState m_power;
    // The autostart entry runs the `lumivale` command that started us, when
    // it did, rather than the application executable behind it.
    XdgAutostartLoginItem m_loginItem{qEnvironmentVariable("LUMIVALE_LAUNCHER")};
    WidgetUserPrompts m_prompts;
    X11DesktopIntegration m_integration{X11DesktopIntegration::detect()};
};

} // namespace lumivale
