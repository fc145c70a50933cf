#include "cache/videoposterframe.h"
#include "cache/videoposterframecache.h"
#include "catalogue/likedwallpaperstore.h"
#include "catalogue/wallpaperlibrary.h"
#include "gallery/contentview.h"
#include "gallery/homeviewmodel.h"
#include "gallery/mousedraggablecarousel.h"
#include "gallery/previewplaybackcoordinator.h"
#include "gallery/searchfieldstate.h"
#include "gallery/wallpaperdetailmodel.h"
#include "gallery/wallpaperlistmodel.h"
#include "gallery/windowactivity.h"
#include "platform/notificationcenter.h"
#include "support/galleryfixture.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QFile>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <algorithm>

using namespace lumivale;
using lumivale::test::idsOf;
using lumivale::test::LoopbackHttpServer;
using lumivale::test::ManualClock;
using Page = HomeViewModel::Page;
using Edits = QList<QPair<int, QString>>;

Q_DECLARE_METATYPE(WindowDescription)

class TestGalleryViewModels : public QObject
{
    Q_OBJECT

    using Fixture = lumivale::test::GalleryFixture;

    // A gallery over the platform double with screens "S1"… numbered 1…, and a
    // catalogue on loopback of `records` records "a", "b"… playing the clip
    // "red". "/v/<clip>.mp4" serves the test clips.
    struct PageFixture : test::GalleryFixture
    {
        std::unique_ptr<WallpaperDetailModel> page = std::make_unique<WallpaperDetailModel>();

        explicit PageFixture(int records = 1, int screenCount = 2)
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

    void appearanceAndReload_data()
    {
        QTest::addColumn<bool>("alreadyLoaded");
        QTest::addColumn<QString>("action"); // "appear", "reload", or "notify" (to reload)
        QTest::addColumn<QStringList>("servedAfter");
        QTest::addColumn<int>("manifestRequests");
        QTest::addColumn<bool>("selectionKept");
        const QStringList ab{"a", "b"}, b{"b"};
        QTest::newRow("appear, empty library: loads") << false << "appear" << ab << 1 << false;
        QTest::newRow("appear, loaded library: no load") << true << "appear" << b << 1 << true;
        QTest::newRow("reload keeping the selection") << true << "reload" << ab << 2 << true;
        QTest::newRow("reload dropping the selection") << true << "reload" << b << 2 << false;
        QTest::newRow("reload on notification") << true << "notify" << b << 2 << false;
    }
    void appearanceAndReload()
    {
        QFETCH(bool, alreadyLoaded);
        QFETCH(QString, action);
        Fixture f;
        if (alreadyLoaded) {
            f.load({"a", "b"});
            f.content->selectWallpaper("a");
            QCOMPARE(f.content->selectedWallpaperID(), "a");
        }
        QFETCH(QStringList, servedAfter);
        f.served = servedAfter;
        // The cache state follows the folder even when nothing is loaded.
        f.cacheFile("b");
        QVERIFY(!f.cacheState.cachedIDs().contains("b"));
        if (action == "notify")
            NotificationCenter::shared().postRefreshWallpaperLibrary();
        else
            QCoro::waitFor(action == "appear" ? f.content->appear() : f.content->reload());
        QTRY_VERIFY(f.cacheState.cachedIDs().contains("b")); // last, after the load
        QTEST(int(f.server.requests().size()), "manifestRequests");
        if (alreadyLoaded)
            QTEST(f.content->hasSelectedWallpaper(), "selectionKept");
        else
            QCOMPARE(f.content->library().wallpapers().size(), 2);
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
        f.load({"a"});
        f.content->setWindowAllowsVideoPlayback(windowAllows);
        if (selected)
            f.content->selectWallpaper(QStringLiteral("a"));
        QTEST(f.content->isContentActive(), "contentActive");
    }

