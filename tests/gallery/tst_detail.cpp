#include "catalogue/likedwallpaperstore.h"
#include "catalogue/wallpaperlibrary.h"
#include "desktop/wallpapermanager.h"
#include "gallery/contentview.h"
#include "gallery/wallpaperdetailmodel.h"
#include "gallery/wallpaperlistmodel.h"
#include "support/galleryfixture.h"
#include "support/testenvironment.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace lumivale;
using lumivale::test::LoopbackHttpServer;

class TestDetail : public QObject
{
    Q_OBJECT

    // A gallery over the platform double with screens "S1"… numbered 1…, and a
    // catalogue on loopback of `records` records "a", "b"… playing the clip
    // "red". "/v/<clip>.mp4" serves the test clips.
    struct Fixture : test::GalleryFixture
    {
        std::unique_ptr<WallpaperDetailModel> page = std::make_unique<WallpaperDetailModel>();

        explicit Fixture(int records = 1, int screenCount = 2)
        {
            for (int n = 1; n <= screenCount; ++n)
                platform.screens().addScreen({"S" + QString::number(n), quint32(n), {}});
            QStringList objects;
            for (char16_t id = u'a'; id < u'a' + records; ++id) {
                objects.append(QStringLiteral("{\"id\":\"%1\",\"name\":\"N %1\",\"resolution\":"
                                              "\"4K\",\"video\":\"%2\"}")
                                   .arg(QChar(id), video("red").toString()));
            }
            const QByteArray manifest = "[" + objects.join(',').toUtf8() + "]";
            server.setHandler([manifest](const LoopbackHttpServer::Request &request) {
                const QByteArray path = request.path();
                if (!path.startsWith("/v/"))
                    return LoopbackHttpServer::json(manifest);
                return LoopbackHttpServer::file(
                    test::mediaPath(QString::fromUtf8(path.mid(3).chopped(4))), request);
            });
            QCoro::waitFor(content->appear());
            page->setScreenSystem(&platform.screens());
            page->setContent(content.get());
        }
        // A served clip, or the URL as given.
        QUrl video(const QString &clip) const
        {
            return clip.contains(':') ? QUrl(clip) : server.url("/v/" + clip + ".mp4");
        }
        // Opens the page of "a", edited first as a manifest cannot carry.
        void open(const std::function<void(Wallpaper &)> &edit = {})
        {
            Wallpaper record = content->library().wallpapers().first();
            if (edit)
                edit(record);
            content->setSelectedWallpaper(record);
        }
    };

private Q_SLOTS:
    // The fact line's size and duration: from the record, else the cached
    // file, else the remote video ("kB": the cached clip's size). Durations
    // round half away from zero.
    void facts_data()
    {
        QTest::addColumn<qint64>("bytes");   // 0: none
        QTest::addColumn<double>("seconds"); // -1: none
        QTest::addColumn<QString>("video");  // none when empty
        QTest::addColumn<QString>("cached");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("duration");
        // clang-format off
        QTest::newRow("record") << 84200000LL << 125.0 << "red" << "" << "84.2 MB" << "2:05";
        QTest::newRow("half a second up") << 0LL << 59.5 << "red" << "" << "--" << "1:00";
        QTest::newRow("just under half") << 0LL << 59.49 << "red" << "" << "--" << "0:59";
        QTest::newRow("past an hour") << 0LL << 3725.0 << "red" << "" << "--" << "62:05";
        QTest::newRow("infinite") << 0LL << qInf() << "red" << "" << "--" << "--";
        QTest::newRow("zero seconds: no probe") << 0LL << 0.0 << "red" << "red" << "kB" << "--";
        QTest::newRow("cached file") << 0LL << -1.0 << "red" << "red_short" << "kB" << "0:01";
        QTest::newRow("remote video") << 0LL << -1.0 << "red" << "" << "--" << "0:02";
        QTest::newRow("no video") << 0LL << -1.0 << "" << "" << "--" << "--";
        QTest::newRow("unreachable") << 0LL << -1.0 << "http://127.0.0.1:1/x" << "" << "--" << "--";
        // clang-format on
    }
    void facts()
    {
        QFETCH(qint64, bytes);
        QFETCH(double, seconds);
        QFETCH(QString, video);
        QFETCH(QString, cached);
        QFETCH(QString, size);
        Fixture f;
        if (!cached.isEmpty())
            QVERIFY(QFile::copy(test::mediaPath(cached), f.cache.fileURL("a").toLocalFile()));
        f.open([&](Wallpaper &w) {
            w.setSizeBytes(bytes > 0 ? std::optional(bytes) : std::nullopt);
            w.setDurationSeconds(seconds >= 0 ? std::optional(seconds) : std::nullopt);
            w.setVideo(video.isEmpty() ? std::nullopt : std::optional(f.video(video)));
        });
        QCOMPARE(f.page->resolution(), "4K");
        QVERIFY2(f.page->sizeText() == size || f.page->sizeText().endsWith(" " + size),
                 qPrintable(f.page->sizeText()));
        QFETCH(QString, duration);
        QTRY_COMPARE_WITH_TIMEOUT(f.page->durationText(), duration, 15000);
    }

