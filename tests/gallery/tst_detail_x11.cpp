// The wallpaper page on a real X server with two monitors, driven with the
// real pointer and checked on the screen's pixels.

#include "catalogue/likedwallpaperstore.h"
#include "catalogue/wallpaperlibrary.h"
#include "desktop/wallpapermanager.h"
#include "gallery/contentview.h"
#include "gallery/gallerywindow.h"
#include "gallery/wallpaperdetailmodel.h"
#include "galleryscene.h"
#include "platform/linux/mpvcore.h"
#include "platform/platform.h"
#include "support/loopbackhttpserver.h"
#include "support/pointer.h"
#include "support/xsession.h"

#include <QImage>
#include <QQuickItem>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace lumivale;
using namespace lumivale::test;

class TestDetailX11 : public QObject
{
    Q_OBJECT

public:
    XSession *session = nullptr;

private:
    LoopbackHttpServer m_server;
    QTemporaryDir m_dir;
    std::unique_ptr<GalleryWindow> m_window;
    QString m_left, m_right; // screen IDs

    ContentView &content() { return *m_window->contentView(); }
    WallpaperManager &manager() { return WallpaperManager::shared(); }
    QQuickItem *item(const QString &name) { return findItem(m_window->rootObject(), name); }
    QQuickItem *card(const QString &id)
    {
        return findItem(m_window->rootObject(), [&](QQuickItem *i) {
            return i->property("wallpaperID").toString() == id &&
                   i->property("stateChip").isValid();
        });
    }
    WallpaperDetailModel *page()
    {
        QQuickItem *view = item("detailPage");
        return view ? view->property("model").value<WallpaperDetailModel *>() : nullptr;
    }
    bool click(QQuickItem *target)
    {
        if (!target)
            return false;
        const QPointF centre = target->mapToScene(QPointF(target->width(), target->height()) / 2);
        return movePointer(m_window->mapToGlobal(centre.toPoint())) && xdotool({"click", "1"});
    }
    // Opens the page of `id` as a card's tap does (the window test clicks
    // cards), once the page open last has faded out.
    bool open(const QString &id)
    {
        if (!QTest::qWaitFor([&] { return !page(); }))
            return false;
        content().selectWallpaper(id);
        return QTest::qWaitFor([&] { return page() && item("mainButton"); });
    }
    void screenshot(const QString &name)
    {
        QTest::qWait(500); // transitions end, stills fade in
        QVERIFY(saveScreenshot(name, QRect(m_window->mapToGlobal(QPoint()), QSize(1280, 820))));
    }
    // Pixels of the right monitor and of the left one below the gallery.
    Hue right() { return classify(XSession::colorAt({1920, 480})); }
    Hue leftBelowGallery() { return classify(XSession::colorAt({640, 950})); }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("LUMIVALE_DESKTOP_PICTURES", "x11");
        for (const auto &[name, x] : {std::pair{"left", 0}, std::pair{"right", 1280}}) {
            XSession::run("xrandr", {"--setmonitor", name,
                                     QStringLiteral("1280/300x960/200+%1+0").arg(x), "none"});
        }
        QTRY_COMPARE(Platform::instance().screens().screens().size(), 2);
        const QList<Screen> screens = Platform::instance().screens().screens();
        m_left = WallpaperManager::screenID(screens[0]);
        m_right = WallpaperManager::screenID(screens[1]);
        // The desktop's own picture, green, which turning off puts back.
        QImage green(64, 64, QImage::Format_RGB32);
        green.fill(Qt::green);
        QVERIFY(green.save(m_dir.filePath("green.png")));
        for (const Screen &screen : screens)
            QCOMPARE(errorOf(Platform::instance().desktopPictures().setDesktopImage(
                         QUrl::fromLocalFile(m_dir.filePath("green.png")), screen, {})),
                     std::nullopt);

