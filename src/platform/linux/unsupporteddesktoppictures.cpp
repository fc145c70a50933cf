#include "unsupporteddesktoppictures.h"

namespace lumivale {

Result<> UnsupportedDesktopPictures::setDesktopImage(const QUrl &, const Screen &,
                                                     const QVariantMap &)
{
    return failure(QStringLiteral("DesktopPictures"), kUnsupportedCode,
                   QStringLiteral("Lumivale cannot set the desktop picture on this desktop"));
}

} // namespace lumivale
