#include "desktoppicturesbackend.h"

#include "../unsupporteddesktoppictures.h"
#include "gsettingsdesktoppictures.h"
#include "plasmadesktoppictures.h"
#include "rootwindowdesktoppictures.h"
#include "swaydesktoppictures.h"
#include "xfcedesktoppictures.h"

#include <QDBusConnection>
#include <QGuiApplication>

namespace lumivale {
namespace {

struct Named
{
    const char *name;
    DesktopPicturesBackend backend;
};

// Names as XDG_CURRENT_DESKTOP spells them (compared without case), and the
// override's own names.
constexpr Named kNames[] = {
    {"gnome", DesktopPicturesBackend::Gnome},
    {"budgie", DesktopPicturesBackend::Gnome},
    {"unity", DesktopPicturesBackend::Gnome},
    {"cinnamon", DesktopPicturesBackend::Cinnamon},
    {"x-cinnamon", DesktopPicturesBackend::Cinnamon},
    {"mate", DesktopPicturesBackend::Mate},
    {"kde", DesktopPicturesBackend::Plasma},
    {"plasma", DesktopPicturesBackend::Plasma},
    {"xfce", DesktopPicturesBackend::Xfce},
    {"sway", DesktopPicturesBackend::Sway},
    {"x11", DesktopPicturesBackend::RootWindow},
    {"none", DesktopPicturesBackend::Unsupported},
};

} // namespace

std::optional<DesktopPicturesBackend> desktopPicturesBackendNamed(const QString &name)
{
    const QString wanted = name.trimmed().toLower();
    for (const Named &entry : kNames) {
        if (wanted == QLatin1String(entry.name))
            return entry.backend;
    }
    return std::nullopt;
}

QString desktopPicturesBackendName(DesktopPicturesBackend backend)
{
    // The first name of each backend in the table is its own.
    for (const Named &entry : kNames) {
        if (entry.backend == backend)
            return QLatin1String(entry.name);
    }
    return QStringLiteral("none");
}

bool isBackgroundMode(const QString &mode)
{
    static const QStringList modes{QStringLiteral("fill"), QStringLiteral("fit"),
                                   QStringLiteral("stretch"), QStringLiteral("center"),
                                   QStringLiteral("tile")};
    return modes.contains(mode);
}

DesktopPicturesBackend chooseDesktopPicturesBackend(const QString &currentDesktop,
                                                    const QString &sessionType,
                                                    const QString &overrideName)
{
    if (const auto chosen = desktopPicturesBackendNamed(overrideName))
        return *chosen;
    for (const QString &desktop : currentDesktop.split(u':', Qt::SkipEmptyParts)) {
        const auto known = desktopPicturesBackendNamed(desktop);
        if (known && *known != DesktopPicturesBackend::RootWindow &&
            *known != DesktopPicturesBackend::Unsupported)
            return *known;
    }
    if (sessionType.trimmed().compare(QStringLiteral("x11"), Qt::CaseInsensitive) == 0)
        return DesktopPicturesBackend::RootWindow;
    return DesktopPicturesBackend::Unsupported;
}

std::unique_ptr<DesktopPictures> makeDesktopPictures(DesktopPicturesBackend backend,
                                                     ScreenOutputName outputName)
{
    using Flavor = GSettingsDesktopPictures::Flavor;
    auto gsettings = [](Flavor flavor) -> std::unique_ptr<DesktopPictures> {
        if (!GSettingsDesktopPictures::isAvailable(flavor))
            return std::make_unique<UnsupportedDesktopPictures>();
        return std::make_unique<GSettingsDesktopPictures>(flavor);
    };
    switch (backend) {
    case DesktopPicturesBackend::Gnome:
        return gsettings(Flavor::Gnome);
    case DesktopPicturesBackend::Cinnamon:
        return gsettings(Flavor::Cinnamon);
    case DesktopPicturesBackend::Mate:
        return gsettings(Flavor::Mate);
    case DesktopPicturesBackend::Plasma:
        return std::make_unique<PlasmaDesktopPictures>(QDBusConnection::sessionBus());
    case DesktopPicturesBackend::Xfce:
        return std::make_unique<XfceDesktopPictures>(QDBusConnection::sessionBus(),
                                                     std::move(outputName));
    case DesktopPicturesBackend::Sway:
        return std::make_unique<SwayDesktopPictures>(std::move(outputName));
    case DesktopPicturesBackend::RootWindow:
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            return std::make_unique<UnsupportedDesktopPictures>();
        return std::make_unique<RootWindowDesktopPictures>();
    case DesktopPicturesBackend::Unsupported:
        break;
    }
    return std::make_unique<UnsupportedDesktopPictures>();
}

namespace desktoppictureserrors {
tl::unexpected<Error> make(int code, const QString &description)
{
    return failure(QStringLiteral("DesktopPictures"), code, description);
}
} // namespace desktoppictureserrors

} // namespace lumivale
