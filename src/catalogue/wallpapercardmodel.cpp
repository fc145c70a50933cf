#include "wallpapercardmodel.h"

namespace lumivale {

WallpaperCardModel WallpaperCardModel::make(const Wallpaper &wallpaper,
                                            const std::optional<QString> &currentWallpaperID,
                                            const QSet<QString> &cachedIDs, bool isDownloading)
{
    return WallpaperCardModel{
        .id = wallpaper.id(),
        .name = wallpaper.name(),
        .category = wallpaper.category(),
        .resolution = wallpaper.resolution(),
        .isNew = wallpaper.isNew(),
        .likeCountText = lumivale::likeCountText(wallpaper.likeCount()),
        .video = wallpaper.video(),
        .gradient = wallpaper.gradient(),
        .isActive = currentWallpaperID && *currentWallpaperID == wallpaper.id(),
        .isDownloading = isDownloading,
        .isDownloaded = cachedIDs.contains(wallpaper.id()),
    };
}

} // namespace lumivale
