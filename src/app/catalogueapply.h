#pragma once

#include "platform/error.h"

#include <QSet>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

class QObject;

namespace lumivale {

class UserDefaults;
class VideoCache;
class WallpaperManager;

// What to put on the desktop, by the wallpaper's ID in the catalogue.
struct CatalogueApplyRequest
{
    QString wallpaperID;
    // No value: every screen.
    std::optional<QSet<QString>> screenIDs;
    // When the catalogue cannot be loaded, applies the cached video instead
    // (offline at login); without it there is nothing to apply.
    bool fallsBackToCache = false;
    // Applies nothing when a wallpaper is applied or turned off while this
    // waits: that later choice wins.
    bool givesWayToLaterChanges = false;
    // When set, the flow ends quietly, touching nothing, once this object is
    // destroyed (the objects below may be going with it).
    const QObject *guard = nullptr;
    // Told of a catalogue that cannot be loaded, before any fallback.
    std::function<void(const Error &)> catalogueUnavailable;
};

struct CatalogueApplyResult
{
    enum class Outcome {
        Applied,
        NotInCatalogue,
        // The catalogue could not be loaded (and no cached video stood in).
        CatalogueUnavailable,
        DownloadFailed,
        // Overtaken by a later choice, or the guard went away.
        GaveWay,
    };
    Outcome outcome = Outcome::GaveWay;
    // The local file applied.
    QUrl video;
    // CatalogueUnavailable: domain "WallpaperLibrary" with the load's text;
    // DownloadFailed: the video cache's error.
    std::optional<Error> error;
};

// The one flow that puts a catalogue wallpaper on the desktop by its ID, for
// the launch-time restore and the `--apply ID` command: load a catalogue of
// its own, find the ID, have the video cache download the video when it is not
// cached, then hand it to the manager's apply.
//
// Main thread only; it waits (load, download) without holding the thread.
// The defaults, cache and manager are borrowed and must outlive the flow,
// unless a guard is given (see above). Nothing is applied on any failure; a
// failure is the result's outcome and error, never a log line or an alert.
QCoro::Task<CatalogueApplyResult> applyFromCatalogue(UserDefaults &defaults, VideoCache &cache,
                                                     WallpaperManager &manager,
                                                     CatalogueApplyRequest request);

} // namespace lumivale
