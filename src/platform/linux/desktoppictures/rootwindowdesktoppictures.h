#pragma once

#include "desktoppicturerecord.h"
#include "platform/desktoppictures.h"

#include <QByteArray>

namespace lumivale {

// The desktop picture of an X11 session without a desktop of its own: the
// root window's background pixmap, set the way common X11 wallpaper setters
// set it (the picture drawn into a pixmap that outlives the connection,
// published as _XROOTPMAP_ID and ESETROOT_PMAP_ID so that terminals and
// compositors find it, the previous setter's pixmap freed when both IDs name
// it). Each screen's part of the pixmap is drawn on its own, so screens keep
// separate pictures.
//
// The X server keeps pixels, not paths, so the backend records the path and
// options it set (DesktopPictureRecord). Reading a screen it did not set (or
// whose pixmap someone else has replaced since) saves that screen's part of
// the present pixmap as "PreviousDesktop-<screen>.png" next to the record and
// reports that file, so the picture from before can be put back.
//
// Options: "mode" = fill (the default: cover the screen, cropping), fit,
// stretch, center or tile. Main thread only; each call opens its own short
// connection to the display.
class RootWindowDesktopPictures : public DesktopPictures
{
public:
    explicit RootWindowDesktopPictures(QByteArray displayName = {},
                                       DesktopPictureRecord record = DesktopPictureRecord());

    std::optional<QUrl> desktopImageURL(const Screen &screen) const override;
    QVariantMap desktopImageOptions(const Screen &screen) const override;
    Result<> setDesktopImage(const QUrl &image, const Screen &screen,
                             const QVariantMap &options) override;

    static inline const QString kModeKey = QStringLiteral("mode");

private:
    std::optional<DesktopPictureRecord::Entry> currentEntry(const Screen &screen) const;

    QByteArray m_displayName;
    DesktopPictureRecord m_record;
};

} // namespace lumivale
