#pragma once

#include "platform/error.h"
#include "platform/workspace.h"
#include "processmeters.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSize>
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
class UpdaterController;
class UserDefaults;
class VideoCache;
class VideoCacheState;
class WallpaperManager;
struct Screen;

// The application itself: the launch sequence, the tray's status menu with
// its meters and actions, the gallery window's showing and hiding, the
// reactions to the front application and the power mode, the one quit
// sequence, start at login and the update check.
//
// The delegate owns the status item and its menu and no model objects: it
// acts on the objects it is given, which must outlive it. It keeps no
// reference to the gallery window and finds it among the application's
// windows each time.
//
// Main thread only. Work that waits (the restore, the quit, the menu actions
// on the manager) runs as coroutines on the main thread; a coroutine still
// waiting when the delegate is destroyed ends without touching it.
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
        // Whether a tray icon is made at launch (tests on the offscreen
        // platform do without).
        bool makesStatusItem = true;
        // The longest the quit waits for the freeze of the frame on screen.
        std::chrono::milliseconds freezeLimit{5000};

        static Environment standard();
    };

    enum class TerminateReply { Now, Later };
    enum class ShellStatus { Idle, Freezing, Ready };

    static inline const QString launchAtLoginPreferenceKey = QStringLiteral("launchAtLoginEnabled");
    static inline const QString launchAtLoginPreferenceSetKey =
        QStringLiteral("launchAtLoginPreferenceSet");
    static inline const QString kUpdaterDisabledLogLine =
        QStringLiteral("Sparkle updater is disabled because SUPublicEDKey is not configured.");

    // `launchedAsLoginItem`: the process was started by the autostart entry.
    AppDelegate(Environment environment, bool launchedAsLoginItem, QObject *parent = nullptr);
    ~AppDelegate() override;

    const Environment &environment() const { return m_env; }

    // ---- Launch and the gallery window ----

    // The launch sequence. `showsGallery` false keeps the gallery hidden even
    // for a launch that is not a login-item launch (a launch that carries a
    // command of its own).
    void applicationDidFinishLaunching(bool showsGallery = true);
    // Another launch of the application while it runs: shows the gallery.
    bool applicationShouldHandleReopen();
    bool wasLaunchedAsLoginItem() const { return m_launchedAsLoginItem; }
    void showGalleryWindow();
    void hideGalleryWindows();
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
    std::optional<Error> clearCacheReportingFailure();
    QCoro::Task<> clearRAM();
    QCoro::Task<> togglePause();
    QCoro::Task<> stopWallpaper();
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
    // The rule itself: the first window, front to back, that is not this
    // process's, is shown on the current workspace and whose frame has exactly
    // the main screen's size. No screen or no window list: not covered.
    static bool isMainScreenCovered(const std::optional<QSize> &mainScreenSize,
                                    const std::optional<QList<WindowDescription>> &windows,
                                    qint64 ownProcessID);
    // The screen that holds the focused window's centre, else `fallback`.
    static std::optional<Screen> mainScreen(const QList<Screen> &screens,
                                            const std::optional<QRect> &activeWindowFrame,
                                            const std::optional<Screen> &fallback);

    // ---- Quit ----

    // Every way of quitting ends here: asks the delegate, then exits at once
    // or once the freeze has finished.
    void requestTermination();
    TerminateReply applicationShouldTerminate();
    bool isReadyToTerminate() const { return m_isReadyToTerminate; }
    ShellStatus shellStatus() const;

    // ---- Start at login and updates ----

    void syncLaunchAtLogin();
    bool isUpdaterConfigured() const;
    // The rule for the key's value: a non-blank text without "$(".
    static bool isUpdaterConfigured(const std::optional<QString> &publicKey,
                                    const QString &feedURL);
    void startUpdaterIfConfigured();
    UpdaterController *updaterController() const { return m_updaterController.get(); }

Q_SIGNALS:
    // The freeze before quitting has ended; the process exits next.
    void readyToTerminate();

private:
    void makeStatusMenu();
    void setUpStatusItem();
    void configureGalleryWindow(QWindow *window);
    void watchGalleryWindow(QWindow *window);
    QCoro::Task<> runQuitSequence();
    void finishQuit();
    void replyToApplicationShouldTerminate(bool shouldTerminate);
    UpdaterController &ensureUpdaterController();
    bool eventFilter(QObject *watched, QEvent *event) override;

    Environment m_env;
    const bool m_launchedAsLoginItem;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<StatusItem> m_statusItem;
    std::unique_ptr<UpdaterController> m_updaterController;
    bool m_isReadyToTerminate = false;
    bool m_isTerminating = false;
    bool m_hasExited = false;
    QAction *m_cpuItem = nullptr;
    QAction *m_ramItem = nullptr;
    QAction *m_cacheItem = nullptr;
    QAction *m_launchAtLoginItem = nullptr;
    ProcessMeters m_meters;
    QSet<QWindow *> m_watchedWindows;
};

} // namespace lumivale
