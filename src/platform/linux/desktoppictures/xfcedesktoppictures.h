#pragma once

#include "desktoppicturesbackend.h"

#include <QDBusConnection>

namespace lumivale {

// XFCE's desktop pictures: the xfconf channel "xfce4-desktop", over D-Bus
// (org.xfce.Xfconf), one picture per monitor, named by its output:
// /backdrop/screen0/monitor<output>/workspace<N>/last-image and image-style.
// Reading takes workspace 0; setting writes every workspace the channel has
// for that monitor (at least workspace 0), so switching workspaces keeps it.
//
// Options: "image-style" (0 none, 1 centered, 2 tiled, 3 stretched, 4 scaled,
// 5 zoomed, 6 spanning); 5 when not given, an unknown value fails.
//
// A set that fails on one workspace puts back the workspaces it already
// changed, and fails.
//
// Main thread only; each call waits at most 3 s for xfconfd.
class XfceDesktopPictures : public DesktopPictures
{
public:
    XfceDesktopPictures(QDBusConnection bus, ScreenOutputName outputName);

    std::optional<QUrl> desktopImageURL(const Screen &screen) const override;
    QVariantMap desktopImageOptions(const Screen &screen) const override;
    Result<> setDesktopImage(const QUrl &image, const Screen &screen,
                             const QVariantMap &options) override;

    static inline const QString kImageStyleKey = QStringLiteral("image-style");

private:
    QString monitorBase(const Screen &screen) const;
    std::optional<QVariant> property(const QString &path) const;
    Result<> setProperty(const QString &path, const QVariant &value);

    QDBusConnection m_bus;
    ScreenOutputName m_outputName;
};

} // namespace lumivale
