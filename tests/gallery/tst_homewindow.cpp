#include "catalogue/wallpaperlibrary.h"
#include "gallery/contentview.h"
#include "gallery/gallerywindow.h"
#include "gallery/homeviewmodel.h"
#include "gallery/videosurface.h"
#include "galleryscene.h"
#include "platform/linux/mpvcore.h"
#include "support/loopbackhttpserver.h"
#include "support/pointer.h"
#include "support/xsession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QTest>

using namespace lumivale;
using namespace lumivale::test;

// Home in the real window: the hero, the carousels under real pointer and
// wheel input, and the pages, photographed for review.
class TestHomeWindow : public QObject
{
    Q_OBJECT

public:
    XSession *session = nullptr;

private:
    LoopbackHttpServer m_server;
    bool m_failing = false;
    std::unique_ptr<GalleryWindow> m_window;

    QQuickItem *item(const char *name) { return findItem(m_window->rootObject(), name); }
    ContentView &content() { return *m_window->contentView(); }
    QQuickItem *home() { return item("homeView"); }
    HomeViewModel &model() { return *home()->property("model").value<HomeViewModel *>(); }
    QQuickItem *page() { return home()->property("page").value<QQuickItem *>(); }
    // The first row's strip and its position.
    QQuickItem *strip() { return item("carousel"); }
    qreal offset()
    {
        return strip()
            ->parentItem()
            ->property("carousel")
            .value<QObject *>()
            ->property("offset")
            .toReal();
    }
    QPoint onScreen(QQuickItem *item, QPointF at)
    {
        return m_window->mapToGlobal(item->mapToScene(at).toPoint());
    }
    void screenshot(const QString &name)
    {
        QTest::qWait(600);
        QVERIFY(saveScreenshot(name, m_window->frameGeometry()));
    }
    // Two looks at the hero 400 ms apart differ: its video plays.
    bool heroMoves()
    {
        const QRect area(m_window->mapToGlobal(QPoint(0, 80)), QSize(1280, 400));
        const QImage first = XSession::grab(area);
        QTest::qWait(400);
        return XSession::grab(area) != first;
    }
    void waitForIdleStrip()
    {
        // Taps are suppressed for a moment after a gesture.
        QTest::qWait(300);
        content().closeSelectedWallpaper();
        // The page fades out before the strip takes gestures again.
        QTRY_VERIFY(!item("detailPage"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QJsonArray records;
        const QStringList categories{"Nature", "Space", "Animals"};
        const QStringList clips{"red", "blue", "green"};
        for (int i = 0; i < 30; ++i) {
            const QString clip = i == 0 ? QStringLiteral("patch") : clips.at(i % 3);
            records.append(QJsonObject{{"id", QStringLiteral("w%1").arg(i)},
                                       {"name", QStringLiteral("Field %1").arg(i)},
                                       {"category", categories.at(i / 10)},
                                       {"resolution", "4K"},
                                       {"isNew", i == 0},
                                       {"video", QUrl::fromLocalFile(mediaPath(clip)).toString()}});
        }
        const QByteArray manifest = QJsonDocument(records).toJson(QJsonDocument::Compact);
        m_server.setHandler([this, manifest](const LoopbackHttpServer::Request &) {
            return m_failing ? LoopbackHttpServer::json("", 503)
                             : LoopbackHttpServer::json(manifest);
        });
        qputenv("LUMIVALE_MANIFEST_URL", m_server.url("/manifest").toString().toUtf8());
        m_window = std::make_unique<GalleryWindow>();
        m_window->show();
        m_window->setPosition(100, 60);
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QTRY_COMPARE(content().library().wallpapers().size(), 30);
        QVERIFY(home());
        QCOMPARE(model().rowCategories(), (QStringList{"Nature", "Space", "Animals"}));
    }

    void cleanupTestCase()
    {
        m_window.reset();
        QTest::qWait(2500);
        QTRY_VERIFY_WITH_TIMEOUT(MpvCore::pendingTerminations() == 0, 5000);
    }

    void heroPlaysOnlyWhileSeen()
    {
        // Asked afresh each time: each hero of the rotation has its own.
        const auto backdrop = [this] { return qobject_cast<VideoSurface *>(item("heroBackdrop")); };
        const auto playing = [&] { return backdrop() && backdrop()->isPlaying(); };
        QCOMPARE(model().heroWallpaperID(), QStringLiteral("w0"));
        QTRY_VERIFY_WITH_TIMEOUT(backdrop() && backdrop()->state() == VideoSurface::State::Ready,
                                 10000);
        QVERIFY(playing());
        QVERIFY(heroMoves());
        screenshot("home-hero.png");
        m_window->showMinimized();
        QTRY_VERIFY(!playing());
        m_window->showNormal();
        m_window->requestActivate();
        QTRY_VERIFY(playing());
        QTRY_VERIFY(heroMoves());
    }

    void dragMovesTheStripAndOpensNothing()
    {
        page()->setProperty("contentY", 300); // the first row whole on screen
        QTest::qWait(300);
        const qreal before = offset();
        const QPoint from = onScreen(strip(), {900, 100});
        QVERIFY(dragPointer(from, from - QPoint(400, 0), 20, 15, false));
        // The release, then at once a click: both inside the suppression.
        QVERIFY(xdotool({"mouseup", "1", "click", "1"}));
        QTest::qWait(100);
        QVERIFY2(qAbs(offset() - (before - 400)) <= 4, qPrintable(QString::number(offset())));
        QVERIFY(!content().hasSelectedWallpaper());
        QTest::qWait(250);
        QVERIFY(clickAt(from - QPoint(400, 0)));
        QTRY_VERIFY(content().hasSelectedWallpaper());
        waitForIdleStrip();
    }

    void wheel_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("modifier");
        QTest::addColumn<bool>("stripMoves");
        QTest::newRow("horizontal") << 7 << "" << true;
        QTest::newRow("Shift and vertical") << 5 << "shift" << true;
        QTest::newRow("vertical: the page") << 5 << "" << false;
    }
    void wheel()
    {
        QFETCH(int, button);
        QFETCH(QString, modifier);
        page()->setProperty("contentY", 300);
        const qreal stripBefore = offset();
        const qreal pageBefore = page()->property("contentY").toReal();
        QVERIFY(turnWheel(onScreen(strip(), {600, 100}), button, 3, modifier));
        QTest::qWait(300);
        QTEST(offset() < stripBefore, "stripMoves");
        QTEST(page()->property("contentY").toReal() == pageBefore, "stripMoves");
        QVERIFY(!content().hasSelectedWallpaper());
    }

    void pages_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("no results") << "home-no-results.png";
        QTest::newRow("error") << "home-error.png";
        QTest::newRow("category") << "home-category.png";
    }
    void pages()
    {
        QFETCH(QString, name);
        page()->setProperty("contentY", 0);
        if (name.contains("no-results")) {
            content().setQuery("nothing like it");
            QTRY_COMPARE(model().rowCategories(), QStringList());
            screenshot(name);
            content().setQuery({});
            QTRY_COMPARE(model().rowCategories().size(), 3);
        } else if (name.contains("error")) {
            m_failing = true;
            content().reload();
            QTRY_COMPARE(model().page(), HomeViewModel::Page::Error);
            screenshot(name);
            m_failing = false;
            QVERIFY(clickAt(onScreen(item("retry"), {10, 10})));
            QTRY_COMPARE(model().page(), HomeViewModel::Page::Home);
        } else {
            page()->setProperty("contentY", 300);
            QVERIFY(clickAt(onScreen(item("rowTitle"), {20, 10})));
            QTRY_COMPARE(model().page(), HomeViewModel::Page::Category);
            screenshot(name);
            const QPoint firstCard = onScreen(item("categoryGrid"), {200, 84 + 54 + 100});
            QVERIFY(clickAt(firstCard));
            QTRY_COMPARE(content().selectedWallpaperID(), QStringLiteral("w0"));
            content().closeSelectedWallpaper();
            QVERIFY(clickAt(onScreen(item("categoryBack"), {17, 17})));
            QTRY_COMPARE(model().page(), HomeViewModel::Page::Home);
        }
    }
};

LUMIVALE_X11_TEST_MAIN(TestHomeWindow, 1600, 1000)
#include "tst_homewindow.moc"
