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
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <qcoro/qcorotask.h>

using namespace lumivale;
using namespace lumivale::test;
using namespace Qt::StringLiterals;

namespace {

QUrl video(const QString &name)
{
    return QUrl::fromLocalFile(mediaPath(name));
}

// Stacking order from the window manager, bottom first.
QStringList stackingOrder()
{
    const QString text = XSession::run(u"xprop"_s, {u"-root"_s, u"_NET_CLIENT_LIST_STACKING"_s});
    QStringList ids;
    for (const QRegularExpressionMatch &id : QRegularExpression(u"0x[0-9a-f]+"_s).globalMatch(text))
        ids.append(id.captured());
    return ids;
}

QString xprop(const QString &window, const QString &property)
{
    return XSession::run(u"xprop"_s, {u"-id"_s, window, property});
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
                     qPrintable(u"%1 at %2 ms during %3 → %4: %5"_s
                                    .arg(QVariant::fromValue(hue).toString())
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
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(u"d.json"_s));
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
    // window is mapped: the first time, after it was hidden and shown, and
    // when a new window manager takes it over. It covers the screen, takes
    // no input, and stays below a normal window, also when asked for again.
    void windowIsADesktopWindowOnEveryWorkspace_data()
    {
        QTest::addColumn<QString>("then");
        QTest::newRow("first map") << QString();
        QTest::newRow("shown again") << "show again";
        QTest::newRow("window manager restarted") << "restart";
    }
    void windowIsADesktopWindowOnEveryWorkspace()
    {
        QFETCH(QString, then);
        m_manager->apply(video(u"red"_s), u"red"_s);
        auto &surface = static_cast<X11DesktopSurface &>(onlyWindow().surface());
        const QString id = u"0x%1"_s.arg(surface.nativeWindowID(), 0, 16);
        const auto viewable = [&] {
            return XSession::run(u"xwininfo"_s, {u"-id"_s, id}).contains(u"IsViewable"_s);
        };
        QTRY_VERIFY_WITH_TIMEOUT(viewable(), 10000);
        if (then == u"show again") {
            onlyWindow().close();
            QTRY_VERIFY(!viewable());
            onlyWindow().playVideo(video(u"red"_s));
            QTRY_VERIFY(viewable());
        } else if (then == u"restart") {
            session->stopWindowManager();
            QVERIFY(session->startWindowManager());
            QTRY_VERIFY(stackingOrder().contains(id));
        }
        QVERIFY2(xprop(id, u"_NET_WM_WINDOW_TYPE"_s).contains(u"_NET_WM_WINDOW_TYPE_DESKTOP"_s),
                 qPrintable(xprop(id, u"_NET_WM_WINDOW_TYPE"_s)));
        // Every state the window manager knows of (openbox has no sticky state:
        // its windows on every workspace say so with _NET_WM_DESKTOP).
        const QString state = xprop(id, u"_NET_WM_STATE"_s);
        const QString supported = XSession::run(u"xprop"_s, {u"-root"_s, u"_NET_SUPPORTED"_s});
        for (const char *expected : {"_NET_WM_STATE_BELOW", "_NET_WM_STATE_STICKY",
                                     "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
            if (supported.contains(QLatin1String(expected) + u',') ||
                supported.trimmed().endsWith(QLatin1String(expected)))
                QVERIFY2(state.contains(QLatin1String(expected)), qPrintable(state));
        }
        QVERIFY2(xprop(id, u"_NET_WM_DESKTOP"_s).contains(u"4294967295"_s),
                 qPrintable(xprop(id, u"_NET_WM_DESKTOP"_s)));
        QVERIFY(xprop(id, u"WM_HINTS"_s).contains(u"False"_s));
        // Covers the screen exactly, without decorations.
        const QString geometry = XSession::run(u"xwininfo"_s, {u"-id"_s, id});
        QVERIFY2(geometry.contains(u"Width: 1280"_s) && geometry.contains(u"Height: 720"_s),
                 qPrintable(geometry));
        QVERIFY2(geometry.contains(u"Absolute upper-left X:  0"_s), qPrintable(geometry));
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCenter(), Hue::Red, 10000);
        // An empty input shape: clicks fall through to the desktop.
        QCOMPARE(XSession::inputShapeRectangleCount(quint32(surface.nativeWindowID())), 0);

        QRasterWindow normal;
        normal.setGeometry(100, 100, 300, 200);
        normal.show();
        QVERIFY(QTest::qWaitForWindowExposed(&normal));
        const QString other = u"0x%1"_s.arg(normal.winId(), 0, 16);
        QTRY_VERIFY(stackingOrder().contains(other));
        QStringList order = stackingOrder();
        QVERIFY2(order.indexOf(id) < order.indexOf(other), qPrintable(order.join(u' ')));
        // Asking for the wallpaper again brings it "to the front" of the desktop level only.
        m_manager->apply(video(u"red"_s), u"red"_s);
        QTest::qWait(200);
        order = stackingOrder();
        QVERIFY2(order.indexOf(id) < order.indexOf(other), qPrintable(order.join(u' ')));
        normal.close();
        if (then == u"restart")
            expectCleanHandOver(u"red"_s, Hue::Red, u"blue"_s, Hue::Blue);
    }

    // A hidden window stops decoding, and goes on once shown again. Without
    // a compositor the server keeps nothing of an area a window uncovers: a
    // paused wallpaper draws its last frame there again.
    void hiddenOrPausedWallpaperKeepsItsFrame()
    {
        applyAndWaitFor(u"red"_s, Hue::Red);
        VideoPlayer *player = onlyWindow().player();
        QTest::qWait(300);
        onlyWindow().close();
        QTest::qWait(300);
        const double hiddenAt = player->currentTime();
        QTest::qWait(600);
        QCOMPARE(player->currentTime(), hiddenAt);
        QVERIFY(!player->isPaused());            // still meant to play once seen again
        onlyWindow().playVideo(video(u"red"_s)); // shows the window again
        QTRY_VERIFY(player->currentTime() != hiddenAt);

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
        m_manager->apply(video(u"green"_s), u"green"_s);
        auto older = m_manager->updateLockScreenFallback(video(u"green"_s), u"green"_s);
        m_manager->apply(video(u"blue"_s), u"blue"_s);
        auto newer = m_manager->updateLockScreenFallback(video(u"blue"_s), u"blue"_s);
        QCOMPARE(errorOf(QCoro::waitFor(std::move(newer))), std::nullopt);
        QCOMPARE(errorOf(QCoro::waitFor(std::move(older))), std::nullopt);
        QTest::qWait(200);
        const auto shown = Platform::instance().desktopPictures().desktopImageURL(screen);
        QCOMPARE(shown.value_or(QUrl()).fileName(), u"LockScreenFallback-blue.jpg"_s);

        m_defaults->remove(WallpaperManager::kPreviousDesktopSnapshotsKey);
        m_manager->previousDesktopStore().captureIfNeeded();
        QVERIFY(!m_defaults->contains(WallpaperManager::kPreviousDesktopSnapshotsKey));
    }

    void handOverShowsNoBlackAndNoThirdColour()
    {
        applyAndWaitFor(u"red"_s, Hue::Red);
        expectCleanHandOver(u"red"_s, Hue::Red, u"blue"_s, Hue::Blue);
        expectCleanHandOver(u"blue"_s, Hue::Blue, u"green"_s, Hue::Green);
        expectCleanHandOver(u"green"_s, Hue::Green, u"red"_s, Hue::Red);
    }

    void loopPointShowsNoBlack()
    {
        applyAndWaitFor(u"red_short"_s, Hue::Red);
        ScreenSampler sampler(QRect(600, 320, 80, 80));
        QTest::qWait(3500); // three loops of a one-second video
        const auto samples = sampler.stop();
        QVERIFY(samples.size() > 50);
        for (const auto &sample : samples)
            QVERIFY2(classify(sample.color) == Hue::Red,
                     qPrintable(u"%1 at %2 ms"_s.arg(sample.color.name()).arg(sample.msecs)));
        QVERIFY(onlyWindow().player()->currentTime() < 1.1);
    }

    // Stored sideways with a display matrix: turned upright (red over blue)
    // on either render path, not drawn as stored (blue left of red).
    void quarterTurnedClipShowsUpright()
    {
        m_manager->apply(video(u"poster_rotated"_s), u"rotated"_s);
        QTRY_COMPARE_WITH_TIMEOUT(classify(XSession::colorAt(QPoint(300, 100))), Hue::Red, 10000);
        QCOMPARE(classify(XSession::colorAt(QPoint(1000, 620))), Hue::Blue);
    }

    void badFilesLeaveThePreviousVideoPlaying_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("not a video") << mediaPath(u"not-a-video.mp4"_s);
        QTest::newRow("empty") << mediaPath(u"empty.mp4"_s);
        QTest::newRow("truncated") << mediaPath(u"truncated.mp4"_s);
        QTest::newRow("missing") << m_dir.filePath(u"missing.mp4"_s);
    }
    void badFilesLeaveThePreviousVideoPlaying()
    {
        QFETCH(QString, file);
        applyAndWaitFor(u"red"_s, Hue::Red);
        VideoPlayer *shown = onlyWindow().player();
        ScreenSampler sampler(QRect(600, 320, 80, 80));
        m_manager->apply(QUrl::fromLocalFile(file), u"bad"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!onlyWindow().pendingPlayer(), 10000);
        QTest::qWait(300);
        const auto samples = sampler.stop();
        QCOMPARE(onlyWindow().player(), shown);
        QCOMPARE(onlyWindow().currentVideoURL(), video(u"red"_s));
        QVERIFY(!shown->isPaused());
        for (const auto &sample : samples)
            QVERIFY2(classify(sample.color) == Hue::Red, qPrintable(sample.color.name()));
    }
};

LUMIVALE_X11_TEST_MAIN(TestX11DesktopWindow, 1280, 720)
#include "tst_x11desktopwindow.moc"
