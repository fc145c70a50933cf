#include "linuxplatform.h"

#include "desktoppictures/desktoppicturesbackend.h"
#include "desktoprenderpath.h"
#include "mpvgalleryplayer.h"
#include "platform/userdefaults.h"
#include "x11desktopsurface.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTextStream>

namespace lumivale {

LinuxPlatform::LinuxPlatform()
{
    QString overrideName = qEnvironmentVariable("LUMIVALE_DESKTOP_PICTURES");
    if (overrideName.isEmpty())
        overrideName = UserDefaults::standard().string(kDesktopPicturesKey).value_or(QString());
    const DesktopPicturesBackend backend =
        chooseDesktopPicturesBackend(qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
                                     qEnvironmentVariable("XDG_SESSION_TYPE"), overrideName);
    m_pictures = makeDesktopPictures(backend, [this](const Screen &screen) {
        const QScreen *qscreen = m_screens.qscreenFor(screen);
        return qscreen ? qscreen->name() : screen.name;
    });
    if (const QString limit = m_integration.integration().limitation(); !limit.isEmpty()) {
        QTextStream(stdout) << "desktop integration: " << limit
                            << " (the still picture shows instead; --take-over-desktop or the "
                               "setting \"desktopTakeOver\" hides the desktop's own window while "
                               "a wallpaper plays, icons included)"
                            << Qt::endl;
    }
}

LinuxPlatform::~LinuxPlatform() = default;

std::unique_ptr<GalleryPlayer> LinuxPlatform::createGalleryPlayer(const QUrl &url, QQuickItem *view)
{
    return std::make_unique<MpvGalleryPlayer>(url, view);
}

std::unique_ptr<DesktopSurface> LinuxPlatform::createDesktopSurface(const Screen &screen)
{
    QScreen *qscreen = m_screens.qscreenFor(screen);
    return std::make_unique<X11DesktopSurface>(qscreen ? qscreen : QGuiApplication::primaryScreen(),
                                               screen.frame, &m_integration);
}

QString LinuxPlatform::desktopIntegrationDescription() const
{
    return m_integration.integration().description();
}

QString LinuxPlatform::desktopRenderDescription() const
{
    return lumivale::desktopRenderDescription();
}

void LinuxPlatform::restoreDesktop()
{
    m_integration.restoreDesktop();
}

} // namespace lumivale
