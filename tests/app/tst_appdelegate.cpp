#include "app/appdelegate.h"
#include "app/screencoverage.h"
#include "app/shellcommands.h"
#include "app/updater.h"
#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "desktop/wallpapermanager.h"
#include "platform/fake/fakeplatform.h"
#include "platform/notificationcenter.h"
#include "platform/userdefaults.h"
#include "support/loopbackhttpserver.h"
#include "support/stdoutcapture.h"
#include "support/testenvironment.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <qcoro/qcorotask.h>

using namespace lumivale;
using namespace lumivale::fake;
using namespace lumivale::test;
using Status = VideoPlayer::ItemStatus;
using LoginStatus = LoginItemService::Status;

namespace {
const Screen mainDisplay{QStringLiteral("Main"), 101, QRect(0, 0, 1920, 1080)};
const Screen sideDisplay{QStringLiteral("Side"), 202, QRect(1920, 0, 1280, 1024)};

WindowDescription window(qint64 pid, QRect frame)
{
    return WindowDescription{pid, frame, false, true};
}
} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<FakePlatform> m_platform;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<WallpaperManager> m_manager;
    std::unique_ptr<VideoCache> m_cache;
    std::unique_ptr<VideoCacheState> m_cacheState;
    std::unique_ptr<QWindow> m_gallery;
    std::unique_ptr<LoopbackHttpServer> m_server;
    int m_exits = 0;
    int m_socketCloses = 0;

    std::unique_ptr<AppDelegate> makeDelegate(bool loginItem = false)
    {
        AppDelegate::Environment env;
        env.platform = m_platform.get();
        env.defaults = m_defaults.get();
        env.manager = m_manager.get();
        env.cache = m_cache.get();
        env.cacheState = m_cacheState.get();
        env.applicationWindows = [this] {
            return m_gallery ? QList<QWindow *>{m_gallery.get()} : QList<QWindow *>{};
        };
        env.exitApplication = [this] { ++m_exits; };
        env.closeCommandSocket = [this] { ++m_socketCloses; };
        env.makesStatusItem = false;
        return std::make_unique<AppDelegate>(std::move(env), loginItem);
    }

    // A catalogue on the loopback server whose videos are served from the
    // test media.
    void serveCatalogue(const QByteArray &manifest)
    {
        m_server->setHandler([manifest](const LoopbackHttpServer::Request &request) {
            if (request.path() == "/manifest")
                return LoopbackHttpServer::json(manifest);
            if (request.path() == "/red.mp4")
                return LoopbackHttpServer::file(mediaPath(QStringLiteral("red")), request);
            return LoopbackHttpServer::Response{404, {}, "no", 0, false};
        });
        qputenv("LUMIVALE_MANIFEST_URL", m_server->url(QStringLiteral("/manifest")).toEncoded());
    }

    QByteArray manifestWith(const QString &id, const QString &videoPath)
    {
        return QStringLiteral(R"([{"id":"%1","name":"One","video":"%2"}])")
            .arg(id, m_server->url(videoPath).toString())
            .toUtf8();
    }

    void applyRed()
    {
        m_manager->apply(QUrl::fromLocalFile(mediaPath(QStringLiteral("red"))),
                         QStringLiteral("red"));
        for (FakeDesktopSurface *surface : m_platform->liveSurfaces()) {
            for (FakeVideoPlayer *player : surface->layers())
                player->reportStatus(Status::ReadyToPlay);
        }
        QCoreApplication::processEvents();
    }

    QList<FakeVideoPlayer *> shownPlayers() const
    {
        QList<FakeVideoPlayer *> players;
        for (FakeDesktopSurface *surface : m_platform->liveSurfaces()) {
            if (FakeVideoPlayer *player = surface->visiblePlayer())
                players.append(player);
        }
        return players;
    }

