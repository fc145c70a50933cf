// The gallery in a real window under openbox, driven with real pointer and
// wheel input, photographed for review.

#include "catalogue/wallpaperlibrary.h"
#include "gallery/contentview.h"
#include "gallery/gallerywindow.h"
#include "gallery/homeviewmodel.h"
#include "gallery/videosurface.h"
#include "galleryscene.h"
#include "platform/linux/mpvcore.h"
#include "platform/linux/mpvvideoitem.h"
#include "support/loopbackhttpserver.h"
#include "support/pointer.h"
#include "support/xsession.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QRasterWindow>
#include <QTest>

using namespace lumivale;
using namespace lumivale::test;

namespace {

constexpr int kScreenWidth = 1600;
constexpr int kScreenHeight = 1000;

} // namespace

class TestGalleryWindow : public QObject
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
    bool allowsVideo() { return content().windowAllowsVideoPlayback(); }
    QQuickItem *home() { return item("homeView"); }
    HomeViewModel &model() { return *home()->property("model").value<HomeViewModel *>(); }
    QQuickItem *page() { return home()->property("page").value<QQuickItem *>(); }
    // The first row's strip and its position.
    QQuickItem *strip() { return item("carousel"); }
    qreal offset()
    {
        QObject *carousel = strip()->parentItem()->property("carousel").value<QObject *>();
        return carousel->property("offset").toReal();
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
    void showAt(QPoint position)
    {
        m_window->showNormal();
        m_window->setPosition(position);
        m_window->raise();
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QTRY_COMPARE(m_window->position(), position);
    }
    // Presses the window has been given (counted by eventFilter()).
    int m_presses = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        m_presses += event->type() == QEvent::MouseButtonPress;
        return false;
    }
    // Openbox, under XTest, keeps the first press after a move or resize it
    // ran to itself: clicks until the window has one.
    bool clickUntilTheWindowHasIt(QPoint at)
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const int before = m_presses;
            if (clickAt(at) && QTest::qWaitFor([&] { return m_presses > before; }, 1000))
                return true;
        }
        return false;
    }
    // A drag that the window hands to the window manager: the pointer moves
    // only once the window has had the press and asked for the gesture.
    bool dragWithTheWindowManager(QPoint from, QPoint to)
    {
        const int before = m_presses;
        if (!xdotool({"mousemove", QString::number(from.x()), QString::number(from.y()),
                      "mousedown", "1"}) ||
            !QTest::qWaitFor([&] { return m_presses > before; }, 5000))
            return false;
        QTest::qWait(200);
        for (int step = 1; step <= 10; ++step) {
            QTest::qWait(30);
            if (!movePointer(from + (to - from) * step / 10))
                return false;
        }
        QTest::qWait(30);
        return xdotool({"mouseup", "1"});
    }
    // Two looks at the hero 400 ms apart differ: its video plays.
    bool heroMoves()
    {
        const QRect area(m_window->mapToGlobal(QPoint(0, 80)), QSize(1280, 400));
        const QImage first = XSession::grab(area);
        QTest::qWait(400);
        return XSession::grab(area) != first;
    }

