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
#include <QThreadPool>
#include <QWindow>
#include <qcoro/qcorotask.h>

using namespace lumivale;
using namespace lumivale::fake;
using namespace lumivale::test;
using Status = VideoPlayer::ItemStatus;
using LoginStatus = LoginItemService::Status;
using enum LoginItemService::Status;
using namespace Qt::StringLiterals;

namespace {
const Screen mainDisplay{u"Main"_s, 101, QRect(0, 0, 1920, 1080)};
const Screen sideDisplay{u"Side"_s, 202, QRect(1920, 0, 1280, 1024)};

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

    // The catalogue on the loopback server: "ID PATH", its one wallpaper and
    // where its video lies (red.mp4 is the test media's), or "down".
    void serveCatalogue(const QString &catalogue)
    {
        const QByteArray manifest = uR"([{"id":"%1","name":"One","video":"%2"}])"_s
                                        .arg(catalogue.section(u' ', 0, 0),
                                             m_server->url(catalogue.section(u' ', 1)).toString())
                                        .toUtf8();
        const bool down = catalogue == u"down";
        m_server->setHandler([manifest, down](const LoopbackHttpServer::Request &request) {
            if (request.path() == "/manifest")
                return LoopbackHttpServer::json(down ? "down" : manifest, down ? 503 : 200);
            if (request.path() == "/red.mp4")
                return LoopbackHttpServer::file(mediaPath(u"red"_s), request);
            return LoopbackHttpServer::Response{404, {}, "no", 0, false};
        });
        qputenv("LUMIVALE_MANIFEST_URL", m_server->url(u"/manifest"_s).toEncoded());
    }

    void applyRed()
    {
        m_manager->apply(QUrl::fromLocalFile(mediaPath(u"red"_s)), u"red"_s);
        for (FakeDesktopSurface *surface : m_platform->liveSurfaces()) {
            for (FakeVideoPlayer *player : surface->layers())
                player->reportStatus(Status::ReadyToPlay);
        }
        QCoreApplication::processEvents();
    }

