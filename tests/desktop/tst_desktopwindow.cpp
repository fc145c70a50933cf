#include "desktop/desktopwindow.h"
#include "platform/fake/fakeplatform.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QPointer>
#include <QTest>

using namespace lumivale;
using namespace lumivale::fake;
using Status = VideoPlayer::ItemStatus;

namespace {
const QUrl red = QUrl::fromLocalFile(QStringLiteral("/videos/red.mp4"));
const QUrl blue = QUrl::fromLocalFile(QStringLiteral("/videos/blue.mp4"));
const QUrl green = QUrl::fromLocalFile(QStringLiteral("/videos/green.mp4"));
const Screen screen{QStringLiteral("DP-1"), 7, QRect(0, 0, 1920, 1080)};

FakeVideoPlayer *fakeOf(VideoPlayer *player)
{
    return static_cast<FakeVideoPlayer *>(player);
}

// Lets queued status reports reach the window.
void deliver()
{
    QCoreApplication::processEvents();
}
} // namespace

class TestDesktopWindow : public QObject
{
    Q_OBJECT

private:
    FakePlatform m_platform;

    FakeDesktopSurface *surfaceOf(DesktopWindow &window)
    {
        return static_cast<FakeDesktopSurface *>(&window.surface());
    }

    // Brings a window to "showing" with `url`.
    void show(DesktopWindow &window, const QUrl &url)
    {
        window.playVideo(url);
        fakeOf(window.pendingPlayer())->reportStatus(Status::ReadyToPlay);
        deliver();
        QCOMPARE(window.currentVideoURL(), url);
        QVERIFY(!window.pendingPlayer());
    }

private Q_SLOTS:
    // A new window covers its screen and shows nothing. The first video is
    // visible while it is prepared, and its report reaches the window only
    // through the event queue: ready, it is the shown one; failed, the window
    // is left empty.
    void firstVideoIsVisibleBeforeItIsReady_data()
    {
        QTest::addColumn<Status>("report");
        QTest::newRow("ready") << Status::ReadyToPlay;
        QTest::newRow("failed") << Status::Failed;
    }
    void firstVideoIsVisibleBeforeItIsReady()
    {
        QFETCH(Status, report);
        DesktopWindow window(m_platform, screen);
        QCOMPARE(window.screenID(), QStringLiteral("7"));
        QCOMPARE(surfaceOf(window)->frame(), screen.frame);
        QVERIFY(!surfaceOf(window)->isVisible() && !window.player() && !window.pendingPlayer());
        window.playVideo(red);
        FakeVideoPlayer *pending = fakeOf(window.pendingPlayer());
        QVERIFY(pending);
        QCOMPARE(pending->layerOpacity(), 1.0);
        QVERIFY(!pending->isPaused());
        QVERIFY(surfaceOf(window)->isVisible());
        QCOMPARE(surfaceOf(window)->visiblePlayer(), pending);
        QCOMPARE(window.pendingVideoURL(), red);
        QVERIFY(!window.currentVideoURL());
        deliver(); // the initial status (unknown) changes nothing
        QCOMPARE(window.pendingPlayer(), pending);

        pending->reportStatus(report);
        QCOMPARE(window.pendingPlayer(), pending);
        deliver();
        const bool ready = report == Status::ReadyToPlay;
        QCOMPARE(window.player(), ready ? pending : nullptr);
        QCOMPARE(window.currentVideoURL(), ready ? std::optional(red) : std::nullopt);
        QCOMPARE(surfaceOf(window)->layers().size(), ready ? 1 : 0);
        QVERIFY(!window.pendingPlayer());
        QVERIFY(!window.pendingVideoURL());
    }

    // Requests made while red is shown; `reportAfter`: after which request
    // the then pending player reports `report` (-1: none). The report is
    // delivered only once every request is made, so that a late report of a
    // superseded preparation is tried too.
    void requestsWhileShowing_data()
    {
        QTest::addColumn<QList<QUrl>>("requests");
        QTest::addColumn<bool>("playersHaveItems");
        QTest::addColumn<int>("reportAfter");
        QTest::addColumn<Status>("report");
        QTest::addColumn<QUrl>("shown");
        QTest::addColumn<QUrl>("pending"); // empty: none
        QTest::addColumn<int>("preparations");
        QTest::addColumn<int>("oldPlays"); // further play() calls on the old player

        const QList<QUrl> toBlue{blue};
        QTest::newRow("old stays until the new one is ready")
            << toBlue << true << -1 << Status::Unknown << red << blue << 1 << 0;
        QTest::newRow("ready: shown and old dropped in one step")
            << toBlue << true << 0 << Status::ReadyToPlay << blue << QUrl() << 1 << 0;
        QTest::newRow("failed: old keeps playing untouched")
            << toBlue << true << 0 << Status::Failed << red << QUrl() << 1 << 0;
        QTest::newRow("superseded ready report is ignored")
            << QList<QUrl>{blue, green} << true << 0 << Status::ReadyToPlay << red << green << 2
            << 0;
        QTest::newRow("same video only comes to the front")
            << QList<QUrl>{red} << true << -1 << Status::Unknown << red << QUrl() << 0 << 1;
        QTest::newRow("video being prepared is not restarted")
            << QList<QUrl>{blue, blue} << true << -1 << Status::Unknown << red << blue << 1 << 0;
        QTest::newRow("shown video asked during hand-over is prepared afresh")
            << QList<QUrl>{blue, red} << true << -1 << Status::Unknown << red << red << 2 << 0;
        QTest::newRow("player without item is promoted at once")
            << toBlue << false << -1 << Status::Unknown << blue << QUrl() << 1 << 0;
    }

