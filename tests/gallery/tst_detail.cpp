#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "catalogue/likedwallpaperstore.h"
#include "catalogue/wallpaperlibrary.h"
#include "desktop/wallpapermanager.h"
#include "gallery/contentview.h"
#include "gallery/wallpaperdetailmodel.h"
#include "gallery/wallpaperlistmodel.h"
#include "platform/fake/fakeplatform.h"
#include "platform/userdefaults.h"
#include "support/loopbackhttpserver.h"
#include "support/manualclock.h"
#include "support/testenvironment.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace lumivale;
using lumivale::test::LoopbackHttpServer;

namespace {

// A screen "S<n>" numbered n.
Screen screen(int n)
{
    return Screen{QStringLiteral("S%1").arg(n), quint32(n), QRect(1000 * n, 0, 1000, 800)};
}

QList<Screen> screens(int count)
{
    QList<Screen> list;
    for (int n = 1; n <= count; ++n)
        list.append(screen(n));
    return list;
}

} // namespace

class TestDetail : public QObject
{
    Q_OBJECT

    // A gallery over the platform double, its catalogue on loopback: `records`
    // are the manifest's objects; "/v/<name>.mp4" serves the test clip <name>.
    struct Fixture
    {
        QTemporaryDir dir;
        fake::FakePlatform platform;
        UserDefaults defaults{dir.filePath(QStringLiteral("defaults.json"))};
        WallpaperManager manager{platform, defaults};
        VideoCache cache{dir.filePath(QStringLiteral("cache"))};
        VideoCacheState cacheState{cache};
        test::ManualClock clock;
        LoopbackHttpServer server;
        QStringList records;
        std::unique_ptr<ContentView> content;
        WallpaperDetailModel page;

        explicit Fixture(QStringList manifest, int screenCount = 2)
            : records(std::move(manifest))
        {
            platform.screens().setScreens(screens(screenCount));
            server.setHandler([this](const LoopbackHttpServer::Request &request) {
                const QByteArray path = request.path();
                if (path.startsWith("/v/"))
                    return LoopbackHttpServer::file(
                        test::mediaPath(QString::fromUtf8(path.mid(3).chopped(4))), request);
                return LoopbackHttpServer::json("[" + records.join(',').toUtf8() + "]");
            });
            qputenv("LUMIVALE_MANIFEST_URL", server.url("/manifest.json").toString().toUtf8());
            content = std::make_unique<ContentView>(
                ContentView::Dependencies{defaults, manager, cacheState, cache, clock});
            QCoro::waitFor(content->appear());
            page.setScreenSystem(&platform.screens());
            page.setContent(content.get());
        }
        // A record with `extra` fields, and a served clip unless they name a video.
        QString record(const QString &id, const QString &extra = {}) const
        {
            return QStringLiteral("{\"id\":\"%1\",\"name\":\"N %1\",\"resolution\":\"4K\"%2}")
                .arg(id, extra.contains("\"video\"") ? extra : extra + videoOf("red"));
        }
        QString videoOf(const QString &clip) const
        {
            return QStringLiteral(",\"video\":\"%1\"")
                .arg(server.url("/v/" + clip + ".mp4").toString());
        }
        // Opens the record's page; "-" drops its video (as records of the
        // built-in catalogue have none).
        void open(const QString &id)
        {
            content->selectWallpaper(id.chopped(id.endsWith('-')));
            if (id.endsWith('-')) {
                Wallpaper withoutVideo = *content->selectedWallpaper();
                withoutVideo.setVideo(std::nullopt);
                content->setSelectedWallpaper(withoutVideo);
            }
        }
        bool applied()
        {
            QSignalSpy finished(&page, &WallpaperDetailModel::applyFinished);
            page.confirm();
            return finished.wait(20000) && finished.first().first().toBool();
        }
    };

private Q_SLOTS:
    void cleanup() { qunsetenv("LUMIVALE_MANIFEST_URL"); }

