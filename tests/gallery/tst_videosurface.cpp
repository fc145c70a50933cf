#include "gallery/videosurfaceplayback.h"
#include "platform/fake/fakeplatform.h"
#include "support/stdoutcapture.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QTest>

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
};
} // namespace

class TestVideoSurface : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Steps: "red"/"blue"/"nourl" (the URL), "play", "pause", "ready", "fail"
    // (the player's report), "hide"/"show" (off and on screen), "release"
    // (when paused), "once" (no looping), "unmute", "fit", "end" (played to
    // the end). Then the players made, the state, and the player left, if
    // any: paused, and how often it was rewound.
    void transitions_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("playersMade");
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("rewinds");
        const State idle = State::Idle, loading = State::Loading, ready = State::Ready;
        QTest::newRow("no url: placeholder only") << "play" << 0 << idle << false << 0;
        QTest::newRow("loading until the first frame") << "red play" << 1 << loading << false << 0;
        QTest::newRow("first frame: ready") << "red play ready" << 1 << ready << false << 0;
        QTest::newRow("paused and released: no player") << "release red" << 0 << idle << false << 0;
        QTest::newRow("release drops the player")
            << "release red play ready pause" << 1 << idle << false << 0;
        QTest::newRow("playing after a release: a new player")
            << "release red play ready pause play" << 2 << loading << false << 0;
        QTest::newRow("pause without release holds the frame")
            << "red play ready pause" << 1 << ready << true << 0;
        QTest::newRow("muting, gravity, play/pause keep the player")
            << "red play ready unmute fit pause play" << 1 << ready << false << 0;
        QTest::newRow("a new url: a new player, loading")
            << "red play ready blue" << 2 << loading << false << 0;
        QTest::newRow("url cleared: released") << "red play ready nourl" << 1 << idle << false << 0;
        QTest::newRow("off screen: released") << "red play ready hide" << 1 << idle << false << 0;
        QTest::newRow("back on screen: a fresh player")
            << "red play ready hide show" << 2 << loading << false << 0;
        QTest::newRow("failed: no retry while url and screen stay")
            << "red play ready fail pause play" << 1 << State::Failed << false << 0;
        QTest::newRow("fail, new url") << "red play ready fail blue" << 2 << loading << false << 0;
        QTest::newRow("failed: back on screen retries")
            << "red play ready fail hide show" << 2 << loading << false << 0;
        QTest::newRow("off screen, nothing is made") << "hide red play" << 0 << idle << false << 0;
        QTest::newRow("end, looping: rewound") << "red play ready end" << 1 << ready << false << 1;
        QTest::newRow("end, once: the last frame stays")
            << "once red play ready end" << 1 << ready << false << 0;
    }

    void transitions()
    {
        QFETCH(QString, steps);
        Surface s;
        VideoSurfacePlayback &playback = s.playback;
        for (const QString &step : steps.split(u' ')) {
            if (step == u"red" || step == u"blue" || step == u"nourl")
                playback.setUrl(step == u"red" ? red : step == u"blue" ? blue : QUrl());
            else if (step == u"play" || step == u"pause")
                playback.setPlaying(step == u"play");
            else if (step == u"ready" || step == u"fail")
                s.report(step == u"ready" ? Status::ReadyToPlay : Status::Failed);
            else if (step == u"hide" || step == u"show")
                playback.setOnScreen(step == u"show");
            else if (step == u"release")
                playback.setReleaseWhenPaused(true);
            else if (step == u"once")
                playback.setLoop(false);
            else if (step == u"unmute")
                playback.setMuted(false);
            else if (step == u"fit")
                playback.setGravity(GalleryPlayer::Gravity::ResizeAspect);
            else if (step == u"end") {
                const int plays = s.player()->playCount();
                s.player()->reachEnd();
                // A rewind, when looping, goes on playing.
                QCOMPARE(s.player()->playCount(), plays + s.player()->seekCount());
            } else
                QFAIL(qPrintable(step));
        }
        QTEST(s.platform.galleryPlayersMade(), "playersMade");
        QTEST(playback.state(), "state");
        // Players are dropped, never left behind, and follow the surface.
        QCOMPARE(s.platform.liveGalleryPlayers().size(), s.player() ? 1 : 0);
        QCOMPARE(playback.loadedUrl(), s.player() ? playback.url() : QUrl());
        if (s.player()) {
            QTEST(s.player()->isPaused(), "paused");
            QTEST(s.player()->seekCount(), "rewinds");
            QCOMPARE(s.player()->url(), playback.url());
            QCOMPARE(s.player()->isMuted(), playback.muted());
            QCOMPARE(s.player()->gravity(), playback.gravity());
        }
    }

    void failureLogsOneLinePerReport()
    {
        Surface surface;
        test::StdoutCapture capture;
        surface.playback.setUrl(red);
        surface.playback.setPlaying(true);
        surface.report(Status::Failed, QStringLiteral("loading failed"));
        surface.report(Status::Failed);
        QCOMPARE(capture.lines(), (QList<QByteArray>{"video playback failed: loading failed",
                                                     "video playback failed: unknown error"}));
    }
};

LUMIVALE_TEST_MAIN(TestVideoSurface)
#include "tst_videosurface.moc"
