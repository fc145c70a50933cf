#pragma once

#include "desktoppicturerecord.h"
#include "desktoppicturesbackend.h"

namespace lumivale {

// sway's desktop pictures, per output: `swaymsg output <output> bg <file>
// <mode>`. sway cannot report a picture back, so reading gives what Lumivale
// itself set last (DesktopPictureRecord), and nothing before that.
//
// Options: "mode" = fill (the default), fit, stretch, center or tile.
//
// Main thread only; a set waits for swaymsg (at most 3 s).
class SwayDesktopPictures : public DesktopPictures
{
public:
    SwayDesktopPictures(ScreenOutputName outputName, QString swaymsg = QStringLiteral("swaymsg"),
                        DesktopPictureRecord record = DesktopPictureRecord());

    std::optional<QUrl> desktopImageURL(const Screen &screen) const override;
    QVariantMap desktopImageOptions(const Screen &screen) const override;
    Result<> setDesktopImage(const QUrl &image, const Screen &screen,
                             const QVariantMap &options) override;

    static inline const QString kModeKey = QStringLiteral("mode");

private:
    ScreenOutputName m_outputName;
    QString m_swaymsg;
    DesktopPictureRecord m_record;
};

} // namespace lumivale
