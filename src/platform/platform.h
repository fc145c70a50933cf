#pragma once

#include "desktoppictures.h"
#include "desktopsurface.h"
#include "galleryplayer.h"
#include "loginitem.h"
#include "powerstate.h"
#include "screens.h"
#include "userprompts.h"
#include "workspace.h"

#include <memory>

namespace lumivale {

// Everything the rest of the system needs of the desktop it runs on. One
// implementation drives the real Linux desktop; tests install an in-process
// double. Main thread only.
class Platform
{
public:
    virtual ~Platform() = default;

    virtual ScreenSystem &screens() = 0;
    virtual DesktopPictures &desktopPictures() = 0;
    virtual Workspace &workspace() = 0;
    virtual PowerState &powerState() = 0;
    virtual LoginItemService &loginItem() = 0;
    virtual UserPrompts &prompts() = 0;
    // A hidden desktop-level surface over the screen's frame.
    virtual std::unique_ptr<DesktopSurface> createDesktopSurface(const Screen &screen) = 0;
    // A gallery player for `url` whose picture is a child item of `view`.
    virtual std::unique_ptr<GalleryPlayer> createGalleryPlayer(const QUrl &url,
                                                               QQuickItem *view) = 0;

    // How the desktop surfaces live with this session's desktop, in one line
    // for the status ("xfce, live playback off on XFCE: desktop not taken
    // over"); empty where there is nothing to say.
    virtual QString desktopIntegrationDescription() const { return {}; }
    // How the desktop surfaces draw their video, in one line for the status
    // ("software (llvmpipe (LLVM 15.0.6, 256 bits))"); empty where there is
    // nothing to say.
    virtual QString desktopRenderDescription() const { return {}; }
    // Puts back what showing desktop surfaces changed on the desktop (a
    // setting of its icons, a desktop program it stopped). Called when the
    // wallpaper is turned off and at quit; harmless when nothing changed.
    virtual void restoreDesktop() {}

    // The platform in use. Unless one was installed, the Linux platform is made
    // on first use, which needs a running QGuiApplication.
    static Platform &instance();
    // Installs the platform that `instance` returns, or with nullptr goes back
    // to the default; the caller keeps ownership.
    static void setInstance(Platform *platform);
};

} // namespace lumivale
