#include "shellcommands.h"

#include "appdelegate.h"
#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "catalogueapply.h"
#include "desktop/wallpapermanager.h"
#include "platform/platform.h"
#include "platform/userdefaults.h"
#include "processmeters.h"

#include <QFileInfo>
#include <QTextStream>
#include <qcoro/qcorosignal.h>

namespace lumivale {
namespace {

using Action = CommandLine::Action;

Error commandError(int code, const QString &description)
{
    return Error(instanceprotocol::kErrorDomain, code, description);
}

QString playbackName(ShellCommands::Status::Playback playback)
{
    switch (playback) {
    case ShellCommands::Status::Playback::Playing:
        return QStringLiteral("playing");
    case ShellCommands::Status::Playback::Paused:
        return QStringLiteral("paused");
    case ShellCommands::Status::Playback::Off:
        break;
    }
    return QStringLiteral("off");
}

} // namespace

ShellCommands::ShellCommands(AppDelegate &delegate)
    : m_delegate(delegate)
{}

QString ShellCommands::statusText(const Status &status)
{
    QString text;
    QTextStream out(&text);
    out << "wallpaper: "
        << (status.wallpaperID.isEmpty() ? QStringLiteral("none") : status.wallpaperID) << '\n';
    QStringList screens = status.screenIDs;
    screens.sort();
    out << "screens: " << (screens.isEmpty() ? QStringLiteral("all") : screens.join(u' ')) << '\n';
    out << "playback: " << playbackName(status.playback) << '\n';
    out << "cache: " << ProcessMeters::formatBytes(status.cacheBytes) << " (" << status.cachedVideos
        << (status.cachedVideos == 1 ? " video" : " videos") << ")\n";
    if (!status.desktopIntegration.isEmpty())
        out << "desktop: " << status.desktopIntegration << '\n';
    if (!status.render.isEmpty())
        out << "render: " << status.render << '\n';
    return text;
}

QString ShellCommands::offlineStatusText(const UserDefaults &defaults, const VideoCache &cache)
{
    Status status;
    status.wallpaperID =
        defaults.string(WallpaperManager::kCurrentWallpaperIDKey).value_or(QString());
    status.screenIDs = defaults.stringArray(WallpaperManager::kCurrentWallpaperScreenIDsKey)
                           .value_or(QStringList());
    status.playback = Status::Playback::Off;
    status.cacheBytes = cache.totalBytes();
    status.cachedVideos = int(cache.cachedIDs().size());
    return statusText(status) + QStringLiteral("lumivale: not running\n");
}

QString ShellCommands::screensText(const QList<Screen> &screens)
{
    QString text;
    QTextStream out(&text);
    for (const Screen &screen : screens) {
        const QRect &f = screen.frame;
        out << WallpaperManager::screenID(screen) << '\t' << screen.name << '\t' << f.width() << 'x'
            << f.height() << '+' << f.x() << '+' << f.y() << '\n';
    }
    return text;
}

ShellCommands::Status ShellCommands::currentStatus() const
{
    const AppDelegate::Environment &env = m_delegate.environment();
    const WallpaperManager &manager = *env.manager;
    Status status;
    status.wallpaperID = manager.currentWallpaperID();
    status.screenIDs = manager.currentWallpaperScreenIDList();
    if (manager.currentVideoURL())
        status.playback =
            manager.isPlaying() ? Status::Playback::Playing : Status::Playback::Paused;
    status.cacheBytes = env.cacheState->totalBytes();
    status.cachedVideos = int(env.cacheState->cachedIDs().size());
    status.desktopIntegration = env.platform->desktopIntegrationDescription();
    status.render = env.platform->desktopRenderDescription();
    return status;
}

QCoro::Task<CommandReply> ShellCommands::run(CommandLine command)
{
    const AppDelegate::Environment &env = m_delegate.environment();
    WallpaperManager &manager = *env.manager;
    // Once the quit has begun nothing more is started; a second quit joins it.
    if (m_delegate.shellStatus() != AppDelegate::ShellStatus::Idle &&
        command.action != Action::Quit)
        co_return failure(
            commandError(instanceprotocol::Quitting, QStringLiteral("Lumivale is quitting")));
    switch (command.action) {
    case Action::Reopen:
        // The autostart entry finding Lumivale already running: nothing to show.
        if (!command.launchedAsLoginItem)
            m_delegate.applicationShouldHandleReopen();
        co_return CommandReply{};
    case Action::Open:
        m_delegate.openGallery();
        co_return CommandReply{};
    case Action::Apply:
        co_return co_await apply(command.applyTarget, command.screenIDs);
    case Action::Pause:
        manager.pauseAll();
        co_return CommandReply{};
    case Action::Resume:
        manager.playAll();
        co_return CommandReply{};
    case Action::TogglePause:
        co_await m_delegate.togglePause();
        co_return manager.isPlaying() ? QStringLiteral("playing\n") : QStringLiteral("paused\n");
    case Action::Stop:
        co_await m_delegate.stopWallpaper();
        co_return CommandReply{};
    case Action::Refresh:
        m_delegate.refreshLibrary();
        co_return CommandReply{};
    case Action::ClearCache:
        co_return m_delegate.clearCacheReportingFailure().transform([] { return QString(); });
    case Action::Status:
        co_return statusText(currentStatus());
    case Action::ListScreens:
        co_return screensText(env.platform->screens().screens());
    case Action::Quit: {
        // The answer goes out once the frame is frozen, just before the exit.
        if (!m_delegate.isReadyToTerminate()) {
            m_delegate.requestTermination();
            if (!m_delegate.isReadyToTerminate())
                co_await qCoro(&m_delegate, &AppDelegate::readyToTerminate);
        }
        co_return CommandReply{};
    }
    }
    co_return failure(commandError(10, QStringLiteral("Unknown command.")));
}

QCoro::Task<CommandReply> ShellCommands::apply(QString target, QStringList screenIDs)
{
    const AppDelegate::Environment &env = m_delegate.environment();
    std::optional<QSet<QString>> screens;
    if (!screenIDs.isEmpty())
        screens = QSet<QString>(screenIDs.cbegin(), screenIDs.cend());

    QUrl video;
    QString wallpaperID;
    const QFileInfo file(target);
    if (file.isFile()) {
        if (!file.isReadable())
            co_return failure(commandError(11, QStringLiteral("Cannot read %1.").arg(target)));
        video = QUrl::fromLocalFile(file.absoluteFilePath());
        wallpaperID = file.completeBaseName();
        env.manager->apply(video, wallpaperID, screens);
    } else {
        // Not a file: a wallpaper of the catalogue, downloaded first when needed.
        const QString unknown = QStringLiteral("No such file or wallpaper: %1").arg(target);
        if (!VideoCache::isValidWallpaperID(target))
            co_return failure(commandError(12, unknown));
        CatalogueApplyRequest request;
        request.wallpaperID = target;
        request.screenIDs = screens;
        const CatalogueApplyResult applied = co_await applyFromCatalogue(
            *env.defaults, *env.cache, *env.manager, std::move(request));
        using Outcome = CatalogueApplyResult::Outcome;
        switch (applied.outcome) {
        case Outcome::Applied:
            break;
        case Outcome::CatalogueUnavailable:
            co_return failure(commandError(13, applied.error->description()));
        case Outcome::DownloadFailed:
            co_return failure(*applied.error);
        case Outcome::NotInCatalogue:
        case Outcome::GaveWay:
            co_return failure(commandError(12, unknown));
        }
        video = applied.video;
        wallpaperID = target;
    }
    const Result<> still =
        co_await env.manager->updateLockScreenFallback(video, wallpaperID, screens);
    co_return still.transform([] { return QString(); });
}

} // namespace lumivale
