#pragma once

#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "desktop/wallpapermanager.h"
#include "gallery/contentview.h"
#include "gallery/wallpaperlistmodel.h"
#include "loopbackhttpserver.h"
#include "manualclock.h"
#include "platform/fake/fakeplatform.h"
#include "platform/userdefaults.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace lumivale::test {

// A manifest from short record specs "id/Category/flags[/Name]", each with a
// video (https://cdn.test/<id>.mp4): flags holds "n" for a new record; the
// name is "Name <id>" unless given.
QByteArray manifestOf(const QStringList &records);

// The wallpaper IDs of a list model's rows, in order.
QStringList idsOf(const WallpaperListModel &model);

// A ContentView over the platform double and a manual clock, whose catalogue
// is `served`, a list of record specs, on loopback; or, with `demo`, the
// built-in demo catalogue (no manifest address).
struct GalleryFixture
{
    explicit GalleryFixture(bool demo = false);
    ~GalleryFixture();

    // Serves `records` and waits for the library to load them.
    void load(const QStringList &records);
    // Puts a (fake) downloaded video of `id` in the cache folder.
    void cacheFile(const QString &id);

    QTemporaryDir dir;
    fake::FakePlatform platform;
    UserDefaults defaults{dir.filePath(QStringLiteral("defaults.json"))};
    WallpaperManager manager{platform, defaults};
    VideoCache cache{dir.filePath(QStringLiteral("cache"))};
    VideoCacheState cacheState{cache};
    ManualClock clock;
    LoopbackHttpServer server;
    QStringList served;
    std::unique_ptr<ContentView> content;
};

} // namespace lumivale::test
