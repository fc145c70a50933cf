#include "linuxplatform.h"

#include "x11desktopsurface.h"

#include <QGuiApplication>

namespace lumivale {

LinuxPlatform::LinuxPlatform() = default;

std::unique_ptr<DesktopSurface> LinuxPlatform::createDesktopSurface(const Screen &screen)
{
    QScreen *qscreen = m_screens.qscreenFor(screen);
    return std::make_unique<X11DesktopSurface>(qscreen ? qscreen : QGuiApplication::primaryScreen(),
                                               screen.frame);
}

} // namespace lumivale
