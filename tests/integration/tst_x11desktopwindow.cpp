// The real desktop window under Xvfb and openbox: X11 hints and stacking,
// hand-overs and loops seen on the X server's screen, and bad files.

#include "app/runtime.h"
#include "desktop/wallpapermanager.h"
#include "platform/linux/mpvcore.h"
#include "platform/linux/x11desktopsurface.h"
#include "platform/platform.h"
#include "platform/userdefaults.h"
#include "support/xsession.h"

#include <QApplication>
#include <QRasterWindow>
#include <QTemporaryDir>
#include <QTest>
#include <qcoro/qcorotask.h>

using namespace lumivale;
using namespace lumivale::test;

namespace {

QUrl video(const QString &name)
{
    return QUrl::fromLocalFile(mediaPath(name));
}

QString windowIDText(const DesktopWindow &window)
{
    auto &surface = static_cast<X11DesktopSurface &>(window.surface());
    return QStringLiteral("0x%1").arg(surface.nativeWindowID(), 0, 16);
}

// Stacking order from the window manager, bottom first.
QStringList stackingOrder()
{
    const QString text =
        XSession::run(QStringLiteral("xprop"),
                      {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    const qsizetype hash = text.indexOf(u'#');
    QStringList ids;
    if (hash < 0)
        return ids;
    for (const QString &part : text.mid(hash + 1).split(u',', Qt::SkipEmptyParts))
        ids.append(QStringLiteral("0x%1").arg(part.trimmed().toULongLong(nullptr, 16), 0, 16));
    return ids;
}

QString xprop(const QString &window, const QString &property)
{
    return XSession::run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, property});
}

Hue hueAtCenter()
{
    return classify(XSession::colorAt(QPoint(638, 358)));
}

} // namespace

class TestX11DesktopWindow : public QObject
{
    Q_OBJECT

public:
    XSession *session = nullptr;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<WallpaperManager> m_manager;

    DesktopWindow &onlyWindow() { return *m_manager->windows().begin()->second; }

    void applyAndWaitFor(const QString &name, Hue hue)
    {
        m_manager->apply(video(name), name);
        // Shown on screen and promoted: a first video shows before it is
        // promoted, and a newer request would still replace it outright.
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCenter(), hue, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(onlyWindow().currentVideoURL() == video(name), 10000);
    }

    // Records the screen through a hand-over and checks every sample.
    void expectCleanHandOver(const QString &from, Hue fromHue, const QString &to, Hue toHue)
    {
        ScreenSampler sampler(QRect(600, 320, 80, 80));
        sampler.start();
        QTest::qWait(100);
        m_manager->apply(video(to), to);
        QTRY_VERIFY_WITH_TIMEOUT(onlyWindow().currentVideoURL() == video(to), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCenter(), toHue, 5000);
        QTest::qWait(300);
        const QList<ScreenSampler::Sample> samples = sampler.stop();
        QVERIFY(samples.size() > 20);
        bool switched = false;
        for (const ScreenSampler::Sample &sample : samples) {
            const Hue hue = classify(sample.color);
            QVERIFY2(hue == fromHue || hue == toHue,
                     qPrintable(QStringLiteral("%1 at %2 ms during %3 → %4: %5")
                                    .arg(QString::fromLatin1(hueName(hue)))
                                    .arg(sample.msecs)
                                    .arg(from, to, sample.color.name())));
            // Once the new video shows, the old one never comes back.
            if (hue == toHue)
                switched = true;
            else
                QVERIFY2(!switched, "the old video came back after the new one showed");
        }
        QVERIFY(switched);
    }

private Q_SLOTS:
    void initTestCase() { qputenv("LUMIVALE_DESKTOP_PICTURES", "x11"); }

