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
    void constructionCoversTheScreenAndShowsNothing()
    {
        DesktopWindow window(m_platform, screen);
        QCOMPARE(window.screenID(), QStringLiteral("7"));
        QCOMPARE(surfaceOf(window)->frame(), screen.frame);
        QVERIFY(!surfaceOf(window)->isVisible());
        QVERIFY(!window.player());
        QVERIFY(!window.pendingPlayer());
    }

    void firstVideoIsVisibleBeforeItIsReady()
    {
        DesktopWindow window(m_platform, screen);
        window.playVideo(red);
        FakeVideoPlayer *pending = fakeOf(window.pendingPlayer());
        QVERIFY(pending);
        QCOMPARE(pending->layerOpacity(), 1.0);
        QVERIFY(!pending->isPaused());
        QVERIFY(surfaceOf(window)->isVisible());
        QCOMPARE(surfaceOf(window)->visiblePlayer(), pending);
        QCOMPARE(window.pendingVideoURL(), red);
        QVERIFY(!window.currentVideoURL());

        // The initial status (unknown) arrives and changes nothing.
        deliver();
        QCOMPARE(window.pendingPlayer(), pending);

        pending->reportStatus(Status::ReadyToPlay);
        // Reports always come back through the event queue.
        QCOMPARE(window.pendingPlayer(), pending);
        deliver();
        QCOMPARE(window.player(), pending);
        QCOMPARE(window.currentVideoURL(), red);
        QVERIFY(!window.pendingPlayer());
        QVERIFY(!window.pendingVideoURL());
    }

    void readyBeforeObservationIsStillSeen()
    {
        // A player that is ready at once is promoted by the initial report.
        DesktopWindow window(m_platform, screen);
        window.playVideo(red);
        fakeOf(window.pendingPlayer())->reportStatus(Status::ReadyToPlay);
        deliver();
        QCOMPARE(window.currentVideoURL(), red);
    }

    void failedFirstVideoLeavesTheWindowEmpty()
    {
        DesktopWindow window(m_platform, screen);
        window.playVideo(red);
        fakeOf(window.pendingPlayer())->reportStatus(Status::Failed);
        deliver();
        QVERIFY(!window.player());
        QVERIFY(!window.pendingPlayer());
        QVERIFY(!window.pendingVideoURL());
        QVERIFY(surfaceOf(window)->layers().isEmpty());
    }

    void handOverKeepsTheOldVideoUntilTheNewOneIsReady()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        FakeVideoPlayer *old = fakeOf(window.player());

        window.playVideo(blue);
        FakeVideoPlayer *pending = fakeOf(window.pendingPlayer());
        QCOMPARE(pending->layerOpacity(), 0.0);
        QVERIFY(!pending->isPaused()); // decodes while invisible
        QCOMPARE(surfaceOf(window)->layers(), (QList<FakeVideoPlayer *>{old, pending}));
        QCOMPARE(surfaceOf(window)->visiblePlayer(), old);
        QVERIFY(!old->isPaused());

        deliver();
        QCOMPARE(surfaceOf(window)->visiblePlayer(), old);

        const QPointer<FakeVideoPlayer> oldGuard(old);
        pending->reportStatus(Status::ReadyToPlay);
        deliver();
        QCOMPARE(window.player(), pending);
        QCOMPARE(window.currentVideoURL(), blue);
        QCOMPARE(pending->layerOpacity(), 1.0);
        QVERIFY(!oldGuard); // paused and dropped in the same step
        QCOMPARE(surfaceOf(window)->layers(), QList<FakeVideoPlayer *>{pending});
        QCOMPARE(surfaceOf(window)->visiblePlayer(), pending);
        QVERIFY(!pending->isPaused());
    }

    void failedHandOverKeepsTheOldVideoPlaying()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        FakeVideoPlayer *old = fakeOf(window.player());
        const int plays = old->playCount();

        window.playVideo(blue);
        fakeOf(window.pendingPlayer())->reportStatus(Status::Failed);
        deliver();
        QCOMPARE(window.player(), old);
        QCOMPARE(window.currentVideoURL(), red);
        QVERIFY(!window.pendingPlayer());
        QVERIFY(!old->isPaused());
        QCOMPARE(old->playCount(), plays);
        QCOMPARE(surfaceOf(window)->layers(), QList<FakeVideoPlayer *>{old});
    }

    void onlyTheNewestPreparationCanBePromoted()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        FakeVideoPlayer *old = fakeOf(window.player());

        window.playVideo(blue);
        const QPointer<FakeVideoPlayer> first(fakeOf(window.pendingPlayer()));
        const qint64 firstGeneration = window.playbackGeneration();
        // The first preparation becomes ready, but its report is still queued...
        first->reportStatus(Status::ReadyToPlay);
        // ...when a newer request replaces it.
        window.playVideo(green);
        QVERIFY(!first);
        QVERIFY(window.playbackGeneration() > firstGeneration);
        deliver();
        QCOMPARE(window.player(), old);
        QCOMPARE(window.pendingVideoURL(), green);

        fakeOf(window.pendingPlayer())->reportStatus(Status::ReadyToPlay);
        deliver();
        QCOMPARE(window.currentVideoURL(), green);
    }

    void sameVideoOnlyComesToTheFront()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        FakeVideoPlayer *player = fakeOf(window.player());
        player->pause();
        player->setCurrentTime(1.25);
        const int fronts = surfaceOf(window)->orderFrontCount();
        const qint64 generation = window.playbackGeneration();

        window.playVideo(red);
        QCOMPARE(window.player(), player);
        QVERIFY(!window.pendingPlayer());
        QVERIFY(!player->isPaused());
        QCOMPARE(player->currentTime(), 1.25); // goes on from where it was
        QCOMPARE(surfaceOf(window)->orderFrontCount(), fronts + 1);
        QCOMPARE(window.playbackGeneration(), generation);
    }

    void videoBeingPreparedIsNotRestarted()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        window.playVideo(blue);
        VideoPlayer *pending = window.pendingPlayer();
        const qint64 generation = window.playbackGeneration();
        window.playVideo(blue);
        QCOMPARE(window.pendingPlayer(), pending);
        QCOMPARE(window.playbackGeneration(), generation);
    }

    void shownVideoRequestedDuringHandOverIsPreparedAfresh()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        VideoPlayer *shown = window.player();
        window.playVideo(blue);
        const QPointer<VideoPlayer> blueGuard(window.pendingPlayer());

        window.playVideo(red);
        QVERIFY(!blueGuard);
        QVERIFY(window.pendingPlayer());
        QVERIFY(window.pendingPlayer() != shown);
        QCOMPARE(window.pendingVideoURL(), red);
        QCOMPARE(window.player(), shown);

        fakeOf(window.pendingPlayer())->reportStatus(Status::ReadyToPlay);
        deliver();
        QCOMPARE(window.currentVideoURL(), red);
        QVERIFY(window.player() != shown);
    }

    void playerWithoutItemIsPromotedAtOnce()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        surfaceOf(window)->setNewPlayersHaveItems(false);
        window.playVideo(blue);
        QCOMPARE(window.currentVideoURL(), blue);
        QVERIFY(!window.pendingPlayer());
        QCOMPARE(surfaceOf(window)->layers().size(), 1);
    }

    void endOfVideoLoopsFromTheStart()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        FakeVideoPlayer *player = fakeOf(window.player());
        player->setCurrentTime(1.9);
        player->pause();
        const int seeks = player->seekCount();
        player->reachEnd();
        QCOMPARE(player->seekCount(), seeks + 1);
        QCOMPARE(player->currentTime(), 0.0);
        QVERIFY(!player->isPaused());
    }

    void loopFollowsTheShownPlayerOnly()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        window.playVideo(blue);
        FakeVideoPlayer *pending = fakeOf(window.pendingPlayer());
        pending->reachEnd(); // not shown yet: nobody loops it
        QCOMPARE(pending->seekCount(), 0);
        pending->reportStatus(Status::ReadyToPlay);
        deliver();
        pending->reachEnd();
        QCOMPARE(pending->seekCount(), 1);
    }

    void updateFrameFollowsTheScreen()
    {
        DesktopWindow window(m_platform, screen);
        show(window, red);
        window.playVideo(blue);
        Screen resized = screen;
        resized.frame = QRect(0, 0, 2560, 1440);
        window.updateFrame(resized);
        // Both layers fill the surface, so both follow it.
        QCOMPARE(surfaceOf(window)->frame(), resized.frame);
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