    void writeCachedVideo(qsizetype bytes)
    {
        QFile video(m_cache->cacheDirectory() + u"/a.mp4"_s);
        QVERIFY(video.open(QIODevice::WriteOnly));
        video.write(QByteArray(bytes, 'x'));
        video.close();
        m_cacheState->refresh();
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
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void init()
    {
        m_platform = std::make_unique<FakePlatform>();
        m_platform->screens().setScreens({mainDisplay, sideDisplay});
        const QString defaultsFile = m_dir.filePath(u"defaults.json"_s);
        QFile::remove(defaultsFile);
        m_defaults = std::make_unique<UserDefaults>(defaultsFile);
        m_manager = std::make_unique<WallpaperManager>(*m_platform, *m_defaults);
        const QString cacheDir = m_dir.filePath(u"LumivaleWallpapers"_s);
        QDir(cacheDir).removeRecursively();
        m_cache = std::make_unique<VideoCache>(cacheDir);
        m_cacheState = std::make_unique<VideoCacheState>(*m_cache);
        m_gallery = std::make_unique<QWindow>();
        m_gallery->setObjectName(u"gallery"_s);
        m_gallery->setTitle(u"Gallery"_s);
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

    // The launch runs its steps in order and shows the gallery one turn of
    // the event loop later, unless the autostart entry launched it; then it
    // hides the gallery. Reopening shows it either way.
    void launch_data()
    {
        QTest::addColumn<bool>("loginItem");
        QTest::newRow("by the user") << false;
        QTest::newRow("by the autostart entry") << true;
    }
    void launch()
    {
        QFETCH(bool, loginItem);
        m_platform->loginItem().setFailure(Error(u"LoginItem"_s, 1, u"denied"_s));
        QSignalSpy refreshes(&NotificationCenter::shared(),
                             &NotificationCenter::refreshWallpaperLibrary);
        if (loginItem)
            m_gallery->show();
        auto delegate = makeDelegate(loginItem);
        StdoutCapture capture;
        delegate->applicationDidFinishLaunching();
        QCOMPARE(capture.lines(),
                 (QList<QByteArray>{
                     "launch at login sync failed: denied",
                     "Sparkle updater is disabled because SUPublicEDKey is not configured."}));
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
        QCOMPARE(m_gallery->isVisible(), loginItem);
        QTRY_COMPARE(m_gallery->isVisible(), !loginItem);
        QCOMPARE(refreshes.count(), loginItem ? 0 : 1);
        QCOMPARE(m_platform->prompts().activations(), loginItem ? 0 : 1);
        QCOMPARE(delegate->applicationShouldHandleReopen(), false);
        QVERIFY(m_gallery->isVisible());
        QCOMPARE(refreshes.count(), loginItem ? 1 : 2);

        // Closing hides the gallery, which shows again.
        QVERIFY(!m_gallery->close());
        QVERIFY(!m_gallery->isVisible());
        delegate->openGallery();
        QVERIFY(m_gallery->isVisible());

        // The observers are connected: a front-application change acts.
        m_platform->workspace().setWindows(QList{window(4242, mainDisplay.frame)});
        m_manager->setIsPlaying(true);
        m_platform->workspace().notifyActiveApplicationChanged();
        QTRY_VERIFY(!m_manager->isPlaying());
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

    // The launch-time restore: what it applies and what it logs (the start of
    // the one line), whatever the catalogue and the cache hold.
    void restore_data()
    {
        QTest::addColumn<QString>("stored"); // "ID SCREEN..."; empty: nothing stored
        QTest::addColumn<QString>("catalogue");
        QTest::addColumn<bool>("cached");
        QTest::addColumn<QString>("screens"); // where it is applied; empty: not applied
        QTest::addColumn<int>("requests");    // to the server; -1: not counted
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("nothing stored loads nothing")
            << QString() << u"red /red.mp4"_s << false << QString() << 0 << QByteArray();
        QTest::newRow("no stored screens: every screen")
            << u"red"_s << u"red /red.mp4"_s << false << u"101 202"_s << -1 << QByteArray();
        QTest::newRow("the stored screens")
            << u"red 202"_s << u"red /red.mp4"_s << false << u"202"_s << -1 << QByteArray();
        QTest::newRow("no longer listed: nothing, quietly")
            << u"red"_s << u"other /red.mp4"_s << false << QString() << 1 << QByteArray();
        QTest::newRow("a failed download is logged")
            << u"red"_s << u"red /gone.mp4"_s << false << QString() << -1
            << QByteArray("restore failed: Video download failed with HTTP 404");
        QTest::newRow("catalogue down: from the cache")
            << u"red"_s << u"down"_s << true << u"101 202"_s << -1
            << QByteArray("restore failed: ");
        QTest::newRow("catalogue down, not cached: nothing")
            << u"red"_s << u"down"_s << false << QString() << -1 << QByteArray("restore failed: ");
    }
    void restore()
    {
        QFETCH(QString, stored);
        QFETCH(QString, catalogue);
        QFETCH(bool, cached);
        QFETCH(QString, screens);
        QFETCH(int, requests);
        QFETCH(QByteArray, line);
        serveCatalogue(catalogue);
        if (cached) {
            QDir().mkpath(m_cache->cacheDirectory());
            QVERIFY(QFile::copy(mediaPath(u"red"_s), m_cache->fileURL(u"red"_s).toLocalFile()));
        }
        if (!stored.isEmpty()) {
            m_defaults->setString(WallpaperManager::kCurrentWallpaperIDKey,
                                  stored.section(u' ', 0, 0));
            m_defaults->setStringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey,
                                       stored.split(u' ').mid(1));
        }
        auto delegate = makeDelegate();
        StdoutCapture capture;
        QCoro::waitFor(delegate->restoreLastWallpaper());
        if (screens.isEmpty()) {
            QVERIFY(!m_manager->currentVideoURL());
        } else {
            QCOMPARE(m_manager->currentWallpaperID(), u"red"_s);
            QCOMPARE(m_manager->currentVideoURL(), m_cache->fileURL(u"red"_s));
            const QStringList ids = screens.split(u' ');
            QCOMPARE(m_manager->targetScreenIDs(), QSet<QString>(ids.cbegin(), ids.cend()));
        }
        if (requests >= 0)
            QCOMPARE(m_server->requests().size(), requests);
        QCOMPARE(capture.lines().size(), line.isEmpty() ? 0 : 1);
        if (!line.isEmpty())
            QVERIFY2(capture.lines()[0].startsWith(line), capture.lines()[0]);
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
            << QStringList{u"--apply"_s, mediaPath(u"blue"_s)} << u"blue"_s << true;
        QTest::newRow("--stop") << QStringList{u"--stop"_s} << QString() << false;
        QTest::newRow("--pause") << QStringList{u"--pause"_s} << u"red"_s << false;
    }
    void restoreGivesWayToALaterChoice()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, wallpaper);
        QFETCH(bool, playing);
        serveCatalogue(u"red /red.mp4"_s);
        m_defaults->setString(WallpaperManager::kCurrentWallpaperIDKey, u"red"_s);
        auto delegate = makeDelegate();
        ShellCommands commands(*delegate);
        StdoutCapture capture;
        QCoro::Task<> restore = delegate->restoreLastWallpaper(); // waits for the catalogue
        const auto parsed = CommandLine::parse(QStringList{u"lumivale"_s} + command);
        QCoro::waitFor(commands.run(std::get<CommandLine>(parsed)));
        QCoro::waitFor(std::move(restore));
        QCOMPARE(m_manager->currentWallpaperID(), wallpaper);
        QCOMPARE(m_manager->isPlaying(), playing);
        QCOMPARE(m_defaults->string(WallpaperManager::kCurrentWallpaperIDKey),
                 wallpaper.isNull() ? std::nullopt : std::optional(wallpaper));
    }