    void windowCover_data()
    {
        QTest::addColumn<QList<WindowDescription>>("frontToBack");
        QTest::addColumn<bool>("covered");
        const auto window = [](quint32 id, QRect frame, bool hidden = false, bool here = true) {
            return WindowDescription{{}, frame, hidden, here, id};
        };
        const auto self = window(7, QRect(100, 100, 1280, 820));
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
        // without video), "+N" (N ms pass), "take X" (another owner sets X).
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("active");
        // clang-format off
        QTest::newRow("rest") << "enter A,+220" << "A";
        QTest::newRow("rest not long enough") << "enter A,+219" << "";
        QTest::newRow("in and out within the rest") << "enter A,+100,leave A,+500" << "";
        QTest::newRow("leaving stops at once") << "enter A,+220,leave A" << "";
        QTest::newRow("A to B: B after its rest") << "enter A,+220,leave A,enter B,+220" << "B";
        QTest::newRow("A to B: nothing between") << "enter A,+220,leave A,enter B,+219" << "";
        QTest::newRow("a sweep starts nothing")
            << "enter A,+50,leave A,enter B,+50,leave B,enter C,+50,leave C,"
               "enter D,+50,leave D,enter E,+50,leave E,+1000" << "";
        QTest::newRow("no video, no preview") << "plain A,+1000" << "";
        QTest::newRow("another card going keeps ours") << "enter A,+220,gone B" << "A";
        QTest::newRow("our card going clears it") << "enter A,+220,gone A" << "";
        QTest::newRow("gone while pending") << "enter A,gone A,+500" << "";
        QTest::newRow("taken by another, left") << "enter A,+220,take B,leave A" << "B";
        // clang-format on
    }
    void previewCoordinator()
    {
        QFETCH(QString, steps);
        ManualClock clock;
        PreviewPlaybackCoordinator coordinator(clock);
        for (const QString &step : steps.split(',')) {
            const QString verb = step.section(' ', 0, 0), arg = step.section(' ', 1);
            if (verb.startsWith('+'))
                clock.advance(verb.toInt());
            else if (verb == "enter" || verb == "plain")
                coordinator.hoverChanged(arg, true, verb == "enter");
            else if (verb == "leave")
                coordinator.hoverChanged(arg, false, true);
            else if (verb == "gone")
                coordinator.cardDisappeared(arg);
            else
                coordinator.setActiveWallpaperID(arg); // take
        }
        QTEST(coordinator.activeWallpaperID(), "active");
    }

