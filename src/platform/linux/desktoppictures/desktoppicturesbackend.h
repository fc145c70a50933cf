#pragma once

#include "platform/desktoppictures.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace lumivale {

// The desktops whose own desktop picture Lumivale knows how to read and set.
enum class DesktopPicturesBackend {
    Gnome,      // also Budgie and Unity: org.gnome.desktop.background
    Cinnamon,   // org.cinnamon.desktop.background
    Mate,       // org.mate.background
    Plasma,     // plasmashell's scripting interface over D-Bus
    Xfce,       // the xfconf channel xfce4-desktop
    Sway,       // swaymsg output … bg
    RootWindow, // any other X11 session: the root window's pixmap
    Unsupported,
};

// The backend for the session: an override name wins ("gnome", "budgie",
// "cinnamon", "mate", "kde"/"plasma", "xfce", "sway", "x11", "none"; others are
// ignored), then the first desktop of XDG_CURRENT_DESKTOP (a colon-separated
// list) that Lumivale knows, then the root window for an X11 session, else
// none.
DesktopPicturesBackend chooseDesktopPicturesBackend(const QString &currentDesktop,
                                                    const QString &sessionType,
                                                    const QString &overrideName);
std::optional<DesktopPicturesBackend> desktopPicturesBackendNamed(const QString &name);
QString desktopPicturesBackendName(DesktopPicturesBackend backend);

// The picture modes of sway and the root window: fill (cover the screen,
// cropping), fit, stretch, center, tile.
bool isBackgroundMode(const QString &mode);

// The output (connector) name of a screen, such as "DP-1": how XFCE and sway
// name monitors.
using ScreenOutputName = std::function<QString(const Screen &)>;

// Makes the backend; one whose desktop pieces are missing here (a GSettings
// schema that is not installed, no X11 connection) comes back as the
// unsupported one. Main thread only.
std::unique_ptr<DesktopPictures> makeDesktopPictures(DesktopPicturesBackend backend,
                                                     ScreenOutputName outputName);

// Errors of the backends: domain "DesktopPictures".
namespace desktoppictureserrors {
inline constexpr int kUnsupported = 1;
inline constexpr int kInvalidImage = 2;  // not a local file, or cannot be read
inline constexpr int kInvalidOption = 3; // an option value the desktop does not know
inline constexpr int kNotWritable = 4;   // the desktop refused or locked the setting
inline constexpr int kNoSuchScreen = 5;  // the desktop does not know the screen
inline constexpr int kDesktopFailed = 6; // the desktop's service or tool failed
// The failing side of a Result, in the "DesktopPictures" domain.
tl::unexpected<Error> make(int code, const QString &description);
} // namespace desktoppictureserrors

// The longest a backend waits for a desktop's service or tool, on the main
// thread (a D-Bus call, swaymsg).
inline constexpr int kCallTimeoutMs = 3000;

} // namespace lumivale