    // The `lumivale` commands, as the running instance carries them out.
    void shellCommandsActOnTheApplication()
    {
        auto delegate = makeDelegate();
        ShellCommands commands(*delegate);
        const auto run = [&commands](const QString &words) {
            const auto parsed = CommandLine::parse(u"lumivale"_s.split(u' ') + words.split(u' '));
            return QCoro::waitFor(commands.run(std::get<CommandLine>(parsed)));
        };
        CommandReply reply = run(u"--apply "_s + mediaPath(u"red"_s) + u" --screen 101"_s);
        QCOMPARE(errorOf(reply), std::nullopt);
        QCOMPARE(m_manager->currentWallpaperID(), u"red"_s);
        // The lock-screen still was made and set, as the gallery's apply does.
        const QUrl still = m_platform->desktopPictures().picture(mainDisplay.name)->url;
        QVERIFY(still.fileName().startsWith(u"LockScreenFallback-"_s));
        for (FakeVideoPlayer *player : m_platform->liveSurfaces()[0]->layers())
            player->reportStatus(Status::ReadyToPlay);
        QCoreApplication::processEvents();

        run(u"--pause"_s);
        QCOMPARE(run(u"--status"_s).value_or(QString()),
                 u"wallpaper: red\nscreens: 101\nplayback: paused\ncache: 0 bytes (0 videos)\n"_s);
        QCOMPARE(run(u"--toggle-pause"_s).value_or(QString()), u"playing\n"_s);

        // Clearing a cache folder that is gone is an error for the caller, not an alert.
        QVERIFY(QDir(m_cache->cacheDirectory()).removeRecursively());
        QVERIFY(!run(u"--clear-cache"_s));
        QVERIFY(m_platform->prompts().alerts().isEmpty());

        QCOMPARE(run(u"--screens"_s).value_or(QString()),
                 u"101\tMain\t1920x1080+0+0\n202\tSide\t1280x1024+1920+0\n"_s);

        // The autostart entry reaching a running instance shows nothing.
        run(u"--login-item"_s);
        QCOMPARE(m_platform->prompts().activations(), 0);

        QVERIFY(run(u"--quit"_s));
        QCOMPARE(m_exits, 1);
        QVERIFY(delegate->isReadyToTerminate());
        // Once quitting, nothing more is taken.
        reply = run(u"--status"_s);
        QVERIFY(!reply);
        QCOMPARE(reply.error().description(), u"Lumivale is quitting"_s);
    }

