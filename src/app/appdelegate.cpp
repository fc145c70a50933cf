#include "appdelegate.h"

#include "app/menuicons.h"
#include "app/statusitem.h"
#include "app/updater.h"
#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "catalogue/httpclient.h"
#include "catalogue/wallpaperlibrary.h"
#include "desktop/wallpapermanager.h"
#include "platform/appconfig.h"
#include "platform/notificationcenter.h"
#include "platform/platform.h"
#include "platform/userdefaults.h"

#include <QAbstractNetworkCache>
#include <QAction>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QQuickWindow>
#include <QTimer>
#include <QWindow>
#include <malloc.h>
#include <qcoro/qcorotimer.h>

namespace lumivale {
namespace {

QList<QWindow *> defaultApplicationWindows()
{
    QList<QWindow *> windows;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->property(DesktopSurface::kWindowProperty).toBool())
            continue;
        const Qt::WindowType type = window->type();
        if (type == Qt::Window || type == Qt::Dialog)
            windows.append(window);
    }
    return windows;
}

const QString kGalleryIdentifier = QStringLiteral("gallery");
const QString kGalleryTitle = QStringLiteral("Gallery");

} // namespace

AppDelegate::Environment AppDelegate::Environment::standard()
{
    Environment environment;
    environment.platform = &Platform::instance();
    environment.defaults = &UserDefaults::standard();
    environment.manager = &WallpaperManager::shared();
    environment.cache = &VideoCache::shared();
    environment.cacheState = &VideoCacheState::shared();
    // The trim and "Clear Cache" leave the videos on the desktop alone.
    environment.cache->setFilesInUseProvider(
        [manager = environment.manager] { return manager->videosInUse(); });
    environment.applicationWindows = defaultApplicationWindows;
    environment.exitApplication = [] { QCoreApplication::exit(0); };
    return environment;
}

AppDelegate::AppDelegate(Environment environment, bool launchedAsLoginItem, QObject *parent)
    : QObject(parent)
    , m_env(std::move(environment))
    , m_launchedAsLoginItem(launchedAsLoginItem)
{
    Q_ASSERT(m_env.platform && m_env.defaults && m_env.manager && m_env.cache && m_env.cacheState);
    if (!m_env.applicationWindows)
        m_env.applicationWindows = defaultApplicationWindows;
}

AppDelegate::~AppDelegate()
{
    for (QWindow *window : std::as_const(m_watchedWindows))
        window->removeEventFilter(this);
}

// ---- Launch ----------------------------------------------------------------

void AppDelegate::applicationDidFinishLaunching(bool showsGallery)
{
    // 1. No taskbar entry and no menu bar: the process lives in the tray and
    // keeps running with every window hidden.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // 2.
    makeStatusMenu();
    if (m_env.makesStatusItem)
        setUpStatusItem();
    // 3. The observers only start work; it runs on the next turn of the loop.
    connect(
        &m_env.platform->workspace(), &Workspace::activeApplicationChanged, this,
        [this] { activeAppChanged(); }, Qt::QueuedConnection);
    connect(
        &m_env.platform->powerState(), &PowerState::powerStateChanged, this,
        [this] { powerModeChanged(); }, Qt::QueuedConnection);
    // A wallpaper restored or applied from now on starts paused when the
    // screen is covered or the power saver is on.
    updateAutomaticPause();
    // 4. and 5.
    syncLaunchAtLogin();
    startUpdaterIfConfigured();
    // 6. Runs on by itself.
    restoreLastWallpaper();
    // 7. and 8.
    const bool loginLaunch = wasLaunchedAsLoginItem();
    QTimer::singleShot(0, this, [this, loginLaunch, showsGallery] {
        if (loginLaunch || !showsGallery)
            hideGalleryWindows();
        else
            showGalleryWindow();
    });
}

bool AppDelegate::applicationShouldHandleReopen()
{
    showGalleryWindow();
    return false;
}

void AppDelegate::configureGalleryWindow(QWindow *window)
{
    // The window manager draws the title bar on Linux; what the gallery
    // controls is its black, opaque-free background under the content.
    if (auto *quickWindow = qobject_cast<QQuickWindow *>(window))
        quickWindow->setColor(Qt::black);
    if (window->title().isEmpty())
        window->setTitle(kGalleryTitle);
}

