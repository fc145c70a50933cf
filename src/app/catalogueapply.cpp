#include "catalogueapply.h"

#include "cache/videocache.h"
#include "catalogue/wallpaperlibrary.h"
#include "desktop/wallpapermanager.h"

#include <QPointer>
#include <algorithm>

namespace lumivale {

QCoro::Task<CatalogueApplyResult> applyFromCatalogue(UserDefaults &defaults, VideoCache &cache,
                                                     WallpaperManager &manager,
                                                     CatalogueApplyRequest request)
{
    using Outcome = CatalogueApplyResult::Outcome;
    const QPointer<const QObject> guard(request.guard);
    const bool guarded = request.guard != nullptr;
    const quint64 changesAtStart = manager.wallpaperChangeCount();
    const auto gaveWay = [&] {
        if (guarded && !guard)
            return true;
        return request.givesWayToLaterChanges && manager.wallpaperChangeCount() != changesAtStart;
    };

    QUrl video;
    WallpaperLibrary library(defaults);
    co_await library.load();
    if (gaveWay())
        co_return CatalogueApplyResult{};
    if (library.loadError()) {
        const Error error(QStringLiteral("WallpaperLibrary"), 0, *library.loadError());
        if (request.catalogueUnavailable)
            request.catalogueUnavailable(error);
        if (!request.fallsBackToCache || !cache.isCached(request.wallpaperID))
            co_return CatalogueApplyResult{Outcome::CatalogueUnavailable, QUrl(), error};
        video = cache.fileURL(request.wallpaperID);
    } else {
        const QList<Wallpaper> &all = library.wallpapers();
        const auto found = std::find_if(all.cbegin(), all.cend(), [&](const Wallpaper &w) {
            return w.id() == request.wallpaperID;
        });
        if (found == all.cend())
            co_return CatalogueApplyResult{Outcome::NotInCatalogue, QUrl(), std::nullopt};
        const VideoDownloadResult download = co_await cache.download(*found);
        if (gaveWay())
            co_return CatalogueApplyResult{};
        if (!download)
            co_return CatalogueApplyResult{Outcome::DownloadFailed, QUrl(), download.error()};
        video = *download;
    }
    manager.apply(video, request.wallpaperID, request.screenIDs);
    co_return CatalogueApplyResult{Outcome::Applied, video, std::nullopt};
}

} // namespace lumivale