    // The menu's fixed structure, and the meters measured as it opens.
    void menu()
    {
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        // Title and shortcut; "-" a separator; the meters are disabled.
        const QStringList expected =
            u"CPU: --;RAM: --;Cache: --;-;Open Lumivale|Ctrl+G;Refresh Library|Ctrl+R;-;"
            u"Clear Cache;Clear RAM;Start on login;Check for Updates...;-;"
            u"Pause / Resume|Ctrl+P;Turn Off Wallpaper;-;Quit|Ctrl+Q"_s.split(u';');
        const QList<QAction *> actions = delegate->statusMenu()->actions();
        QCOMPARE(actions.size(), expected.size());
        for (qsizetype i = 0; i < actions.size(); ++i) {
            QCOMPARE(actions[i]->isSeparator(), expected[i] == u"-");
            if (expected[i] == u"-")
                continue;
            const QString title = expected[i].section(u'|', 0, 0);
            QCOMPARE(actions[i]->text(), title);
            QCOMPARE(actions[i]->shortcut().toString(), expected[i].section(u'|', 1));
            QCOMPARE(actions[i]->isEnabled(), i > 2);
            QVERIFY2(!actions[i]->icon().isNull(), qPrintable(title));
        }
        QCOMPARE(delegate->launchAtLoginItem(), actions[9]);

        writeCachedVideo(1'500'000);
        m_platform->loginItem().setStatus(Enabled);

        Q_EMIT delegate->statusMenu()->aboutToShow();
        QVERIFY(delegate->cpuItem()->text().contains(QRegularExpression(u"^CPU: \\d+\\.\\d%$"_s)));
        QVERIFY(delegate->ramItem()->text().contains(
            QRegularExpression(u"^RAM: \\d+(\\.\\d)? [kMG]B$"_s)));
        QCOMPARE(delegate->cacheItem()->text(), u"Cache: 1.5 MB"_s);
        QVERIFY(delegate->launchAtLoginItem()->isChecked());

        m_platform->loginItem().setStatus(RequiresApproval);
        delegate->refreshMenuMetrics();
        QVERIFY(!delegate->launchAtLoginItem()->isChecked());
    }

    // Clearing empties the folder and leaves playback alone; a folder that is
    // gone cannot be cleared: one alert, and the meters stay as they were.
    void clearCache_data()
    {
        QTest::addColumn<bool>("folderGone");
        QTest::newRow("cleared") << false;
        QTest::newRow("folder gone") << true;
    }
    void clearCache()
    {
        QFETCH(bool, folderGone);
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        applyRed();
        writeCachedVideo(2000);
        delegate->refreshMenuMetrics();
        QCOMPARE(delegate->cacheItem()->text(), u"Cache: 2.0 kB"_s);
        if (folderGone)
            QVERIFY(QDir(m_cache->cacheDirectory()).removeRecursively());

        delegate->clearCache();
        QCOMPARE(m_cacheState->totalBytes(), folderGone ? 2000 : 0);
        QCOMPARE(delegate->cacheItem()->text(),
                 folderGone ? u"Cache: 2.0 kB"_s : u"Cache: 0 bytes"_s);
        QCOMPARE(m_platform->prompts().alerts().size(), folderGone ? 1 : 0);
        if (folderGone) {
            QCOMPARE(m_platform->prompts().alerts()[0].message, u"Could not clear cache"_s);
            QVERIFY(m_platform->prompts().alerts()[0].informativeText.contains(
                m_cache->cacheDirectory()));
            QCOMPARE(m_platform->prompts().activationsBeforePrompts(), 1);
        }
        QVERIFY(m_manager->isPlaying());
        QCOMPARE(shownPlayers().size(), 2);
    }

