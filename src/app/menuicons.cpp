#include "menuicons.h"

#include <QFile>
#include <QStringList>
#include <array>

namespace lumivale {
namespace {

// Matches the prefix the build gives the icon resources.
QString builtInIconPath(const QString &name)
{
    return QStringLiteral(":/lumivale/icons/") + name + QStringLiteral(".svg");
}

struct SymbolThemeNames
{
    QLatin1StringView symbol;
    // Icon-theme names to try in order: the standard freedesktop icon name
    // where one fits, then names that common themes (Breeze, Adwaita) ship.
    std::array<QLatin1StringView, 2> themeNames;
};

using namespace Qt::StringLiterals;

constexpr std::array symbolThemeNames{
    SymbolThemeNames{"cpu"_L1, {"cpu"_L1, "cpu-symbolic"_L1}},
    SymbolThemeNames{"memorychip"_L1, {"memory"_L1, "media-flash"_L1}},
    SymbolThemeNames{"externaldrive"_L1, {"drive-harddisk"_L1, "drive-removable-media"_L1}},
    SymbolThemeNames{"rectangle.grid.2x2"_L1, {"view-grid"_L1, "view-app-grid-symbolic"_L1}},
    SymbolThemeNames{"arrow.clockwise"_L1, {"view-refresh"_L1, {}}},
    SymbolThemeNames{"trash"_L1, {"user-trash"_L1, {}}},
    SymbolThemeNames{"power"_L1, {"system-shutdown"_L1, "application-exit"_L1}},
    SymbolThemeNames{"arrow.down.circle"_L1, {"software-update-available"_L1, "go-down"_L1}},
    SymbolThemeNames{"pause.circle"_L1, {"media-playback-pause"_L1, {}}},
    SymbolThemeNames{"xmark.circle"_L1, {"window-close"_L1, "process-stop"_L1}},
    SymbolThemeNames{"play.rectangle.fill"_L1, {"video-x-generic"_L1, "media-playback-start"_L1}},
};

QIcon asMask(QIcon icon)
{
    if (!icon.isNull())
        icon.setIsMask(true);
    return icon;
}

} // namespace

QIcon menuBarLogo()
{
    const QString logo = builtInIconPath(QStringLiteral("MenuBarLogo"));
    if (QFile::exists(logo))
        return asMask(QIcon(logo));
    return menuSymbolIcon(QStringLiteral("play.rectangle.fill"));
}

QIcon menuSymbolIcon(const QString &symbolName)
{
    for (const SymbolThemeNames &entry : symbolThemeNames) {
        if (entry.symbol != symbolName)
            continue;
        for (QLatin1StringView themeName : entry.themeNames) {
            if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName))
                return asMask(QIcon::fromTheme(themeName));
        }
        const QString builtIn = builtInIconPath(symbolName);
        return asMask(QFile::exists(builtIn) ? QIcon(builtIn) : QIcon());
    }
    return {};
}

QIcon applicationIcon()
{
    return QIcon::fromTheme(QStringLiteral("lumivale"),
                            QIcon(builtInIconPath(QStringLiteral("lumivale"))));
}

} // namespace lumivale