    void searchField_data()
    {
        QTest::addColumn<QString>("steps"); // "open", "+N" (N ms pass), "focus", "blur"
        QTest::addColumn<bool>("expanded");
        QTest::addColumn<int>("focusRequests");
        QTest::newRow("click") << "open" << true << 0;
        QTest::newRow("focus after 0.16 s") << "open,+160" << true << 1;
        QTest::newRow("not before") << "open,+159" << true << 0;
        QTest::newRow("focus lost folds") << "open,+160,focus,blur" << false << 1;
        QTest::newRow("gaining the focus keeps it open") << "open,+160,focus" << true << 1;
        QTest::newRow("folded before the focus came") << "open,+50,blur,+500" << false << 0;
        QTest::newRow("a click on the open field refocuses") << "open,+160,open,+160" << true << 2;
    }
    void searchField()
    {
        QFETCH(QString, steps);
        ManualClock clock;
        SearchFieldState state(clock);
        QSignalSpy focusRequests(&state, &SearchFieldState::focusRequested);
        for (const QString &step : steps.split(',')) {
            if (step == "open")
                state.open();
            else if (step == "focus" || step == "blur")
                state.focusChanged(step == "focus");
            else
                clock.advance(step.toInt());
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
        WallpaperListModel model;
        model.setContent(f.content.get());
        f.load(before);
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
        // A video downloaded changes its row alone.
        changed.clear();
        f.cacheFile(after.last());
        f.cacheState.refresh();
        QCOMPARE(changed.size(), 1);
        const auto downloaded = [&](int row) {
            return model.index(row).data(WallpaperListModel::IsDownloadedRole).toBool();
        };
        QCOMPARE(downloaded(0), after.size() == 1);
        QVERIFY(downloaded(int(after.size()) - 1));
    }

    // Stills wait for a worker nearest first: "ask CLIP DISTANCE" (every
    // worker busy meanwhile), "near CLIP DISTANCE" (the view moved), "drop
    // CLIP" (one requester scrolled away). Then the clips in the order their
    // extractions started.
    void posterQueue_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("started");
        // clang-format off
        QTest::newRow("nearest first")
            << "ask blue 300,ask green 100,ask patch 200" << "green patch blue";
        QTest::newRow("moved nearer while waiting")
            << "ask blue 300,ask green 100,near blue 50" << "blue green";
        QTest::newRow("withdrawn before its turn")
            << "ask blue 300,ask green 100,drop green" << "blue";
        QTest::newRow("another requester keeps it")
            << "ask blue 300,ask green 200,ask blue 100,drop blue" << "blue green";
        // clang-format on
    }
    void posterQueue()
    {
        QFETCH(QString, steps);
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
        for (const QString &step : steps.split(',')) {
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
        QTEST(started.join(' '), "started");
    }

    // Cards showing the same still share one texture.
    void posterTextures_data()
    {
        QTest::addColumn<QStringList>("cards"); // the clip of each
        QTest::addColumn<int>("textures");
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

    void pages_data()
    {
        QTest::addColumn<int>("status"); // 0: the answer never comes, 1: the demo catalogue
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("query");
        QTest::addColumn<Page>("page");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("hero");
        const QStringList all{"Nature", "Space", "Animals"}, nature{"Nature"}, none;
        const Page home = Page::Home;
        // clang-format off
        QTest::newRow("loading") << 0 << "" << "" << Page::Loading << none << "";
        QTest::newRow("error") << 503 << "" << "" << Page::Error << none << "";
        QTest::newRow("home") << 200 << "" << "" << home << all << "s1";
        QTest::newRow("category") << 200 << "Space" << "" << Page::Category << all << "s1";
        QTest::newRow("category kept by a search")
            << 200 << "Nature" << "name n1" << Page::Category << nature << "n1";
        QTest::newRow("category emptied by a search")
            << 200 << "Nature" << "space" << home << QStringList{"Space"} << "s1";
        QTest::newRow("searched") << 200 << "" << "  NAME N" << home << nature << "n1";
        QTest::newRow("no results: any hero") << 200 << "" << "zzz" << home << none << "s1";
        QTest::newRow("category query") << 200 << "" << "citi" << home << none << "c1";
        QTest::newRow("no videos: no hero")
            << 1 << "" << "" << home << QStringList{"Nature", "Space", "Lofi", "Animals"} << "";
        // clang-format on
    }
    void pages()
    {
        QFETCH(int, status);
        Fixture f(status == 1);
        if (status == 0) {
            f.server.setHandler([](const auto &) { return LoopbackHttpServer::silence(); });
            f.content->library().load();
        } else if (status > 200) {
            f.server.setHandler(
                [status](const auto &) { return LoopbackHttpServer::json("[]", status); });
            f.load({});
        } else {
            f.load({"n1/Nature/", "s1/Space/n", "n2/nature/", "a1/Animals/", "c1/Cities/"});
        }
        HomeViewModel home;
        home.setContent(f.content.get());
        QFETCH(QString, category);
        if (!category.isEmpty())
            home.selectCategory(category);
        QFETCH(QString, query);
        home.setQuery(query);
        QTEST(home.page(), "page");
        QTEST(home.rowCategories(), "rows");
        QTEST(home.heroWallpaperID(), "hero");
        QCOMPARE(home.categoryModel()->count() > 0, home.page() == Page::Category);
        if (status == 503)
            QCOMPARE(home.loadError(), QStringLiteral("Manifest request failed with HTTP 503"));
    }

    void rows()
    {
        Fixture f;
        f.load({"k1/Animals//Adorable Big Eyed Kitten", "p1/Pixel/", "k2/Animals//Nyan Cat",
                "k3/ANIMALS/", "l1/Lofi/", "x1/Anime/", "r1/Cars/"});
        HomeViewModel home;
        home.setContent(f.content.get());
        QCOMPARE(home.rowCategories(), (QStringList{"Anime", "Pixel", "Lofi", "Cars", "Animals"}));
        const int animals = int(HomeViewModel::kHomeCategories.indexOf("Animals"));
        QCOMPARE(idsOf(*home.rowModel(animals)), (QStringList{"k2", "k1", "k3"}));
        QCOMPARE(home.rowModel(0)->count(), 0); // Nature
        // Rows update by ID: the searched row keeps its remaining records.
        QSignalSpy resets(home.rowModel(animals), &QAbstractItemModel::modelReset);
        QSignalSpy removals(home.rowModel(animals), &QAbstractItemModel::rowsRemoved);
        home.setQuery("cat");
        QCOMPARE(idsOf(*home.rowModel(animals)), (QStringList{"k2"}));
        QCOMPARE(resets.size(), 0);
        QCOMPARE(removals.size(), 1); // neighbours go together
    }

    void heroRotation_data()
    {
        QTest::addColumn<QStringList>("records");
        // The first hero, then steps each followed by the hero: "+ms" time
        // passes, "q=text" a search, "reload" the same list again,
        // "reload=record,record" another list.
        QTest::addColumn<QStringList>("steps");
        const QString three = "a/Nature/,b/Nature/n,c/Nature/";
        const char *const table[][3] = {
            {"new one first, every 8 s", "", "b +7999 b +1 c +8000 a +8000 b"},
            {"no new one: the first", "a/Nature/,b/Nature/", "a +8000 b +8000 a"},
            {"one never rotates", "a/Nature/", "a +80000 a"},
            {"same IDs keep the rhythm", "", "b +5000 b reload b +3000 c"},
            {"other IDs restart", "", "b +5000 b reload=b/Nature/n,a/Nature/ b +3000 b +5000 a"},
            {"hero leaving: the choice", "", "b +8000 c q=name_a a +80000 a"},
            {"no match keeps the heroes", "", "b q=zzz b +8000 c"},
            {"emptied catalogue", "", "b reload= ''"},
        };
        for (const auto &[name, records, steps] : table) {
            const QString list = *records ? QString(records) : three;
            QTest::newRow(name) << list.split(',')
                                << QString(steps).replace("''", "").split(' ').replaceInStrings(
                                       "_", " ");
        }
    }
    void heroRotation()
    {
        QFETCH(QStringList, records);
        QFETCH(QStringList, steps);
        Fixture f;
        f.load(records);
        HomeViewModel home;
        home.setContent(f.content.get());
        QCOMPARE(home.heroWallpaperID(), steps.first());
        for (qsizetype i = 1; i + 1 < steps.size(); i += 2) {
            const QString &step = steps.at(i);
            if (step.startsWith('+'))
                f.clock.advance(step.mid(1).toInt());
            else if (step.startsWith("q="))
                home.setQuery(step.mid(2));
            else if (step == "reload")
                f.load(records);
            else if (step.startsWith("reload="))
                f.load(step.mid(7).split(',', Qt::SkipEmptyParts));
            QVERIFY2(home.heroWallpaperID() == steps.at(i + 1),
                     qPrintable(step + " gave " + home.heroWallpaperID()));
        }
        QCOMPARE(home.hasHero(), !home.heroWallpaperID().isEmpty());
    }

    void carousel_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<qreal>("offset");
        QTest::addColumn<bool>("suppressed");
        // Viewport 1000, content 3000. "d tx ty": drag moved, "e tx ty": drag
        // ended, "w dx dy [shift]": wheel in eighths of a degree, "p dx dy":
        // pixel deltas, "t ms": time passes, "V w"/"C w": viewport or content
        // width. Then the offset, and whether taps are suppressed.
        const char *const table[][4] = {
            {"under 3 pixels: no drag", "d 2 0,e 2 0", "0", "0"},
            {"3 to 6 pixels: taps still open", "d -5 0,e -5 0", "-5", "0"},
            {"left by 400", "d -400 0", "-400", "1"},
            {"179 ms after a drag", "d -400 0,e -400 0,t 179", "-400", "1"},
            {"180 ms after a drag", "d -400 0,e -400 0,t 180", "-400", "0"},
            {"mostly vertical drag", "d -10 -20", "0", "0"},
            {"diagonal drag", "d -20 20", "0", "0"},
            {"not right of the start", "d 300 0", "0", "1"},
            {"not past the end", "d -5000 0", "-2000", "1"},
            {"narrow content stays", "C 800,d -300 0", "0", "1"},
            {"second drag from the first", "d -300 0,e -300 0,d -200 0", "-500", "1"},
            {"a vertical end keeps the offset", "d -100 0,e -100 -300,d -50 0", "-150", "1"},
            {"a wider viewport clamps", "d -2000 0,e -2000 0,V 1500", "-1500", "1"},
            {"less content clamps", "d -2000 0,e -2000 0,C 2200", "-1200", "1"},
            {"119 ms after the wheel", "w -120 0,t 119", "-60", "1"},
            {"120 ms after the wheel", "w -120 0,t 120", "-60", "0"},
            {"wheel left at the start", "w 120 0", "0", "1"},
            {"pixel deltas first", "p -33 0", "-33", "1"},
            {"vertical wheel: the page's", "w 0 -120", "0", "0"},
            {"mostly vertical: the page's", "p -20 -40", "0", "0"},
            {"Shift turns vertical", "w 0 -240 shift", "-120", "1"},
            {"the latest lowering counts", "d -400 0,e -400 0,t 100,w -120 0,t 100", "-460", "1"},
            {"and then lowers", "d -400 0,e -400 0,t 100,w -120 0,t 120", "-460", "0"},
        };
        for (const auto &[name, events, offset, suppressed] : table) {
            QTest::newRow(name) << QString(events).split(',') << QString(offset).toDouble()
                                << (*suppressed == '1');
        }
    }
    void carousel()
    {
        QFETCH(QStringList, events);
        test::ManualClock clock;
        CarouselTapSuppression suppression(clock);
        MouseDraggableCarousel carousel;
        carousel.setTapSuppression(&suppression);
        carousel.setViewportWidth(1000);
        carousel.setContentWidth(3000);
        bool taken = true;
        for (const QString &event : events) {
            const QStringList a = event.split(' ');
            const qreal x = a.value(1).toDouble(), y = a.value(2).toDouble();
            if (a[0] == "d")
                carousel.dragChanged(x, y);
            else if (a[0] == "e")
                carousel.dragEnded(x, y);
            else if (a[0] == "t")
                clock.advance(qint64(x));
            else if (a[0] == "V")
                carousel.setViewportWidth(x);
            else if (a[0] == "C")
                carousel.setContentWidth(x);
            else if (a[0] == "w")
                taken =
                    carousel.wheel({}, {x, y}, a.value(3) == "shift" ? int(Qt::ShiftModifier) : 0);
            else if (a[0] == "p") // with angles that would say otherwise
                taken = carousel.wheel({x, y}, {-120, 0}, 0);
        }
        QTEST(carousel.offset(), "offset");
        QTEST(suppression.isActive(), "suppressed");
        QCOMPARE(carousel.isTap(0, 0), !suppression.isActive());
        QCOMPARE(carousel.isTap(7, 0), false);
        // The page's wheel events are declined, so that the page scrolls.
        QCOMPARE(taken, !QByteArray(QTest::currentDataTag()).contains("page's"));
    }

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
        PageFixture f;
        if (!cached.isEmpty())
            QVERIFY(QFile::copy(test::mediaPath(cached), f.cache.fileURL("a").toLocalFile()));
        f.open([&](Wallpaper &w) {
            w.setSizeBytes(bytes > 0 ? std::optional(bytes) : std::nullopt);
            w.setDurationSeconds(seconds >= 0 ? std::optional(seconds) : std::nullopt);
            w.setVideo(video.isEmpty() ? std::nullopt : std::optional(f.video(video)));
        });
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
        QTest::newRow("picker") << true << false << false << "Set Wallpaper" << true << "";
        QTest::newRow("no video") << false << false << false << "Set Wallpaper" << false << "";
        QTest::newRow("turns off") << true << true << true << "Turn Off" << false << "";
        QTest::newRow("turn-off fails") << true << true << false << "Turn Off" << false
                                        << "No previous macOS wallpaper snapshot was saved";
    }
    void mainAction()
    {
        QFETCH(bool, hasVideo);
        QFETCH(bool, current);
        QFETCH(bool, saved);
        PageFixture f;
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
        PageFixture f(1, screens);
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
        PageFixture f;
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
    }

