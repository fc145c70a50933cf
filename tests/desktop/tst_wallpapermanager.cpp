#include "desktop/wallpapermanager.h"
#include "platform/fake/fakeplatform.h"
#include "platform/userdefaults.h"
#include "support/manualclock.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using namespace lumivale;
using namespace lumivale::fake;
using namespace Qt::StringLiterals;
using Status = VideoPlayer::ItemStatus;
using ScreenIDs = std::optional<QSet<QString>>;

namespace {
const QUrl red = QUrl::fromLocalFile(u"/videos/red.mp4"_s);
const QUrl blue = QUrl::fromLocalFile(u"/videos/blue.mp4"_s);
const Screen left{u"Left"_s, 101, QRect(0, 0, 1920, 1080)};
const Screen right{u"Right"_s, 202, QRect(1920, 0, 1280, 1024)};
const Screen unnumbered{u"Projector"_s, std::nullopt, QRect(3200, 0, 800, 600)};

QSet<QString> ids(const QString &spaced)
{
    const QStringList list = spaced.split(u' ', Qt::SkipEmptyParts);
    return QSet<QString>(list.cbegin(), list.cend());
}

QSet<QString> keys(const WallpaperManager &manager)
{
    QSet<QString> set;
    for (const auto &[id, window] : manager.windows())
        set.insert(id);
    return set;
}
} // namespace

class TestWallpaperManager : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    test::ManualClock m_clock;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<WallpaperManager> m_manager;

    void readyAll()
    {
        for (FakeDesktopSurface *surface : m_platform->liveSurfaces()) {
            for (FakeVideoPlayer *player : surface->layers())
                player->reportStatus(Status::ReadyToPlay);
        }
        QCoreApplication::processEvents();
    }
    void settle() { m_clock.advance(WallpaperManager::kRebuildDelayMs); }
    QSet<QString> storedScreenIDs() const
    {
        const auto stored =
            m_defaults->stringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey);
        return stored ? QSet<QString>(stored->cbegin(), stored->cend()) : QSet<QString>();
    }

