#include "appdelegate.h"

#include "app/catalogueapply.h"
#include "app/menuicons.h"
#include "app/screencoverage.h"
#include "app/statusitem.h"
#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "catalogue/httpclient.h"
#include "desktop/wallpapermanager.h"
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
#include <QPointer>
#include <QTimer>
#include <malloc.h>
#include <qcoro/qcorotimer.h>

namespace lumivale {

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
    environment.applicationWindows = GalleryWindowController::applicationWindows;
    environment.exitApplication = [] { QCoreApplication::exit(0); };
    return environment;
}

AppDelegate::AppDelegate(Environment environment, bool launchedAsLoginItem, QObject *parent)
    : QObject(parent)
    , m_env(std::move(environment))
    , m_launchedAsLoginItem(launchedAsLoginItem)
    , m_galleryWindow(m_env.platform->prompts(), m_env.applicationWindows)
    , m_quit(*m_env.manager, *m_env.platform, m_env.freezeLimit, m_env.exitApplication)
    , m_loginItemSync(m_env.platform->loginItem(), *m_env.defaults)
    , m_updater(m_env.platform->prompts())
{
    Q_ASSERT(m_env.platform && m_env.defaults && m_env.manager && m_env.cache && m_env.cacheState);
    m_quit.setCommandSocketCloser(m_env.closeCommandSocket);
    connect(&m_quit, &QuitCoordinator::readyToTerminate, this, &AppDelegate::readyToTerminate);
}

AppDelegate::~AppDelegate() = default;

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
    m_loginItemSync.sync();
    m_updater.startIfConfigured();
    // 6. Runs on by itself.
    restoreLastWallpaper();
    // 7. and 8.
    const bool loginLaunch = wasLaunchedAsLoginItem();
    QTimer::singleShot(0, this, [this, loginLaunch, showsGallery] {
        if (loginLaunch || !showsGallery)
            m_galleryWindow.hideAll();
        else
            m_galleryWindow.show();
    });
}

bool AppDelegate::applicationShouldHandleReopen()
{
    m_galleryWindow.show();
    return false;
}

QCoro::Task<> AppDelegate::restoreLastWallpaper()
{
    const std::optional<QString> storedID =
        m_env.defaults->string(WallpaperManager::kCurrentWallpaperIDKey);
    if (!storedID)
        co_return;
    const QStringList stored =
        m_env.defaults->stringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey)
            .value_or(QStringList());
    CatalogueApplyRequest request;
    request.wallpaperID = *storedID;
    if (!stored.isEmpty())
        request.screenIDs = QSet<QString>(stored.cbegin(), stored.cend());
    // Offline at login: the cached video still restores the wallpaper.
    request.fallsBackToCache = true;
    // Any apply or turn-off made while this waits is the user's later choice,
    // and wins.
    request.givesWayToLaterChanges = true;
    request.guard = this;
    request.catalogueUnavailable = [](const Error &error) {
        logFailure(u"restore failed:", error);
    };
    const CatalogueApplyResult result = co_await applyFromCatalogue(
        *m_env.defaults, *m_env.cache, *m_env.manager, std::move(request));
    if (result.outcome == CatalogueApplyResult::Outcome::DownloadFailed)
        logFailure(u"restore failed:", *result.error);
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
        m_launchAtLoginItem->setChecked(m_loginItemSync.isEnabled());
}

// ---- Actions -----------------------------------------------------------------

void AppDelegate::openGallery()
{
    m_galleryWindow.show();
}

void AppDelegate::refreshLibrary()
{
    Q_EMIT NotificationCenter::shared().refreshWallpaperLibrary();
}

Result<> AppDelegate::clearCacheReportingFailure()
{
    Result<> cleared = m_env.cache->clearCache();
    if (!cleared)
        return cleared;
    m_env.cacheState->refresh();
    refreshMenuMetrics();
    return {};
}

void AppDelegate::clearCache()
{
    if (const Result<> cleared = clearCacheReportingFailure(); !cleared)
        presentAlert(QStringLiteral("Could not clear cache"), cleared.error().description());
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
    if (const Result<> restored = m_env.manager->previousDesktopStore().restore(); !restored)
        logFailure(u"restore default wallpaper failed:", restored.error());
}

void AppDelegate::presentAlert(const QString &message, const QString &informativeText)
{
    UserPrompts &prompts = m_env.platform->prompts();
    prompts.activateApplication();
    prompts.presentAlert(message, informativeText);
}

// ---- Activity and power ------------------------------------------------------

bool AppDelegate::isMainScreenCovered() const
{
    return screencoverage::isMainScreenCovered(*m_env.platform);
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

// ---- Quit, start at login, updates ----------------------------------------------

void AppDelegate::quitApp()
{
    m_quit.requestTermination();
}

void AppDelegate::toggleLaunchAtLogin()
{
    if (const Result<> toggled = m_loginItemSync.toggle(); !toggled) {
        presentAlert(QStringLiteral("Could not update login setting"),
                     toggled.error().description());
        return;
    }
    refreshMenuMetrics();
}

QCoro::Task<> AppDelegate::checkForUpdates()
{
    co_await m_updater.checkForUpdates();
}

} // namespace lumivale