    // While an apply runs nothing starts another, and the page may go away.
    void confirmGuards()
    {
        PageFixture f;
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

    // The Likes tab: liked records in catalogue order, narrowed by the search,
    // following the likes as they change.
    void likesList_data()
    {
        QTest::addColumn<QString>("liked"); // toggled in this order
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("shown");
        // clang-format off
        QTest::newRow("nothing liked") << "" << "" << "";
        QTest::newRow("catalogue order") << "c a" << "" << "a c";
        QTest::newRow("not in the catalogue") << "x b" << "" << "b";
        QTest::newRow("narrowed") << "a b c" << " n B" << "b";
        QTest::newRow("none match") << "a" << "zzz" << "";
        QTest::newRow("liked and unliked") << "a b a" << "" << "b";
        // clang-format on
    }
    void likesList()
    {
        QFETCH(QString, liked);
        QFETCH(QString, query);
        PageFixture f(3);
        WallpaperListModel model;
        model.setLikedOnly(true);
        model.setQuery(query);
        model.setContent(f.content.get());
        for (const QString &id : liked.split(' ', Qt::SkipEmptyParts)) {
            Wallpaper record;
            record.setId(id);
            f.content->likes().toggle(record);
        }
        QTEST(test::idsOf(model).join(' '), "shown");
    }
};

LUMIVALE_TEST_MAIN(TestGalleryViewModels)
#include "tst_galleryviewmodels.moc"
