#pragma once

#include <QIcon>
#include <QString>

namespace lumivale {

// Images for the status item and its menu. Each menu symbol has a name of its
// own ("cpu", "arrow.clockwise", ...); the desktop's icon theme supplies the
// image when it has a matching freedesktop icon, otherwise the monochrome
// artwork built into the application does.
//
// Main thread only (QIcon needs the GUI application). The functions return
// QIcon values; nothing is owned or cached here. There is no failure beyond
// a null QIcon, which leaves the item without an image.

// The status item's logo, marked as a mask so the tray may tint it: the
// built-in "MenuBarLogo", or when it is missing the "play.rectangle.fill"
// symbol; null when neither is there.
QIcon menuBarLogo();

// The image for a menu symbol, marked as a mask; a null QIcon for a symbol
// name it does not know.
QIcon menuSymbolIcon(const QString &symbolName);

// The full-colour application icon: the theme's "lumivale" when installed,
// else the built-in one.
QIcon applicationIcon();

} // namespace lumivale