private Q_SLOTS:
    void init()
    {
        m_platform = std::make_unique<FakePlatform>();
        m_platform->screens().setScreens({mainDisplay, sideDisplay});
        const QString defaultsFile = m_dir.filePath(QStringLiteral("defaults.json"));
        QFile::remove(defaultsFile);
        m_defaults = std::make_unique<UserDefaults>(defaultsFile);
        m_manager = std::make_unique<WallpaperManager>(*m_platform, *m_defaults);
        const QString cacheDir = m_dir.filePath(QStringLiteral("LumivaleWallpapers"));
        QDir(cacheDir).removeRecursively();
        m_cache = std::make_unique<VideoCache>(cacheDir);
        m_cacheState = std::make_unique<VideoCacheState>(*m_cache);
        m_gallery = std::make_unique<QWindow>();
        m_gallery->setObjectName(QStringLiteral("gallery"));
        m_gallery->setTitle(QStringLiteral("Gallery"));
        m_server = std::make_unique<LoopbackHttpServer>();
        m_exits = 0;
        m_socketCloses = 0;
        qputenv("LUMIVALE_SU_PUBLIC_ED_KEY", "");
        qputenv("LUMIVALE_SU_FEED_URL", "");
    }

    void cleanup()
    {
        qunsetenv("LUMIVALE_MANIFEST_URL");
        m_gallery.reset();
        m_cacheState.reset();
        m_cache.reset();
        m_manager.reset();
        m_defaults.reset();
        m_platform.reset();
        m_server.reset();
    }

    // ---- Launch --------------------------------------------------------------

    void launchRunsItsStepsInOrderAndShowsTheGalleryOneTurnLater()
    {
        m_platform->loginItem().setFailure(
            Error(QStringLiteral("LoginItem"), 1, QStringLiteral("denied")));
        QSignalSpy refreshes(&NotificationCenter::shared(),
                             &NotificationCenter::refreshWallpaperLibrary);
        auto delegate = makeDelegate();
        StdoutCapture capture;
        delegate->applicationDidFinishLaunching();

        QVERIFY(delegate->statusMenu());
        QCOMPARE(capture.lines(),
                 (QList<QByteArray>{
                     "launch at login sync failed: denied",
                     "Sparkle updater is disabled because SUPublicEDKey is not configured."}));
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
        // Deferred by one turn of the event loop.
        QVERIFY(!m_gallery->isVisible());
        QCOMPARE(refreshes.count(), 0);
        QTRY_VERIFY(m_gallery->isVisible());
        QCOMPARE(refreshes.count(), 1);
        QCOMPARE(m_platform->prompts().activations(), 1);

        // The observers are connected: a front-application change acts.
        m_platform->workspace().setWindows(QList{window(4242, mainDisplay.frame)});
        m_manager->setIsPlaying(true);
        m_platform->workspace().notifyActiveApplicationChanged();
        QTRY_VERIFY(!m_manager->isPlaying());
    }

    void loginItemLaunchKeepsTheGalleryHidden()
    {
        QSignalSpy refreshes(&NotificationCenter::shared(),
                             &NotificationCenter::refreshWallpaperLibrary);
        m_gallery->show();
        auto delegate = makeDelegate(true);
        QVERIFY(delegate->wasLaunchedAsLoginItem());
        delegate->applicationDidFinishLaunching();
        QTRY_VERIFY(!m_gallery->isVisible());
        QTest::qWait(20);
        QCOMPARE(refreshes.count(), 0);
        // Reopening still shows it.
        QCOMPARE(delegate->applicationShouldHandleReopen(), false);
        QVERIFY(m_gallery->isVisible());
        QCOMPARE(refreshes.count(), 1);
    }

    void galleryIsHiddenNotClosedAndFoundAgain()
    {
        auto delegate = makeDelegate();
        delegate->galleryWindow().show();
        QVERIFY(m_gallery->isVisible());
        QWindow *const same = m_gallery.get();
        QVERIFY(!m_gallery->close());
        QVERIFY(!m_gallery->isVisible());
        delegate->openGallery();
        QCOMPARE(m_gallery.get(), same);
        QVERIFY(m_gallery->isVisible());
    }

    void showingWithoutWindowsDoesNothing()
    {
        m_gallery.reset();
        QSignalSpy refreshes(&NotificationCenter::shared(),
                             &NotificationCenter::refreshWallpaperLibrary);
        auto delegate = makeDelegate();
        delegate->galleryWindow().show();
        QCOMPARE(refreshes.count(), 0);
    }

    // ---- Restore at launch -----------------------------------------------------

    // The launch-time restore: what it applies and what it logs, whatever the
    // catalogue and the cache hold. A line ending in ": " is the start of the
    // one line expected; any other is the whole line.
    void restore_data()
    {
        QTest::addColumn<QString>("stored"); // null: nothing stored
        QTest::addColumn<QStringList>("storedScreens");
        QTest::addColumn<QString>("listed"); // the catalogue's one ID; null: the catalogue is down
        QTest::addColumn<QString>("videoPath");
        QTest::addColumn<bool>("cached");
        QTest::addColumn<QStringList>("screens"); // where it is applied; empty: not applied
        QTest::addColumn<int>("requests");        // to the server; -1: not counted
        QTest::addColumn<QByteArray>("line");
        const QString red = QStringLiteral("red");
        const QStringList all{QStringLiteral("101"), QStringLiteral("202")};
        QTest::newRow("nothing stored loads nothing")
            << QString() << QStringList() << red << "/red.mp4" << false << QStringList() << 0
            << QByteArray();
        QTest::newRow("no stored screens: every screen")
            << red << QStringList() << red << "/red.mp4" << false << all << -1 << QByteArray();
        QTest::newRow("the stored screens")
            << red << QStringList{QStringLiteral("202")} << red << "/red.mp4" << false
            << QStringList{QStringLiteral("202")} << -1 << QByteArray();
        QTest::newRow("no longer listed: nothing, quietly")
            << red << QStringList() << QStringLiteral("other") << "/red.mp4" << false
            << QStringList() << 1 << QByteArray();
        QTest::newRow("a failed download is logged")
            << red << QStringList() << red << "/gone.mp4" << false << QStringList() << -1
            << QByteArray("restore failed: Video download failed with HTTP 404");
        QTest::newRow("catalogue down: from the cache")
            << red << QStringList() << QString() << "/red.mp4" << true << all << -1
            << QByteArray("restore failed: ");
        QTest::newRow("catalogue down, not cached: nothing")
            << red << QStringList() << QString() << "/red.mp4" << false << QStringList() << -1
            << QByteArray("restore failed: ");
    }
    void restore()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, storedScreens);
        QFETCH(QString, listed);
        QFETCH(QString, videoPath);
        QFETCH(bool, cached);
        QFETCH(QStringList, screens);
        QFETCH(int, requests);
        QFETCH(QByteArray, line);
        if (listed.isNull()) {
            m_server->setHandler([](const LoopbackHttpServer::Request &) {
                return LoopbackHttpServer::Response{503, {}, "down", 0, false};
            });
            qputenv("LUMIVALE_MANIFEST_URL",
                    m_server->url(QStringLiteral("/manifest")).toEncoded());
        } else {
            serveCatalogue(manifestWith(listed, videoPath));
        }
        if (cached) {
            QDir().mkpath(m_cache->cacheDirectory());
            QVERIFY(QFile::copy(mediaPath(QStringLiteral("red")),
                                m_cache->fileURL(QStringLiteral("red")).toLocalFile()));
        }
        if (!stored.isNull()) {
            m_defaults->setString(WallpaperManager::kCurrentWallpaperIDKey, stored);
            m_defaults->setStringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey,
                                       storedScreens);
        }
        auto delegate = makeDelegate();
        StdoutCapture capture;
        QCoro::waitFor(delegate->restoreLastWallpaper());
        if (screens.isEmpty()) {
            QVERIFY(!m_manager->currentVideoURL());
        } else {
            QCOMPARE(m_manager->currentWallpaperID(), QStringLiteral("red"));
            QCOMPARE(m_manager->currentVideoURL(), m_cache->fileURL(QStringLiteral("red")));
            QCOMPARE(m_manager->targetScreenIDs(), QSet<QString>(screens.cbegin(), screens.cend()));
        }
        if (requests >= 0)
            QCOMPARE(m_server->requests().size(), requests);
        QCOMPARE(capture.lines().size(), line.isEmpty() ? 0 : 1);
        if (line.endsWith(": "))
            QVERIFY2(capture.lines()[0].startsWith(line), capture.lines()[0]);
        else if (!line.isEmpty())
            QCOMPARE(capture.lines()[0], line);
        QVERIFY(m_platform->prompts().alerts().isEmpty());
    }

    // A wallpaper applied or turned off while the stored one is being restored
    // is the later choice, and wins; a pause holds through the restore.
    void restoreGivesWayToALaterChoice_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("wallpaper");
        QTest::addColumn<bool>("playing");
        QTest::newRow("--apply FILE")
            << QStringList{QStringLiteral("--apply"), mediaPath(QStringLiteral("blue"))}
            << QStringLiteral("blue") << true;
        QTest::newRow("--stop") << QStringList{QStringLiteral("--stop")} << QString() << false;
        QTest::newRow("--pause") << QStringList{QStringLiteral("--pause")} << QStringLiteral("red")
                                 << false;
    }
    void restoreGivesWayToALaterChoice()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, wallpaper);
        QFETCH(bool, playing);
        serveCatalogue(manifestWith(QStringLiteral("red"), QStringLiteral("/red.mp4")));
        m_defaults->setString(WallpaperManager::kCurrentWallpaperIDKey, QStringLiteral("red"));
        auto delegate = makeDelegate();
        ShellCommands commands(*delegate);
        StdoutCapture capture;
        QCoro::Task<> restore = delegate->restoreLastWallpaper(); // waits for the catalogue
        const auto parsed = CommandLine::parse(QStringList{QStringLiteral("lumivale")} + command);
        QCoro::waitFor(commands.run(std::get<CommandLine>(parsed)));
        QCoro::waitFor(std::move(restore));
        QCOMPARE(m_manager->currentWallpaperID(), wallpaper);
        QCOMPARE(m_manager->isPlaying(), playing);
        QCOMPARE(m_defaults->string(WallpaperManager::kCurrentWallpaperIDKey),
                 wallpaper.isNull() ? std::nullopt : std::optional(wallpaper));
    }

    // ---- Status menu ----------------------------------------------------------

    void menuHasItsFixedStructure()
    {
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        struct Expected
        {
            const char *title;
            const char *shortcut;
            bool enabled;
        };
        const QList<Expected> expected{
            {"CPU: --", "", false},
            {"RAM: --", "", false},
            {"Cache: --", "", false},
            {"", "", true},
            {"Open Lumivale", "Ctrl+G", true},
            {"Refresh Library", "Ctrl+R", true},
            {"", "", true},
            {"Clear Cache", "", true},
            {"Clear RAM", "", true},
            {"Start on login", "", true},
            {"Check for Updates...", "", true},
            {"", "", true},
            {"Pause / Resume", "Ctrl+P", true},
            {"Turn Off Wallpaper", "", true},
            {"", "", true},
            {"Quit", "Ctrl+Q", true},
        };
        const QList<QAction *> actions = delegate->statusMenu()->actions();
        QCOMPARE(actions.size(), expected.size());
        for (qsizetype i = 0; i < actions.size(); ++i) {
            const QString title = QString::fromUtf8(expected[i].title);
            QCOMPARE(actions[i]->isSeparator(), title.isEmpty());
            if (title.isEmpty())
                continue;
            QCOMPARE(actions[i]->text(), title);
            QCOMPARE(actions[i]->shortcut().toString(), QString::fromUtf8(expected[i].shortcut));
            QCOMPARE(actions[i]->isEnabled(), expected[i].enabled);
            QVERIFY2(!actions[i]->icon().isNull(), qPrintable(title));
        }
        QCOMPARE(delegate->cpuItem(), actions[0]);
        QCOMPARE(delegate->launchAtLoginItem(), actions[9]);
        QVERIFY(delegate->launchAtLoginItem()->isCheckable());
    }

    void openingTheMenuMeasures()
    {
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        QFile video(m_cache->cacheDirectory() + QStringLiteral("/a.mp4"));
        QVERIFY(video.open(QIODevice::WriteOnly));
        video.write(QByteArray(1'500'000, 'x'));
        video.close();
        m_cacheState->refresh();
        m_platform->loginItem().setStatus(LoginStatus::Enabled);

        Q_EMIT delegate->statusMenu()->aboutToShow();
        QVERIFY(delegate->cpuItem()->text().contains(
            QRegularExpression(QStringLiteral("^CPU: \\d+\\.\\d%$"))));
        QVERIFY(delegate->ramItem()->text().contains(
            QRegularExpression(QStringLiteral("^RAM: \\d+(\\.\\d)? [kMG]B$"))));
        QCOMPARE(delegate->cacheItem()->text(), QStringLiteral("Cache: 1.5 MB"));
        QVERIFY(delegate->launchAtLoginItem()->isChecked());

        m_platform->loginItem().setStatus(LoginStatus::RequiresApproval);
        delegate->refreshMenuMetrics();
        QVERIFY(!delegate->launchAtLoginItem()->isChecked());
    }

    // ---- Actions --------------------------------------------------------------

    void refreshLibraryPostsTheNotification()
    {
        QSignalSpy refreshes(&NotificationCenter::shared(),
                             &NotificationCenter::refreshWallpaperLibrary);
        auto delegate = makeDelegate();
        delegate->refreshLibrary();
        QCOMPARE(refreshes.count(), 1);
    }

    void clearCacheEmptiesTheFolderAndLeavesPlaybackAlone()
    {
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        applyRed();
        QFile video(m_cache->cacheDirectory() + QStringLiteral("/a.mp4"));
        QVERIFY(video.open(QIODevice::WriteOnly));
        video.write(QByteArray(2000, 'x'));
        video.close();
        m_cacheState->refresh();
        delegate->refreshMenuMetrics();
        QCOMPARE(delegate->cacheItem()->text(), QStringLiteral("Cache: 2.0 kB"));

        delegate->clearCache();
        QCOMPARE(m_cacheState->totalBytes(), 0);
        QCOMPARE(delegate->cacheItem()->text(), QStringLiteral("Cache: 0 bytes"));
        QVERIFY(m_platform->prompts().alerts().isEmpty());
        QVERIFY(m_manager->isPlaying());
        QCOMPARE(shownPlayers().size(), 2);
    }

    void aFailedClearShowsOneAlertAndKeepsTheMeters()
    {
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        QFile video(m_cache->cacheDirectory() + QStringLiteral("/a.mp4"));
        QVERIFY(video.open(QIODevice::WriteOnly));
        video.write(QByteArray(3000, 'x'));
        video.close();
        m_cacheState->refresh();
        delegate->refreshMenuMetrics();
        const QString before = delegate->cacheItem()->text();
        // A folder that is gone cannot be cleared.
        QVERIFY(QDir(m_cache->cacheDirectory()).removeRecursively());

        delegate->clearCache();
        QCOMPARE(m_platform->prompts().alerts().size(), 1);
        QCOMPARE(m_platform->prompts().alerts()[0].message,
                 QStringLiteral("Could not clear cache"));
        QVERIFY(
            m_platform->prompts().alerts()[0].informativeText.contains(m_cache->cacheDirectory()));
        QCOMPARE(m_platform->prompts().activationsBeforePrompts(), 1);
        QCOMPARE(delegate->cacheItem()->text(), before);
        QCOMPARE(m_cacheState->totalBytes(), 3000);
    }

    void clearRAMRebuildsAndKeepsPauseState()
    {
        auto delegate = makeDelegate();
        applyRed();
        m_manager->pauseAll();
        QCoro::waitFor(delegate->clearRAM());
        QVERIFY(!m_manager->isPlaying());
        QCOMPARE(shownPlayers().size(), 2);
        for (FakeVideoPlayer *player : shownPlayers())
            QVERIFY(player->isPaused());

        m_manager->playAll();
        QCoro::waitFor(delegate->clearRAM());
        QVERIFY(m_manager->isPlaying());
        for (FakeVideoPlayer *player : shownPlayers())
            QVERIFY(!player->isPaused());
    }

    void clearRAMWithoutWallpaperOnlyMeasures()
    {
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        QCoro::waitFor(delegate->clearRAM());
        QVERIFY(delegate->cpuItem()->text() != QStringLiteral("CPU: --"));
        QCOMPARE(m_platform->surfacesMade(), 0);
    }

    void togglePauseFlipsEvenWithoutWallpaper()
    {
        auto delegate = makeDelegate();
        QVERIFY(!m_manager->isPlaying());
        QCoro::waitFor(delegate->togglePause());
        QVERIFY(m_manager->isPlaying());
        QCoro::waitFor(delegate->togglePause());
        QVERIFY(!m_manager->isPlaying());

        // The user's pause holds through a new wallpaper.
        applyRed();
        QVERIFY(!m_manager->isPlaying());
        QCoro::waitFor(delegate->togglePause());
        QVERIFY(m_manager->isPlaying());
        QCoro::waitFor(delegate->togglePause());
        for (FakeVideoPlayer *player : shownPlayers())
            QVERIFY(player->isPaused());
    }

    void stopWallpaperRestoresThePicturesOrLogs()
    {
        const auto picture = [this](const QString &name) {
            QFile file(m_dir.filePath(name));
            file.open(QIODevice::WriteOnly);
            file.write("png");
            return FakeDesktopPictures::Picture{QUrl::fromLocalFile(file.fileName()), {}};
        };
        m_platform->desktopPictures().setPicture(mainDisplay.name,
                                                 picture(QStringLiteral("main.png")));
        m_platform->desktopPictures().setPicture(sideDisplay.name,
                                                 picture(QStringLiteral("side.png")));
        auto delegate = makeDelegate();
        applyRed();
        m_platform->desktopPictures().setPicture(mainDisplay.name,
                                                 picture(QStringLiteral("still.jpg")));
        QCoro::waitFor(delegate->stopWallpaper());
        QVERIFY(!m_manager->currentVideoURL());
        QCOMPARE(m_platform->liveSurfaces().size(), 0);
        QCOMPARE(m_platform->desktopPictures().picture(mainDisplay.name)->url,
                 QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("main.png"))));

        // Nothing saved any more: the restore fails, quietly but for one line.
        StdoutCapture capture;
        QCoro::waitFor(delegate->stopWallpaper());
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines()[0].startsWith("restore default wallpaper failed: "));
        QVERIFY(m_platform->prompts().alerts().isEmpty());
    }

    // ---- Activity and power -----------------------------------------------------

    // The user's pause and the automatic ones are kept apart: steps are the
    // user's "pause" and "resume", a front application that covers the main
    // screen or not ("cover", "uncover"), and the power saver ("saver-on",
    // "saver-off").
    void pauseDecisions_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("playing");
        QTest::newRow("covered pauses") << "cover" << false;
        QTest::newRow("uncovered resumes an automatic pause") << "cover uncover" << true;
        QTest::newRow("uncovering keeps the user's pause") << "pause cover uncover" << false;
        QTest::newRow("saver off keeps the user's pause") << "pause saver-on saver-off" << false;
        QTest::newRow("saver pauses") << "saver-on" << false;
        QTest::newRow("saver off resumes") << "saver-on saver-off" << true;
        QTest::newRow("saver off while covered stays paused")
            << "saver-on cover saver-off" << false;
        QTest::newRow("uncovered in saver stays paused") << "saver-on cover uncover" << false;
        QTest::newRow("user resume overrides covered") << "cover resume" << true;
        QTest::newRow("override lasts while nothing changes") << "cover resume cover" << true;
        QTest::newRow("override ends at the next change") << "cover resume saver-on" << false;
        QTest::newRow("user resume overrides saver") << "saver-on resume" << true;
        QTest::newRow("user pause and resume") << "pause resume" << true;
    }
    void pauseDecisions()
    {
        QFETCH(QString, steps);
        QFETCH(bool, playing);
        auto delegate = makeDelegate();
        applyRed();
        for (const QString &step : steps.split(u' ')) {
            if (step == u"pause" || step == u"resume") {
                QCOMPARE(m_manager->isPlaying(), step == u"pause");
                QCoro::waitFor(delegate->togglePause());
            } else if (step.startsWith(u"saver")) {
                m_platform->powerState().setLowPowerModeEnabled(step == u"saver-on");
                QCoro::waitFor(delegate->powerModeChanged());
            } else {
                m_platform->workspace().setWindows(QList{
                    window(4242, step == u"cover" ? mainDisplay.frame : QRect(10, 10, 800, 600))});
                QCoro::waitFor(delegate->activeAppChanged());
            }
        }
        QCOMPARE(m_manager->isPlaying(), playing);
        for (FakeVideoPlayer *player : shownPlayers())
            QCOMPARE(player->isPaused(), !playing);
    }

    void coveringRule_data()
    {
        QTest::addColumn<std::optional<QList<WindowDescription>>>("windows");
        QTest::addColumn<bool>("covered");
        const qint64 own = 100;
        const QRect full(0, 0, 1920, 1080);
        WindowDescription hidden = window(7, full);
        hidden.isHidden = true;
        WindowDescription elsewhere = window(7, full);
        elsewhere.isOnCurrentWorkspace = false;
        const WindowDescription noPid{std::nullopt, full, false, true};
        const WindowDescription noFrame{7, std::nullopt, false, true};
        QTest::newRow("no list") << std::optional<QList<WindowDescription>>() << false;
        QTest::newRow("empty list") << std::optional(QList<WindowDescription>{}) << false;
        QTest::newRow("other application full size")
            << std::optional(QList{window(7, full)}) << true;
        QTest::newRow("own window full size") << std::optional(QList{window(own, full)}) << false;
        QTest::newRow("hidden") << std::optional(QList{hidden}) << false;
        QTest::newRow("other workspace") << std::optional(QList{elsewhere}) << false;
        QTest::newRow("malformed entries") << std::optional(QList{noPid, noFrame}) << false;
        QTest::newRow("one pixel short")
            << std::optional(QList{window(7, QRect(0, 0, 1920, 1079))}) << false;
        QTest::newRow("exact size on another screen")
            << std::optional(QList{window(7, QRect(1920, 0, 1920, 1080))}) << true;
        QTest::newRow("behind smaller windows")
            << std::optional(
                   QList{window(8, QRect(0, 0, 300, 200)), window(own, full), window(7, full)})
            << true;
    }
    void coveringRule()
    {
        QFETCH(std::optional<QList<WindowDescription>>, windows);
        QFETCH(bool, covered);
        QCOMPARE(screencoverage::isMainScreenCovered(QSize(1920, 1080), windows, 100), covered);
        QVERIFY(!screencoverage::isMainScreenCovered(std::nullopt, windows, 100));
    }

    void mainScreenFollowsTheActiveWindow()
    {
        const QList<Screen> screens{mainDisplay, sideDisplay};
        QCOMPARE(screencoverage::mainScreen(screens, QRect(2000, 100, 400, 300), mainDisplay),
                 std::optional(sideDisplay));
        QCOMPARE(screencoverage::mainScreen(screens, std::nullopt, mainDisplay),
                 std::optional(mainDisplay));
        QCOMPARE(screencoverage::mainScreen(screens, QRect(-5000, 0, 10, 10), mainDisplay),
                 std::optional(mainDisplay));

        // A full-size window for the side screen covers only when the side
        // screen holds the focus.
        auto delegate = makeDelegate();
        m_platform->workspace().setWindows(QList{window(7, QRect(1920, 0, 1280, 1024))});
        QVERIFY(!delegate->isMainScreenCovered());
        m_platform->workspace().setActiveWindowFrame(QRect(1920, 0, 1280, 1024));
        QVERIFY(delegate->isMainScreenCovered());
    }

    // ---- Quit -------------------------------------------------------------------

    // Every quit freezes at most once, exits exactly once and closes the
    // command socket then, with at most one line: also a freeze that fails,
    // and one that takes longer than the limit.
    void quitEndsOnce_data()
    {
        QTest::addColumn<QString>("video"); // "shown": red, on screen
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("pictures"); // -1: not counted
        QTest::newRow("frozen into the desktop")
            << QStringLiteral("shown") << 5000 << QByteArray() << 2;
        QTest::newRow("no wallpaper") << QString() << 5000 << QByteArray() << 0;
        QTest::newRow("freeze fails")
            << QStringLiteral("not-a-video.mp4") << 5000
            << QByteArray("freeze wallpaper before quit failed: Cannot read the video") << 0;
        QTest::newRow("freeze past the limit")
            << QStringLiteral("red") << 0
            << QByteArray(
                   "freeze wallpaper before quit failed: The frame was not frozen within 0 s")
            << -1;
    }
    void quitEndsOnce()
    {
        QFETCH(QString, video);
        QFETCH(int, limitMs);
        QFETCH(QByteArray, line);
        QFETCH(int, pictures);
        AppDelegate::Environment env = makeDelegate()->environment();
        env.freezeLimit = std::chrono::milliseconds(limitMs);
        AppDelegate delegate(env, false);
        QSignalSpy ready(&delegate, &AppDelegate::readyToTerminate);
        if (video == u"shown")
            applyRed();
        else if (!video.isEmpty())
            m_manager->apply(QUrl::fromLocalFile(mediaPath(video)), QStringLiteral("one"));
        StdoutCapture capture;
        delegate.quitApp();
        if (!video.isEmpty()) {
            // A second request joins the freeze.
            QCOMPARE(delegate.shellStatus(), AppDelegate::ShellStatus::Freezing);
            QCOMPARE(delegate.applicationShouldTerminate(), AppDelegate::TerminateReply::Later);
            delegate.requestTermination();
            QCOMPARE(m_exits, 0);
            // Commands are still answered ("quitting") while the frame freezes.
            QCOMPARE(m_socketCloses, 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_exits, 1, 20000);
        QCOMPARE(m_socketCloses, 1);
        QCOMPARE(ready.count(), 1);
        QVERIFY(delegate.isReadyToTerminate());
        QTest::qWait(300); // a late freeze changes nothing
        // Ready: answered at once, and still no second exit.
        QCOMPARE(delegate.applicationShouldTerminate(), AppDelegate::TerminateReply::Now);
        delegate.requestTermination();
        QCOMPARE(m_exits, 1);
        QCOMPARE(m_socketCloses, 1);
        QCOMPARE(capture.lines().size(), line.isEmpty() ? 0 : 1);
        if (!line.isEmpty())
            QVERIFY2(capture.lines()[0].startsWith(line), capture.lines()[0]);
        const auto writes = m_platform->desktopPictures().writes();
        if (pictures >= 0)
            QCOMPARE(writes.size(), pictures);
        for (const auto &write : writes)
            QVERIFY(write.second.url.path().endsWith(QStringLiteral("FrozenWallpaper.jpg")));
    }

    // ---- Start at login ---------------------------------------------------------

    // At launch the stored wish wins over the login item, the first launch
    // wishes it on, and a failure is one line that stores nothing.
    void syncAtLaunch_data()
    {
        QTest::addColumn<int>("wish"); // -1: nothing stored (first launch)
        QTest::addColumn<LoginStatus>("status");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<int>("registers");
        QTest::addColumn<int>("unregisters");
        QTest::newRow("first launch registers")
            << -1 << LoginStatus::NotRegistered << false << 1 << 0;
        QTest::newRow("on, not registered") << 1 << LoginStatus::NotRegistered << false << 1 << 0;
        QTest::newRow("on, needs approval")
            << 1 << LoginStatus::RequiresApproval << false << 1 << 0;
        QTest::newRow("on, enabled") << 1 << LoginStatus::Enabled << false << 0 << 0;
        QTest::newRow("off, enabled") << 0 << LoginStatus::Enabled << false << 0 << 1;
        QTest::newRow("off, not found") << 0 << LoginStatus::NotFound << false << 0 << 0;
        QTest::newRow("a failure is logged") << 0 << LoginStatus::Enabled << true << 0 << 1;
    }
    void syncAtLaunch()
    {
        QFETCH(int, wish);
        QFETCH(LoginStatus, status);
        QFETCH(bool, fails);
        QFETCH(int, registers);
        QFETCH(int, unregisters);
        if (wish >= 0) {
            m_defaults->setBool(LoginItemSync::launchAtLoginPreferenceSetKey, true);
            m_defaults->setBool(LoginItemSync::launchAtLoginPreferenceKey, wish == 1);
        }
        m_platform->loginItem().setStatus(status);
        if (fails)
            m_platform->loginItem().setFailure(
                Error(QStringLiteral("LoginItem"), 2, QStringLiteral("read-only")));
        auto delegate = makeDelegate();
        StdoutCapture capture;
        delegate->loginItemSync().sync();
        QCOMPARE(m_platform->loginItem().registerCalls(), registers);
        QCOMPARE(m_platform->loginItem().unregisterCalls(), unregisters);
        QCOMPARE(m_defaults->boolean(LoginItemSync::launchAtLoginPreferenceKey),
                 std::optional(wish != 0));
        QCOMPARE(m_defaults->boolean(LoginItemSync::launchAtLoginPreferenceSetKey),
                 std::optional(true));
        if (fails) {
            QCOMPARE(capture.lines(), QList<QByteArray>{"launch at login sync failed: read-only"});
            QCOMPARE(m_platform->loginItem().status(), status);
        } else {
            QVERIFY(capture.lines().isEmpty());
            QCOMPARE(m_platform->loginItem().status() == LoginStatus::Enabled, wish != 0);
        }
        QVERIFY(m_platform->prompts().alerts().isEmpty());
    }

    void toggleFlipsTheItemAndTheWish()
    {
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        QCOMPARE(m_platform->loginItem().status(), LoginStatus::Enabled);
        delegate->toggleLaunchAtLogin();
        QCOMPARE(m_platform->loginItem().status(), LoginStatus::NotRegistered);
        QCOMPARE(m_defaults->boolean(LoginItemSync::launchAtLoginPreferenceKey),
                 std::optional(false));
        QVERIFY(!delegate->launchAtLoginItem()->isChecked());
        // Requires approval counts as off: the toggle registers again.
        m_platform->loginItem().setStatus(LoginStatus::RequiresApproval);
        delegate->toggleLaunchAtLogin();
        QCOMPARE(m_platform->loginItem().status(), LoginStatus::Enabled);
        QCOMPARE(m_defaults->boolean(LoginItemSync::launchAtLoginPreferenceKey),
                 std::optional(true));
        QVERIFY(delegate->launchAtLoginItem()->isChecked());
    }

    void aFailedToggleAlertsAndStoresNothing()
    {
        auto delegate = makeDelegate();
        m_defaults->setBool(LoginItemSync::launchAtLoginPreferenceSetKey, false);
        m_platform->loginItem().setFailure(
            Error(QStringLiteral("LoginItem"), 2, QStringLiteral("read-only")));
        delegate->toggleLaunchAtLogin();
        QCOMPARE(m_platform->prompts().alerts().size(), 1);
        QCOMPARE(m_platform->prompts().alerts()[0].message,
                 QStringLiteral("Could not update login setting"));
        QCOMPARE(m_platform->prompts().alerts()[0].informativeText, QStringLiteral("read-only"));
        QVERIFY(!m_defaults->contains(LoginItemSync::launchAtLoginPreferenceKey));
        QCOMPARE(m_defaults->boolean(LoginItemSync::launchAtLoginPreferenceSetKey),
                 std::optional(false));
    }

    // ---- Updates ------------------------------------------------------------------

    void updaterConfiguration_data()
    {
        QTest::addColumn<std::optional<QString>>("key");
        QTest::addColumn<QString>("feed");
        QTest::addColumn<bool>("configured");
        const QString feed = QStringLiteral("https://updates.test/appcast.xml");
        const QString key = QStringLiteral("MCowBQYDK2VwAyEA9q2mFg==");
        QTest::newRow("missing") << std::optional<QString>() << feed << false;
        QTest::newRow("empty") << std::optional(QString()) << feed << false;
        QTest::newRow("blank") << std::optional(QStringLiteral(" \n\t ")) << feed << false;
        QTest::newRow("unexpanded")
            << std::optional(QStringLiteral("$(SPARKLE_PUBLIC_ED_KEY)")) << feed << false;
        QTest::newRow("key without feed") << std::optional(key) << QString() << false;
        QTest::newRow("key and feed") << std::optional(QStringLiteral("  ") + key) << feed << true;
    }
    void updaterConfiguration()
    {
        QFETCH(std::optional<QString>, key);
        QFETCH(QString, feed);
        QFETCH(bool, configured);
        QCOMPARE(UpdaterConfiguration::isConfigured(key, feed), configured);
    }

    void notConfiguredAlertsEveryTimeAndMakesNoController()
    {
        auto delegate = makeDelegate();
        StdoutCapture capture;
        delegate->updater().startIfConfigured();
        QCOMPARE(capture.lines(),
                 QList<QByteArray>{
                     "Sparkle updater is disabled because SUPublicEDKey is not configured."});
        for (int i = 0; i < 2; ++i)
            QCoro::waitFor(delegate->checkForUpdates());
        QCOMPARE(m_platform->prompts().alerts().size(), 2);
        QCOMPARE(m_platform->prompts().alerts()[1].message,
                 QStringLiteral("Updates are not configured"));
        QCOMPARE(m_platform->prompts().alerts()[1].informativeText,
                 QStringLiteral("This build does not include a Sparkle public key. Generate a key "
                                "and build with SPARKLE_PUBLIC_ED_KEY to enable updates."));
        QCOMPARE(m_platform->prompts().activationsBeforePrompts(), 2);
        QVERIFY(!delegate->updater().controller());
    }

    void configuredStartsTheController()
    {
        qputenv("LUMIVALE_SU_PUBLIC_ED_KEY", "MCowBQYDK2VwAyEA9q2mFg==");
        qputenv("LUMIVALE_SU_FEED_URL", "http://127.0.0.1:9/appcast.xml");
        auto delegate = makeDelegate();
        StdoutCapture capture;
        delegate->updater().startIfConfigured();
        QVERIFY(capture.text().isEmpty());
        QVERIFY(delegate->updater().controller());
    }
};

Q_DECLARE_METATYPE(std::optional<QList<lumivale::WindowDescription>>)
Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(lumivale::LoginItemService::Status)

LUMIVALE_TEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
