#include "gallery/videosurfaceplayback.h"
#include "platform/fake/fakeplatform.h"
#include "support/stdoutcapture.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QTest>
#include <functional>

using namespace lumivale;
using namespace lumivale::fake;
using State = VideoSurfacePlayback::State;
using Status = GalleryPlayer::ItemStatus;

namespace {
const QUrl red(QStringLiteral("https://videos.example/red.mp4"));
const QUrl blue(QStringLiteral("https://videos.example/blue.mp4"));

// A surface on screen over the fake platform's players.
struct Surface
{
    FakePlatform platform;
    VideoSurfacePlayback playback{
        [this](const QUrl &url) { return platform.createGalleryPlayer(url, nullptr); }};

    Surface() { playback.setOnScreen(true); }
    FakeGalleryPlayer *player() const
    {
        return static_cast<FakeGalleryPlayer *>(playback.player());
    }
    void report(Status status, const QString &error = {}) { player()->reportStatus(status, error); }
    // Playing `url` with its first frame drawn.
    void showing(const QUrl &url)
    {
        playback.setUrl(url);
        playback.setPlaying(true);
        report(Status::ReadyToPlay);
    }
};

using Steps = std::function<void(Surface &)>;
} // namespace

Q_DECLARE_METATYPE(Steps)

class TestVideoSurface : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void transitions_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<int>("playersMade");
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("paused"); // of the player left, if any

        QTest::newRow("no url: placeholder only")
            << Steps([](Surface &s) { s.playback.setPlaying(true); }) << 0 << State::Idle << false;
        QTest::newRow("playing: loading until the first frame") << Steps([](Surface &s) {
            s.playback.setUrl(red);
            s.playback.setPlaying(true);
        }) << 1 << State::Loading << false;
        QTest::newRow("first frame: ready")
            << Steps([](Surface &s) { s.showing(red); }) << 1 << State::Ready << false;
        QTest::newRow("paused and released: no player") << Steps([](Surface &s) {
            s.playback.setReleaseWhenPaused(true);
            s.playback.setUrl(red);
        }) << 0 << State::Idle << false;
        QTest::newRow("release when paused drops the player") << Steps([](Surface &s) {
            s.playback.setReleaseWhenPaused(true);
            s.showing(red);
            s.playback.setPlaying(false);
        }) << 1 << State::Idle << false;
        QTest::newRow("playing again after a release makes a new player, loading")
            << Steps([](Surface &s) {
                   s.playback.setReleaseWhenPaused(true);
                   s.showing(red);
                   s.playback.setPlaying(false);
                   s.playback.setPlaying(true);
               })
            << 2 << State::Loading << false;
        QTest::newRow("pause without release holds the frame") << Steps([](Surface &s) {
            s.showing(red);
            s.playback.setPlaying(false);
        }) << 1 << State::Ready << true;
        QTest::newRow("muting, gravity and play/pause keep the player") << Steps([](Surface &s) {
            s.showing(red);
            s.playback.setMuted(false);
            s.playback.setGravity(GalleryPlayer::Gravity::ResizeAspect);
            s.playback.setPlaying(false);
            s.playback.setPlaying(true);
            QVERIFY(!s.player()->isMuted());
            QCOMPARE(s.player()->gravity(), GalleryPlayer::Gravity::ResizeAspect);
        }) << 1 << State::Ready << false;
        QTest::newRow("a new url replaces the player, placeholder until ready")
            << Steps([](Surface &s) {
                   s.showing(red);
                   s.playback.setUrl(blue);
                   QCOMPARE(s.player()->url(), blue);
               })
            << 2 << State::Loading << false;
        QTest::newRow("no url any more: released") << Steps([](Surface &s) {
            s.showing(red);
            s.playback.setUrl(QUrl());
        }) << 1 << State::Idle << false;
        QTest::newRow("off screen: released, and a fresh player on return")
            << Steps([](Surface &s) {
                   s.showing(red);
                   s.playback.setOnScreen(false);
                   QVERIFY(s.playback.loadedUrl().isEmpty());
                   s.playback.setOnScreen(true);
               })
            << 2 << State::Loading << false;
        QTest::newRow("failed: no retry while url and screen stay") << Steps([](Surface &s) {
            s.showing(red);
            s.report(Status::Failed, QStringLiteral("loading failed"));
            s.playback.setPlaying(false);
            s.playback.setPlaying(true);
        }) << 1 << State::Failed << false;
        QTest::newRow("failed: a new url retries") << Steps([](Surface &s) {
            s.showing(red);
            s.report(Status::Failed);
            s.playback.setUrl(blue);
        }) << 2 << State::Loading << false;
        QTest::newRow("failed: coming back on screen retries") << Steps([](Surface &s) {
            s.showing(red);
            s.report(Status::Failed);
            s.playback.setOnScreen(false);
            s.playback.setOnScreen(true);
        }) << 2 << State::Loading << false;
        QTest::newRow("off screen, nothing is made") << Steps([](Surface &s) {
            s.playback.setOnScreen(false);
            s.playback.setUrl(red);
            s.playback.setPlaying(true);
        }) << 0 << State::Idle << false;
        QTest::newRow("end, looping: back to the start and on") << Steps([](Surface &s) {
            s.showing(red);
            const int plays = s.player()->playCount();
            s.player()->reachEnd();
            QCOMPARE(s.player()->seekCount(), 1);
            QCOMPARE(s.player()->playCount(), plays + 1);
        }) << 1 << State::Ready << false;
        QTest::newRow("end, not looping: the last frame stays") << Steps([](Surface &s) {
            s.playback.setLoop(false);
            s.showing(red);
            const int plays = s.player()->playCount();
            s.player()->reachEnd();
            QCOMPARE(s.player()->seekCount(), 0);
            QCOMPARE(s.player()->playCount(), plays);
        }) << 1 << State::Ready << false;
    }

    void transitions()
    {
        QFETCH(Steps, steps);
        QFETCH(int, playersMade);
        QFETCH(State, state);
        QFETCH(bool, paused);
        Surface surface;
        steps(surface);
        QCOMPARE(surface.platform.galleryPlayersMade(), playersMade);
        QCOMPARE(surface.playback.state(), state);
        // Players are dropped, never left behind.
        QCOMPARE(surface.platform.liveGalleryPlayers().size(), surface.player() ? 1 : 0);
        if (surface.player()) {
            QCOMPARE(surface.player()->isPaused(), paused);
            QCOMPARE(surface.playback.loadedUrl(), surface.playback.url());
        }
    }

    void failureLogsOneLinePerReport()
    {
        Surface surface;
        test::StdoutCapture capture;
        surface.showing(red);
        surface.report(Status::Failed, QStringLiteral("loading failed"));
        surface.report(Status::Failed);
        QCOMPARE(capture.lines(), (QList<QByteArray>{"video playback failed: loading failed",
                                                     "video playback failed: unknown error"}));
    }
};

LUMIVALE_TEST_MAIN(TestVideoSurface)
#include "tst_videosurface.moc"
