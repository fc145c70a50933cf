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
using lumivale::test::idsOf;
using lumivale::test::LoopbackHttpServer;
using Page = HomeViewModel::Page;

namespace {

const QStringList kCatalogue{"n1/Nature/", "s1/Space/n", "n2/nature/", "a1/Animals/", "c1/Cities/"};

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
        const QString all = "Nature,Space,Animals";
        QTest::newRow("loading") << 0 << ""
                                 << "" << Page::Loading << QStringList() << "";
        QTest::newRow("error") << 503 << ""
                               << "" << Page::Error << QStringList() << "";
        QTest::newRow("home") << 200 << ""
                              << "" << Page::Home << all.split(',') << "s1";
        QTest::newRow("category") << 200 << "Space"
                                  << "" << Page::Category << all.split(',') << "s1";
        QTest::newRow("category kept by a search")
            << 200 << "Nature"
            << "name n1" << Page::Category << QStringList{"Nature"} << "n1";
        QTest::newRow("category emptied by a search")
            << 200 << "Nature"
            << "space" << Page::Home << QStringList{"Space"} << "s1";
        QTest::newRow("searched") << 200 << ""
                                  << "  NAME N" << Page::Home << QStringList{"Nature"} << "n1";
        QTest::newRow("no results: hero from all") << 200 << ""
                                                   << "zzz" << Page::Home << QStringList() << "s1";
        QTest::newRow("category query") << 200 << ""
                                        << "citi" << Page::Home << QStringList() << "c1";
        QTest::newRow("no videos: no hero")
            << 1 << ""
            << "" << Page::Home << QStringList{"Nature", "Space", "Lofi", "Animals"} << "";
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
        QCOMPARE(home.categoryModel()->count() > 0, home.page() == Page::Category);
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
        QCOMPARE(removals.size(), 1); // neighbours go together
    }

    void heroRotation_data()
    {
        QTest::addColumn<QStringList>("records"); // none: the demo catalogue, without videos
        // The first hero, then steps each followed by the hero: "+ms" time
        // passes, "q=text" a search, "reload" the same list again,
        // "reload=record,record" another list.
        QTest::addColumn<QStringList>("steps");
        const QString three = "a/Nature/,b/Nature/n,c/Nature/";
        const char *const table[][3] = {
            {"new one first, every 8 s", "", "b +7999 b +1 c +8000 a +8000 b"},
            {"no new one: the first", "a/Nature/,b/Nature/", "a +8000 b +8000 a"},
            {"one never rotates", "a/Nature/", "a +80000 a"},
            {"no video: no hero", "-", "''"},
            {"same IDs keep the rhythm", "", "b +5000 b reload b +3000 c"},
            {"other IDs restart", "", "b +5000 b reload=b/Nature/n,a/Nature/ b +3000 b +5000 a"},
            {"hero leaving: the choice", "", "b +8000 c q=name_a a +80000 a"},
            {"no match keeps the heroes", "", "b q=zzz b +8000 c"},
            {"emptied catalogue", "", "b reload= ''"},
        };
        for (const auto &[name, records, steps] : table) {
            const QString list = *records ? QString(records) : three;
            QTest::newRow(name) << (list == "-" ? QStringList() : list.split(','))
                                << QString(steps).replace("''", "").split(' ').replaceInStrings(
                                       "_", " ");
        }
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
            {"wheel right", "w -120 0", "-60", "1"},
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
};

LUMIVALE_TEST_MAIN(TestHome)
#include "tst_home.moc"
