#pragma once

#include "desktoppicturesbackend.h"

#include <QDBusConnection>

namespace lumivale {

// KDE Plasma's desktop pictures, per screen, through plasmashell's scripting
// interface (org.kde.plasmashell /PlasmaShell evaluateScript). A screen is
// found by its geometry, which Plasma reports for each desktop containment;
// with several activities every containment on that screen is set, and the
// first one is read. Only the image wallpaper plugin has a picture to report.
//
// Options: "FillMode" (0 stretch, 1 fit, 2 crop, 3 tile, 4 tile vertically,
// 5 tile horizontally, 6 pad); 2 when not given, an unknown value fails. Paths
// reach the script as JSON string literals, never as script text.
//
// Main thread only; each call waits at most 3 s for plasmashell.
class PlasmaDesktopPictures : public DesktopPictures
{
public:
    explicit PlasmaDesktopPictures(QDBusConnection bus);

    std::optional<QUrl> desktopImageURL(const Screen &screen) const override;
    QVariantMap desktopImageOptions(const Screen &screen) const override;
    Result<> setDesktopImage(const QUrl &image, const Screen &screen,
                             const QVariantMap &options) override;

    static inline const QString kFillModeKey = QStringLiteral("FillMode");

private:
    // The script's printed output, or the error plasmashell answered with.
    Result<QString> evaluate(const QString &script) const;
    QVariantMap readScreen(const Screen &screen) const;

    QDBusConnection m_bus;
};

} // namespace lumivale