void AppDelegate::watchGalleryWindow(QWindow *window)
{
    if (m_watchedWindows.contains(window))
        return;
    m_watchedWindows.insert(window);
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, [this, window] { m_watchedWindows.remove(window); });
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    // Closing the gallery hides it; the window is never destroyed.
    if (event->type() == QEvent::Close) {
        if (auto *window = qobject_cast<QWindow *>(watched);
            window && m_watchedWindows.contains(window)) {
            event->ignore();
            window->hide();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::showGalleryWindow()
{
    m_env.platform->prompts().activateApplication();
    const QList<QWindow *> windows = m_env.applicationWindows();
    if (windows.isEmpty())
        return;
    QWindow *gallery = windows.first();
    for (QWindow *window : windows) {
        if (window->objectName() == kGalleryIdentifier) {
            gallery = window;
            break;
        }
    }
    watchGalleryWindow(gallery);
    configureGalleryWindow(gallery);
    gallery->show();
    gallery->raise();
    gallery->requestActivate();
    Q_EMIT NotificationCenter::shared().refreshWallpaperLibrary();
}

void AppDelegate::hideGalleryWindows()
{
    for (QWindow *window : m_env.applicationWindows()) {
        if (window->objectName() == kGalleryIdentifier || window->title() == kGalleryTitle) {
            watchGalleryWindow(window);
            configureGalleryWindow(window);
            window->hide();
        }
    }
}

QCoro::Task<> AppDelegate::restoreLastWallpaper()
{
    const std::optional<QString> storedID =
        m_env.defaults->string(WallpaperManager::kCurrentWallpaperIDKey);
    if (!storedID)
        co_return;
    const QPointer<AppDelegate> self(this);
    const QString wallpaperID = *storedID;
    // Any apply or turn-off made while this waits is the user's later choice,
    // and wins: the restore then applies nothing.
    const quint64 changesAtStart = m_env.manager->wallpaperChangeCount();
    const auto overtaken = [&] {
        return !self || m_env.manager->wallpaperChangeCount() != changesAtStart;
    };

    QUrl video;
    WallpaperLibrary library(*m_env.defaults);
    co_await library.load();
    if (overtaken())
        co_return;
    if (library.loadError()) {
        logFailure(u"restore failed:",
                   Error(QStringLiteral("WallpaperLibrary"), 0, *library.loadError()));
        // Offline at login: the cached video still restores the wallpaper.
        if (!m_env.cache->isCached(wallpaperID))
            co_return;
        video = m_env.cache->fileURL(wallpaperID);
    } else {
        const auto found = std::find_if(library.wallpapers().cbegin(), library.wallpapers().cend(),
                                        [&](const Wallpaper &w) { return w.id() == wallpaperID; });
        if (found == library.wallpapers().cend())
            co_return;
        const VideoDownloadResult download = co_await m_env.cache->download(*found);
        if (overtaken())
            co_return;
        if (download.error) {
            logFailure(u"restore failed:", *download.error);
            co_return;
        }
        video = download.fileURL;
    }
    const QStringList stored =
        m_env.defaults->stringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey)
            .value_or(QStringList());
    std::optional<QSet<QString>> screenIDs;
    if (!stored.isEmpty())
        screenIDs = QSet<QString>(stored.cbegin(), stored.cend());
    m_env.manager->apply(video, wallpaperID, screenIDs);
}

// ---- Status item and menu ----------------------------------------------------

void AppDelegate::setUpStatusItem()
{
    m_statusItem = std::make_unique<StatusItem>(menuBarLogo(), m_menu.get());
    m_statusItem->setToolTip(QStringLiteral("Lumivale"));
}

void AppDelegate::makeStatusMenu()
{
    if (m_menu)
        return;
    m_menu = std::make_unique<QMenu>();
    m_menu->setTitle(QStringLiteral("Lumivale"));
    connect(m_menu.get(), &QMenu::aboutToShow, this, &AppDelegate::menuWillOpen);

    const auto addItem = [this](const QString &title, const QString &symbol, char key,
                                auto action) -> QAction * {
        QAction *item = m_menu->addAction(title);
        item->setIcon(menuSymbolIcon(symbol));
        if (key)
            item->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_A + (key - 'a'))));
        if constexpr (std::is_null_pointer_v<decltype(action)>)
            item->setEnabled(false);
        else
            connect(item, &QAction::triggered, this, action);
        return item;
    };

    m_cpuItem = addItem(QStringLiteral("CPU: --"), QStringLiteral("cpu"), 0, nullptr);
    m_ramItem = addItem(QStringLiteral("RAM: --"), QStringLiteral("memorychip"), 0, nullptr);
    m_cacheItem = addItem(QStringLiteral("Cache: --"), QStringLiteral("externaldrive"), 0, nullptr);
    m_menu->addSeparator();
    addItem(QStringLiteral("Open Lumivale"), QStringLiteral("rectangle.grid.2x2"), 'g',
            [this] { openGallery(); });
    addItem(QStringLiteral("Refresh Library"), QStringLiteral("arrow.clockwise"), 'r',
            [this] { refreshLibrary(); });
    m_menu->addSeparator();
    addItem(QStringLiteral("Clear Cache"), QStringLiteral("trash"), 0, [this] { clearCache(); });
    addItem(QStringLiteral("Clear RAM"), QStringLiteral("memorychip"), 0, [this] { clearRAM(); });
    m_launchAtLoginItem = addItem(QStringLiteral("Start on login"), QStringLiteral("power"), 0,
                                  [this] { toggleLaunchAtLogin(); });
    m_launchAtLoginItem->setCheckable(true);
    addItem(QStringLiteral("Check for Updates..."), QStringLiteral("arrow.down.circle"), 0,
            [this] { checkForUpdates(); });
    m_menu->addSeparator();
    addItem(QStringLiteral("Pause / Resume"), QStringLiteral("pause.circle"), 'p',
            [this] { togglePause(); });
    addItem(QStringLiteral("Turn Off Wallpaper"), QStringLiteral("xmark.circle"), 0,
            [this] { stopWallpaper(); });
    m_menu->addSeparator();
    addItem(QStringLiteral("Quit"), QStringLiteral("power"), 'q', [this] { quitApp(); });
}

