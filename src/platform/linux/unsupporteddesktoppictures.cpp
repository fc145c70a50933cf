#include "unsupporteddesktoppictures.h"

namespace lumivale {

std::optional<Error> UnsupportedDesktopPictures::setDesktopImage(const QUrl &, const Screen &,
                                                                 const QVariantMap &)
{
    return Error(QStringLiteral("DesktopPictures"), kUnsupportedCode,
                 QStringLiteral("Lumivale cannot set the desktop picture on this desktop"));
}

} // namespace lumivale
