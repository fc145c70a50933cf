#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "cache/videoposterframe.h"
#include "cache/videoposterframecache.h"
#include "catalogue/likedwallpaperstore.h"
#include "catalogue/wallpaperlibrary.h"
#include "desktop/wallpapermanager.h"
#include "gallery/contentview.h"
#include "gallery/previewplaybackcoordinator.h"
#include "gallery/searchfieldstate.h"
#include "gallery/wallpaperlistmodel.h"
#include "gallery/windowactivity.h"
#include "platform/fake/fakeplatform.h"
#include "platform/notificationcenter.h"
#include "platform/userdefaults.h"
#include "support/galleryfixture.h"
#include "support/loopbackhttpserver.h"
#include "support/manualclock.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QFile>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>

using namespace lumivale;
using lumivale::test::LoopbackHttpServer;
using lumivale::test::ManualClock;
using Tab = ContentView::AppTab;
// Search edits: at which millisecond, which text.
using Edits = QList<QPair<int, QString>>;

Q_DECLARE_METATYPE(WindowDescription)

using lumivale::test::idsOf;

class TestGalleryViewModels : public QObject
{
    Q_OBJECT

    using Fixture = lumivale::test::GalleryFixture;

private Q_SLOTS:
    void initTestCase() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

    void queryDebounce_data()
    {
        QTest::addColumn<QString>("startApplied");
        QTest::addColumn<Edits>("edits"); // at ms, text
        QTest::addColumn<int>("checkAt");
        QTest::addColumn<QString>("applied");
        QTest::addColumn<int>("changes");
        const Edits typing{{0, "n"}, {50, "ne"}, {100, "neb"}};
        QTest::newRow("three quick letters: not yet") << "" << typing << 319 << "" << 0;
        QTest::newRow("three quick letters: once") << "" << typing << 320 << "neb" << 1;
        QTest::newRow("and only once") << "" << typing << 2000 << "neb" << 1;
        const Edits clearing{{0, ""}};
        QTest::newRow("clearing: not yet") << "neb" << clearing << 219 << "neb" << 0;
        QTest::newRow("clearing: once") << "neb" << clearing << 220 << "" << 1;
        QTest::newRow("typed and undone") << "" << Edits{{0, "a"}, {100, ""}} << 1000 << "" << 0;
    }
    void queryDebounce()
    {
        QFETCH(QString, startApplied);
        QFETCH(Edits, edits);
        QFETCH(int, checkAt);
        Fixture f;
        f.content->setQuery(startApplied);
        f.clock.advance(ContentView::kQueryDebounceMs);
        QCOMPARE(f.content->appliedQuery(), startApplied);
        QSignalSpy changes(f.content.get(), &ContentView::appliedQueryChanged);
        const qint64 start = f.clock.now();
        for (const auto &[at, text] : edits) {
            f.clock.advance(start + at - f.clock.now());
            f.content->setQuery(text);
        }
        f.clock.advance(start + checkAt - f.clock.now());
        QTEST(f.content->appliedQuery(), "applied");
        QTEST(int(changes.size()), "changes");
    }

    void tabSelection_data()
    {
        QTest::addColumn<Tab>("from");
        QTest::addColumn<Tab>("to");
        QTest::addColumn<int>("changes");
        QTest::newRow("home to likes") << Tab::Home << Tab::Likes << 1;
        QTest::newRow("likes to home") << Tab::Likes << Tab::Home << 1;
        QTest::newRow("home again") << Tab::Home << Tab::Home << 0;
        QTest::newRow("likes again") << Tab::Likes << Tab::Likes << 0;
    }
    void tabSelection()
    {
        QFETCH(Tab, from);
        QFETCH(Tab, to);
        Fixture f;
        QCOMPARE(f.content->tab(), Tab::Home);
        f.content->selectTab(from);
        QSignalSpy changes(f.content.get(), &ContentView::tabChanged);
        f.content->selectTab(to);
        QCOMPARE(f.content->tab(), to);
        QTEST(int(changes.size()), "changes");
    }