    void mainAction_data()
    {
        QTest::addColumn<bool>("hasVideo");
        QTest::addColumn<bool>("current");
        QTest::addColumn<bool>("saved"); // desktop pictures to restore
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("picker");
        QTest::addColumn<QString>("error");
        // clang-format off
        QTest::newRow("picker") << true << false << false << "Set Wallpaper" << true << "";
        QTest::newRow("no video") << false << false << false << "Set Wallpaper" << false << "";
        QTest::newRow("turns off") << true << true << true << "Turn Off" << false << "";
        QTest::newRow("turn-off fails") << true << true << false << "Turn Off" << false
                                        << "No previous macOS wallpaper snapshot was saved";
        // clang-format on
    }
    void mainAction()
    {
        QFETCH(bool, hasVideo);
        QFETCH(bool, current);
        QFETCH(bool, saved);
        Fixture f;
        f.open([&](Wallpaper &w) {
            if (!hasVideo)
                w.setVideo(std::nullopt);
        });
        if (saved) {
            f.platform.desktopPictures().setPicture("S1", {QUrl::fromLocalFile("/saved.jpg"), {}});
            f.manager.previousDesktopStore().captureIfNeeded();
        }
        if (current)
            f.manager.apply(QUrl::fromLocalFile(test::mediaPath("red")), "a");
        QTEST(f.page->mainButtonTitle(), "title");
        QCOMPARE(f.page->mainButtonSymbol(), current ? "xmark.circle.fill" : "play.rectangle.fill");
        QCOMPARE(f.page->isMainButtonEnabled(), hasVideo);
        f.page->mainAction();
        QTEST(f.page->isDisplayPickerPresented(), "picker");
        QTEST(f.page->applyError(), "error");
        QVERIFY(f.manager.currentWallpaperID().isEmpty()); // stopped, also when the restore fails
    }

    // Steps: open, cancel, all, tap <n>, unplug <n>.
    void picker_data()
    {
        QTest::addColumn<int>("screens");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<int>("columns");
        // clang-format off
        QTest::newRow("one screen") << 1 << "open" << "1" << 1;
        QTest::newRow("three screens") << 3 << "open" << "1 2 3" << 3;
        QTest::newRow("five screens") << 5 << "open" << "1 2 3 4 5" << 3;
        QTest::newRow("tap toggles") << 2 << "open,tap 1" << "2" << 2;
        QTest::newRow("all unticked") << 2 << "open,tap 1,tap 2" << "" << 2;
        QTest::newRow("All") << 2 << "open,tap 1,tap 2,all" << "1 2" << 2;
        QTest::newRow("choice kept") << 3 << "open,tap 2,cancel,open" << "1 3" << 3;
        QTest::newRow("ticked screen gone") << 3 << "open,tap 2,cancel,unplug 3,open" << "1 2" << 2;
        QTest::newRow("unticked gone") << 3 << "open,tap 2,cancel,unplug 2,open" << "1 3" << 2;
        QTest::newRow("emptied, reopened") << 2 << "open,tap 1,tap 2,cancel,open" << "1 2" << 2;
        QTest::newRow("unplugged while open") << 3 << "open,unplug 2" << "1 2 3" << 2;
        // clang-format on
    }
    void picker()
    {
        QFETCH(int, screens);
        QFETCH(QString, steps);
        QFETCH(QString, selected);
        Fixture f(1, screens);
        f.open();
        for (const QString &step : steps.split(',')) {
            const QString arg = step.section(' ', 1);
            if (step == "open")
                f.page->mainAction();
            else if (step == "cancel")
                f.page->cancelPicker();
            else if (step == "all")
                f.page->selectAllScreens();
            else if (step.startsWith("tap"))
                f.page->toggleScreen(arg);
            else
                f.platform.screens().removeScreen("S" + arg);
        }
        QStringList ids = f.page->selectedScreenIDs().values();
        ids.sort();
        QCOMPARE(ids.join(' '), selected);
        QTEST(f.page->pickerColumns(), "columns");
        QCOMPARE(f.page->canConfirm(), !selected.isEmpty());
        QStringList optionIDs;
        for (const auto &option : f.page->options())
            optionIDs.append(option.id + (option.isMain ? " main" : ""));
        QCOMPARE(f.page->isEveryScreenSelected(), ids.size() == optionIDs.size());
        QCOMPARE(optionIDs.first(), "1 main");
        // Escape closes the picker, then the page.
        QVERIFY(f.page->isDisplayPickerPresented() && f.content->closeInnermostLayer());
        QVERIFY(!f.page->isDisplayPickerPresented() && f.content->closeInnermostLayer());
        QVERIFY(!f.content->hasSelectedWallpaper() && !f.content->closeInnermostLayer());
    }

