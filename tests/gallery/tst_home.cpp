#include "catalogue/wallpaperlibrary.h"
#include "gallery/homeviewmodel.h"
#include "gallery/mousedraggablecarousel.h"
#include "gallery/wallpaperlistmodel.h"
#include "support/galleryfixture.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

using namespace lumivale;
using lumivale::test::GalleryFixture;
using lumivale::test::LoopbackHttpServer;
using Page = HomeViewModel::Page;

namespace {

const QStringList kCatalogue{"n1/Nature/", "s1/Space/n", "n2/nature/", "a1/Animals/", "c1/Cities/"};

QStringList idsOf(const WallpaperListModel &model)
{
    QStringList ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids.append(model.index(row).data(WallpaperListModel::IdRole).toString());
    return ids;
}

} // namespace

class TestHome : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pages_data()
    {
        QTest::addColumn<int>("status"); // 0: the answer never comes, 1: the demo catalogue
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("query");
        QTest::addColumn<Page>("page");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("hero");
        QTest::newRow("loading") << 0 << ""
                                 << "" << Page::Loading << QStringList{} << "";
        QTest::newRow("error") << 503 << ""
                               << "" << Page::Error << QStringList{} << "";
        QTest::newRow("home") << 200 << ""
                              << "" << Page::Home << QStringList{"Nature", "Space", "Animals"}
                              << "s1";
        QTest::newRow("category") << 200 << "Space"
                                  << "" << Page::Category
                                  << QStringList{"Nature", "Space", "Animals"} << "s1";
        QTest::newRow("searched") << 200 << ""
                                  << "  NAME N" << Page::Home << QStringList{"Nature"} << "n1";
        QTest::newRow("no results: the hero from everything")
            << 200 << ""
            << "zzz" << Page::Home << QStringList{} << "s1";
        QTest::newRow("no videos: no hero")
            << 1 << ""
            << "" << Page::Home << QStringList{"Nature", "Space", "Lofi", "Animals"} << "";
        QTest::newRow("a category query") << 200 << ""
                                          << "citi" << Page::Home << QStringList{} << "c1";
    }
    void pages()
    {
        QFETCH(int, status);
        GalleryFixture f(status == 1);
        if (status == 0) {
            f.server.setHandler([](const auto &) { return LoopbackHttpServer::silence(); });
            f.content->library().load();
        } else if (status > 200) {
            f.server.setHandler(
                [status](const auto &) { return LoopbackHttpServer::json("[]", status); });
            f.load({});
        } else {
            f.load(kCatalogue);
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
        if (status == 503)
            QCOMPARE(home.loadError(), QStringLiteral("Manifest request failed with HTTP 503"));
    }

    void rows()
    {
        GalleryFixture f;
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
        QCOMPARE(removals.size(), 2);
    }

    void heroRotation_data()
    {
        QTest::addColumn<QStringList>("records");
        // "+ms": time passes; "q=text": a search; "reload": the same list
        // again; "reload=spec,spec": another list. Each followed by the hero.
        QTest::addColumn<QStringList>("steps");
        const QStringList three{"a/Nature/", "b/Nature/n", "c/Nature/"};
        QTest::newRow("starts at the new one, cycles every 8 s")
            << three << QStringList{"b", "+7999", "b", "+1", "c", "+8000", "a", "+8000", "b"};
        QTest::newRow("no new one: the first") << QStringList{"a/Nature/", "b/Nature/"}
                                               << QStringList{"a", "+8000", "b", "+8000", "a"};
        QTest::newRow("one wallpaper never rotates")
            << QStringList{"a/Nature/"} << QStringList{"a", "+80000", "a"};
        QTest::newRow("no video (the demo catalogue), no hero") << QStringList{} << QStringList{""};
        QTest::newRow("the same IDs again keep the rhythm")
            << three << QStringList{"b", "+5000", "b", "reload", "b", "+3000", "c"};
        QTest::newRow("the hero kept in another list: rotation restarts")
            << three << QStringList{"b", "+5000", "b", "reload=b/Nature/n,a/Nature/", "b", "+3000",
                                    "b", "+5000", "a"};
        QTest::newRow("the hero leaving: the hero choice")
            << three << QStringList{"b", "+8000", "c", "q=name a", "a", "+80000", "a"};
        QTest::newRow("a search that matches nothing keeps the heroes")
            << three << QStringList{"b", "q=zzz", "b", "+8000", "c"};
        QTest::newRow("emptied catalogue") << three << QStringList{"b", "reload=", ""};
    }
    void heroRotation()
    {
        QFETCH(QStringList, records);
        QFETCH(QStringList, steps);
        GalleryFixture f(records.isEmpty());
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

    void categoryReturn_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("reload");
        QTest::addColumn<QString>("selected");
        QTest::newRow("still has matches") << "name n1" << false << "Nature";
        QTest::newRow("emptied by the search") << "space" << false << "";
        QTest::newRow("emptied by a reload: stays") << "" << true << "Nature";
    }
    void categoryReturn()
    {
        GalleryFixture f;
        f.load(kCatalogue);
        HomeViewModel home;
        home.setContent(f.content.get());
        home.selectCategory("Nature");
        QCOMPARE(idsOf(*home.categoryModel()), (QStringList{"n1", "n2"}));
        QFETCH(bool, reload);
        if (reload)
            f.load({"s1/Space/"});
        QFETCH(QString, query);
        home.setQuery(query);
        QTEST(home.selectedCategory(), "selected");
        QCOMPARE(home.page(), home.selectedCategory().isEmpty() ? Page::Home : Page::Category);
        home.closeCategory();
        QCOMPARE(home.page(), Page::Home);
    }

    void carousel_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<qreal>("offset");
        QTest::addColumn<bool>("suppressed");
        // Viewport 1000, content 3000. "d tx ty": drag moved, "e tx ty":
        // drag ended, "w dx dy [shift]": wheel notches in eighths of a degree,
        // "p dx dy": pixel deltas, "t ms": time passes, "V w"/"C w": viewport
        // or content width.
        QTest::newRow("under 3 pixels: no drag") << QStringList{"d 2 0", "e 2 0"} << 0.0 << false;
        QTest::newRow("3 to 6 pixels: moves, taps still open")
            << QStringList{"d -5 0", "e -5 0"} << -5.0 << false;
        QTest::newRow("left by 400") << QStringList{"d -400 0"} << -400.0 << true;
        QTest::newRow("after the drag: 179 ms suppressed")
            << QStringList{"d -400 0", "e -400 0", "t 179"} << -400.0 << true;
        QTest::newRow("after the drag: 180 ms free")
            << QStringList{"d -400 0", "e -400 0", "t 180"} << -400.0 << false;
        QTest::newRow("mostly vertical drag: nothing") << QStringList{"d -10 -20"} << 0.0 << false;
        QTest::newRow("diagonal: nothing") << QStringList{"d -20 20"} << 0.0 << false;
        QTest::newRow("not right of the start") << QStringList{"d 300 0"} << 0.0 << true;
        QTest::newRow("not past the end") << QStringList{"d -5000 0"} << -2000.0 << true;
        QTest::newRow("narrow content stays") << QStringList{"C 800", "d -300 0"} << 0.0 << true;
        QTest::newRow("second drag from the first")
            << QStringList{"d -300 0", "e -300 0", "d -200 0"} << -500.0 << true;
        QTest::newRow("a vertical end keeps the offset")
            << QStringList{"d -100 0", "e -100 -300", "d -50 0"} << -150.0 << true;
        QTest::newRow("a wider viewport clamps again")
            << QStringList{"d -2000 0", "e -2000 0", "V 1500"} << -1500.0 << true;
        QTest::newRow("less content clamps again")
            << QStringList{"d -2000 0", "e -2000 0", "C 2200"} << -1200.0 << true;
        QTest::newRow("wheel right") << QStringList{"w -120 0"} << -60.0 << true;
        QTest::newRow("wheel: 119 ms suppressed")
            << QStringList{"w -120 0", "t 119"} << -60.0 << true;
        QTest::newRow("wheel: 120 ms free") << QStringList{"w -120 0", "t 120"} << -60.0 << false;
        QTest::newRow("wheel left at the start") << QStringList{"w 120 0"} << 0.0 << true;
        QTest::newRow("pixel deltas first") << QStringList{"p -33 0"} << -33.0 << true;
        QTest::newRow("vertical wheel: the page's") << QStringList{"w 0 -120"} << 0.0 << false;
        QTest::newRow("mostly vertical: the page's") << QStringList{"p -20 -40"} << 0.0 << false;
        QTest::newRow("Shift turns vertical") << QStringList{"w 0 -240 shift"} << -120.0 << true;
        QTest::newRow("the latest lowering counts")
            << QStringList{"d -400 0", "e -400 0", "t 100", "w -120 0", "t 100"} << -460.0 << true;
        QTest::newRow("and then lowers")
            << QStringList{"d -400 0", "e -400 0", "t 100", "w -120 0", "t 120"} << -460.0 << false;
        QTest::newRow("wheel after a drag starts from it")
            << QStringList{"d -400 0", "e -400 0", "w -120 0"} << -460.0 << true;
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
};

LUMIVALE_TEST_MAIN(TestHome)
#include "tst_home.moc"