void AppDelegate::menuWillOpen()
{
    refreshMenuMetrics();
}

void AppDelegate::refreshMenuMetrics()
{
    if (m_cpuItem)
        m_cpuItem->setText(QStringLiteral("CPU: ") + m_meters.cpuUsageText());
    if (m_ramItem) {
        const auto footprint = ProcessMeters::footprintBytes();
        m_ramItem->setText(QStringLiteral("RAM: ") + (footprint
                                                          ? ProcessMeters::formatBytes(*footprint)
                                                          : QStringLiteral("--")));
    }
    if (m_cacheItem)
        m_cacheItem->setText(QStringLiteral("Cache: ") +
                             ProcessMeters::formatBytes(m_env.cacheState->totalBytes()));
    if (m_launchAtLoginItem)
        m_launchAtLoginItem->setChecked(m_env.platform->loginItem().status() ==
                                        LoginItemService::Status::Enabled);
}

// ---- Actions -----------------------------------------------------------------

void AppDelegate::openGallery()
{
    showGalleryWindow();
}

void AppDelegate::refreshLibrary()
{
    Q_EMIT NotificationCenter::shared().refreshWallpaperLibrary();
}

std::optional<Error> AppDelegate::clearCacheReportingFailure()
{
    if (auto error = m_env.cache->clearCache())
        return error;
    m_env.cacheState->refresh();
    refreshMenuMetrics();
    return std::nullopt;
}

void AppDelegate::clearCache()
{
    if (const auto error = clearCacheReportingFailure())
        presentAlert(QStringLiteral("Could not clear cache"), error->description());
}

QCoro::Task<> AppDelegate::clearRAM()
{
    QNetworkAccessManager &network = sharedNetworkAccessManager();
    if (QAbstractNetworkCache *urlCache = network.cache())
        urlCache->clear();
    network.clearAccessCache();
    // The part that runs on: the manager's windows, one turn later.
    const QPointer<AppDelegate> self(this);
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (!self)
        co_return;
    WallpaperManager &manager = *m_env.manager;
    // The rebuilt windows keep the paused state, whatever paused them.
    if (manager.currentVideoURL())
        manager.rebuildWindows(true);
    // Freed heap goes back to the system now rather than at some later trim.
    malloc_trim(0);
    refreshMenuMetrics();
}

