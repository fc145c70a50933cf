#include "desktopintegration.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace lumivale {
namespace {

using Kind = DesktopIntegration::Kind;

constexpr std::array<std::pair<Kind, const char *>, 7> kNames{{
    {Kind::Ewmh, "ewmh"},
    {Kind::Gnome, "gnome"},
    {Kind::Budgie, "budgie"},
    {Kind::Cinnamon, "cinnamon"},
    {Kind::Mate, "mate"},
    {Kind::Xfce, "xfce"},
    {Kind::Tiling, "tiling"},
}};

// XDG_CURRENT_DESKTOP entries, compared without case. Budgie sessions name
// GNOME too ("Budgie:GNOME"), so the list is read in order.
constexpr std::array<std::pair<const char *, Kind>, 8> kDesktops{{
    {"gnome", Kind::Gnome},
    {"ubuntu", Kind::Gnome},
    {"budgie", Kind::Budgie},
    {"x-cinnamon", Kind::Cinnamon},
    {"cinnamon", Kind::Cinnamon},
    {"mate", Kind::Mate},
    {"xfce", Kind::Xfce},
    {"i3", Kind::Tiling},
}};

// Window managers that give a desktop-type window no layer of its own (they
// tile it, or stack it like any other window), by their _NET_WM_NAME.
constexpr std::array kTilingWindowManagers{"i3",       "dwm",   "xmonad",      "lg3d",
                                           "spectrwm", "qtile", "herbstluftwm"};

std::optional<Kind> kindNamed(const QString &name)
{
    const QString wanted = name.trimmed().toLower();
    for (const auto &[kind, text] : kNames) {
        if (wanted == QLatin1String(text))
            return kind;
    }
    return std::nullopt;
}

} // namespace

DesktopIntegration::Window DesktopIntegration::window() const
{
    return kind == Kind::Tiling ? Window::BottomUnmanaged : Window::DesktopType;
}

bool DesktopIntegration::showsLivePlayback() const
{
    return (kind != Kind::Mate && kind != Kind::Xfce) || takeOver;
}

QString DesktopIntegration::name() const
{
    for (const auto &[each, text] : kNames) {
        if (each == kind)
            return QLatin1String(text);
    }
    return {};
}

QString DesktopIntegration::limitation() const
{
    if (showsLivePlayback())
        return {};
    return QStringLiteral("live playback off on %1: desktop not taken over")
        .arg(kind == Kind::Mate ? QStringLiteral("MATE") : QStringLiteral("XFCE"));
}

QString DesktopIntegration::description() const
{
    QStringList parts{name()};
    if (hidesDesktop())
        parts.append(QStringLiteral("desktop taken over"));
    if (needsXWayland)
        parts.append(QStringLiteral("through XWayland"));
    if (const QString limit = limitation(); !limit.isEmpty())
        parts.append(limit);
    return parts.join(QStringLiteral(", "));
}

DesktopIntegration chooseDesktopIntegration(const DesktopSession &session,
                                            const QString &overrideName, bool takeOver)
{
    DesktopIntegration integration;
    integration.takeOver = takeOver;

    std::optional<Kind> kind = kindNamed(overrideName);
    for (const QString &entry : session.currentDesktop.split(u':', Qt::SkipEmptyParts)) {
        if (kind)
            break;
        for (const auto &[text, each] : kDesktops) {
            if (entry.trimmed().compare(QLatin1String(text), Qt::CaseInsensitive) == 0) {
                kind = each;
                break;
            }
        }
    }
    const QString windowManager = session.windowManagerName.trimmed().toLower();
    if (!kind &&
        std::any_of(kTilingWindowManagers.begin(), kTilingWindowManagers.end(),
                    [&](const char *name) { return windowManager == QLatin1String(name); }))
        kind = Kind::Tiling;
    integration.kind = kind.value_or(Kind::Ewmh);

    // Mutter on Wayland keeps native Wayland clients off the desktop level.
    integration.needsXWayland =
        integration.kind == Kind::Gnome &&
        session.sessionType.compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
    return integration;
}

QList<RestackRequest> restackRequests(const QList<StackedWindow> &bottomToTop,
                                      DesktopIntegration::Window window)
{
    QList<RestackRequest> requests;
    if (window == DesktopIntegration::Window::BottomUnmanaged) {
        bool foreignBelow = false;
        for (const StackedWindow &each : bottomToTop) {
            if (!each.isOurs)
                foreignBelow = true;
            else if (foreignBelow)
                requests.append({each.id, 0});
        }
        return requests;
    }

    std::uint32_t lowestDesktop = 0;
    for (const StackedWindow &each : bottomToTop) {
        if (!each.isOurs && each.isDesktopType && !lowestDesktop)
            lowestDesktop = each.id;
        else if (each.isOurs && lowestDesktop)
            requests.append({each.id, lowestDesktop});
    }
    return requests;
}

} // namespace lumivale
