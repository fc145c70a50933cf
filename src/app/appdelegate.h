#pragma once

#include "gallerywindowcontroller.h"
#include "loginitemsync.h"
#include "platform/error.h"
#include "processmeters.h"
#include "quitcoordinator.h"
#include "updaterconfiguration.h"

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class QAction;
class QMenu;
class QWindow;

namespace lumivale {

class Platform;
class StatusItem;
class UserDefaults;
class VideoCache;
class VideoCacheState;
class WallpaperManager;

// The application itself: the launch sequence, the tray's status menu with
// its meters and actions, and the wiring of the pieces it starts: the gallery
// window's controller, the reactions to the front application and the power
// mode (the pause itself is the manager's PlaybackPolicy), the quit
// coordinator, the login-item sync and the updater configuration.
//
// The delegate owns the status item, its menu and those pieces, and no model
// objects: it acts on the objects it is given, which must outlive it.
//
// Main thread only. Work that waits (the restore, the quit, the menu actions
// on the manager) runs as coroutines on the main thread; a coroutine still
// waiting when the delegate is destroyed ends without touching it. Menu
// failures show an alert; background failures leave one log line.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    // What the delegate acts on. The defaults (made by `standard`) are the
    // process-wide single instances.
    struct Environment
    {
        Platform *platform = nullptr;
        UserDefaults *defaults = nullptr;
        WallpaperManager *manager = nullptr;
        VideoCache *cache = nullptr;
        VideoCacheState *cacheState = nullptr;
        // The application's top-level windows in the order it lists them,
        // desktop surfaces and menus left out.
        std::function<QList<QWindow *>()> applicationWindows;
        // Ends the process's event loop; called exactly once, by the quit
        // sequence.
        std::function<void()> exitApplication;
        // Stops accepting commands from other processes; called once, when the
        // quit is ready.
        std::function<void()> closeCommandSocket;
        // Whether a tray icon is made at launch (tests on the offscreen
        // platform do without).
        bool makesStatusItem = true;
        // The longest the quit waits for the freeze of the frame on screen.
        std::chrono::milliseconds freezeLimit{5000};

        static Environment standard();
    };

    using TerminateReply = QuitCoordinator::Reply;
    using ShellStatus = QuitCoordinator::State;

    // `launchedAsLoginItem`: the process was started by the autostart entry.
    AppDelegate(Environment environment, bool launchedAsLoginItem, QObject *parent = nullptr);
    ~AppDelegate() override;

    const Environment &environment() const { return m_env; }
    GalleryWindowController &galleryWindow() { return m_galleryWindow; }
    QuitCoordinator &quitCoordinator() { return m_quit; }
    LoginItemSync &loginItemSync() { return m_loginItemSync; }
    UpdaterConfiguration &updater() { return m_updater; }

    // ---- Launch and the gallery window ----

    // The launch sequence. `showsGallery` false keeps the gallery hidden even
    // for a launch that is not a login-item launch (a launch that carries a
    // command of its own).
    void applicationDidFinishLaunching(bool showsGallery = true);
    // Another launch of the application while it runs: shows the gallery.
    bool applicationShouldHandleReopen();
    bool wasLaunchedAsLoginItem() const { return m_launchedAsLoginItem; }
    // Puts back the wallpaper that was applied when the application last ran:
    // from the catalogue, or from the cache when the catalogue cannot be
    // loaded. Gives way (applies nothing) when a wallpaper is applied or turned
    // off meanwhile. Returns at once when none was; awaitable for tests.
    QCoro::Task<> restoreLastWallpaper();

    // ---- Status menu ----

    QMenu *statusMenu() const { return m_menu.get(); }
    StatusItem *statusItem() const { return m_statusItem.get(); }
    QAction *cpuItem() const { return m_cpuItem; }
    QAction *ramItem() const { return m_ramItem; }
    QAction *cacheItem() const { return m_cacheItem; }
    QAction *launchAtLoginItem() const { return m_launchAtLoginItem; }
    void menuWillOpen();
    void refreshMenuMetrics();

    // ---- Menu actions ----

    void openGallery();
    void refreshLibrary();
    // Shows an alert when the cache cannot be cleared.
    void clearCache();
    // The same, reporting the failure to the caller instead.
    Result<> clearCacheReportingFailure();
    QCoro::Task<> clearRAM();
    QCoro::Task<> togglePause();
    QCoro::Task<> stopWallpaper();
    // Shows an alert when the login item cannot be changed.
    void toggleLaunchAtLogin();
    QCoro::Task<> checkForUpdates();
    void quitApp();
    void presentAlert(const QString &message, const QString &informativeText);

    // ---- Activity and power ----

    // Both hand the manager the automatic reasons to pause, read afresh; the
    // user's own pause is the manager's and is never undone here.
    QCoro::Task<> activeAppChanged();
    QCoro::Task<> powerModeChanged();
    void updateAutomaticPause();
    bool isMainScreenCovered() const;

    // ---- Quit (see QuitCoordinator) ----

    void requestTermination() { m_quit.requestTermination(); }
    TerminateReply applicationShouldTerminate() { return m_quit.applicationShouldTerminate(); }
    bool isReadyToTerminate() const { return m_quit.isReadyToTerminate(); }
    ShellStatus shellStatus() const { return m_quit.state(); }

Q_SIGNALS:
    // The freeze before quitting has ended; the process exits next.
    void readyToTerminate();

private:
    void makeStatusMenu();
    void setUpStatusItem();

    Environment m_env;
    const bool m_launchedAsLoginItem;
    GalleryWindowController m_galleryWindow;
    QuitCoordinator m_quit;
    LoginItemSync m_loginItemSync;
    UpdaterConfiguration m_updater;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<StatusItem> m_statusItem;
    QAction *m_cpuItem = nullptr;
    QAction *m_ramItem = nullptr;
    QAction *m_cacheItem = nullptr;
    QAction *m_launchAtLoginItem = nullptr;
    ProcessMeters m_meters;
};

} // namespace lumivale