QCoro::Task<> AppDelegate::togglePause()
{
    const QPointer<AppDelegate> self(this);
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (!self)
        co_return;
    if (!m_env.manager->isPlaying())
        m_env.manager->playAll();
    else
        m_env.manager->pauseAll();
}

QCoro::Task<> AppDelegate::stopWallpaper()
{
    const QPointer<AppDelegate> self(this);
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (!self)
        co_return;
    m_env.manager->stop();
    if (const auto error = m_env.manager->previousDesktopStore().restore())
        logFailure(u"restore default wallpaper failed:", *error);
}

void AppDelegate::presentAlert(const QString &message, const QString &informativeText)
{
    UserPrompts &prompts = m_env.platform->prompts();
    prompts.activateApplication();
    prompts.presentAlert(message, informativeText);
}

// ---- Activity and power ------------------------------------------------------

std::optional<Screen> AppDelegate::mainScreen(const QList<Screen> &screens,
                                              const std::optional<QRect> &activeWindowFrame,
                                              const std::optional<Screen> &fallback)
{
    if (activeWindowFrame) {
        const QPoint centre = activeWindowFrame->center();
        for (const Screen &screen : screens) {
            if (screen.frame.contains(centre))
                return screen;
        }
    }
    return fallback;
}

bool AppDelegate::isMainScreenCovered(const std::optional<QSize> &mainScreenSize,
                                      const std::optional<QList<WindowDescription>> &windows,
                                      qint64 ownProcessID)
{
    if (!mainScreenSize || !windows)
        return false;
    for (const WindowDescription &window : *windows) {
        if (!window.ownerProcessID || !window.frame)
            continue;
        if (*window.ownerProcessID == ownProcessID || window.isHidden ||
            !window.isOnCurrentWorkspace)
            continue;
        // Only the size counts: a window of the main screen's size on another
        // screen covers too.
        if (window.frame->size() == *mainScreenSize)
            return true;
    }
    return false;
}

bool AppDelegate::isMainScreenCovered() const
{
    const ScreenSystem &screens = m_env.platform->screens();
    const Workspace &workspace = m_env.platform->workspace();
    const auto screen =
        mainScreen(screens.screens(), workspace.activeWindowFrame(), screens.mainScreen());
    if (!screen)
        return false;
    return isMainScreenCovered(screen->frame.size(), workspace.windowsFrontToBack(),
                               QCoreApplication::applicationPid());
}

void AppDelegate::updateAutomaticPause()
{
    m_env.manager->setAutomaticPauseReasons(isMainScreenCovered(),
                                            m_env.platform->powerState().isLowPowerModeEnabled());
}

QCoro::Task<> AppDelegate::activeAppChanged()
{
    updateAutomaticPause();
    co_return;
}

QCoro::Task<> AppDelegate::powerModeChanged()
{
    // Power saver off resumes only where the screen is not covered: both
    // reasons are read afresh.
    updateAutomaticPause();
    co_return;
}

// ---- Quit --------------------------------------------------------------------

void AppDelegate::quitApp()
{
    requestTermination();
}

