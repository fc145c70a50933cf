#include "desktop/wallpapermanager.h"
#include "platform/fake/fakeplatform.h"
#include "platform/userdefaults.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace lumivale;
using namespace lumivale::fake;
using Status = VideoPlayer::ItemStatus;

namespace {
const QUrl red = QUrl::fromLocalFile(QStringLiteral("/videos/red.mp4"));
const QUrl blue = QUrl::fromLocalFile(QStringLiteral("/videos/blue.mp4"));
const Screen left{QStringLiteral("Left"), 101, QRect(0, 0, 1920, 1080)};
const Screen right{QStringLiteral("Right"), 202, QRect(1920, 0, 1280, 1024)};
const Screen unnumbered{QStringLiteral("Projector"), std::nullopt, QRect(3200, 0, 800, 600)};

QSet<QString> ids(std::initializer_list<const char *> list)
{
    QSet<QString> set;
    for (const char *id : list)
        set.insert(QString::fromLatin1(id));
    return set;
}

QStringList keys(const WallpaperManager &manager)
{
    QStringList list;
    for (const auto &[id, window] : manager.windows())
        list.append(id);
    return list;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}
} // namespace

class TestWallpaperManager : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
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

private Q_SLOTS:
    void init()
    {
        m_platform = std::make_unique<FakePlatform>();
        m_platform->screens().setScreens({left, right});
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("d.json")));
        m_defaults->remove(WallpaperManager::kCurrentWallpaperIDKey);
        m_defaults->remove(WallpaperManager::kCurrentWallpaperScreenIDsKey);
        m_defaults->remove(WallpaperManager::kPreviousDesktopSnapshotsKey);
        m_manager = std::make_unique<WallpaperManager>(*m_platform, *m_defaults);
    }
    void cleanup()
    {
        m_manager.reset();
        m_defaults.reset();
        m_platform.reset();
    }

    void screenIDIsTheNumberOrElseTheName()
    {
        QCOMPARE(WallpaperManager::screenID(left), QStringLiteral("101"));
        QCOMPARE(WallpaperManager::screenID(unnumbered), QStringLiteral("Projector"));
        Screen zero = left;
        zero.number = 0;
        QCOMPARE(WallpaperManager::screenID(zero), QStringLiteral("0"));
    }

    void screenRequestsResolveAgainstConnectedScreens_data()
    {
        QTest::addColumn<std::optional<QSet<QString>>>("request");
        QTest::addColumn<QSet<QString>>("resolved");
        QTest::newRow("absent") << std::optional<QSet<QString>>() << ids({"101", "202"});
        QTest::newRow("empty") << std::optional(QSet<QString>()) << ids({"101", "202"});
        QTest::newRow("both") << std::optional(ids({"101", "202"})) << ids({"101", "202"});
        QTest::newRow("one of two") << std::optional(ids({"202"})) << ids({"202"});
        QTest::newRow("one connected, one not")
            << std::optional(ids({"202", "999"})) << ids({"202"});
        QTest::newRow("none connected")
            << std::optional(ids({"999", "Left"})) << ids({"101", "202"});
    }
    void screenRequestsResolveAgainstConnectedScreens()
    {
        QFETCH(std::optional<QSet<QString>>, request);
        QFETCH(QSet<QString>, resolved);
        QCOMPARE(m_manager->normalizedScreenIDs(request), resolved);
    }

    void applyWithoutRestrictionPlaysEverywhereAndPersists()
    {
        QSignalSpy playing(m_manager.get(), &WallpaperManager::isPlayingChanged);
        m_manager->apply(red, QStringLiteral("aurora"));
        QCOMPARE(keys(*m_manager), (QStringList{QStringLiteral("101"), QStringLiteral("202")}));
        QVERIFY(m_manager->isPlaying());
        QVERIFY(!playing.isEmpty());
        QCOMPARE(m_manager->currentWallpaperID(), QStringLiteral("aurora"));
        QCOMPARE(m_manager->currentWallpaperScreenIDs(), ids({"101", "202"}));
        QCOMPARE(m_manager->targetScreenIDs(), ids({"101", "202"}));
        QCOMPARE(m_defaults->string(WallpaperManager::kCurrentWallpaperIDKey),
                 QStringLiteral("aurora"));
        QCOMPARE(sorted(*m_defaults->stringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey)),
                 (QStringList{QStringLiteral("101"), QStringLiteral("202")}));
        QCOMPARE(m_platform->surfaceFor(QStringLiteral("Right"))->frame(), right.frame);
    }

    void applyOnDisconnectedScreensFallsBackToAll()
    {
        m_manager->apply(red, QStringLiteral("aurora"), ids({"555"}));
        QCOMPARE(keys(*m_manager).size(), 2);
        QCOMPARE(sorted(*m_defaults->stringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey)),
                 (QStringList{QStringLiteral("101"), QStringLiteral("202")}));
    }

    void applyOnOneOfTwoScreens()
    {
        m_manager->apply(red, QStringLiteral("aurora"), ids({"202", "555"}));
        QCOMPARE(keys(*m_manager), QStringList{QStringLiteral("202")});
        QCOMPARE(m_platform->liveSurfaces().size(), 1);
        QCOMPARE(m_platform->liveSurfaces().first()->screen(), right);
    }

    void reapplyingTheSameVideoOnlyResumesState()
    {
        m_manager->apply(red, QStringLiteral("aurora"));
        readyAll();
        m_manager->pauseAll();
        QVERIFY(!m_manager->isPlaying());
        const int made = m_platform->surfacesMade();

        QSignalSpy playing(m_manager.get(), &WallpaperManager::isPlayingChanged);
        m_manager->apply(red, QStringLiteral("aurora"));
        QCOMPARE(playing.size(), 1);
        QCOMPARE(m_platform->surfacesMade(), made);
    }

    void anotherVideoHandsOverInTheSameWindows()
    {
        m_manager->apply(red, QStringLiteral("aurora"));
        readyAll();
        const QList<FakeDesktopSurface *> before = m_platform->liveSurfaces();
        m_manager->apply(blue, QStringLiteral("ocean"));
        QCOMPARE(m_platform->liveSurfaces(), before);
        for (const auto &[id, window] : m_manager->windows()) {
            QCOMPARE(window->currentVideoURL(), red); // still shown meanwhile
            QCOMPARE(window->pendingVideoURL(), blue);
        }
        readyAll();
        for (const auto &[id, window] : m_manager->windows())
            QCOMPARE(window->currentVideoURL(), blue);
    }

    void sameVideoOnOtherScreensKeepsStayingWindowsPlaying()
    {
        m_manager->apply(red, QStringLiteral("aurora"), ids({"101"}));
        readyAll();

        m_manager->apply(red, QStringLiteral("aurora"), ids({"202"}));
        QCOMPARE(keys(*m_manager), QStringList{QStringLiteral("202")});

        m_manager->apply(red, QStringLiteral("aurora"), ids({"101", "202"}));
        readyAll();
        QCOMPARE(keys(*m_manager).size(), 2);
        VideoPlayer *rightPlayer = m_manager->windows().at(QStringLiteral("202"))->player();
        m_manager->apply(red, QStringLiteral("aurora"), ids({"202"}));
        // The staying window was not restarted: same player, no new preparation.
        QCOMPARE(m_manager->windows().at(QStringLiteral("202"))->player(), rightPlayer);
        QVERIFY(!m_manager->windows().at(QStringLiteral("202"))->pendingPlayer());
    }

    void burstOfScreenChangesCausesOneRebuildAfterTheLast()
    {
        m_manager->apply(red, QStringLiteral("aurora"));
        QSignalSpy rebuilt(m_manager.get(), &WallpaperManager::windowsRebuilt);
        QElapsedTimer sinceLast;
        for (int i = 0; i < 5; ++i) {
            m_platform->screens().notifyChange();
            sinceLast.start();
            QTest::qWait(40);
        }
        QVERIFY(rebuilt.isEmpty());
        QVERIFY(m_manager->isRebuildScheduled());
        QTRY_COMPARE_WITH_TIMEOUT(rebuilt.size(), 1, 2000);
        QVERIFY2(sinceLast.elapsed() >= WallpaperManager::kRebuildDelayMs,
                 "the rebuild came before 0.3 s had passed since the last change");
        QTest::qWait(WallpaperManager::kRebuildDelayMs + 100);
        QCOMPARE(rebuilt.size(), 1);
    }

    void unpluggedScreenLosesItsWindowAndGetsANewOneBack()
    {
        m_manager->apply(red, QStringLiteral("aurora"));
        readyAll();
        QSignalSpy rebuilt(m_manager.get(), &WallpaperManager::windowsRebuilt);
        m_platform->screens().removeScreen(QStringLiteral("Right"));
        QCOMPARE(keys(*m_manager).size(), 2); // not before the debounce
        QTRY_COMPARE(rebuilt.size(), 1);
        QCOMPARE(keys(*m_manager), QStringList{QStringLiteral("101")});
        QVERIFY(m_manager->isPlaying());

        m_platform->screens().addScreen(right);
        QTRY_COMPARE(rebuilt.size(), 2);
        QCOMPARE(keys(*m_manager), (QStringList{QStringLiteral("101"), QStringLiteral("202")}));
        FakeDesktopSurface *surface = m_platform->surfaceFor(QStringLiteral("Right"));
        QCOMPARE(surface->layers().first()->url(), red);
    }

    void screenConnectedLaterIsNotAddedToAResolvedSet()
    {
        m_manager->apply(red, QStringLiteral("aurora"));
        QSignalSpy rebuilt(m_manager.get(), &WallpaperManager::windowsRebuilt);
        m_platform->screens().addScreen(unnumbered);
        QTRY_COMPARE(rebuilt.size(), 1);
        QCOMPARE(keys(*m_manager).size(), 2);
    }

    void resolutionChangeResizesWithoutReloading()
    {
        m_manager->apply(red, QStringLiteral("aurora"));
        readyAll();
        VideoPlayer *player = m_manager->windows().at(QStringLiteral("101"))->player();
        m_manager->pauseAll();
        QSignalSpy rebuilt(m_manager.get(), &WallpaperManager::windowsRebuilt);
        m_platform->screens().changeScreenFrame(QStringLiteral("Left"), QRect(0, 0, 1280, 720));
        QTRY_COMPARE(rebuilt.size(), 1);
        QCOMPARE(m_platform->surfaceFor(QStringLiteral("Left"))->frame(), QRect(0, 0, 1280, 720));
        QCOMPARE(m_manager->windows().at(QStringLiteral("101"))->player(), player);
    }

    void lastTargetScreenGoneMeansNoScreenState()
    {
        m_manager->apply(red, QStringLiteral("aurora"), ids({"202"}));
        QSignalSpy rebuilt(m_manager.get(), &WallpaperManager::windowsRebuilt);
        m_platform->screens().removeScreen(QStringLiteral("Right"));
        QTRY_COMPARE(rebuilt.size(), 1);
        QVERIFY(m_manager->windows().empty());
        QVERIFY(!m_manager->isPlaying());
        QCOMPARE(m_manager->currentVideoURL(), red);
    }

    void screenChangesBeforeApplyOrAfterStopChangeNothing()
    {
        m_platform->screens().notifyChange();
        QTest::qWait(WallpaperManager::kRebuildDelayMs + 100);
        QVERIFY(m_manager->windows().empty());
        QCOMPARE(m_platform->surfacesMade(), 0);

        m_manager->apply(red, QStringLiteral("aurora"));
        m_manager->stop();
        m_platform->screens().notifyChange();
        QTest::qWait(WallpaperManager::kRebuildDelayMs + 100);
        QVERIFY(m_manager->windows().empty());
        QVERIFY(m_platform->liveSurfaces().isEmpty());
    }

    void stopForgetsTheWallpaper()
    {
        m_manager->apply(red, QStringLiteral("aurora"));
        QSignalSpy idChanged(m_manager.get(), &WallpaperManager::currentWallpaperIDChanged);
        m_manager->stop();
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
        m_manager->apply(red, QStringLiteral("aurora"));
        readyAll();
        m_manager->apply(blue, QStringLiteral("ocean"));
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
            m_manager->apply(red, QStringLiteral("aurora"));
        } else {
            m_manager->apply(red, QStringLiteral("aurora"), ids({"101"}));
            readyAll();
            setReasons();
            if (change == u"promotion") {
                m_manager->apply(blue, QStringLiteral("ocean"), ids({"101"}));
            } else if (change == u"same again") {
                m_manager->apply(red, QStringLiteral("aurora"), ids({"101"}));
            } else if (change == u"rebuild") {
                QSignalSpy rebuilt(m_manager.get(), &WallpaperManager::windowsRebuilt);
                m_platform->screens().changeScreenFrame(left.name, QRect(0, 0, 1280, 720));
                QVERIFY(rebuilt.wait());
            } else {
                m_manager->apply(red, QStringLiteral("aurora"));
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
        m_manager->setFirstFrameLimit(std::chrono::milliseconds(50));
        if (hadWallpaper) {
            m_manager->apply(red, QStringLiteral("aurora"));
            readyAll();
        } else {
            // Stored by the last session, not applied yet in this one.
            m_defaults->setString(WallpaperManager::kCurrentWallpaperIDKey,
                                  QStringLiteral("aurora"));
        }
        const bool half = failure == u"half";
        m_manager->apply(blue, QStringLiteral("ocean"),
                         half ? std::nullopt : std::optional(ids({"101"})));
        m_manager->setFirstFrameLimit(std::chrono::seconds(10)); // for windows made from now on
        QList<FakeVideoPlayer *> pending;
        for (FakeDesktopSurface *surface : m_platform->liveSurfaces())
            pending.append(surface->layers().last());
        if (failure != u"no frame")
            pending.first()->reportStatus(Status::Failed);
        if (half)
            pending.last()->reportStatus(Status::ReadyToPlay);
        QTest::qWait(150);
        readyAll(); // a window made again for a screen given back

        QCOMPARE(m_defaults->string(WallpaperManager::kCurrentWallpaperIDKey),
                 QString::fromLatin1(keepsNew ? "ocean" : "aurora"));
        if (keepsNew) {
            QCOMPARE(m_manager->currentVideoURL(), blue);
        } else if (hadWallpaper) {
            QCOMPARE(m_manager->currentVideoURL(), red);
            QCOMPARE(m_manager->currentWallpaperScreenIDs(), ids({"101", "202"}));
            QCOMPARE(
                sorted(*m_defaults->stringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey)),
                (QStringList{QStringLiteral("101"), QStringLiteral("202")}));
            for (const auto &[id, window] : m_manager->windows())
                QCOMPARE(window->currentVideoURL(), red);
        } else {
            QVERIFY(!m_manager->currentVideoURL());
            QVERIFY(m_manager->currentWallpaperID().isNull());
            QVERIFY(m_manager->windows().empty());
        }
    }

    void publishedFieldsNotifyOnEveryAssignment()
    {
        QSignalSpy playing(m_manager.get(), &WallpaperManager::isPlayingChanged);
        m_manager->pauseAll();
        m_manager->pauseAll();
        QCOMPARE(playing.size(), 2);
    }

    void applyCapturesThePreviousPicturesOnce()
    {
        m_platform->desktopPictures().setPicture(
            QStringLiteral("Left"),
            {QUrl::fromLocalFile(QStringLiteral("/pictures/hills.jpg")), {}});
        m_manager->apply(red, QStringLiteral("aurora"));
        const auto stored = m_defaults->data(WallpaperManager::kPreviousDesktopSnapshotsKey);
        QVERIFY(stored);
        m_platform->desktopPictures().setPicture(
            QStringLiteral("Left"),
            {QUrl::fromLocalFile(QStringLiteral("/pictures/frozen.jpg")), {}});
        m_manager->apply(blue, QStringLiteral("ocean"));
        QCOMPARE(m_defaults->data(WallpaperManager::kPreviousDesktopSnapshotsKey), stored);
    }
};

LUMIVALE_TEST_MAIN(TestWallpaperManager)
#include "tst_wallpapermanager.moc"
