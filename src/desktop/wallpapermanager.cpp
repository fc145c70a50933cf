#include "wallpapermanager.h"

#include "framewriter.h"
#include "platform/platform.h"
#include "platform/userdefaults.h"
#include "stills.h"

#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <qcoro/qcorofuture.h>

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
    m_platform.restoreDesktop();
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

QCoro::Task<std::optional<Error>> WallpaperManager::freezeCurrentFrame()
{
    if (!m_currentVideoURL)
        co_return std::nullopt;
    double seconds = 0; // turned into 0.1 s by the frame writer
    if (!m_windows.empty()) {
        if (const VideoPlayer *player = m_windows.begin()->second->player())
            seconds = player->currentTime();
    }
    Error error;
    const std::optional<QString> folder = stills::supportDirectory(error);
    if (!folder)
        co_return error;
    const QUrl destination = QUrl::fromLocalFile(*folder + u'/' + stills::kFrozenWallpaperFileName);

    const QPointer<WallpaperManager> self(this);
    // Named rather than awaited in place: GCC 12 mishandles temporaries inside
    // a co_await expression.
    QFuture<std::optional<Error>> work =
        QtConcurrent::run([video = *m_currentVideoURL, seconds, destination] {
            return framewriter::writeFrame(video, seconds, destination);
        });
    const std::optional<Error> written = co_await work;
    if (written)
        co_return written;
    if (!self)
        co_return managerGoneError();

    QList<Screen> screens = targetScreens();
    if (screens.isEmpty())
        screens = m_platform.screens().screens();
    co_return setDesktopPicture(destination, screens);
}

QCoro::Task<std::optional<Error>>
WallpaperManager::updateLockScreenFallback(QUrl videoFile, QString wallpaperID,
                                           std::optional<QSet<QString>> screenIDs)
{
    Error error;
    const std::optional<QUrl> picture = stills::lockScreenFallbackURL(wallpaperID, error);
    if (!picture)
        co_return error;

    if (stills::fallbackNeedsRegeneration(videoFile, *picture)) {
        const QPointer<WallpaperManager> self(this);
        QFuture<std::optional<Error>> work = QtConcurrent::run([videoFile, destination = *picture] {
            Error loadError;
            const std::optional<double> duration =
                framewriter::loadDuration(videoFile.toLocalFile(), loadError);
            if (!duration && !loadError.domain().isEmpty())
                return std::optional(loadError);
            return framewriter::writeFrame(videoFile, stills::lockScreenFrameSeconds(duration),
                                           destination);
        });
        const std::optional<Error> written = co_await work;
        if (written)
            co_return written;
        if (!self)
            co_return managerGoneError();
    }

    const QSet<QString> ids = normalizedScreenIDs(screenIDs);
    QList<Screen> screens = m_platform.screens().screens();
    screens.removeIf([&ids](const Screen &screen) { return !ids.contains(screenID(screen)); });
    co_return setDesktopPicture(*picture, screens);
}

std::optional<Error> WallpaperManager::setDesktopPicture(const QUrl &picture,
                                                         const QList<Screen> &screens)
{
    for (const Screen &screen : screens) {
        if (auto error = m_platform.desktopPictures().setDesktopImage(picture, screen, {}))
            return error;
    }
    return std::nullopt;
}

Error WallpaperManager::managerGoneError()
{
    return Error(QStringLiteral("WallpaperManager"), 3,
                 QStringLiteral("The wallpaper manager closed before the desktop picture was set"));
}

QStringList WallpaperManager::currentWallpaperScreenIDList() const
{
    QStringList ids(m_currentWallpaperScreenIDs.cbegin(), m_currentWallpaperScreenIDs.cend());
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace lumivale
