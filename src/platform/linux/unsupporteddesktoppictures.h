#pragma once

#include "platform/desktoppictures.h"

namespace lumivale {

// The desktop pictures of a desktop Lumivale cannot serve: nothing can be
// read, so nothing is saved, and every write fails with a clear error.
class UnsupportedDesktopPictures : public DesktopPictures
{
public:
    std::optional<QUrl> desktopImageURL(const Screen &) const override { return std::nullopt; }
    QVariantMap desktopImageOptions(const Screen &) const override { return {}; }
    Result<> setDesktopImage(const QUrl &image, const Screen &screen,
                             const QVariantMap &options) override;

    static constexpr int kUnsupportedCode = 1;
};

} // namespace lumivale
