#include "wallpaperdetailmodel.h"

#include "app/processmeters.h"
#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "catalogue/likedwallpaperstore.h"
#include "contentview.h"
#include "desktop/wallpapermanager.h"
#include "platform/platform.h"
#include "platform/videoframes.h"

#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <qcoro/qcorofuture.h>

namespace lumivale {

WallpaperDetailModel::WallpaperDetailModel(QObject *parent)
    : QObject(parent)
{}

WallpaperDetailModel::~WallpaperDetailModel()
{
    if (m_content)
        m_content->setDetailPage(nullptr);
}

QString WallpaperDetailModel::formatDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return QStringLiteral("--");
    const long long total = std::llround(seconds); // halves away from zero
    return QString::asprintf("%lld:%02lld", total / 60, total % 60);
}

void WallpaperDetailModel::setContent(ContentView *content)
{
    if (content == m_content)
        return;
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    if (m_content)
        m_content->setDetailPage(nullptr);
    m_content = content;
    if (content) {
        content->setDetailPage(this);
        const auto currentChanged = [this] {
            Q_EMIT isCurrentChanged();
            Q_EMIT mainButtonChanged();
        };
        m_connections = {
            connect(content, &ContentView::selectedWallpaperChanged, this,
                    &WallpaperDetailModel::followSelection),
            connect(&content->likes(), &LikedWallpaperStore::idsChanged, this,
                    &WallpaperDetailModel::isLikedChanged),
            connect(&content->manager(), &WallpaperManager::currentWallpaperIDChanged, this,
                    currentChanged),
            connect(&content->cacheState(), &VideoCacheState::cachedIDsChanged, this,
                    &WallpaperDetailModel::sizeTextChanged),
            connect(&content->cache(), &VideoCache::downloadProgressChanged, this,
                    &WallpaperDetailModel::downloadChanged),
        };
    }
    Q_EMIT contentChanged();
    followSelection();
}

void WallpaperDetailModel::setScreenSystem(ScreenSystem *screens)
{
    attachScreens(screens);
    Q_EMIT displayOptionsChanged();
}

void WallpaperDetailModel::attachScreens(ScreenSystem *screens) const
{
    disconnect(m_screensConnection);
    m_screens = screens;
    if (screens)
        m_screensConnection = connect(screens, &ScreenSystem::screenParametersChanged, this,
                                      &WallpaperDetailModel::displayOptionsChanged);
}

ScreenSystem &WallpaperDetailModel::screens() const
{
    if (!m_screens)
        attachScreens(&Platform::instance().screens());
    return *m_screens;
}

void WallpaperDetailModel::followSelection()
{
    // A closing page keeps showing its wallpaper while it fades out.
    if (!m_content || !m_content->selectedWallpaper())
        return;
    const Wallpaper &selected = *m_content->selectedWallpaper();
    const bool isNewWallpaper = !m_wallpaper || m_wallpaper->id() != selected.id();
    m_wallpaper = selected;
    Q_EMIT wallpaperChanged();
    Q_EMIT sizeTextChanged();
    Q_EMIT isCurrentChanged();
    Q_EMIT isLikedChanged();
    Q_EMIT mainButtonChanged();
    Q_EMIT canConfirmChanged();
    if (isNewWallpaper)
        startPageTask();
}

void WallpaperDetailModel::startPageTask()
{
    setDurationText(QStringLiteral("--"));
    loadDuration(++m_durationGeneration);
    setSelection(allScreenIDs());
}

QCoro::Task<> WallpaperDetailModel::loadDuration(quint64 generation)
{
    if (!m_wallpaper || !m_content)
        co_return;
    if (const std::optional<double> seconds = m_wallpaper->durationSeconds()) {
        setDurationText(formatDuration(*seconds));
        co_return;
    }
    QUrl source = m_content->cache().fileURL(m_wallpaper->id());
    if (source.isEmpty() || !QFileInfo::exists(source.toLocalFile()))
        source = m_wallpaper->video().value_or(QUrl());
    if (source.isEmpty())
        co_return;
    const QPointer<WallpaperDetailModel> self(this);
    // A remote video is probed over the network: never on the main thread.
    QFuture<std::optional<double>> probe = QtConcurrent::run([source] {
        // A video that cannot be read shows no length, as one that declares none.
        return videoframes::loadDuration(source).value_or(std::nullopt);
    });
    const std::optional<double> seconds = co_await probe;
    if (!self || generation != m_durationGeneration)
        co_return;
    setDurationText(seconds ? formatDuration(*seconds) : QStringLiteral("--"));
}