    void durationFormat_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("half rounds up") << 59.5 << "1:00";
        QTest::newRow("just under half") << 59.49 << "0:59";
        QTest::newRow("two minutes") << 125.0 << "2:05";
        QTest::newRow("past an hour") << 3725.0 << "62:05";
        QTest::newRow("zero") << 0.0 << "--";
        QTest::newRow("negative") << -3.0 << "--";
        QTest::newRow("infinite") << double(INFINITY) << "--";
        QTest::newRow("not a number") << double(NAN) << "--";
    }
    void durationFormat()
    {
        QFETCH(double, seconds);
        QTEST(WallpaperDetailModel::formatDuration(seconds), "text");
    }

    // The fact line's size and duration, from the record, the cached file or
    // the remote video.
    void facts_data()
    {
        QTest::addColumn<QString>("extra");  // record fields; "-": no video; "0": 0 s
        QTest::addColumn<QString>("cached"); // clip copied into the cache first
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("duration");
        QTest::newRow("from the record") << ",\"sizeBytes\":84200000,\"durationSeconds\":125"
                                         << ""
                                         << "84.2 MB"
                                         << "2:05";
        QTest::newRow("zero seconds: no probe") << "0"
                                                << "red"
                                                << ""
                                                << "--";
        QTest::newRow("the cached file") << ""
                                         << "red_short"
                                         << ""
                                         << "0:01";
        QTest::newRow("the remote video") << ""
                                          << ""
                                          << "--"
                                          << "0:02";
        QTest::newRow("no video") << ""
                                  << ""
                                  << "--"
                                  << "--";
        QTest::newRow("remote not found") << ",\"video\":\"http://127.0.0.1:1/x.mp4\""
                                          << ""
                                          << "--"
                                          << "--";
    }
    void facts()
    {
        QFETCH(QString, extra);
        QFETCH(QString, cached);
        Fixture f({});
        const bool edited = extra == "-" || extra == "0";
        f.records = {f.record("w", edited ? QString() : extra)};
        QCoro::waitFor(f.content->reload());
        if (!cached.isEmpty())
            QVERIFY(QFile::copy(test::mediaPath(cached), f.cache.fileURL("w").toLocalFile()));
        f.open("w");
        if (edited) { // records the manifest cannot carry
            Wallpaper record = *f.content->selectedWallpaper();
            record.setId("e");
            if (extra == "-")
                record.setVideo(std::nullopt);
            else
                record.setDurationSeconds(0);
            if (!cached.isEmpty())
                QVERIFY(QFile::copy(test::mediaPath(cached), f.cache.fileURL("e").toLocalFile()));
            f.content->setSelectedWallpaper(record);
        }
        QCOMPARE(f.page.resolution(), "4K");
        QFETCH(QString, size);
        if (size.isEmpty())
            QVERIFY(f.page.sizeText().endsWith("kB"));
        else
            QCOMPARE(f.page.sizeText(), size);
        QFETCH(QString, duration);
        QTRY_COMPARE_WITH_TIMEOUT(f.page.durationText(), duration, 15000);
    }

    void mainAction_data()
    {
        QTest::addColumn<bool>("hasVideo");
        QTest::addColumn<bool>("current");
        QTest::addColumn<bool>("snapshot"); // saved desktop pictures to restore
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("picker");
        QTest::addColumn<QString>("error");
        QTest::newRow("not current: the picker")
            << true << false << false << "Set Wallpaper" << true << "";
        QTest::newRow("no video: nothing")
            << false << false << false << "Set Wallpaper" << false << "";
        QTest::newRow("current: turned off") << true << true << true << "Turn Off" << false << "";
        QTest::newRow("current, nothing saved") << true << true << false << "Turn Off" << false
                                                << "No previous macOS wallpaper snapshot was saved";
    }
    void mainAction()
    {
        QFETCH(bool, hasVideo);
        QFETCH(bool, current);
        Fixture f({});
        f.records = {f.record("w")};
        QCoro::waitFor(f.content->reload());
        f.open(hasVideo ? "w" : "w-");
        QFETCH(bool, snapshot);
        if (snapshot) {
            f.platform.desktopPictures().setPicture("S1", {QUrl::fromLocalFile("/saved.jpg"), {}});
            f.manager.previousDesktopStore().captureIfNeeded();
        }
        if (current)
            f.manager.apply(QUrl::fromLocalFile(test::mediaPath("red")), "w");
        QTEST(f.page.mainButtonTitle(), "title");
        QCOMPARE(f.page.mainButtonSymbol(), current ? "xmark.circle.fill" : "play.rectangle.fill");
        QCOMPARE(f.page.isMainButtonEnabled(), hasVideo);
        f.page.mainAction();
        QTEST(f.page.isDisplayPickerPresented(), "picker");
        QTEST(f.page.applyError(), "error");
        if (current) {
            QVERIFY(f.manager.currentWallpaperID().isEmpty()); // stopped, also on failure
            QCOMPARE(f.page.mainButtonTitle(), "Set Wallpaper");
        }
    }

    void picker_data()
    {
        QTest::addColumn<int>("screenCount");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<int>("columns");
        QTest::newRow("one screen") << 1 << QStringList{"open"} << QStringList{"1"} << 1;
        QTest::newRow("three screens")
            << 3 << QStringList{"open"} << QStringList{"1", "2", "3"} << 3;
        QTest::newRow("five screens: three columns")
            << 5 << QStringList{"open"} << QStringList{"1", "2", "3", "4", "5"} << 3;
        QTest::newRow("tap toggles") << 2 << QStringList{"open", "tap 1"} << QStringList{"2"} << 2;
        QTest::newRow("all unticked")
            << 2 << QStringList{"open", "tap 1", "tap 2"} << QStringList{} << 2;
        QTest::newRow("All") << 2 << QStringList{"open", "tap 1", "tap 2", "all"}
                             << QStringList{"1", "2"} << 2;
        QTest::newRow("reopened: earlier choice kept")
            << 3 << QStringList{"open", "tap 2", "cancel", "open"} << QStringList{"1", "3"} << 3;
        QTest::newRow("reopened after unplugging a ticked screen: all")
            << 3 << QStringList{"open", "tap 2", "cancel", "unplug 3", "open"}
            << QStringList{"1", "2"} << 2;
        QTest::newRow("reopened after unplugging an unticked screen: kept")
            << 3 << QStringList{"open", "tap 2", "cancel", "unplug 2", "open"}
            << QStringList{"1", "3"} << 2;
        QTest::newRow("emptied and reopened: all")
            << 2 << QStringList{"open", "tap 1", "tap 2", "cancel", "open"} << QStringList{"1", "2"}
            << 2;
    }
    void picker()
    {
        QFETCH(int, screenCount);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, selected);
        Fixture f({}, screenCount);
        f.records = {f.record("w")};
        QCoro::waitFor(f.content->reload());
        f.open("w");
        for (const QString &step : std::as_const(steps)) {
            const QString arg = step.section(' ', 1);
            if (step == "open")
                f.page.mainAction();
            else if (step == "cancel")
                f.page.cancelPicker();
            else if (step == "all")
                f.page.selectAllScreens();
            else if (step.startsWith("tap"))
                f.page.toggleScreen(arg);
            else if (step.startsWith("unplug"))
                f.platform.screens().removeScreen("S" + arg);
        }
        QVERIFY(f.page.isDisplayPickerPresented());
        QStringList ids = f.page.selectedScreenIDs().values();
        ids.sort();
        QCOMPARE(ids, selected);
        QTEST(f.page.pickerColumns(), "columns");
        QCOMPARE(f.page.canConfirm(), !selected.isEmpty());
        QCOMPARE(f.page.isEveryScreenSelected(), ids.size() == f.page.options().size());
        const QList<WallpaperDetailModel::DisplayOption> options = f.page.options();
        QCOMPARE(options.first().isMain, true);
        QCOMPARE(options.first().name, "S1");
        QVERIFY(std::none_of(options.begin() + 1, options.end(),
                             [](const auto &option) { return option.isMain; }));
        // Escape closes the picker, then the page.
        QVERIFY(f.content->closeInnermostLayer());
        QVERIFY(!f.page.isDisplayPickerPresented());
        QVERIFY(f.content->hasSelectedWallpaper());
        QVERIFY(f.content->closeInnermostLayer());
        QVERIFY(!f.content->hasSelectedWallpaper());
    }

    void confirm_data()
    {
        QTest::addColumn<QString>("video");   // a served clip, or an absolute URL
        QTest::addColumn<bool>("stillFails"); // the desktop picture cannot be set
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("plays");
        QTest::newRow("success") << "red" << false << "" << true;
        QTest::newRow("download fails")
            << "missing" << false << "Video download failed with HTTP 404" << false;
        QTest::newRow("still fails") << "red" << true << "cannot set" << true;
    }
    void confirm()
    {
        QFETCH(QString, video);
        QFETCH(bool, stillFails);
        QFETCH(QString, error);
        QFETCH(bool, plays);
        Fixture f({});
        f.records = {f.record("w", f.videoOf(video))};
        QCoro::waitFor(f.content->reload());
        if (stillFails)
            f.platform.desktopPictures().failWritesFor("S2", Error("X", 1, "cannot set"));
        f.open("w");
        f.page.mainAction();
        f.page.toggleScreen("1");
        QCOMPARE(f.applied(), error.isEmpty());
        QCOMPARE(f.page.isApplying(), false);
        QCOMPARE(f.page.applyError(), error);
        QCOMPARE(f.page.isDisplayPickerPresented(), !error.isEmpty());
        QCOMPARE(f.page.selectedScreenIDs(), QSet<QString>{"2"});
        QCOMPARE(f.manager.currentWallpaperID(), plays ? "w" : "");
        if (plays) {
            QCOMPARE(f.manager.targetScreenIDs(), QSet<QString>{"2"});
            QVERIFY(f.cacheState.cachedIDs().contains("w"));
            QCOMPARE(f.page.mainButtonTitle(), "Turn Off");
        }
    }

    // While an apply runs, nothing starts another and the page may go away.
    void confirmGuards()
    {
        Fixture f({});
        f.records = {f.record("w", ",\"durationSeconds\":2")};
        QCoro::waitFor(f.content->reload());
        f.open("w");
        f.page.mainAction();
        f.page.confirm();
        QVERIFY(f.page.isApplying());
        QCOMPARE(f.page.mainButtonTitle(), "Applying...");
        QVERIFY(!f.page.canConfirm() && !f.page.isMainButtonEnabled());
        f.page.confirm();
        f.page.mainAction();
        f.page.back();
        f.page.setContent(nullptr); // the page is gone; the apply carries on
        QTRY_COMPARE_WITH_TIMEOUT(f.manager.currentWallpaperID(), "w", 20000);
        const auto downloads =
            std::count_if(f.server.requests().begin(), f.server.requests().end(),
                          [](const auto &r) { return r.path().startsWith("/v/"); });
        QCOMPARE(downloads, 1);
    }

    void like()
    {
        Fixture f({});
        f.records = {f.record("w")};
        QCoro::waitFor(f.content->reload());
        f.open("w");
        QVERIFY(!f.page.isLiked());
        f.page.toggleLike();
        QVERIFY(f.page.isLiked());
        QVERIFY(f.content->likes().isLiked("w"));
    }

    // The Likes tab: liked records in catalogue order, narrowed by the search.
    void likesList_data()
    {
        QTest::addColumn<QStringList>("liked"); // in the order liked
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("nothing liked") << QStringList{} << "" << QStringList{};
        QTest::newRow("catalogue order") << QStringList{"c", "a"} << "" << QStringList{"a", "c"};
        QTest::newRow("gone from the catalogue") << QStringList{"x", "b"} << "" << QStringList{"b"};
        QTest::newRow("only unknown IDs") << QStringList{"x"} << "" << QStringList{};
        QTest::newRow("narrowed") << QStringList{"a", "b", "c"} << " n B" << QStringList{"b"};
        QTest::newRow("none match") << QStringList{"a"} << "zzz" << QStringList{};
    }
    void likesList()
    {
        QFETCH(QStringList, liked);
        QFETCH(QString, query);
        Fixture f({});
        f.records = {f.record("a"), f.record("b"), f.record("c")};
        QCoro::waitFor(f.content->reload());
        for (const QString &id : std::as_const(liked)) {
            Wallpaper record;
            record.setId(id);
            f.content->likes().toggle(record);
        }
        WallpaperListModel model;
        model.setLikedOnly(true);
        model.setQuery(query);
        model.setContent(f.content.get());
        QStringList ids;
        for (int row = 0; row < model.rowCount(); ++row)
            ids.append(model.index(row).data(WallpaperListModel::IdRole).toString());
        QTEST(ids, "shown");
    }
};

LUMIVALE_TEST_MAIN(TestDetail)
#include "tst_detail.moc"