    // Screen "1" is unticked before confirming; `during` the download, a tile
    // is tapped. The apply takes the screens ticked after the download, or,
    // when none is left ticked, those confirmed.
    void confirm_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<bool>("stillFails"); // the desktop picture cannot be set
        QTest::addColumn<QString>("during");
        QTest::addColumn<QString>("targets");
        QTest::addColumn<QString>("error");
        // clang-format off
        QTest::newRow("success") << "red" << false << "" << "2" << "";
        QTest::newRow("ticked meanwhile") << "red" << false << "1" << "1 2" << "";
        QTest::newRow("emptied meanwhile") << "red" << false << "2" << "2" << "";
        QTest::newRow("download fails") << "gone" << false << "" << ""
                                        << "Video download failed with HTTP 404";
        QTest::newRow("still fails") << "red" << true << "" << "2" << "cannot set";
        // clang-format on
    }
    void confirm()
    {
        QFETCH(QString, clip);
        QFETCH(QString, during);
        QFETCH(QString, error);
        Fixture f;
        if (QFETCH(bool, stillFails); stillFails)
            f.platform.desktopPictures().failWritesFor("S2", Error("X", 1, "cannot set"));
        f.open([&](Wallpaper &w) { w.setVideo(f.video(clip)); });
        f.page->mainAction();
        f.page->toggleScreen("1");
        QSignalSpy finished(f.page.get(), &WallpaperDetailModel::applyFinished);
        f.page->confirm();
        if (!during.isEmpty())
            f.page->toggleScreen(during);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().toBool(), error.isEmpty());
        QVERIFY(!f.page->isApplying());
        QCOMPARE(f.page->applyError(), error);
        QCOMPARE(f.page->isDisplayPickerPresented(), !error.isEmpty());
        const bool plays = clip == "red"; // also when only the still failed
        QCOMPARE(f.manager.currentWallpaperID(), plays ? "a" : "");
        QStringList targets = f.manager.targetScreenIDs().values();
        targets.sort();
        QTEST(targets.join(' '), "targets");
        QCOMPARE(f.cacheState.cachedIDs().contains("a"), plays);
        QCOMPARE(f.page->mainButtonTitle(), plays ? "Turn Off" : "Set Wallpaper");
    }

    // While an apply runs nothing starts another, and the page may go away.
    void confirmGuards()
    {
        Fixture f;
        f.open([](Wallpaper &w) { w.setDurationSeconds(2); }); // no duration probe
        f.page->mainAction();
        f.page->confirm();
        QVERIFY(f.page->isApplying());
        QCOMPARE(f.page->mainButtonTitle(), "Applying...");
        QVERIFY(!f.page->canConfirm() && !f.page->isMainButtonEnabled());
        f.page->confirm();
        f.page->mainAction();
        f.page->toggleLike(); // at once
        QVERIFY(f.page->isLiked() && f.content->likes().isLiked("a"));
        f.page->back();
        f.page.reset();
        QTRY_COMPARE_WITH_TIMEOUT(f.manager.currentWallpaperID(), "a", 20000);
        const auto downloads =
            std::count_if(f.server.requests().begin(), f.server.requests().end(),
                          [](const auto &request) { return request.path().startsWith("/v/"); });
        QCOMPARE(downloads, 1);
    }

    // The Likes tab: liked records in catalogue order, narrowed by the search.
    void likesList_data()
    {
        QTest::addColumn<QString>("liked"); // in the order liked
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("shown");
        // clang-format off
        QTest::newRow("nothing liked") << "" << "" << "";
        QTest::newRow("catalogue order") << "c a" << "" << "a c";
        QTest::newRow("not in the catalogue") << "x b" << "" << "b";
        QTest::newRow("only unknown IDs") << "x" << "" << "";
        QTest::newRow("narrowed") << "a b c" << " n B" << "b";
        QTest::newRow("none match") << "a" << "zzz" << "";
        // clang-format on
    }
    void likesList()
    {
        QFETCH(QString, liked);
        QFETCH(QString, query);
        Fixture f(3);
        for (const QString &id : liked.split(' ', Qt::SkipEmptyParts)) {
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
        QTEST(ids.join(' '), "shown");
    }
};

LUMIVALE_TEST_MAIN(TestDetail)
#include "tst_detail.moc"
