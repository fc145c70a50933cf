#include "wallpapermanager.h"

#include "platform/platform.h"
#include "platform/userdefaults.h"

#include <algorithm>

namespace lumivale {

WallpaperManager::WallpaperManager(Platform &platform, UserDefaults &defaults, QObject *parent)
    : QObject(parent)
    , m_platform(platform)
    , m_defaults(defaults)
    , m_previousDesktopStore(kPreviousDesktopSnapshotsKey, defaults, platform.screens(),
                             platform.desktopPictures())
{
    m_rebuildWorkItem.setSingleShot(true);
    m_rebuildWorkItem.setTimerType(Qt::PreciseTimer);
    m_rebuildWorkItem.setInterval(kRebuildDelayMs);
    connect(&m_rebuildWorkItem, &QTimer::timeout, this, [this] { rebuildWindows(false); });
    connect(&platform.screens(), &ScreenSystem::screenParametersChanged, this,
            &WallpaperManager::scheduleRebuild);
}

WallpaperManager::~WallpaperManager()
{
    closeAllWindows();
}

WallpaperManager &WallpaperManager::shared()
{
    static auto *instance = new WallpaperManager(Platform::instance(), UserDefaults::standard());
    return *instance;
}

QString WallpaperManager::screenID(const Screen &screen)
{
    return screen.number ? QString::number(*screen.number) : screen.name;
}

QSet<QString>
WallpaperManager::normalizedScreenIDs(const std::optional<QSet<QString>> &requested) const
{
    QSet<QString> connected;
    for (const Screen &screen : m_platform.screens().screens())
        connected.insert(screenID(screen));
    if (requested && !requested->isEmpty()) {
        QSet<QString> honoured = *requested & connected;
        if (!honoured.isEmpty())
            return honoured;
    }
    return connected;
}

QList<Screen> WallpaperManager::targetScreens() const
{
    QList<Screen> screens = m_platform.screens().screens();
    if (!m_targetScreenIDs.isEmpty()) {
        screens.removeIf(
            [this](const Screen &screen) { return !m_targetScreenIDs.contains(screenID(screen)); });
    }
    return screens;
}

void WallpaperManager::apply(const QUrl &videoFile, const QString &wallpaperID,
                             const std::optional<QSet<QString>> &screenIDs)
{
    m_previousDesktopStore.captureIfNeeded();
    const QSet<QString> ids = normalizedScreenIDs(screenIDs);

    const bool videoChanged = m_currentVideoURL != videoFile;
    const bool sameScreens = m_targetScreenIDs == ids;

    m_currentVideoURL = videoFile;
    setCurrentWallpaperID(wallpaperID);
    m_targetScreenIDs = ids;
    setCurrentWallpaperScreenIDs(ids);

    if (!videoChanged && sameScreens && !m_windows.empty())
        setIsPlaying(true);
    else
        rebuildWindows(videoChanged);

    m_defaults.setString(kCurrentWallpaperIDKey, wallpaperID);
    m_defaults.setStringArray(kCurrentWallpaperScreenIDsKey, QStringList(ids.cbegin(), ids.cend()));
}

void WallpaperManager::rebuildWindows(bool reloadPlayback)
{
    if (!m_currentVideoURL)
        return;

    const QList<Screen> screens = targetScreens();
    QSet<QString> wanted;
    for (const Screen &screen : screens)
        wanted.insert(screenID(screen));

    for (auto it = m_windows.begin(); it != m_windows.end();) {
        if (wanted.contains(it->first)) {
            ++it;
            continue;
        }
        it->second->close();
        it = m_windows.erase(it);
    }

    for (const Screen &screen : screens) {
        const QString id = screenID(screen);
        if (const auto it = m_windows.find(id); it != m_windows.end()) {
            it->second->updateFrame(screen);
            if (reloadPlayback)
                it->second->playVideo(*m_currentVideoURL);
        } else {
            auto window = std::make_unique<DesktopWindow>(m_platform, screen);
            window->playVideo(*m_currentVideoURL);
            m_windows.emplace(id, std::move(window));
        }
    }

    setIsPlaying(!m_windows.empty());
    Q_EMIT windowsRebuilt();
}

void WallpaperManager::scheduleRebuild()
{
    // Restarting the single-shot timer cancels the rebuild still waiting.
    m_rebuildWorkItem.start();
}

void WallpaperManager::stop()
{
    closeAllWindows();
    m_currentVideoURL.reset();
    setCurrentWallpaperID(std::nullopt);
    m_targetScreenIDs.clear();
    setCurrentWallpaperScreenIDs({});
    setIsPlaying(false);
    m_defaults.remove(kCurrentWallpaperIDKey);
    m_defaults.remove(kCurrentWallpaperScreenIDsKey);
}

void WallpaperManager::pauseAll()
{
    for (const auto &[id, window] : m_windows) {
        if (VideoPlayer *player = window->player())
            player->pause();
    }
    setIsPlaying(false);
}

void WallpaperManager::playAll()
{
    for (const auto &[id, window] : m_windows) {
        if (VideoPlayer *player = window->player())
            player->play();
    }
    setIsPlaying(true);
}

void WallpaperManager::releaseWindows()
{
    closeAllWindows();
    setIsPlaying(false);
}

void WallpaperManager::closeAllWindows()
{
    for (const auto &[id, window] : m_windows)
        window->close();
    m_windows.clear();
}

void WallpaperManager::setIsPlaying(bool playing)
{
    m_isPlaying = playing;
    Q_EMIT isPlayingChanged();
}

void WallpaperManager::setCurrentWallpaperID(std::optional<QString> id)
{
    m_currentWallpaperID = std::move(id);
    Q_EMIT currentWallpaperIDChanged();
}

void WallpaperManager::setCurrentWallpaperScreenIDs(QSet<QString> ids)
{
    m_currentWallpaperScreenIDs = std::move(ids);
    Q_EMIT currentWallpaperScreenIDsChanged();
}

QStringList WallpaperManager::currentWallpaperScreenIDList() const
{
    QStringList ids(m_currentWallpaperScreenIDs.cbegin(), m_currentWallpaperScreenIDs.cend());
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace lumivale