    void appearanceAndReload_data()
    {
        QTest::addColumn<bool>("alreadyLoaded");
        QTest::addColumn<QString>("action"); // "appear" or "reload"
        QTest::addColumn<QStringList>("servedAfter");
        QTest::addColumn<int>("manifestRequests");
        QTest::addColumn<bool>("selectionKept");
        const QStringList ab{"a", "b"};
        QTest::newRow("appear, empty library: loads") << false << "appear" << ab << 1 << false;
        QTest::newRow("appear, loaded library: no load")
            << true << "appear" << QStringList{"b"} << 1 << true;
        QTest::newRow("reload keeping the selection") << true << "reload" << ab << 2 << true;
        QTest::newRow("reload dropping the selection")
            << true << "reload" << QStringList{"b"} << 2 << false;
    }
    void appearanceAndReload()
    {
        QFETCH(bool, alreadyLoaded);
        QFETCH(QString, action);
        Fixture f;
        f.served = {"a", "b"};
        if (alreadyLoaded) {
            QCoro::waitFor(f.content->library().load());
            f.content->selectWallpaper(QStringLiteral("a"));
            QCOMPARE(f.content->selectedWallpaperID(), QStringLiteral("a"));
        }
        QFETCH(QStringList, servedAfter);
        f.served = servedAfter;
        // The cache state follows the folder even when nothing is loaded.
        f.cacheFile(QStringLiteral("b"));
        QCOMPARE(f.cacheState.cachedIDs().contains(QStringLiteral("b")), false);
        QCoro::waitFor(action == QLatin1String("appear") ? f.content->appear()
                                                         : f.content->reload());
        QTEST(int(f.server.requests().size()), "manifestRequests");
        QVERIFY(f.cacheState.cachedIDs().contains(QStringLiteral("b")));
        if (alreadyLoaded)
            QTEST(f.content->hasSelectedWallpaper(), "selectionKept");
        else
            QCOMPARE(f.content->library().wallpapers().size(), 2);
    }

    void reloadOnNotification()
    {
        Fixture f;
        f.served = {"a"};
        QSignalSpy loaded(&f.content->library(), &WallpaperLibrary::wallpapersChanged);
        NotificationCenter::shared().postRefreshWallpaperLibrary();
        QVERIFY(loaded.wait());
        QCOMPARE(f.content->library().wallpapers().size(), 1);
    }

    void contentActivity_data()
    {
        QTest::addColumn<bool>("windowAllows");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("contentActive");
        QTest::newRow("seen, no page") << true << false << true;
        QTest::newRow("seen, page open") << true << true << false;
        QTest::newRow("unseen") << false << false << false;
    }
    void contentActivity()
    {
        QFETCH(bool, windowAllows);
        QFETCH(bool, selected);
        Fixture f;
        f.served = {"a"};
        QCoro::waitFor(f.content->appear());
        f.content->setWindowAllowsVideoPlayback(windowAllows);
        if (selected)
            f.content->selectWallpaper(QStringLiteral("a"));
        QTEST(f.content->isContentActive(), "contentActive");
        QCOMPARE(f.content->windowAllowsVideoPlayback(), windowAllows);
        QCOMPARE(f.content->closeInnermostLayer(), selected);
        QVERIFY(!f.content->hasSelectedWallpaper());
    }

    void windowCover_data()
    {
        QTest::addColumn<QList<WindowDescription>>("frontToBack");
        QTest::addColumn<bool>("covered");
        const auto window = [](quint32 id, QRect frame, bool hidden = false, bool here = true) {
            WindowDescription description;
            description.windowID = id;
            description.frame = frame;
            description.isHidden = hidden;
            description.isOnCurrentWorkspace = here;
            return description;
        };
        const QRect ours(100, 100, 1280, 820);
        const auto self = window(7, ours);
        const QRect larger(0, 0, 1600, 1000);
        QTest::newRow("alone") << QList{self} << false;
        QTest::newRow("a larger window above") << QList{window(1, larger), self} << true;
        QTest::newRow("the same window below") << QList{self, window(1, larger)} << false;
        QTest::newRow("two halves above") << QList{window(1, QRect(100, 100, 640, 820)),
                                                   window(2, QRect(740, 100, 640, 820)), self}
                                          << true;
        QTest::newRow("a strip left over")
            << QList{window(1, QRect(100, 100, 1279, 820)), self} << false;
        QTest::newRow("a minimised window above") << QList{window(1, larger, true), self} << false;
        QTest::newRow("on another workspace")
            << QList{window(1, larger, false, false), self} << false;
        QTest::newRow("ours not listed") << QList{window(1, larger)} << false;
    }
    void windowCover()
    {
        QFETCH(QList<WindowDescription>, frontToBack);
        QTEST(WindowActivity::isCovered(QRect(100, 100, 1280, 820), 7, frontToBack), "covered");
    }