private Q_SLOTS:
    // Three rows of ten cards. The first card's clip is red before 1 s, blue
    // after (its poster); every other clip moves, so that any hero of the
    // rotation shows it plays.
    void initTestCase()
    {
        const QStringList colours{"Red", "Blue", "Green"}, categories{"Nature", "Space", "Animals"};
        QJsonArray records;
        for (int i = 0; i < 30; ++i) {
            const QString clip = i == 0 ? "red_then_blue" : "patch";
            records.append(
                QJsonObject{{"id", QStringLiteral("w%1").arg(i)},
                            {"name", QStringLiteral("%1 Field %2").arg(colours[i % 3]).arg(i)},
                            {"category", categories.at(i / 10)},
                            {"resolution", "4K"},
                            {"likeCount", i % 2 ? 1200 * i : 0},
                            {"isNew", i == 1},
                            {"video", QUrl::fromLocalFile(mediaPath(clip)).toString()}});
        }
        const QByteArray manifest = QJsonDocument(records).toJson(QJsonDocument::Compact);
        m_server.setHandler([this, manifest](const LoopbackHttpServer::Request &) {
            return m_failing ? LoopbackHttpServer::json("", 503)
                             : LoopbackHttpServer::json(manifest);
        });
        qputenv("LUMIVALE_MANIFEST_URL", m_server.url("/manifest").toString().toUtf8());
        m_window = std::make_unique<GalleryWindow>();
        m_window->installEventFilter(this);
        showAt(QPoint(100, 60));
        QCOMPARE(m_window->size(), GalleryWindow::kDefaultSize);
        QTRY_COMPARE(content().library().wallpapers().size(), 30);
        QVERIFY(home());
    }

    void cleanupTestCase()
    {
        m_window.reset();
        // Previews retire in the background (up to 2 s for mpv to close its
        // output); their cores are gone before the leak check at exit.
        QTest::qWait(2500);
        QTRY_VERIFY_WITH_TIMEOUT(MpvCore::pendingTerminations() == 0, 5000);
        // Every player and render context is gone: what a leak check still
        // reports at exit is libmpv's own.
        QCOMPARE(MpvCore::liveCount(), 0);
        QCOMPARE(MpvVideoItem::renderContextCount(), 0);
    }

    // Each case starts from the normal, unmaximised window.
    void init()
    {
        content().closeSelectedWallpaper();
        if (m_window->isMaximized())
            m_window->showNormal();
        QTRY_VERIFY(!m_window->isMaximized());
    }

    void searchOpenWithText()
    {
        QQuickItem *field = m_window->rootObject()->property("searchField").value<QQuickItem *>();
        const QPoint centre = onScreen(field, {field->width() / 2, field->height() / 2});
        QVERIFY(clickAt(centre));
        QTRY_VERIFY(field->property("inputFocused").toBool());
        QVERIFY(xdotool({"type", "--delay", "30", "green"}));
        QTRY_COMPARE(content().appliedQuery(), QStringLiteral("green"));
        QCOMPARE(model().query(), "green");
        screenshot("gallery-search.png");
        QVERIFY(xdotool({"key", "Escape"}));
        QTRY_VERIFY(!field->property("expanded").toBool());
        QCOMPARE(content().query(), QStringLiteral("green"));
        // Focus moving elsewhere folds it too. (The fold is animated: the
        // button is back in place once it is round again.)
        QTRY_COMPARE(field->width(), field->height());
        QVERIFY(clickAt(centre));
        QTRY_VERIFY(field->property("inputFocused").toBool());
        m_window->rootObject()->forceActiveFocus();
        QTRY_VERIFY(!field->property("expanded").toBool());
        QCOMPARE(content().query(), QStringLiteral("green"));
        content().setQuery(QString());
    }

    void dragMovesWindow()
    {
        showAt(QPoint(100, 60));
        const QPoint start = m_window->position();
        const QPoint grip = m_window->mapToGlobal(QPoint(600, 30));
        // The move starts when the drag does (so that clicks still arrive):
        // from then on the window follows the pointer, measured from there.
        QVERIFY(dragPointer(grip, grip + QPoint(12, 0), 1, 30, false));
        QTest::qWait(100);
        for (int step = 1; step <= 10; ++step) {
            QTest::qWait(15);
            QVERIFY(movePointer(grip + QPoint(12 + 10 * step, 0)));
        }
        QTest::qWait(50);
        QVERIFY(xdotool({"mouseup", "1"}));
        QTRY_COMPARE(m_window->position(), start + QPoint(100, 0));
    }

    void doubleClickMaximises()
    {
        showAt(QPoint(100, 60));
        // A plain click on the title area first (see clickUntilTheWindowHasIt),
        // then the double-click, once to maximise, once back. The pointer
        // moves and clicks in one xdotool run: in two, openbox now and then
        // takes the double-click's first press.
        for (const bool maximised : {true, false}) {
            QVERIFY(clickUntilTheWindowHasIt(m_window->mapToGlobal(QPoint(600, 50))));
            QTest::qWait(300);
            const QPoint grip = m_window->mapToGlobal(QPoint(600, 30));
            QVERIFY(xdotool({"mousemove", QString::number(grip.x()), QString::number(grip.y()),
                             "click", "--repeat", "2", "--delay", "80", "1"}));
            QTRY_COMPARE(m_window->isMaximized(), maximised);
            QTRY_COMPARE(m_window->width(),
                         maximised ? kScreenWidth : GalleryWindow::kDefaultSize.width());
            QTest::qWait(300);
        }
        QCOMPARE(m_window->size(), GalleryWindow::kDefaultSize);
    }

    void edgeResizes()
    {
        showAt(QPoint(100, 60));
        QVERIFY(clickUntilTheWindowHasIt(m_window->mapToGlobal(QPoint(600, 50))));
        const QPoint edge = m_window->mapToGlobal(QPoint(m_window->width() - 3, 400));
        QVERIFY(dragWithTheWindowManager(edge, edge + QPoint(120, 0)));
        QTRY_COMPARE(m_window->width(), GalleryWindow::kDefaultSize.width() + 120);
        // Not below the minimum.
        QVERIFY(clickUntilTheWindowHasIt(m_window->mapToGlobal(QPoint(600, 50))));
        const QPoint newEdge = m_window->mapToGlobal(QPoint(m_window->width() - 3, 400));
        QVERIFY(dragWithTheWindowManager(newEdge, newEdge - QPoint(300, 0)));
        QTest::qWait(300);
        QTRY_COMPARE(m_window->width(), GalleryWindow::kDefaultSize.width());
    }

    // Where the window manager cannot resize, the window does it by hand.
    void handResizeGeometry_data()
    {
        QTest::addColumn<int>("edges");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected");
        const int left = Qt::LeftEdge, top = Qt::TopEdge, right = Qt::RightEdge;
        const int bottom = Qt::BottomEdge;
        const QRect normal(100, 50, 1280, 820); // at the minimum
        QTest::newRow("right wider") << right << QPoint(50, 9) << QRect(100, 50, 1330, 820);
        QTest::newRow("left wider") << left << QPoint(-50, 0) << QRect(50, 50, 1330, 820);
        QTest::newRow("left, not below the minimum") << left << QPoint(80, 0) << normal;
        QTest::newRow("top left") << (left | top) << QPoint(-10, -20) << QRect(90, 30, 1290, 840);
        QTest::newRow("bottom, not below the minimum") << bottom << QPoint(0, -100) << normal;
    }
    void handResizeGeometry()
    {
        QFETCH(int, edges);
        QFETCH(QPoint, delta);
        QTEST(GalleryWindow::resizedGeometry(QRect(100, 50, 1280, 820), Qt::Edges(edges), delta,
                                             GalleryWindow::kDefaultSize),
              "expected");
    }

    // Covered by another window, minimised or hidden: no video, the hero's
    // included, until it is seen again.
    void videoOnlyWhileSeen()
    {
        showAt(QPoint(100, 60));
        // Asked afresh each time: each hero of the rotation has its own.
        const auto backdrop = [this] { return qobject_cast<VideoSurface *>(item("heroBackdrop")); };
        const auto playing = [&] { return backdrop() && backdrop()->isPlaying(); };
        QTRY_VERIFY_WITH_TIMEOUT(backdrop() && backdrop()->state() == VideoSurface::State::Ready,
                                 10000);
        QVERIFY(allowsVideo() && playing());
        QVERIFY(heroMoves());
        screenshot("home-hero.png");
        auto cover = std::make_unique<QRasterWindow>();
        cover->setFlag(Qt::FramelessWindowHint);
        cover->setGeometry(QRect(50, 20, 1400, 900));
        cover->show();
        QVERIFY(QTest::qWaitForWindowExposed(cover.get()));
        QTRY_VERIFY(!allowsVideo() && !playing());
        cover.reset();
        QTRY_VERIFY(allowsVideo() && playing());
        m_window->showMinimized();
        QTRY_VERIFY(!allowsVideo() && !playing());
        showAt(QPoint(100, 60));
        QTRY_VERIFY(allowsVideo() && playing());
        m_window->hide();
        QTRY_VERIFY(!allowsVideo());
        showAt(QPoint(100, 60));
        QTRY_VERIFY(allowsVideo() && playing());
        QTRY_VERIFY(heroMoves());
    }

    void hoverPreview()
    {
        showAt(QPoint(100, 60));
        QTRY_VERIFY(content().isContentActive());
        // The first row's first card, with the page scrolled past most of the
        // hero, and a point on the hero.
        page()->setProperty("contentY", 300);
        const QPoint card = m_window->mapToGlobal(QPoint(222, 514));
        const QPoint away = m_window->mapToGlobal(QPoint(600, 84));
        const auto hueAt = [&] { return test::classify(XSession::colorAt(card + QPoint(0, -60))); };
        QVERIFY(movePointer(away));
        QTRY_COMPARE(hueAt(), test::Hue::Blue); // the poster, taken at 1 s
        QElapsedTimer rest;
        QVERIFY(movePointer(card));
        rest.start();
        QTRY_COMPARE_WITH_TIMEOUT(hueAt(), test::Hue::Red, 3000); // the preview, from 0 s
        QVERIFY(rest.elapsed() >= 220);
        QVERIFY(
            saveScreenshot(QStringLiteral("gallery-previewing.png"), m_window->frameGeometry()));
        QVERIFY(movePointer(away));
        // The poster is under the video all along, so it shows at once.
        QTRY_COMPARE_WITH_TIMEOUT(hueAt(), test::Hue::Blue, 1000);
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
        // Taps are suppressed for a moment after a gesture; the page fades
        // out before the strip takes gestures again.
        QTest::qWait(300);
        content().closeSelectedWallpaper();
        QTRY_VERIFY(!item("detailPage"));
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

    void errorPageRetries()
    {
        page()->setProperty("contentY", 0);
        m_failing = true;
        content().reload();
        QTRY_COMPARE(model().page(), HomeViewModel::Page::Error);
        screenshot("home-error.png");
        m_failing = false;
        QVERIFY(clickAt(onScreen(item("retry"), {10, 10})));
        QTRY_COMPARE(model().page(), HomeViewModel::Page::Home);
    }

    void categoryPage()
    {
        page()->setProperty("contentY", 300);
        QVERIFY(clickAt(onScreen(item("rowTitle"), {20, 10})));
        QTRY_COMPARE(model().page(), HomeViewModel::Page::Category);
        screenshot("home-category.png");
        QVERIFY(clickAt(onScreen(item("categoryGrid"), {200, 84 + 54 + 100}))); // the first card
        QTRY_COMPARE(content().selectedWallpaperID(), QStringLiteral("w0"));
        content().closeSelectedWallpaper();
        QVERIFY(clickAt(onScreen(item("categoryBack"), {17, 17})));
        QTRY_COMPARE(model().page(), HomeViewModel::Page::Home);
    }
};

LUMIVALE_X11_TEST_MAIN(TestGalleryWindow, kScreenWidth, kScreenHeight)
#include "tst_gallerywindow.moc"