        const QString manifest = QStringLiteral(
            "[{\"id\":\"w1\",\"name\":\"Red Field\",\"category\":\"Nature\",\"resolution\":"
            "\"640x360\",\"durationSeconds\":2,\"video\":\"%1/v/red.mp4\"},"
            "{\"id\":\"w2\",\"name\":\"Lost Field\",\"category\":\"Nature\",\"durationSeconds\":2,"
            "\"video\":\"%1/v/missing.mp4\"},"
            "{\"id\":\"w3\",\"name\":\"Slow Field\",\"category\":\"Nature\",\"durationSeconds\":2,"
            "\"video\":\"%1/slow/green.mp4\"}]");
        const QString base = m_server.url("/").toString().chopped(1);
        m_server.setHandler([manifest = manifest.arg(base).toUtf8()](const auto &request) {
            const QByteArray path = request.path();
            if (path.startsWith("/v/") || path.startsWith("/slow/")) {
                const QString name = QString::fromUtf8(path.mid(path.lastIndexOf('/') + 1));
                LoopbackHttpServer::Response file =
                    LoopbackHttpServer::file(mediaPath(name.chopped(4)), request);
                if (path.startsWith("/slow/") && !request.header("range"))
                    file.throttleBytes = 300;
                return file;
            }
            return LoopbackHttpServer::json(path == "/likes" ? "{}" : manifest);
        });
        qputenv("LUMIVALE_MANIFEST_URL", m_server.url("/manifest").toString().toUtf8());
        m_window = std::make_unique<GalleryWindow>();
        m_window->showNormal();
        m_window->setPosition(0, 0);
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QTRY_VERIFY(m_window->geometry().bottom() < 940); // openbox may move it down a little
        QTRY_COMPARE(content().library().wallpapers().size(), 3);
        QTRY_VERIFY(card("w1") && card("w1")->isVisible());
    }

    void cleanupTestCase()
    {
        m_window.reset();
        manager().releaseWindows();
        QTest::qWait(2500);
        QTRY_VERIFY_WITH_TIMEOUT(MpvCore::pendingTerminations() == 0, 5000);
    }

    void applyToOneScreenAndTurnOff()
    {
        QVERIFY(open("w1"));
        QTest::qWait(1500); // the video comes up
        screenshot("detail.png");
        QVERIFY(click(item("mainButton")));
        QTRY_VERIFY(page()->isDisplayPickerPresented());
        screenshot("detail-picker.png");
        QVERIFY(click(item("displayTile_" + m_left)));
        QTRY_COMPARE(page()->selectedScreenIDs(), QSet<QString>{m_right});
        QVERIFY(click(item("confirmButton")));
        QTRY_COMPARE_WITH_TIMEOUT(manager().currentWallpaperID(), "w1", 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!page()->isApplying(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(right(), Hue::Red, 10000);
        QCOMPARE(leftBelowGallery(), Hue::Green);
        QCOMPARE(item("mainButtonTitle")->property("text"), "Turn Off");
        screenshot("detail-current.png");
        QTRY_COMPARE(card("w1")->property("stateChip").value<QQuickItem *>()->property("text"),
                     "ACTIVE");

        QVERIFY(click(item("mainButton")));
        QTRY_VERIFY(manager().currentWallpaperID().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(right(), Hue::Green, 10000);
        QVERIFY(click(item("backButton")));
        QTRY_VERIFY(!content().hasSelectedWallpaper());
    }

    void failedDownloadKeepsThePicker()
    {
        QVERIFY(open("w2"));
        QVERIFY(click(item("mainButton")));
        QTRY_VERIFY(item("confirmButton"));
        QVERIFY(click(item("confirmButton")));
        QTRY_VERIFY(item("applyError"));
        QVERIFY(page()->isDisplayPickerPresented());
        screenshot("detail-error.png");
        QVERIFY(xdotool({"key", "Escape"}));
        QTRY_VERIFY(!page()->isDisplayPickerPresented());
        QVERIFY(xdotool({"key", "Escape"}));
        QTRY_VERIFY(!content().hasSelectedWallpaper());
    }

    void slowDownloadShowsProgress()
    {
        QVERIFY(open("w3"));
        QVERIFY(click(item("mainButton")));
        QTRY_VERIFY(item("confirmButton"));
        QVERIFY(click(item("confirmButton")));
        QList<double> fractions;
        QStringList titles;
        QVERIFY(QTest::qWaitFor(
            [&] {
                fractions.append(page()->downloadFraction());
                titles.append(item("confirmTitle")->property("text").toString());
                return manager().currentWallpaperID() == "w3";
            },
            20000));
        fractions.removeAll(-1.0);
        QVERIFY2(fractions.size() >= 3, qPrintable(QString::number(fractions.size())));
        QVERIFY(std::is_sorted(fractions.begin(), fractions.end()));
        QVERIFY(titles.filter(QRegularExpression("^Downloading \\d+ %$")).size() >= 2);
        QTRY_VERIFY_WITH_TIMEOUT(!page()->isApplying(), 20000);
        QVERIFY(click(item("mainButton")));
        QTRY_VERIFY(manager().currentWallpaperID().isEmpty());
        QVERIFY(click(item("backButton")));
        QTRY_VERIFY(!content().hasSelectedWallpaper());
    }

    void likeAndUnlike()
    {
        QVERIFY(open("w1"));
        QVERIFY(click(item("likeButton")));
        QTRY_VERIFY(content().likes().isLiked("w1"));
        QVERIFY(click(item("backButton")));
        content().selectTab(ContentView::AppTab::Likes);
        QTRY_VERIFY(item("likesGrid") && card("w1") && card("w1")->isVisible());
        screenshot("likes.png");
        QVERIFY(open("w1"));
        QVERIFY(click(item("likeButton")));
        QTRY_VERIFY(!content().likes().isLiked("w1"));
        QVERIFY(click(item("backButton")));
        QTRY_VERIFY(item("likesEmpty"));
        QTRY_VERIFY(!card("w1") || !card("w1")->isVisible());
        screenshot("likes-empty.png");
    }
};

LUMIVALE_X11_TEST_MAIN(TestDetailX11, 2560, 960)
#include "tst_detail_x11.moc"