    void previewCoordinator_data()
    {
        // Steps: "enter X", "leave X", "gone X", "plain X" (enter a card
        // without video), "wait N", "take X" (another owner sets X).
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("active");
        QTest::newRow("rest") << QStringList{"enter A", "wait 220"} << "A";
        QTest::newRow("rest not long enough") << QStringList{"enter A", "wait 219"} << "";
        QTest::newRow("in and out within the rest")
            << QStringList{"enter A", "wait 100", "leave A", "wait 500"} << "";
        QTest::newRow("leaving stops at once")
            << QStringList{"enter A", "wait 220", "leave A"} << "";
        QTest::newRow("from A to B: B after its rest")
            << QStringList{"enter A", "wait 220", "leave A", "enter B", "wait 220"} << "B";
        QTest::newRow("from A to B: nothing in between")
            << QStringList{"enter A", "wait 220", "leave A", "enter B", "wait 219"} << "";
        QTest::newRow("a sweep starts nothing")
            << QStringList{"enter A", "wait 50", "leave A", "enter B",  "wait 50", "leave B",
                           "enter C", "wait 50", "leave C", "enter D",  "wait 50", "leave D",
                           "enter E", "wait 50", "leave E", "wait 1000"}
            << "";
        QTest::newRow("no video, no preview") << QStringList{"plain A", "wait 1000"} << "";
        QTest::newRow("another card going keeps ours")
            << QStringList{"enter A", "wait 220", "gone B"} << "A";
        QTest::newRow("our card going clears it")
            << QStringList{"enter A", "wait 220", "gone A"} << "";
        QTest::newRow("gone while pending") << QStringList{"enter A", "gone A", "wait 500"} << "";
        QTest::newRow("taken by another, left by the first")
            << QStringList{"enter A", "wait 220", "take B", "leave A"} << "B";
    }
    void previewCoordinator()
    {
        QFETCH(QStringList, steps);
        ManualClock clock;
        PreviewPlaybackCoordinator coordinator(clock);
        for (const QString &step : steps) {
            const QString verb = step.section(QLatin1Char(' '), 0, 0);
            const QString arg = step.section(QLatin1Char(' '), 1);
            if (verb == QLatin1String("enter") || verb == QLatin1String("plain"))
                coordinator.hoverChanged(arg, true, verb == QLatin1String("enter"));
            else if (verb == QLatin1String("leave"))
                coordinator.hoverChanged(arg, false, true);
            else if (verb == QLatin1String("gone"))
                coordinator.cardDisappeared(arg);
            else if (verb == QLatin1String("take"))
                coordinator.setActiveWallpaperID(arg);
            else
                clock.advance(arg.toInt());
        }
        QTEST(coordinator.activeWallpaperID(), "active");
    }

    void searchField_data()
    {
        QTest::addColumn<QStringList>("steps"); // "open", "wait N", "focus", "blur"
        QTest::addColumn<bool>("expanded");
        QTest::addColumn<int>("focusRequests");
        QTest::newRow("click") << QStringList{"open"} << true << 0;
        QTest::newRow("focus after 0.16 s") << QStringList{"open", "wait 160"} << true << 1;
        QTest::newRow("not before") << QStringList{"open", "wait 159"} << true << 0;
        QTest::newRow("focus lost folds")
            << QStringList{"open", "wait 160", "focus", "blur"} << false << 1;
        QTest::newRow("gaining the focus keeps it open")
            << QStringList{"open", "wait 160", "focus"} << true << 1;
        QTest::newRow("folded before the focus came")
            << QStringList{"open", "wait 50", "blur", "wait 500"} << false << 0;
        QTest::newRow("a click on the open field refocuses")
            << QStringList{"open", "wait 160", "open", "wait 160"} << true << 2;
    }
    void searchField()
    {
        QFETCH(QStringList, steps);
        ManualClock clock;
        SearchFieldState state(clock);
        QSignalSpy focusRequests(&state, &SearchFieldState::focusRequested);
        for (const QString &step : steps) {
            if (step == QLatin1String("open"))
                state.open();
            else if (step == QLatin1String("focus") || step == QLatin1String("blur"))
                state.focusChanged(step == QLatin1String("focus"));
            else
                clock.advance(step.section(QLatin1Char(' '), 1).toInt());
        }
        QTEST(state.expanded(), "expanded");
        QTEST(int(focusRequests.size()), "focusRequests");
    }

