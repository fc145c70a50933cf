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
namespace {

// Stills are written for the largest screen they are set on.
QSize largestSize(const QList<Screen> &screens)
{
    QSize largest;
    for (const Screen &screen : screens) {
        const QSize size = screen.frame.size();
        if (largest.isEmpty() ||
            qint64(size.width()) * size.height() > qint64(largest.width()) * largest.height())
            largest = size;
    }
    return largest;
}

} // namespace

WallpaperManager::WallpaperManager(Platform &platform, UserDefaults &defaults, DelayClock &clock,
                                   QObject *parent)
    : QObject(parent)
    , m_platform(platform)
    , m_defaults(defaults)
    , m_clock(clock)
    , m_previousDesktopStore(kPreviousDesktopSnapshotsKey, defaults, platform.screens(),
                             platform.desktopPictures())
{
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
    ++m_changeCount;

    const bool videoChanged = m_currentVideoURL != videoFile;
    const bool sameScreens = m_targetScreenIDs == ids;
    if (videoChanged) {
        // Kept until the new video shows somewhere; an earlier apply whose
        // video has not shown yet was never on screen, so its own previous
        // wallpaper stays the one to go back to.
        if (!m_previous) {
            m_previous =
                PreviousWallpaper{m_currentVideoURL, m_currentWallpaperID, m_targetScreenIDs,
                                  m_defaults.string(kCurrentWallpaperIDKey),
                                  m_defaults.stringArray(kCurrentWallpaperScreenIDsKey)};
        }
    }

    m_currentVideoURL = videoFile;
    setCurrentWallpaperID(wallpaperID);
    m_targetScreenIDs = ids;
    setCurrentWallpaperScreenIDs(ids);

    if (!videoChanged && sameScreens && !m_windows.empty())
        applyPlaybackState();
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
            auto window = std::make_unique<DesktopWindow>(m_platform, screen, m_clock);
            window->setPlaybackPaused(!m_policy.shouldPlay());
            watchWindow(*window);
            window->playVideo(*m_currentVideoURL);
            m_windows.emplace(id, std::move(window));
        }
    }

    applyPlaybackState();
    Q_EMIT windowsRebuilt();
}

void WallpaperManager::watchWindow(DesktopWindow &window)
{
    connect(&window, &DesktopWindow::videoShown, this, [this](const QUrl &file) {
        if (file == m_currentVideoURL)
            m_previous.reset();
    });
    connect(&window, &DesktopWindow::videoFailed, this, &WallpaperManager::handleVideoFailed);
}

void WallpaperManager::handleVideoFailed(const QUrl &file)
{
    if (!m_previous || file != m_currentVideoURL)
        return;
    const bool stillHoped = std::any_of(m_windows.cbegin(), m_windows.cend(), [&](const auto &e) {
        return e.second->currentVideoURL() == file || e.second->pendingVideoURL() == file;
    });
    if (!stillHoped)
        revertToPreviousWallpaper();
}

void WallpaperManager::revertToPreviousWallpaper()
{
    const PreviousWallpaper previous = *std::exchange(m_previous, std::nullopt);
    m_currentVideoURL = previous.video;
    setCurrentWallpaperID(previous.wallpaperID);
    m_targetScreenIDs = previous.targetScreenIDs;
    setCurrentWallpaperScreenIDs(previous.targetScreenIDs);
    if (previous.storedID)
        m_defaults.setString(kCurrentWallpaperIDKey, *previous.storedID);
    else
        m_defaults.remove(kCurrentWallpaperIDKey);
    if (previous.storedScreenIDs)
        m_defaults.setStringArray(kCurrentWallpaperScreenIDsKey, *previous.storedScreenIDs);
    else
        m_defaults.remove(kCurrentWallpaperScreenIDsKey);
    if (m_currentVideoURL) {
        rebuildWindows(true);
    } else {
        closeAllWindows();
        applyPlaybackState();
    }
}

void WallpaperManager::scheduleRebuild()
{
    // Replacing the pending call cancels the rebuild still waiting.
    m_pendingRebuild = m_clock.callAfter(kRebuildDelayMs, [this] {
        m_runningRebuild = std::move(m_pendingRebuild);
        rebuildWindows(false);
    });
}

