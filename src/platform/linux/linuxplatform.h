#pragma once

#include "platform/platform.h"
#include "unsupporteddesktoppictures.h"
#include "x11screens.h"

namespace lumivale {

// The real desktop: X11 screens and desktop windows with libmpv. Made on the
// main thread after the QGuiApplication.
class LinuxPlatform : public Platform
{
public:
    LinuxPlatform();

    X11ScreenSystem &screens() override { return m_screens; }
    DesktopPictures &desktopPictures() override { return m_pictures; }
    std::unique_ptr<DesktopSurface> createDesktopSurface(const Screen &screen) override;

private:
    X11ScreenSystem m_screens;
    UnsupportedDesktopPictures m_pictures;
};

} // namespace lumivale