private Q_SLOTS:
    void init()
    {
        m_manager.reset(); // before the platform and defaults it uses
        m_platform = std::make_unique<FakePlatform>();
        m_platform->screens().setScreens({left, right});
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(u"d.json"_s));
        m_defaults->remove(WallpaperManager::kCurrentWallpaperIDKey);
        m_defaults->remove(WallpaperManager::kCurrentWallpaperScreenIDsKey);
        m_defaults->remove(WallpaperManager::kPreviousDesktopSnapshotsKey);
        m_manager = std::make_unique<WallpaperManager>(*m_platform, *m_defaults, m_clock);
    }

    // The requested screens resolve against the connected ones, and the
    // apply plays on exactly those, at their frames, and persists them. Over
    // an earlier apply of red, a window that stays keeps its surface and its
    // shown player: a new video is prepared beside it, the same one plays on.
    void applyPlaysOnTheResolvedScreens_data()
    {
        QTest::addColumn<QUrl>("video");
        // Screen IDs, spaced: where red was applied before, the request, the
        // resolved screens and the windows that stay ("-": none given).
        QTest::addColumn<QString>("screens");
        QTest::newRow("absent") << red << "- | - | 101 202 | ";
        QTest::newRow("empty") << red << "- |  | 101 202 | ";
        QTest::newRow("both") << red << "- | 101 202 | 101 202 | ";
        QTest::newRow("one of two") << red << "- | 202 | 202 | ";
        QTest::newRow("one connected, one not") << red << "- | 202 999 | 202 | ";
        QTest::newRow("none connected") << red << "- | 999 Left | 101 202 | ";
        QTest::newRow("same again") << red << "101 202 | - | 101 202 | 101 202";
        QTest::newRow("another video") << blue << "101 202 | - | 101 202 | 101 202";
        QTest::newRow("same, other screen") << red << "101 | 202 | 202 | ";
        QTest::newRow("same, one more") << red << "101 | 101 202 | 101 202 | 101";
        QTest::newRow("same, one fewer") << red << "101 202 | 202 | 202 | 202";
        QTest::newRow("another, one fewer") << blue << "101 202 | 202 | 202 | 202";
    }
    void applyPlaysOnTheResolvedScreens()
    {
        QFETCH(QUrl, video);
        QFETCH(QString, screens);
        const QStringList parts = screens.split(u'|');
        const QString before = parts[0].trimmed(), request = parts[1].trimmed();
        const QSet<QString> resolved = ids(parts[2]), kept = ids(parts[3]);
        const auto given = [](const QString &spaced) {
            return spaced == u"-" ? ScreenIDs() : ScreenIDs(ids(spaced));
        };
        std::map<QString, VideoPlayer *> players;
        if (before != u"-") {
            m_manager->apply(red, u"aurora"_s, ids(before));
            readyAll();
            for (const auto &[id, window] : m_manager->windows())
                players[id] = window->player();
        }
        QCOMPARE(m_manager->normalizedScreenIDs(given(request)), resolved);

        const int made = m_platform->surfacesMade();
        QSignalSpy playing(m_manager.get(), &WallpaperManager::isPlayingChanged);
        m_manager->apply(video, u"ocean"_s, given(request));
        QCOMPARE(keys(*m_manager), resolved);
        QCOMPARE(m_platform->liveSurfaces().size(), resolved.size());
        QCOMPARE(m_platform->surfacesMade() - made, resolved.size() - kept.size());
        for (const Screen &screen : {left, right}) {
            if (resolved.contains(WallpaperManager::screenID(screen)))
                QCOMPARE(m_platform->surfaceFor(screen.name)->frame(), screen.frame);
        }
        for (const QString &id : kept) {
            const DesktopWindow &window = *m_manager->windows().at(id);
            QCOMPARE(window.player(), players.at(id));
            QCOMPARE(window.currentVideoURL(), red); // still shown meanwhile
            QCOMPARE(window.pendingVideoURL(), video == red ? std::nullopt : std::optional(video));
        }
        QVERIFY(m_manager->isPlaying());
        QVERIFY(!playing.isEmpty());
        QCOMPARE(m_manager->currentWallpaperID(), u"ocean"_s);
        QCOMPARE(m_manager->currentWallpaperScreenIDs(), resolved);
        QCOMPARE(m_manager->targetScreenIDs(), resolved);
        QCOMPARE(m_defaults->string(WallpaperManager::kCurrentWallpaperIDKey), u"ocean"_s);
        QCOMPARE(storedScreenIDs(), resolved);
        readyAll();
        for (const auto &[id, window] : m_manager->windows())
            QCOMPARE(window->currentVideoURL(), video);
    }

    void burstOfScreenChangesCausesOneRebuildAfterTheLast()
    {
        m_manager->apply(red, u"aurora"_s);
        QSignalSpy rebuilt(m_manager.get(), &WallpaperManager::windowsRebuilt);
        for (int i = 0; i < 5; ++i) {
            m_platform->screens().notifyChange();
            m_clock.advance(WallpaperManager::kRebuildDelayMs - 1);
        }
        QVERIFY(rebuilt.isEmpty());
        QVERIFY(m_manager->isRebuildScheduled());
        m_clock.advance(1);
        QCOMPARE(rebuilt.size(), 1);
        QVERIFY(!m_manager->isRebuildScheduled());
        m_clock.advance(10 * WallpaperManager::kRebuildDelayMs);
        QCOMPARE(rebuilt.size(), 1);
    }

    void unpluggedScreenLosesItsWindowAndGetsANewOneBack()
    {
        m_manager->apply(red, u"aurora"_s);
        readyAll();
        m_platform->screens().removeScreen(u"Right"_s);
        QCOMPARE(keys(*m_manager).size(), 2); // not before the delay
        settle();
        QCOMPARE(keys(*m_manager), ids(u"101"_s));
        QVERIFY(m_manager->isPlaying());

        m_platform->screens().addScreen(right);
        settle();
        QCOMPARE(keys(*m_manager), ids(u"101 202"_s));
        FakeDesktopSurface *surface = m_platform->surfaceFor(u"Right"_s);
        QCOMPARE(surface->layers().first()->url(), red);
    }

    void screenConnectedLaterIsNotAddedToAResolvedSet()
    {
        m_manager->apply(red, u"aurora"_s);
        QSignalSpy rebuilt(m_manager.get(), &WallpaperManager::windowsRebuilt);
        m_platform->screens().addScreen(unnumbered);
        settle();
        QCOMPARE(rebuilt.size(), 1);
        QCOMPARE(keys(*m_manager).size(), 2);
    }

    void resolutionChangeResizesWithoutReloading()
    {
        m_manager->apply(red, u"aurora"_s);
        readyAll();
        VideoPlayer *player = m_manager->windows().at(u"101"_s)->player();
        m_manager->pauseAll();
        m_platform->screens().changeScreenFrame(u"Left"_s, QRect(0, 0, 1280, 720));
        settle();
        QCOMPARE(m_platform->surfaceFor(u"Left"_s)->frame(), QRect(0, 0, 1280, 720));
        QCOMPARE(m_manager->windows().at(u"101"_s)->player(), player);
    }

    void lastTargetScreenGoneMeansNoScreenState()
    {
        m_manager->apply(red, u"aurora"_s, ids(u"202"_s));
        m_platform->screens().removeScreen(u"Right"_s);
        settle();
        QVERIFY(m_manager->windows().empty());
        QVERIFY(!m_manager->isPlaying());
        QCOMPARE(m_manager->currentVideoURL(), red);
    }

    void stopForgetsTheWallpaper()
    {
        m_manager->apply(red, u"aurora"_s);
        QSignalSpy idChanged(m_manager.get(), &WallpaperManager::currentWallpaperIDChanged);
        m_manager->stop();
        m_platform->screens().notifyChange(); // and a screen change after it brings nothing back
        settle();
        QVERIFY(m_manager->windows().empty());
        QVERIFY(m_platform->liveSurfaces().isEmpty());
        QVERIFY(!m_manager->isPlaying());
        QVERIFY(m_manager->currentWallpaperID().isNull());
        QVERIFY(m_manager->currentWallpaperScreenIDs().isEmpty());
        QVERIFY(m_manager->targetScreenIDs().isEmpty());
        QVERIFY(!m_manager->currentVideoURL());
        QCOMPARE(idChanged.size(), 1);
        QVERIFY(!m_defaults->contains(WallpaperManager::kCurrentWallpaperIDKey));
        QVERIFY(!m_defaults->contains(WallpaperManager::kCurrentWallpaperScreenIDsKey));
    }

    void pauseAndPlayTouchOnlyShownPlayers()
    {
        m_manager->apply(red, u"aurora"_s);
        readyAll();
        m_manager->apply(blue, u"ocean"_s);
        m_manager->pauseAll();
        for (const auto &[id, window] : m_manager->windows()) {
            QVERIFY(window->player()->isPaused());
            QVERIFY(!window->pendingPlayer()->isPaused());
        }
        QVERIFY(!m_manager->isPlaying());
        m_manager->playAll();
        for (const auto &[id, window] : m_manager->windows())
            QVERIFY(!window->player()->isPaused());
        QVERIFY(m_manager->isPlaying());
    }
    // The video plays only when neither the user nor an automatic reason asks
    // for a pause, and every way the windows change keeps that verdict.
    void pauseVerdictHoldsThroughEveryChange_data()
    {
        QTest::addColumn<bool>("userPaused");
        QTest::addColumn<bool>("covered");
        QTest::addColumn<bool>("powerSaver");
        QTest::addColumn<QString>("change");
        for (const char *change :
             {"first apply", "promotion", "same again", "rebuild", "new window"}) {
            for (int reasons = 0; reasons < 8; ++reasons) {
                const bool user = reasons & 1, covered = reasons & 2, saver = reasons & 4;
                QTest::addRow("%s: user %d, covered %d, saver %d", change, user, covered, saver)
                    << user << covered << saver << QString::fromLatin1(change);
            }
        }
    }
    void pauseVerdictHoldsThroughEveryChange()
    {
        QFETCH(bool, userPaused);
        QFETCH(bool, covered);
        QFETCH(bool, powerSaver);
        QFETCH(QString, change);
        const auto setReasons = [&] {
            if (userPaused)
                m_manager->pauseAll();
            m_manager->setAutomaticPauseReasons(covered, powerSaver);
        };
        if (change == u"first apply") {
            setReasons();
            m_manager->apply(red, u"aurora"_s);
        } else {
            m_manager->apply(red, u"aurora"_s, ids(u"101"_s));
            readyAll();
            setReasons();
            if (change == u"promotion") {
                m_manager->apply(blue, u"ocean"_s, ids(u"101"_s));
            } else if (change == u"same again") {
                m_manager->apply(red, u"aurora"_s, ids(u"101"_s));
            } else if (change == u"rebuild") {
                m_platform->screens().changeScreenFrame(left.name, QRect(0, 0, 1280, 720));
                settle();
            } else {
                m_manager->apply(red, u"aurora"_s);
            }
        }
        readyAll();
        const bool plays = !userPaused && !covered && !powerSaver;
        QCOMPARE(m_manager->isPlaying(), plays);
        QVERIFY(!m_manager->windows().empty());
        for (const auto &[id, window] : m_manager->windows()) {
            QVERIFY(window->player());
            QCOMPARE(window->player()->isPaused(), !plays);
        }
    }

    // A new video that shows on no window does not become the wallpaper: the
    // previous one comes back, in memory and in the stored keys.
    void aVideoThatNeverShowsGivesThePreviousWallpaperBack_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("hadWallpaper");
        QTest::addColumn<bool>("keepsNew");
        QTest::newRow("fails everywhere") << "failed" << true << false;
        QTest::newRow("no frame in time") << "no frame" << true << false;
        QTest::newRow("fails on one window only") << "half" << true << true;
        QTest::newRow("first of the session fails") << "failed" << false << false;
        QTest::newRow("first of the session shows no frame") << "no frame" << false << false;
    }
    void aVideoThatNeverShowsGivesThePreviousWallpaperBack()
    {
        QFETCH(QString, failure);
        QFETCH(bool, hadWallpaper);
        QFETCH(bool, keepsNew);
        if (hadWallpaper) {
            m_manager->apply(red, u"aurora"_s);
            readyAll();
        } else {
            // Stored by the last session, not applied yet in this one.
            m_defaults->setString(WallpaperManager::kCurrentWallpaperIDKey, u"aurora"_s);
        }
        const bool half = failure == u"half";
        m_manager->apply(blue, u"ocean"_s, half ? std::nullopt : std::optional(ids(u"101"_s)));
        QList<FakeVideoPlayer *> pending;
        for (FakeDesktopSurface *surface : m_platform->liveSurfaces())
            pending.append(surface->layers().last());
        if (failure != u"no frame")
            pending.first()->reportStatus(Status::Failed);
        if (half)
            pending.last()->reportStatus(Status::ReadyToPlay);
        QCoreApplication::processEvents(); // the reports arrive
        // A preparation that shows no frame fails once its limit has passed.
        if (failure == u"no frame")
            m_clock.advance(DesktopWindow::kFirstFrameLimit.count());
        QVERIFY(std::ranges::none_of(m_manager->windows(), [](const auto &entry) {
            return entry.second->pendingVideoURL() == blue;
        }));
        readyAll(); // a window made again for a screen given back

        QCOMPARE(m_defaults->string(WallpaperManager::kCurrentWallpaperIDKey),
                 QString::fromLatin1(keepsNew ? "ocean" : "aurora"));
        if (keepsNew) {
            QCOMPARE(m_manager->currentVideoURL(), blue);
        } else if (hadWallpaper) {
            QCOMPARE(m_manager->currentVideoURL(), red);
            QCOMPARE(m_manager->currentWallpaperScreenIDs(), ids(u"101 202"_s));
            QCOMPARE(storedScreenIDs(), ids(u"101 202"_s));
            for (const auto &[id, window] : m_manager->windows())
                QCOMPARE(window->currentVideoURL(), red);
        } else {
            QVERIFY(!m_manager->currentVideoURL());
            QVERIFY(m_manager->currentWallpaperID().isNull());
            QVERIFY(m_manager->windows().empty());
        }
    }

    void applyCapturesThePreviousPicturesOnce()
    {
        m_platform->desktopPictures().setPicture(
            u"Left"_s, {QUrl::fromLocalFile(u"/pictures/hills.jpg"_s), {}});
        m_manager->apply(red, u"aurora"_s);
        const auto stored = m_defaults->data(WallpaperManager::kPreviousDesktopSnapshotsKey);
        QVERIFY(stored);
        m_platform->desktopPictures().setPicture(
            u"Left"_s, {QUrl::fromLocalFile(u"/pictures/frozen.jpg"_s), {}});
        m_manager->apply(blue, u"ocean"_s);
        QCOMPARE(m_defaults->data(WallpaperManager::kPreviousDesktopSnapshotsKey), stored);
    }
};

LUMIVALE_TEST_MAIN(TestWallpaperManager)
#include "tst_wallpapermanager.moc"