QList<QUrl> WallpaperManager::videosInUse() const
{
    QList<QUrl> videos;
    for (const auto &[screenID, window] : m_windows) {
        for (const auto &video : {window->currentVideoURL(), window->pendingVideoURL()}) {
            if (video)
                videos.append(*video);
        }
    }
    return videos;
}

void WallpaperManager::stop()
{
    ++m_changeCount;
    m_previous.reset();
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
    m_policy.userPause();
    applyPlaybackState();
}

void WallpaperManager::playAll()
{
    m_policy.userResume();
    applyPlaybackState();
}

void WallpaperManager::setAutomaticPauseReasons(bool mainScreenCovered, bool powerSaverOn)
{
    m_policy.setAutomaticReasons(mainScreenCovered, powerSaverOn);
    applyPlaybackState();
}

void WallpaperManager::applyPlaybackState()
{
    const bool play = m_policy.shouldPlay();
    for (const auto &[id, window] : m_windows)
        window->setPlaybackPaused(!play);
    // With no wallpaper the flag only follows the choice.
    setIsPlaying(play && (!m_currentVideoURL || !m_windows.empty()));
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

QCoro::Task<Result<>> WallpaperManager::freezeCurrentFrame()
{
    if (!m_currentVideoURL)
        co_return {};
    // The frame on screen: the shown player's video at its time, which is
    // not the applied video while a hand-over is still being prepared.
    QUrl video = *m_currentVideoURL;
    double seconds = 0; // turned into 0.1 s by the frame writer
    if (!m_windows.empty()) {
        if (const VideoPlayer *player = m_windows.begin()->second->player()) {
            video = player->url();
            seconds = player->currentTime();
        }
    }
    const Result<QString> folder = stills::supportDirectory();
    if (!folder)
        co_return failure(folder.error());
    const QUrl destination = QUrl::fromLocalFile(*folder + u'/' + stills::kFrozenWallpaperFileName);

    QList<Screen> screens = targetScreens();
    if (screens.isEmpty())
        screens = m_platform.screens().screens();

    const QPointer<WallpaperManager> self(this);
    // Named rather than awaited in place: GCC 12 mishandles temporaries inside
    // a co_await expression.
    QFuture<Result<>> work =
        QtConcurrent::run([video, seconds, destination, size = largestSize(screens)] {
            return framewriter::writeFrame(video, seconds, destination, size);
        });
    const Result<> written = co_await work;
    if (!written)
        co_return written;
    if (!self)
        co_return failure(managerGoneError());
    co_return setDesktopPicture(destination, screens);
}

QCoro::Task<Result<>>
WallpaperManager::updateLockScreenFallback(QUrl videoFile, QString wallpaperID,
                                           std::optional<QSet<QString>> screenIDs)
{
    // Two applies in quick succession: the still of the later one is the one
    // that stays set, whichever is written first.
    const int generation = ++m_stillGeneration;
    const Result<QUrl> picture = stills::lockScreenFallbackURL(wallpaperID);
    if (!picture)
        co_return failure(picture.error());

    const QSet<QString> ids = normalizedScreenIDs(screenIDs);
    QList<Screen> screens = m_platform.screens().screens();
    screens.removeIf([&ids](const Screen &screen) { return !ids.contains(screenID(screen)); });

    if (stills::fallbackNeedsRegeneration(videoFile, *picture)) {
        const QPointer<WallpaperManager> self(this);
        QFuture<Result<>> work =
            QtConcurrent::run([videoFile, destination = *picture, size = largestSize(screens)] {
                return framewriter::loadDuration(videoFile.toLocalFile())
                    .and_then([&](std::optional<double> duration) {
                        return framewriter::writeFrame(
                            videoFile, stills::lockScreenFrameSeconds(duration), destination, size);
                    });
            });
        const Result<> written = co_await work;
        if (!written)
            co_return written;
        if (!self)
            co_return failure(managerGoneError());
        if (generation != m_stillGeneration)
            co_return {};
    }
    co_return setDesktopPicture(*picture, screens);
}

Result<> WallpaperManager::setDesktopPicture(const QUrl &picture, const QList<Screen> &screens)
{
    for (const Screen &screen : screens) {
        if (Result<> set = m_platform.desktopPictures().setDesktopImage(picture, screen, {}); !set)
            return set;
    }
    return {};
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