    // Rebuilds the players and keeps the pause state; without a wallpaper it
    // only measures.
    void clearRAM_data()
    {
        QTest::addColumn<bool>("wallpaper");
        QTest::addColumn<bool>("playing");
        QTest::newRow("paused") << true << false;
        QTest::newRow("playing") << true << true;
        QTest::newRow("no wallpaper") << false << false;
    }
    void clearRAM()
    {
        QFETCH(bool, wallpaper);
        QFETCH(bool, playing);
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        if (wallpaper)
            applyRed();
        playing ? m_manager->playAll() : m_manager->pauseAll();
        QCoro::waitFor(delegate->clearRAM());
        QVERIFY(delegate->cpuItem()->text() != u"CPU: --"_s);
        QCOMPARE(m_manager->isPlaying(), playing);
        QCOMPARE(shownPlayers().size(), wallpaper ? 2 : 0);
        if (!wallpaper)
            QCOMPARE(m_platform->surfacesMade(), 0);
        for (FakeVideoPlayer *player : shownPlayers())
            QCOMPARE(player->isPaused(), !playing);
    }

    // Turning the wallpaper off stops it and gives the desktop its saved
    // pictures back (tst_previousdesktopstore); with none saved that fails,
    // quietly but for one line.
    void stopWallpaperRestoresThePicturesOrLogs()
    {
        auto delegate = makeDelegate();
        applyRed();
        StdoutCapture capture;
        QCoro::waitFor(delegate->stopWallpaper());
        QVERIFY(!m_manager->currentVideoURL());
        QCOMPARE(m_platform->liveSurfaces().size(), 0);
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines()[0].startsWith("restore default wallpaper failed: "));
        QVERIFY(m_platform->prompts().alerts().isEmpty());
    }

    // The user's pause and the automatic ones are kept apart: steps are the
    // user's "pause" and "resume", a front application that covers the main
    // screen or not ("cover", "uncover"), the power saver ("saver-on",
    // "saver-off"), and a wallpaper applied ("apply"; first unless named).
    void pauseDecisions_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("playing");
        QTest::newRow("covered pauses") << "cover" << false;
        QTest::newRow("uncovered resumes an automatic pause") << "cover uncover" << true;
        QTest::newRow("saver pauses") << "saver-on" << false;
        QTest::newRow("saver off resumes") << "saver-on saver-off" << true;
        QTest::newRow("uncovering keeps the user's pause") << "pause cover uncover" << false;
        QTest::newRow("saver off keeps the user's pause") << "pause saver-on saver-off" << false;
        QTest::newRow("saver off while covered stays paused")
            << "saver-on cover saver-off" << false;
        QTest::newRow("uncovered in saver stays paused") << "saver-on cover uncover" << false;
        QTest::newRow("user resume overrides covered") << "cover resume" << true;
        QTest::newRow("override lasts while nothing changes") << "cover resume cover" << true;
        QTest::newRow("override ends at the next change") << "cover resume saver-on" << false;
        QTest::newRow("user resume overrides saver") << "saver-on resume" << true;
        QTest::newRow("user pause and resume") << "pause resume" << true;
        QTest::newRow("toggles without a wallpaper") << "resume apply" << true;
        QTest::newRow("the user's pause holds through a new wallpaper")
            << "resume pause apply" << false;
    }
    void pauseDecisions()
    {
        QFETCH(QString, steps);
        QFETCH(bool, playing);
        auto delegate = makeDelegate();
        for (const QString &step :
             (steps.contains(u"apply") ? steps : u"apply "_s + steps).split(u' ')) {
            if (step == u"apply") {
                applyRed();
            } else if (step == u"pause" || step == u"resume") {
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

    // Windows front to back; this process is 100.
    void coveringRule_data()
    {
        using Windows = std::optional<QList<WindowDescription>>;
        QTest::addColumn<Windows>("windows");
        QTest::addColumn<bool>("covered");
        const auto list = [](const QList<WindowDescription> &windows) { return Windows(windows); };
        const QRect full(0, 0, 1920, 1080);
        QTest::newRow("no list") << Windows() << false;
        QTest::newRow("empty list") << list({}) << false;
        QTest::newRow("other application full size") << list({window(7, full)}) << true;
        QTest::newRow("own window full size") << list({window(100, full)}) << false;
        QTest::newRow("hidden") << list({{7, full, true, true}}) << false;
        QTest::newRow("other workspace") << list({{7, full, false, false}}) << false;
        QTest::newRow("malformed entries")
            << list({{std::nullopt, full, false, true}, {7, std::nullopt, false, true}}) << false;
        QTest::newRow("one pixel short") << list({window(7, QRect(0, 0, 1920, 1079))}) << false;
        QTest::newRow("exact size on another screen")
            << list({window(7, QRect(1920, 0, 1920, 1080))}) << true;
        QTest::newRow("behind smaller windows")
            << list({window(8, QRect(0, 0, 300, 200)), window(100, full), window(7, full)}) << true;
    }
    void coveringRule()
    {
        QFETCH(std::optional<QList<WindowDescription>>, windows);
        QFETCH(bool, covered);
        QCOMPARE(screencoverage::isMainScreenCovered(QSize(1920, 1080), windows, 100), covered);
        QVERIFY(!screencoverage::isMainScreenCovered(std::nullopt, windows, 100));
    }

    // The main screen holds the active window's centre; without one, or with
    // one off every screen, it is the fallback (the primary screen).
    void mainScreenFollowsTheActiveWindow()
    {
        QCOMPARE(screencoverage::mainScreen({mainDisplay, sideDisplay}, QRect(-5000, 0, 10, 10),
                                            mainDisplay),
                 std::optional(mainDisplay));
        // A full-size window for the side screen covers only when the side
        // screen holds the focus.
        auto delegate = makeDelegate();
        m_platform->workspace().setWindows(QList{window(7, QRect(1920, 0, 1280, 1024))});
        QVERIFY(!delegate->isMainScreenCovered());
        m_platform->workspace().setActiveWindowFrame(QRect(1920, 0, 1280, 1024));
        QVERIFY(delegate->isMainScreenCovered());
    }

    // Every quit freezes at most once, exits exactly once and closes the
    // command socket then, with at most one line: also a freeze that fails,
    // and one that takes longer than the limit.
    void quitEndsOnce_data()
    {
        QTest::addColumn<QString>("video"); // "shown": red, on screen
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("pictures"); // -1: not counted
        QTest::newRow("frozen into the desktop") << u"shown"_s << 5000 << QByteArray() << 2;
        QTest::newRow("no wallpaper") << QString() << 5000 << QByteArray() << 0;
        const QByteArray failed = "freeze wallpaper before quit failed: ";
        QTest::newRow("freeze fails")
            << u"not-a-video.mp4"_s << 5000 << failed + "Cannot read the video" << 0;
        QTest::newRow("freeze past the limit")
            << u"red"_s << 0 << failed + "The frame was not frozen within 0 s" << -1;
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
            m_manager->apply(QUrl::fromLocalFile(mediaPath(video)), u"one"_s);
        StdoutCapture capture;
        delegate.quitApp();
        // A second request joins the freeze. (One that cannot read its video
        // may have failed before quitApp() returned: its work raced it.)
        if (!video.isEmpty() && !(video.endsWith(u".mp4") && delegate.isReadyToTerminate())) {
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
        // A late freeze, once its work and its answer are in, changes nothing.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
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
            QVERIFY(write.second.url.path().endsWith(u"FrozenWallpaper.jpg"_s));
    }

    // At launch the stored wish wins over the login item, the first launch
    // wishes it on, and a failure is one line that stores nothing.
    void syncAtLaunch_data()
    {
        QTest::addColumn<int>("wish"); // -1: nothing stored (first launch)
        QTest::addColumn<LoginStatus>("status");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<int>("registers");
        QTest::addColumn<int>("unregisters");
        QTest::newRow("first launch registers") << -1 << NotRegistered << false << 1 << 0;
        QTest::newRow("on, not registered") << 1 << NotRegistered << false << 1 << 0;
        QTest::newRow("on, needs approval") << 1 << RequiresApproval << false << 1 << 0;
        QTest::newRow("on, enabled") << 1 << Enabled << false << 0 << 0;
        QTest::newRow("off, enabled") << 0 << Enabled << false << 0 << 1;
        QTest::newRow("off, not found") << 0 << NotFound << false << 0 << 0;
        QTest::newRow("a failure is logged") << 0 << Enabled << true << 0 << 1;
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
            m_platform->loginItem().setFailure(Error(u"LoginItem"_s, 2, u"read-only"_s));
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
            QCOMPARE(m_platform->loginItem().status() == Enabled, wish != 0);
        }
        QVERIFY(m_platform->prompts().alerts().isEmpty());
    }

    // The menu's toggle flips the item and the stored wish ("requires
    // approval" counts as off); a failure is one alert and stores nothing.
    void toggleLaunchAtLogin_data()
    {
        QTest::addColumn<LoginStatus>("status");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<LoginStatus>("after");
        QTest::newRow("on to off") << Enabled << false << NotRegistered;
        QTest::newRow("off to on") << NotRegistered << false << Enabled;
        QTest::newRow("needs approval to on") << RequiresApproval << false << Enabled;
        QTest::newRow("a failure") << Enabled << true << Enabled;
    }
    void toggleLaunchAtLogin()
    {
        QFETCH(LoginStatus, status);
        QFETCH(bool, fails);
        QFETCH(LoginStatus, after);
        auto delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        m_platform->loginItem().setStatus(status);
        if (fails)
            m_platform->loginItem().setFailure(Error(u"LoginItem"_s, 2, u"read-only"_s));
        const auto wish = m_defaults->boolean(LoginItemSync::launchAtLoginPreferenceKey);
        delegate->toggleLaunchAtLogin();
        QCOMPARE(m_platform->loginItem().status(), after);
        const bool on = after == Enabled;
        QCOMPARE(m_defaults->boolean(LoginItemSync::launchAtLoginPreferenceKey),
                 fails ? wish : std::optional(on));
        QCOMPARE(m_platform->prompts().alerts().size(), fails ? 1 : 0);
        if (fails) {
            QCOMPARE(m_platform->prompts().alerts()[0].message,
                     u"Could not update login setting"_s);
            QCOMPARE(m_platform->prompts().alerts()[0].informativeText, u"read-only"_s);
        } else {
            QCOMPARE(delegate->launchAtLoginItem()->isChecked(), on);
        }
    }

    // The updater runs only with a public key and a feed; otherwise every
    // check alerts (and the launch logs it once).
    void updaterStartsOnlyWhenConfigured_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("feed");
        QTest::addColumn<bool>("configured");
        const QByteArray key = "MCowBQYDK2VwAyEA9q2mFg==";
        const QByteArray feed = "http://127.0.0.1:9/appcast.xml";
        QTest::newRow("empty") << QByteArray() << feed << false;
        QTest::newRow("blank") << QByteArray(" \n\t ") << feed << false;
        QTest::newRow("unexpanded") << QByteArray("$(SPARKLE_PUBLIC_ED_KEY)") << feed << false;
        QTest::newRow("key without feed") << key << QByteArray() << false;
        QTest::newRow("key and feed") << "  " + key << feed << true;
    }
    void updaterStartsOnlyWhenConfigured()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, feed);
        QFETCH(bool, configured);
        qputenv("LUMIVALE_SU_PUBLIC_ED_KEY", key);
        qputenv("LUMIVALE_SU_FEED_URL", feed);
        auto delegate = makeDelegate();
        StdoutCapture capture;
        delegate->updater().startIfConfigured();
        QCOMPARE(bool(delegate->updater().controller()), configured);
        QCOMPARE(capture.lines().size(), configured ? 0 : 1);
        if (configured)
            return;
        for (int i = 0; i < 2; ++i)
            QCoro::waitFor(delegate->checkForUpdates());
        QCOMPARE(m_platform->prompts().alerts().size(), 2);
        QCOMPARE(m_platform->prompts().alerts()[1].message, u"Updates are not configured"_s);
        QCOMPARE(m_platform->prompts().activationsBeforePrompts(), 2);
    }
};

Q_DECLARE_METATYPE(std::optional<QList<lumivale::WindowDescription>>)
Q_DECLARE_METATYPE(lumivale::LoginItemService::Status)

LUMIVALE_TEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