    void init()
    {
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("d.json")));
        m_manager = std::make_unique<WallpaperManager>(Platform::instance(), *m_defaults);
    }

    void cleanup()
    {
        m_manager.reset();
        QVERIFY(waitUntil([] { return X11DesktopSurface::pendingDisposals() == 0; }, 10000));
        m_defaults.reset();
    }

    void cleanupTestCase()
    {
        QVERIFY(waitUntil([] { return MpvCore::pendingTerminations() == 0; }, 10000));
    }

    // The type, the workspace and the states are in place as soon as the
    // window is mapped, the first time and after it was hidden and shown.
    void windowIsADesktopWindowOnEveryWorkspace_data()
    {
        QTest::addColumn<bool>("shownAgain");
        QTest::newRow("first map") << false;
        QTest::newRow("shown again") << true;
    }
    void windowIsADesktopWindowOnEveryWorkspace()
    {
        QFETCH(bool, shownAgain);
        m_manager->apply(video(QStringLiteral("red")), QStringLiteral("red"));
        const QString id = windowIDText(onlyWindow());
        const auto viewable = [&] {
            return XSession::run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id})
                .contains(QStringLiteral("IsViewable"));
        };
        QTRY_VERIFY_WITH_TIMEOUT(viewable(), 10000);
        if (shownAgain) {
            onlyWindow().close();
            QTRY_VERIFY(!viewable());
            onlyWindow().playVideo(video(QStringLiteral("red")));
            QTRY_VERIFY(viewable());
        }
        QVERIFY2(xprop(id, QStringLiteral("_NET_WM_WINDOW_TYPE"))
                     .contains(QStringLiteral("_NET_WM_WINDOW_TYPE_DESKTOP")),
                 qPrintable(xprop(id, QStringLiteral("_NET_WM_WINDOW_TYPE"))));
        // Every state the window manager knows of (openbox has no sticky state:
        // its windows on every workspace say so with _NET_WM_DESKTOP).
        const QString state = xprop(id, QStringLiteral("_NET_WM_STATE"));
        const QString supported = XSession::run(
            QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTED")});
        for (const char *expected : {"_NET_WM_STATE_BELOW", "_NET_WM_STATE_STICKY",
                                     "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
            if (supported.contains(QLatin1String(expected) + u',') ||
                supported.trimmed().endsWith(QLatin1String(expected)))
                QVERIFY2(state.contains(QLatin1String(expected)), qPrintable(state));
        }
        QVERIFY2(
            xprop(id, QStringLiteral("_NET_WM_DESKTOP")).contains(QStringLiteral("4294967295")),
            qPrintable(xprop(id, QStringLiteral("_NET_WM_DESKTOP"))));
        QVERIFY(xprop(id, QStringLiteral("WM_HINTS")).contains(QStringLiteral("False")));
        // Covers the screen exactly, without decorations.
        const QString geometry =
            XSession::run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
        QVERIFY2(geometry.contains(QStringLiteral("Width: 1280")) &&
                     geometry.contains(QStringLiteral("Height: 720")),
                 qPrintable(geometry));
        QVERIFY2(geometry.contains(QStringLiteral("Absolute upper-left X:  0")),
                 qPrintable(geometry));
    }

    // Without a compositor the server keeps nothing of an area a window
    // uncovers: a paused wallpaper draws its last frame there again.
    void pausedWallpaperRepaintsWhatAWindowUncovers()
    {
        applyAndWaitFor(QStringLiteral("red"), Hue::Red);
        m_manager->pauseAll();
        QTest::qWait(200);
        QRasterWindow normal;
        normal.setGeometry(400, 200, 480, 320);
        normal.show();
        QVERIFY(QTest::qWaitForWindowExposed(&normal));
        QTest::qWait(200);
        normal.hide();
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCenter(), Hue::Red, 3000);
        QVERIFY(onlyWindow().player()->isPaused());
    }

    // Lumivale's own stills are never taken for the user's picture, and of two
    // quick applies the newer one's still is the one that stays set.
    void stillsOfQuickAppliesAndTheCapture()
    {
        const Screen screen = Platform::instance().screens().screens().first();
        m_manager->apply(video(QStringLiteral("green")), QStringLiteral("green"));
        auto older = m_manager->updateLockScreenFallback(video(QStringLiteral("green")),
                                                         QStringLiteral("green"));
        m_manager->apply(video(QStringLiteral("blue")), QStringLiteral("blue"));
        auto newer = m_manager->updateLockScreenFallback(video(QStringLiteral("blue")),
                                                         QStringLiteral("blue"));
        QCOMPARE(errorOf(QCoro::waitFor(std::move(newer))), std::nullopt);
        QCOMPARE(errorOf(QCoro::waitFor(std::move(older))), std::nullopt);
        QTest::qWait(200);
        const auto shown = Platform::instance().desktopPictures().desktopImageURL(screen);
        QVERIFY(shown);
        QCOMPARE(shown->fileName(), QStringLiteral("LockScreenFallback-blue.jpg"));

        m_defaults->remove(WallpaperManager::kPreviousDesktopSnapshotsKey);
        m_manager->previousDesktopStore().captureIfNeeded();
        QVERIFY(!m_defaults->contains(WallpaperManager::kPreviousDesktopSnapshotsKey));
    }

    void windowStaysBelowNormalWindowsAndTakesNoInput()
    {
        applyAndWaitFor(QStringLiteral("red"), Hue::Red);
        QRasterWindow normal;
        normal.setGeometry(100, 100, 300, 200);
        normal.show();
        QVERIFY(QTest::qWaitForWindowExposed(&normal));
        const QString wallpaper = windowIDText(onlyWindow());
        const QString other = QStringLiteral("0x%1").arg(normal.winId(), 0, 16);
        QTRY_VERIFY(stackingOrder().contains(other));
        QStringList order = stackingOrder();
        QVERIFY2(order.indexOf(wallpaper) < order.indexOf(other), qPrintable(order.join(u' ')));

        // Asking for the wallpaper again brings it "to the front" of the desktop level only.
        m_manager->apply(video(QStringLiteral("red")), QStringLiteral("red"));
        QTest::qWait(200);
        order = stackingOrder();
        QVERIFY2(order.indexOf(wallpaper) < order.indexOf(other), qPrintable(order.join(u' ')));

        // An empty input shape: clicks fall through to the desktop.
        auto &surface = static_cast<X11DesktopSurface &>(onlyWindow().surface());
        QCOMPARE(XSession::inputShapeRectangleCount(quint32(surface.nativeWindowID())), 0);
    }

    void handOverShowsNoBlackAndNoThirdColour()
    {
        applyAndWaitFor(QStringLiteral("red"), Hue::Red);
        expectCleanHandOver(QStringLiteral("red"), Hue::Red, QStringLiteral("blue"), Hue::Blue);
        expectCleanHandOver(QStringLiteral("blue"), Hue::Blue, QStringLiteral("green"), Hue::Green);
        expectCleanHandOver(QStringLiteral("green"), Hue::Green, QStringLiteral("red"), Hue::Red);
    }

    void loopPointShowsNoBlack()
    {
        applyAndWaitFor(QStringLiteral("red_short"), Hue::Red);
        ScreenSampler sampler(QRect(600, 320, 80, 80));
        sampler.start();
        QTest::qWait(3500); // three loops of a one-second video
        const auto samples = sampler.stop();
        QVERIFY(samples.size() > 50);
        for (const auto &sample : samples)
            QVERIFY2(classify(sample.color) == Hue::Red,
                     qPrintable(
                         QStringLiteral("%1 at %2 ms").arg(sample.color.name()).arg(sample.msecs)));
        QVERIFY(onlyWindow().player()->currentTime() < 1.1);
    }

    // Stored sideways with a display matrix: turned upright (red over blue)
    // on either render path, not drawn as stored (blue left of red).
    void quarterTurnedClipShowsUpright()
    {
        m_manager->apply(video(QStringLiteral("poster_rotated")), QStringLiteral("rotated"));
        QTRY_COMPARE_WITH_TIMEOUT(classify(XSession::colorAt(QPoint(300, 100))), Hue::Red, 10000);
        QCOMPARE(classify(XSession::colorAt(QPoint(1000, 620))), Hue::Blue);
    }

    void badFilesLeaveThePreviousVideoPlaying_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("not a video") << mediaPath(QStringLiteral("not-a-video.mp4"));
        QTest::newRow("empty") << mediaPath(QStringLiteral("empty.mp4"));
        QTest::newRow("truncated") << mediaPath(QStringLiteral("truncated.mp4"));
        QTest::newRow("missing") << m_dir.filePath(QStringLiteral("missing.mp4"));
    }
    void badFilesLeaveThePreviousVideoPlaying()
    {
        QFETCH(QString, file);
        applyAndWaitFor(QStringLiteral("red"), Hue::Red);
        VideoPlayer *shown = onlyWindow().player();
        ScreenSampler sampler(QRect(600, 320, 80, 80));
        sampler.start();
        m_manager->apply(QUrl::fromLocalFile(file), QStringLiteral("bad"));
        QTRY_VERIFY_WITH_TIMEOUT(!onlyWindow().pendingPlayer(), 10000);
        QTest::qWait(300);
        const auto samples = sampler.stop();
        QCOMPARE(onlyWindow().player(), shown);
        QCOMPARE(onlyWindow().currentVideoURL(), video(QStringLiteral("red")));
        QVERIFY(!shown->isPaused());
        for (const auto &sample : samples)
            QVERIFY2(classify(sample.color) == Hue::Red, qPrintable(sample.color.name()));
    }

    // A first file that cannot play does not become the wallpaper.
    void badFirstFileLeavesNoWallpaper()
    {
        const auto stored = m_defaults->string(WallpaperManager::kCurrentWallpaperIDKey);
        m_manager->apply(QUrl::fromLocalFile(mediaPath(QStringLiteral("not-a-video.mp4"))),
                         QStringLiteral("bad"));
        QTRY_VERIFY_WITH_TIMEOUT(m_manager->windows().empty(), 10000);
        QVERIFY(!m_manager->currentVideoURL());
        QCOMPARE(m_defaults->string(WallpaperManager::kCurrentWallpaperIDKey), stored);
    }

    void hiddenWindowStopsDecoding()
    {
        applyAndWaitFor(QStringLiteral("red"), Hue::Red);
        VideoPlayer *player = onlyWindow().player();
        QTest::qWait(300);
        onlyWindow().close();
        QTest::qWait(300);
        const double hiddenAt = player->currentTime();
        QTest::qWait(600);
        QCOMPARE(player->currentTime(), hiddenAt);
        QVERIFY(!player->isPaused());                         // still meant to play once seen again
        onlyWindow().playVideo(video(QStringLiteral("red"))); // shows the window again
        QTRY_VERIFY(player->currentTime() != hiddenAt);
    }

    void wallpaperSurvivesAWindowManagerRestart()
    {
        applyAndWaitFor(QStringLiteral("red"), Hue::Red);
        const QString id = windowIDText(onlyWindow());
        session->stopWindowManager();
        QVERIFY(session->startWindowManager());
        QTest::qWait(500);
        QVERIFY(stackingOrder().contains(id));
        QVERIFY(xprop(id, QStringLiteral("_NET_WM_STATE"))
                    .contains(QStringLiteral("_NET_WM_STATE_BELOW")));
        QTRY_COMPARE(hueAtCenter(), Hue::Red);
        expectCleanHandOver(QStringLiteral("red"), Hue::Red, QStringLiteral("blue"), Hue::Blue);
    }
};

LUMIVALE_X11_TEST_MAIN(TestX11DesktopWindow, 1280, 720)
#include "tst_x11desktopwindow.moc"