QString WallpaperDetailModel::wallpaperID() const
{
    return m_wallpaper ? m_wallpaper->id() : QString();
}

QString WallpaperDetailModel::name() const
{
    return m_wallpaper ? m_wallpaper->name() : QString();
}

QString WallpaperDetailModel::resolution() const
{
    return m_wallpaper ? m_wallpaper->resolution() : QString();
}

bool WallpaperDetailModel::hasVideo() const
{
    return m_wallpaper && m_wallpaper->video().has_value();
}

QUrl WallpaperDetailModel::video() const
{
    return m_wallpaper ? m_wallpaper->video().value_or(QUrl()) : QUrl();
}

QVariantList WallpaperDetailModel::gradient() const
{
    QVariantList colors;
    if (m_wallpaper) {
        for (const QColor &color : m_wallpaper->gradientColors())
            colors.append(color);
    }
    return colors;
}

QString WallpaperDetailModel::sizeText() const
{
    if (!m_wallpaper || !m_content)
        return QStringLiteral("--");
    if (const std::optional<qint64> bytes = m_wallpaper->sizeBytes())
        return ProcessMeters::formatBytes(*bytes);
    const QUrl cached = m_content->cache().fileURL(m_wallpaper->id());
    const QFileInfo file(cached.toLocalFile());
    if (!cached.isEmpty() && file.isFile())
        return ProcessMeters::formatBytes(file.size());
    return QStringLiteral("--");
}

bool WallpaperDetailModel::isCurrent() const
{
    if (!m_wallpaper || !m_content)
        return false;
    const std::optional<QString> current = m_content->manager().currentWallpaperIDValue();
    return current && *current == m_wallpaper->id();
}

bool WallpaperDetailModel::isLiked() const
{
    return m_wallpaper && m_content && m_content->likes().isLiked(m_wallpaper->id());
}

QString WallpaperDetailModel::mainButtonTitle() const
{
    if (m_isApplying)
        return QStringLiteral("Applying...");
    return isCurrent() ? QStringLiteral("Turn Off") : QStringLiteral("Set Wallpaper");
}

QString WallpaperDetailModel::mainButtonSymbol() const
{
    return isCurrent() ? QStringLiteral("xmark.circle.fill")
                       : QStringLiteral("play.rectangle.fill");
}

QList<WallpaperDetailModel::DisplayOption> WallpaperDetailModel::options() const
{
    ScreenSystem &system = screens();
    const std::optional<Screen> main = system.mainScreen();
    const std::optional<QString> mainID =
        main ? std::optional(WallpaperManager::screenID(*main)) : std::nullopt;
    QList<DisplayOption> options;
    for (const Screen &screen : system.screens()) {
        const QString id = WallpaperManager::screenID(screen);
        options.append({id, screen.name, mainID && *mainID == id});
    }
    return options;
}

QVariantList WallpaperDetailModel::displayOptions() const
{
    QVariantList list;
    for (const DisplayOption &option : options()) {
        list.append(
            QVariantMap{{QStringLiteral("id"), option.id},
                        {QStringLiteral("name"), option.name},
                        {QStringLiteral("isMain"), option.isMain},
                        {QStringLiteral("isSelected"), m_selectedScreenIDs.contains(option.id)}});
    }
    return list;
}

int WallpaperDetailModel::pickerColumns() const
{
    return std::clamp(int(options().size()), 1, 3);
}

QSet<QString> WallpaperDetailModel::allScreenIDs() const
{
    QSet<QString> ids;
    for (const DisplayOption &option : options())
        ids.insert(option.id);
    return ids;
}

bool WallpaperDetailModel::isEveryScreenSelected() const
{
    return m_selectedScreenIDs == allScreenIDs();
}

double WallpaperDetailModel::downloadFraction() const
{
    if (!m_isApplying || !m_content || !m_wallpaper)
        return -1;
    const QHash<QString, DownloadProgress> &progress = m_content->cache().downloadProgress();
    const auto found = progress.constFind(m_wallpaper->id());
    if (found == progress.cend() || found->bytesExpected <= 0)
        return -1;
    return qBound(0.0, double(found->bytesReceived) / double(found->bytesExpected), 1.0);
}

QString WallpaperDetailModel::confirmTitle() const
{
    const double fraction = downloadFraction();
    if (fraction < 0)
        return QStringLiteral("Set Wallpaper");
    return QStringLiteral("Downloading %1 %").arg(int(std::floor(fraction * 100)));
}