void AppDelegate::requestTermination()
{
    if (applicationShouldTerminate() == TerminateReply::Now)
        replyToApplicationShouldTerminate(true);
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate()
{
    if (m_isReadyToTerminate)
        return TerminateReply::Now;
    // A request while the freeze runs joins it: the reply comes once, when
    // the freeze ends.
    if (!m_isTerminating) {
        m_isTerminating = true;
        runQuitSequence();
    }
    return TerminateReply::Later;
}

QCoro::Task<> AppDelegate::runQuitSequence()
{
    // A freeze that hangs (a wedged desktop-picture service, a huge video)
    // must not keep the process alive: past the limit it quits without it.
    QTimer::singleShot(m_env.freezeLimit, this, [this] {
        if (m_isReadyToTerminate)
            return;
        logFailure(u"freeze wallpaper before quit failed:",
                   Error(QStringLiteral("WallpaperManager"), 4,
                         QStringLiteral("The frame was not frozen within %1 s")
                             .arg(double(m_env.freezeLimit.count()) / 1000.0)));
        finishQuit();
    });
    const QPointer<AppDelegate> self(this);
    const std::optional<Error> error = co_await m_env.manager->freezeCurrentFrame();
    if (!self || m_isReadyToTerminate)
        co_return;
    if (error)
        logFailure(u"freeze wallpaper before quit failed:", *error);
    finishQuit();
}

void AppDelegate::finishQuit()
{
    // The desktop's own window comes back over the frozen frame.
    m_env.platform->restoreDesktop();
    m_isReadyToTerminate = true;
    Q_EMIT readyToTerminate();
    replyToApplicationShouldTerminate(true);
}

void AppDelegate::replyToApplicationShouldTerminate(bool shouldTerminate)
{
    if (!shouldTerminate || m_hasExited)
        return;
    m_hasExited = true;
    if (m_env.exitApplication)
        m_env.exitApplication();
}

AppDelegate::ShellStatus AppDelegate::shellStatus() const
{
    if (m_isReadyToTerminate)
        return ShellStatus::Ready;
    return m_isTerminating ? ShellStatus::Freezing : ShellStatus::Idle;
}

// ---- Start at login ----------------------------------------------------------

void AppDelegate::syncLaunchAtLogin()
{
    UserDefaults &defaults = *m_env.defaults;
    if (!defaults.boolean(launchAtLoginPreferenceSetKey).value_or(false)) {
        defaults.setBool(launchAtLoginPreferenceKey, true);
        defaults.setBool(launchAtLoginPreferenceSetKey, true);
    }
    const bool wish = defaults.boolean(launchAtLoginPreferenceKey).value_or(false);
    LoginItemService &service = m_env.platform->loginItem();
    const bool enabled = service.status() == LoginItemService::Status::Enabled;
    std::optional<Error> error;
    if (wish && !enabled)
        error = service.registerLoginItem();
    else if (!wish && enabled)
        error = service.unregisterLoginItem();
    if (error)
        logFailure(u"launch at login sync failed:", *error);
}

void AppDelegate::toggleLaunchAtLogin()
{
    LoginItemService &service = m_env.platform->loginItem();
    const bool registering = service.status() != LoginItemService::Status::Enabled;
    const std::optional<Error> error =
        registering ? service.registerLoginItem() : service.unregisterLoginItem();
    if (error) {
        presentAlert(QStringLiteral("Could not update login setting"), error->description());
        return;
    }
    m_env.defaults->setBool(launchAtLoginPreferenceKey, registering);
    m_env.defaults->setBool(launchAtLoginPreferenceSetKey, true);
    refreshMenuMetrics();
}

// ---- Updates -----------------------------------------------------------------

bool AppDelegate::isUpdaterConfigured(const std::optional<QString> &publicKey,
                                      const QString &feedURL)
{
    if (!publicKey)
        return false;
    const QString key = publicKey->trimmed();
    if (key.isEmpty() || key.contains(QStringLiteral("$(")))
        return false;
    // Without an appcast there is nothing to check against.
    return !feedURL.trimmed().isEmpty();
}

bool AppDelegate::isUpdaterConfigured() const
{
    return isUpdaterConfigured(infoDictionaryValue(InfoKey::SUPublicEDKey),
                               infoDictionaryValue(InfoKey::SUFeedURL));
}

UpdaterController &AppDelegate::ensureUpdaterController()
{
    if (!m_updaterController) {
        m_updaterController = std::make_unique<UpdaterController>(
            QUrl(infoDictionaryValue(InfoKey::SUFeedURL).trimmed()),
            infoDictionaryValue(InfoKey::SUPublicEDKey).trimmed(),
            QCoreApplication::applicationVersion(), m_env.platform->prompts());
    }
    return *m_updaterController;
}

void AppDelegate::startUpdaterIfConfigured()
{
    if (!isUpdaterConfigured()) {
        logLine(kUpdaterDisabledLogLine);
        return;
    }
    ensureUpdaterController().startUpdater();
}

QCoro::Task<> AppDelegate::checkForUpdates()
{
    if (!isUpdaterConfigured()) {
        presentAlert(
            QStringLiteral("Updates are not configured"),
            QStringLiteral("This build does not include a Sparkle public key. Generate "
                           "a key and build with SPARKLE_PUBLIC_ED_KEY to enable updates."));
        co_return;
    }
    co_await ensureUpdaterController().checkForUpdates();
}

} // namespace lumivale