    void listModel_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("rowSignals");
        QTest::newRow("same list") << QStringList{"a", "b", "c"} << QStringList{"a", "b", "c"} << 0;
        QTest::newRow("one more") << QStringList{"a", "b"} << QStringList{"a", "x", "b"} << 1;
        QTest::newRow("one less") << QStringList{"a", "b", "c"} << QStringList{"a", "c"} << 1;
        QTest::newRow("swapped") << QStringList{"a", "b", "c"} << QStringList{"c", "a", "b"} << 1;
        QTest::newRow("all new") << QStringList{"a", "b"} << QStringList{"c"} << 2;
    }
    void listModel()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        Fixture f;
        f.served = before;
        WallpaperListModel model;
        model.setContent(f.content.get());
        QCoro::waitFor(f.content->library().load());
        QCOMPARE(idsOf(model), before);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        f.served = after;
        QCoro::waitFor(f.content->reload());
        QCOMPARE(idsOf(model), after);
        QTEST(int(inserted.size() + removed.size() + moved.size() + changed.size()), "rowSignals");
        QCOMPARE(reset.size(), 0);
    }

    void listModelFollowsState()
    {
        Fixture f;
        f.served = {"a", "b"};
        WallpaperListModel liked;
        liked.setLikedOnly(true);
        liked.setContent(f.content.get());
        QCoro::waitFor(f.content->appear());
        QCOMPARE(liked.rowCount(), 0);
        f.content->likes().toggle(f.content->library().wallpapers().at(1));
        QCOMPARE(idsOf(liked), QStringList{"b"});
        QSignalSpy changed(&liked, &QAbstractItemModel::dataChanged);
        f.cacheFile(QStringLiteral("b"));
        f.cacheState.refresh();
        QCOMPARE(changed.size(), 1);
        QVERIFY(liked.index(0).data(WallpaperListModel::IsDownloadedRole).toBool());
        liked.setQuery(QStringLiteral("  NAME A "));
        QCOMPARE(liked.rowCount(), 0);
    }

    // Stills wait for a worker nearest first: "ask CLIP DISTANCE" (every
    // worker busy meanwhile), "near CLIP DISTANCE" (the view moved), "drop
    // CLIP" (one requester scrolled away). Then the clips in the order their
    // extractions started.
    void posterQueue_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("started");
        QTest::newRow("nearest first")
            << QStringList{"ask blue 300", "ask green 100", "ask patch 200"}
            << QStringList{"green", "patch", "blue"};
        QTest::newRow("moved nearer while waiting")
            << QStringList{"ask blue 300", "ask green 100", "near blue 50"}
            << QStringList{"blue", "green"};
        QTest::newRow("withdrawn before its turn")
            << QStringList{"ask blue 300", "ask green 100", "drop green"} << QStringList{"blue"};
        QTest::newRow("another requester keeps it")
            << QStringList{"ask blue 300", "ask green 200", "ask blue 100", "drop blue"}
            << QStringList{"blue", "green"};
    }
    void posterQueue()
    {
        QFETCH(QStringList, steps);
        VideoPosterFrameCache posters;
        const auto video = [](const QString &clip) {
            return QUrl::fromLocalFile(test::mediaPath(clip));
        };
        std::vector<QCoro::Task<std::optional<QImage>>> requests;
        for (int i = 0; i < QThread::idealThreadCount(); ++i)
            requests.push_back(posters.posterFrame(video("red"), QSizeF(100 + i, 100)));
        QStringList started;
        connect(&posters, &VideoPosterFrameCache::extractionStarted, this,
                [&](const QUrl &url) { started.append(url.fileName().chopped(4)); });
        for (const QString &step : steps) {
            const QStringList a = step.split(' ');
            if (a[0] == "ask")
                requests.push_back(posters.posterFrame(video(a[1]), QSizeF(64, 64), a[2].toInt()));
            else if (a[0] == "near")
                posters.setDistance(video(a[1]), QSizeF(64, 64), a[2].toInt());
            else
                posters.withdraw(video(a[1]), QSizeF(64, 64));
        }
        for (auto &request : requests)
            QCoro::waitFor(std::move(request));
        QTEST(started, "started");
    }

    // Cards showing the same still share one texture.
    void posterTextures_data()
    {
        QTest::addColumn<QStringList>("cards"); // the clip of each
        QTest::addColumn<int>("textures");
        QTest::newRow("one still") << QStringList{"red"} << 1;
        QTest::newRow("three cards, one still") << QStringList{"red", "red", "red"} << 1;
        QTest::newRow("two stills") << QStringList{"red", "blue", "red", "blue"} << 2;
    }
    void posterTextures()
    {
        QFETCH(QStringList, cards);
        QQuickWindow window;
        window.resize(400, 100);
        std::vector<std::unique_ptr<VideoPosterFrame>> items;
        for (const QString &clip : cards) {
            auto &item = items.emplace_back(std::make_unique<VideoPosterFrame>());
            item->setParentItem(window.contentItem());
            item->setSize(QSizeF(64, 36));
            item->setX(double(items.size()) * 70);
            item->setMaximumSize(QSizeF(64, 36));
            item->setVideo(QUrl::fromLocalFile(test::mediaPath(clip)));
        }
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(std::all_of(items.begin(), items.end(), [](auto &i) { return i->hasImage(); }));
        QFETCH(int, textures);
        QTRY_COMPARE(VideoPosterFrame::textureCount(), textures);
        items.clear();
        window.update();
        QTRY_COMPARE(VideoPosterFrame::textureCount(), 0);
    }
};

LUMIVALE_TEST_MAIN(TestGalleryViewModels)
#include "tst_galleryviewmodels.moc"
