#pragma once

#include "wallpaper.h"

#include <QSet>

namespace lumivale {

// What one gallery card shows, built from a record and the state around it.
// Identified by `id`; equality is member-wise. A plain value, any thread.
struct WallpaperCardModel
{
    QString id;
    QString name;
    QString category;
    QString resolution;
    bool isNew = false;
    std::optional<QString> likeCountText;
    std::optional<QUrl> video;
    std::optional<QStringList> gradient;
    bool isActive = false;
    bool isDownloading = false;
    bool isDownloaded = false;

    // `currentWallpaperID` is the wallpaper the desktop plays (none when
    // nothing is applied); `cachedIDs` are the wallpapers whose video is in
    // the cache. The home and likes lists never show a download in progress.
    static WallpaperCardModel make(const Wallpaper &wallpaper,
                                   const std::optional<QString> &currentWallpaperID,
                                   const QSet<QString> &cachedIDs, bool isDownloading = false);

    friend bool operator==(const WallpaperCardModel &, const WallpaperCardModel &) = default;
};

} // namespace lumivale

Q_DECLARE_METATYPE(lumivale::WallpaperCardModel)