    void requestsWhileShowing()
    {
        QFETCH(QList<QUrl>, requests);
        QFETCH(bool, playersHaveItems);
        QFETCH(int, reportAfter);
        QFETCH(Status, report);
        QFETCH(QUrl, shown);
        QFETCH(QUrl, pending);
        QFETCH(int, preparations);
        QFETCH(int, oldPlays);

        DesktopWindow window(m_platform, screen);
        show(window, red);
        FakeDesktopSurface *surface = surfaceOf(window);
        surface->setNewPlayersHaveItems(playersHaveItems);
        const QPointer<FakeVideoPlayer> old(fakeOf(window.player()));
        old->setCurrentTime(1.25);
        const int plays = old->playCount();
        const int fronts = surface->orderFrontCount();
        const qint64 generation = window.playbackGeneration();

        QList<QPointer<FakeVideoPlayer>> made;
        for (qsizetype i = 0; i < requests.size(); ++i) {
            window.playVideo(requests[i]);
            FakeVideoPlayer *now = fakeOf(window.pendingPlayer());
            if (now && !made.contains(now))
                made.append(now);
            if (now && i == reportAfter)
                now->reportStatus(report);
        }
        deliver();

        QCOMPARE(window.currentVideoURL(), shown);
        QCOMPARE(window.pendingVideoURL().value_or(QUrl()), pending);
        QCOMPARE(int(window.playbackGeneration() - generation), preparations);
        QCOMPARE(surface->orderFrontCount() - fronts, int(requests.size()));
        FakeVideoPlayer *player = fakeOf(window.player());
        FakeVideoPlayer *next = fakeOf(window.pendingPlayer());
        // Every other player made on the way is gone, and so is the old one
        // once replaced.
        for (const auto &each : made)
            QVERIFY(!each || each == player || each == next);
        QCOMPARE(bool(old), player == old);
        QList<FakeVideoPlayer *> layers{player};
        if (next)
            layers.append(next);
        QCOMPARE(surface->layers(), layers);
        QCOMPARE(surface->visiblePlayer(), player);
        QCOMPARE(player->layerOpacity(), 1.0);
        QVERIFY(!player->isPaused());
        if (player == old) {
            QCOMPARE(old->playCount() - plays, oldPlays);
            QCOMPARE(old->currentTime(), 1.25); // goes on from where it was
        }
        if (!next)
            return;
        QCOMPARE(next->layerOpacity(), 0.0);
        QVERIFY(!next->isPaused()); // decodes while invisible
        next->reportStatus(Status::ReadyToPlay);
        deliver();
        QCOMPARE(window.player(), next);
        QCOMPARE(window.currentVideoURL(), pending);
        QVERIFY(!old);
    }

    // The shown player loops from the start, playing; a player still being
    // prepared is nobody's to loop until it is shown.
    void onlyTheShownPlayerLoops()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        FakeVideoPlayer *player = fakeOf(window.player());
        player->setCurrentTime(1.9);
        player->pause();
        player->reachEnd();
        QCOMPARE(player->seekCount(), 1);
        QCOMPARE(player->currentTime(), 0.0);
        QVERIFY(!player->isPaused());

        window.playVideo(blue);
        FakeVideoPlayer *pending = fakeOf(window.pendingPlayer());
        pending->reachEnd();
        QCOMPARE(pending->seekCount(), 0);
        pending->reportStatus(Status::ReadyToPlay);
        deliver();
        pending->reachEnd();
        QCOMPARE(pending->seekCount(), 1);
    }

    void closeHidesAndDestructionStopsEverything()
    {
        auto window = std::make_unique<DesktopWindow>(m_platform, screen);
        show(*window, red);
        window->playVideo(blue);
        FakeVideoPlayer *pending = fakeOf(window->pendingPlayer());
        pending->reportStatus(Status::ReadyToPlay); // queued, arrives after destruction
        window->close();
        QVERIFY(!surfaceOf(*window)->isVisible());
        const QPointer<FakeDesktopSurface> surface(surfaceOf(*window));
        window.reset();
        QVERIFY(!surface);
        deliver(); // the late report finds no window and does nothing
    }
};

LUMIVALE_TEST_MAIN(TestDesktopWindow)
#include "tst_desktopwindow.moc"
