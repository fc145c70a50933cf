#include "catalogue/likedwallpaperstore.h"
#include "catalogue/wallpaperlibrary.h"
#include "desktop/wallpapermanager.h"
#include "gallery/contentview.h"
#include "gallery/galleryimageprovider.h"
#include "gallery/gallerywindow.h"
#include "gallery/previewplaybackcoordinator.h"
#include "galleryscene.h"
#include "platform/linux/mpvcore.h"
#include "platform/linux/mpvvideoitem.h"
#include "support/loopbackhttpserver.h"
#include "support/pointer.h"
#include "support/xsession.h"

#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickView>
#include <QRasterWindow>
#include <QScreen>
#include <QSignalSpy>
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
    std::unique_ptr<GalleryWindow> m_window;

    ContentView &content() { return *m_window->contentView(); }
    bool allowsVideo() { return content().windowAllowsVideoPlayback(); }
    void showAt(QPoint position)
    {
        m_window->showNormal();
        m_window->setPosition(position);
        m_window->raise();
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QTRY_COMPARE(m_window->position(), position);
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QStringList colours{"red", "blue", "green"};
        QByteArray manifest = "[";
        for (int i = 0; i < 9; ++i) {
            if (i)
                manifest += ',';
            manifest += QStringLiteral("{\"id\":\"w%1\",\"name\":\"%2 Field %1\",\"category\":"
                                       "\"Nature\",\"likeCount\":%3,\"isNew\":%4,\"video\":"
                                       "\"%5\"}")
                            .arg(i)
                            .arg(colours[i % 3].at(0).toUpper() + colours[i % 3].mid(1))
                            .arg(i % 2 ? 1200 * i : 0)
                            .arg(i % 4 == 0 ? "true" : "false")
                            .arg(QUrl::fromLocalFile(
                                     test::mediaPath(i == 0 ? QStringLiteral("red_then_blue")
                                                            : colours[i % 3]))
                                     .toString())
                            .toUtf8();
        }
        manifest += "]";
        m_server.setHandler([manifest](const LoopbackHttpServer::Request &) {
            return LoopbackHttpServer::json(manifest);
        });
        qputenv("LUMIVALE_MANIFEST_URL",
                m_server.url(QStringLiteral("/manifest")).toString().toUtf8());
        m_window = std::make_unique<GalleryWindow>();
        showAt(QPoint(100, 60));
        QVERIFY(m_window->contentView());
        QTRY_COMPARE(content().library().wallpapers().size(), 9);
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

    void sizeAndTabs()
    {
        QCOMPARE(m_window->size(), GalleryWindow::kDefaultSize);
        QCOMPARE(m_window->minimumSize(), GalleryWindow::kDefaultSize);
        QTRY_VERIFY(allowsVideo());
        QTest::qWait(1500); // the posters arrive and fade in
        QVERIFY(saveScreenshot(QStringLiteral("gallery-home.png"), m_window->frameGeometry()));
        content().likes().toggle(content().library().wallpapers().at(1));
        content().likes().toggle(content().library().wallpapers().at(4));
        content().selectTab(ContentView::AppTab::Likes);
        QTest::qWait(400);
        QVERIFY(saveScreenshot(QStringLiteral("gallery-likes.png"), m_window->frameGeometry()));
        content().selectTab(ContentView::AppTab::Home);
    }

    void searchOpenWithText()
    {
        QQuickItem *field = m_window->rootObject()->property("searchField").value<QQuickItem *>();
        QVERIFY(field);
        const QPoint centre = m_window->mapToGlobal(
            field->mapToScene(QPointF(field->width() / 2, field->height() / 2)).toPoint());
        QVERIFY(clickAt(centre));
        QTRY_VERIFY(field->property("inputFocused").toBool());
        QVERIFY(xdotool({"type", "--delay", "30", "green"}));
        QTRY_COMPARE(content().appliedQuery(), QStringLiteral("green"));
        QTest::qWait(400);
        QVERIFY(saveScreenshot(QStringLiteral("gallery-search.png"), m_window->frameGeometry()));
        QVERIFY(xdotool({"key", "Escape"}));
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
        // After a move by the window manager (the test before), openbox under
        // XTest keeps the next press to itself: a plain click on the
        // title area first.
        const QPoint background = m_window->mapToGlobal(QPoint(600, 50));
        QVERIFY(xdotool({"mousemove", QString::number(background.x()),
                         QString::number(background.y()), "click", "1"}));
        QTest::qWait(500);
        const QPoint grip = m_window->mapToGlobal(QPoint(600, 30));
        QVERIFY(xdotool({"mousemove", QString::number(grip.x()), QString::number(grip.y()), "click",
                         "--repeat", "2", "--delay", "80", "1"}));
        QTRY_VERIFY(m_window->isMaximized());
        QTRY_COMPARE(m_window->width(), kScreenWidth);
        QTest::qWait(300);
        const QPoint maximizedBackground = m_window->mapToGlobal(QPoint(600, 50));
        QVERIFY(xdotool({"mousemove", QString::number(maximizedBackground.x()),
                         QString::number(maximizedBackground.y()), "click", "1"}));
        QTest::qWait(500);
        const QPoint maximizedGrip = m_window->mapToGlobal(QPoint(600, 30));
        QVERIFY(xdotool({"mousemove", QString::number(maximizedGrip.x()),
                         QString::number(maximizedGrip.y()), "click", "--repeat", "2", "--delay",
                         "80", "1"}));
        QTRY_VERIFY(!m_window->isMaximized());
        QTRY_COMPARE(m_window->size(), GalleryWindow::kDefaultSize);
    }

    void edgeResizes()
    {
        showAt(QPoint(100, 60));
        const QPoint edge = m_window->mapToGlobal(QPoint(m_window->width() - 3, 400));
        QVERIFY(dragPointer(edge, edge + QPoint(120, 0)));
        QTRY_COMPARE(m_window->width(), GalleryWindow::kDefaultSize.width() + 120);
        // Not below the minimum.
        const QPoint newEdge = m_window->mapToGlobal(QPoint(m_window->width() - 3, 400));
        QVERIFY(dragPointer(newEdge, newEdge - QPoint(300, 0)));
        QTest::qWait(300);
        QTRY_COMPARE(m_window->width(), GalleryWindow::kDefaultSize.width());
    }

    // Where the window manager cannot resize, the window does it by hand.
    void handResizeGeometry_data()
    {
        QTest::addColumn<int>("edges");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected");
        const int left = Qt::LeftEdge, top = Qt::TopEdge;
        QTest::newRow("right wider")
            << int(Qt::RightEdge) << QPoint(50, 9) << QRect(100, 50, 1330, 820);
        QTest::newRow("left wider") << left << QPoint(-50, 0) << QRect(50, 50, 1330, 820);
        QTest::newRow("left, not below the minimum")
            << left << QPoint(80, 0) << QRect(100, 50, 1280, 820);
        QTest::newRow("top left corner")
            << (left | top) << QPoint(-10, -20) << QRect(90, 30, 1290, 840);
        QTest::newRow("bottom, not below the minimum")
            << int(Qt::BottomEdge) << QPoint(0, -100) << QRect(100, 50, 1280, 820);
    }
    void handResizeGeometry()
    {
        QFETCH(int, edges);
        QFETCH(QPoint, delta);
        QTEST(GalleryWindow::resizedGeometry(QRect(100, 50, 1280, 820), Qt::Edges(edges), delta,
                                             GalleryWindow::kDefaultSize),
              "expected");
    }

    void videoOnlyWhileSeen_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("minimise") << "minimise";
        QTest::newRow("cover") << "cover";
        QTest::newRow("hide") << "hide";
    }
    void videoOnlyWhileSeen()
    {
        QFETCH(QString, how);
        showAt(QPoint(100, 60));
        QTRY_VERIFY(allowsVideo());
        std::unique_ptr<QRasterWindow> cover;
        if (how == QLatin1String("minimise")) {
            m_window->showMinimized();
        } else if (how == QLatin1String("cover")) {
            cover = std::make_unique<QRasterWindow>();
            cover->setFlag(Qt::FramelessWindowHint);
            cover->setGeometry(QRect(50, 20, 1400, 900));
            cover->show();
            QVERIFY(QTest::qWaitForWindowExposed(cover.get()));
        } else {
            m_window->hide();
        }
        QTRY_VERIFY(!allowsVideo());
        if (cover)
            cover.reset();
        else
            showAt(QPoint(100, 60));
        QTRY_VERIFY(allowsVideo());
    }

    void hoverPreview()
    {
        showAt(QPoint(100, 60));
        QTRY_VERIFY(content().isContentActive());
        // The first row's first card, with the page scrolled past most of the
        // hero, and a point on the hero.
        QQuickItem *page = m_window->rootObject()
                               ->findChild<QQuickItem *>(QStringLiteral("homeView"))
                               ->property("page")
                               .value<QQuickItem *>();
        QVERIFY(page);
        page->setProperty("contentY", 300);
        const QPoint card = m_window->mapToGlobal(QPoint(222, 514));
        const QPoint away = m_window->mapToGlobal(QPoint(600, 84));
        const auto hueAt = [&] { return test::classify(XSession::colorAt(card + QPoint(0, -60))); };
        QVERIFY(movePointer(away));
        QTRY_COMPARE(hueAt(), test::Hue::Blue); // the poster, taken at 1 s
        QElapsedTimer rest;
        QVERIFY(movePointer(card));
        rest.start();
        QTRY_COMPARE_WITH_TIMEOUT(hueAt(), test::Hue::Red, 3000); // the preview, from 0 s
        qInfo("preview after the rest: %lld ms", rest.elapsed() - 220);
        QVERIFY(rest.elapsed() >= 220);
        // The aim is 300 ms from the rest's end to the first frame; on a
        // loaded machine it may take longer, so it is reported, not asserted
        // (bench/gallery measures it).
        if (rest.elapsed() > 220 + 300)
            qWarning("preview later than 300 ms after the rest");
        QVERIFY(
            saveScreenshot(QStringLiteral("gallery-previewing.png"), m_window->frameGeometry()));
        QElapsedTimer leave;
        QVERIFY(movePointer(away));
        leave.start();
        QTRY_COMPARE_WITH_TIMEOUT(hueAt(), test::Hue::Blue, 1000);
        // The poster is under the video all along, so it shows at once; under
        // load or the sanitizers the screen may catch up later: reported, not
        // asserted.
        if (leave.elapsed() > 100)
            qWarning("poster back %lld ms after leaving", leave.elapsed());

        // A sweep over five cards, 50 ms on each, starts no preview.
        QSignalSpy previews(content().previewCoordinator(),
                            &PreviewPlaybackCoordinator::activeWallpaperIDChanged);
        for (const QPoint cell : {QPoint(228, 206), QPoint(639, 206), QPoint(1050, 206),
                                  QPoint(1050, 445), QPoint(639, 445)}) {
            QVERIFY(movePointer(m_window->mapToGlobal(cell)));
            QTest::qWait(50);
        }
        QVERIFY(movePointer(away));
        QTest::qWait(500);
        QCOMPARE(previews.size(), 0);
    }

    void badgeSheet()
    {
        // Every badge and chip a card can carry, side by side.
        QQuickView view;
        view.setColor(QColor(0x15, 0x17, 0x19));
        view.engine()->addImportPath(QStringLiteral("qrc:/qt/qml"));
        view.engine()->addImageProvider(QStringLiteral("gallery"), new GalleryImageProvider);
        view.setInitialProperties({{"red", QUrl::fromLocalFile(test::mediaPath("red"))},
                                   {"blue", QUrl::fromLocalFile(test::mediaPath("blue"))}});
        view.setSource(QUrl::fromLocalFile(QFINDTESTDATA("qml/BadgeSheet.qml")));
        QCOMPARE(view.status(), QQuickView::Ready);
        view.resize(1280, 820);
        view.setPosition(0, 0);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTest::qWait(800);
        QVERIFY(saveScreenshot(QStringLiteral("gallery-cards.png"),
                               QRect(view.mapToGlobal(QPoint(0, 0)), QSize(1280, 820))));
    }
};

LUMIVALE_X11_TEST_MAIN(TestGalleryWindow, kScreenWidth, kScreenHeight)
#include "tst_gallerywindow.moc"