void WallpaperDetailModel::mainAction()
{
    if (m_isApplying || !m_content || !m_wallpaper)
        return;
    if (isCurrent()) {
        WallpaperManager &manager = m_content->manager();
        manager.stop();
        if (const Result<> restored = manager.previousDesktopStore().restore(); !restored) {
            setApplyError(restored.error().description());
        } else {
            setApplyError({});
            setPickerPresented(false);
        }
        return;
    }
    if (!hasVideo())
        return;
    // An earlier choice stands while every screen in it is still connected.
    const QSet<QString> all = allScreenIDs();
    if (m_selectedScreenIDs.isEmpty() || !all.contains(m_selectedScreenIDs))
        setSelection(all);
    setPickerPresented(true);
    setApplyError({});
}

void WallpaperDetailModel::toggleScreen(const QString &screenID)
{
    QSet<QString> ids = m_selectedScreenIDs;
    if (!ids.remove(screenID))
        ids.insert(screenID);
    setSelection(std::move(ids));
}

void WallpaperDetailModel::selectAllScreens()
{
    setSelection(allScreenIDs());
}

void WallpaperDetailModel::cancelPicker()
{
    setPickerPresented(false);
}

void WallpaperDetailModel::confirm()
{
    confirmAndWait();
}

QCoro::Task<> WallpaperDetailModel::confirmAndWait()
{
    if (m_isApplying || m_selectedScreenIDs.isEmpty() || !hasVideo() || !m_content)
        co_return;
    setApplying(true);
    setApplyError({});
    // The apply outlives the page: what it needs is held here.
    const QPointer<WallpaperDetailModel> self(this);
    const QPointer<WallpaperManager> manager(&m_content->manager());
    VideoCache &cache = m_content->cache();
    VideoCacheState &cacheState = m_content->cacheState();
    const Wallpaper wallpaper = *m_wallpaper;
    QSet<QString> screenIDs = m_selectedScreenIDs;

    QCoro::Task<VideoDownloadResult> download = cache.download(wallpaper);
    const VideoDownloadResult downloaded = co_await std::move(download);
    Result<> applied = downloaded ? Result<>() : failure(downloaded.error());
    if (applied && manager) {
        // The screens ticked now; an emptied selection keeps the confirmed one.
        if (self && !m_selectedScreenIDs.isEmpty())
            screenIDs = m_selectedScreenIDs;
        manager->apply(*downloaded, wallpaper.id(), screenIDs);
        QCoro::Task<Result<>> still =
            manager->updateLockScreenFallback(*downloaded, wallpaper.id(), screenIDs);
        applied = co_await std::move(still);
    }
    if (applied)
        cacheState.refresh();
    if (!self)
        co_return;
    setApplying(false);
    if (!applied) {
        setApplyError(applied.error().description());
    } else {
        setPickerPresented(false);
    }
    Q_EMIT applyFinished(applied.has_value());
}

void WallpaperDetailModel::toggleLike()
{
    if (m_content && m_wallpaper)
        m_content->likes().toggle(*m_wallpaper);
}

void WallpaperDetailModel::back()
{
    if (m_content)
        m_content->closeSelectedWallpaper();
}

void WallpaperDetailModel::setApplying(bool applying)
{
    if (applying == m_isApplying)
        return;
    m_isApplying = applying;
    Q_EMIT isApplyingChanged();
    Q_EMIT mainButtonChanged();
    Q_EMIT canConfirmChanged();
    Q_EMIT downloadChanged();
}

void WallpaperDetailModel::setApplyError(const QString &error)
{
    if (error == m_applyError)
        return;
    m_applyError = error;
    Q_EMIT applyErrorChanged();
}

void WallpaperDetailModel::setPickerPresented(bool presented)
{
    if (presented == m_isDisplayPickerPresented)
        return;
    m_isDisplayPickerPresented = presented;
    Q_EMIT isDisplayPickerPresentedChanged();
}

void WallpaperDetailModel::setSelection(QSet<QString> ids)
{
    if (ids == m_selectedScreenIDs)
        return;
    m_selectedScreenIDs = std::move(ids);
    Q_EMIT displayOptionsChanged();
    Q_EMIT canConfirmChanged();
}

void WallpaperDetailModel::setDurationText(const QString &text)
{
    if (text == m_durationText)
        return;
    m_durationText = text;
    Q_EMIT durationTextChanged();
}

} // namespace lumivale
