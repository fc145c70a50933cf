#pragma once

#include "platform/desktoppictures.h"

#include <QStringList>

typedef struct _GSettings GSettings;

namespace lumivale {

// Desktops that keep one desktop picture for all screens in GSettings: GNOME
// (and Budgie, Unity), Cinnamon and MATE. Every screen reads the same picture,
// and setting it for one screen sets it for all.
//
// Options: "picture-options" (none, wallpaper, centered, scaled, stretched,
// zoom, spanned; MATE has no none), and on GNOME "picture-uri-dark" when the
// dark-style picture differs. Setting with no "picture-options" uses zoom,
// which fills the screen as the live wallpaper does; option keys of other
// desktops are ignored, an unknown value fails and changes nothing.
//
// Works with whatever GSettings backend the session uses (dconf normally; the
// keyfile backend in tests). Main thread only.
class GSettingsDesktopPictures : public DesktopPictures
{
public:
    enum class Flavor { Gnome, Cinnamon, Mate };

    explicit GSettingsDesktopPictures(Flavor flavor);
    ~GSettingsDesktopPictures() override;
    GSettingsDesktopPictures(const GSettingsDesktopPictures &) = delete;
    GSettingsDesktopPictures &operator=(const GSettingsDesktopPictures &) = delete;

    // Whether the flavour's schema is installed; the backend needs it.
    static bool isAvailable(Flavor flavor);

    std::optional<QUrl> desktopImageURL(const Screen &screen) const override;
    QVariantMap desktopImageOptions(const Screen &screen) const override;
    Result<> setDesktopImage(const QUrl &image, const Screen &screen,
                             const QVariantMap &options) override;

    static inline const QString kPictureOptionsKey = QStringLiteral("picture-options");
    static inline const QString kDarkPictureKey = QStringLiteral("picture-uri-dark");

private:
    QString readString(const char *key) const;

    Flavor m_flavor;
    GSettings *m_settings = nullptr;
};

} // namespace lumivale
