#pragma once

#include "error.h"
#include "screens.h"

#include <QUrl>
#include <QVariantMap>
#include <optional>

namespace lumivale {

// The system's own desktop picture of each screen, with its display options
// (scaling and the like; each backend names its own keys, values are numbers,
// booleans or strings). Main thread only.
class DesktopPictures
{
public:
    virtual ~DesktopPictures() = default;

    // The picture the screen shows now, or nothing when the desktop cannot say.
    virtual std::optional<QUrl> desktopImageURL(const Screen &screen) const = 0;
    virtual QVariantMap desktopImageOptions(const Screen &screen) const = 0;
    // Sets the screen's picture; on failure returns the platform's error and
    // leaves the picture as it was.
    virtual Result<> setDesktopImage(const QUrl &image, const Screen &screen,
                                     const QVariantMap &options) = 0;
};

} // namespace lumivale
