#include "contentview.h"

#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "catalogue/likedwallpaperstore.h"
#include "catalogue/wallpaperlibrary.h"
#include "desktop/wallpapermanager.h"
#include "platform/notificationcenter.h"
#include "platform/userdefaults.h"
#include "previewplaybackcoordinator.h"
#include "wallpaperdetailmodel.h"

#include <algorithm>

namespace lumivale {

ContentView::Dependencies ContentView::Dependencies::standard()
{
    return Dependencies{UserDefaults::standard(), WallpaperManager::shared(),
                        VideoCacheState::shared(), VideoCache::shared(), DelayClock::system()};
}

ContentView::ContentView(Dependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_dependencies(dependencies)
    , m_library(std::make_unique<WallpaperLibrary>(dependencies.defaults))
    , m_likes(std::make_unique<LikedWallpaperStore>(dependencies.defaults))
    , m_previewCoordinator(std::make_unique<PreviewPlaybackCoordinator>(dependencies.clock))
{
    connect(&NotificationCenter::shared(), &NotificationCenter::refreshWallpaperLibrary, this,
            [this] { reload(); });
}

ContentView::~ContentView() = default;

QString ContentView::tabTitle(AppTab tab)
{
    switch (tab) {
    case AppTab::Home:
        return QStringLiteral("Home");
    case AppTab::Likes:
        return QStringLiteral("Likes");
    }
    return {};
}

QString ContentView::selectedWallpaperID() const
{
    return m_selectedWallpaper ? m_selectedWallpaper->id() : QString();
}

QString ContentView::selectedWallpaperName() const
{
    return m_selectedWallpaper ? m_selectedWallpaper->name() : QString();
}

void ContentView::selectTab(AppTab tab)
{
    if (tab == m_tab)
        return;
    m_tab = tab;
    Q_EMIT tabChanged();
}

void ContentView::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    Q_EMIT queryChanged();
    // A change within the wait restarts it; only text that stayed put for the
    // whole wait reaches the tabs.
    m_queryDebounce =
        m_dependencies.clock.callAfter(kQueryDebounceMs, [this] { setAppliedQuery(m_query); });
}

void ContentView::setAppliedQuery(const QString &query)
{
    if (query == m_appliedQuery)
        return;
    m_appliedQuery = query;
    Q_EMIT appliedQueryChanged();
}

void ContentView::selectWallpaper(const QString &wallpaperID)
{
    const QList<Wallpaper> &wallpapers = m_library->wallpapers();
    const auto found = std::find_if(wallpapers.cbegin(), wallpapers.cend(),
                                    [&](const Wallpaper &w) { return w.id() == wallpaperID; });
    if (found != wallpapers.cend())
        setSelectedWallpaper(*found);
}

void ContentView::setSelectedWallpaper(std::optional<Wallpaper> wallpaper)
{
    if (wallpaper == m_selectedWallpaper)
        return;
    const bool wasActive = isContentActive();
    m_selectedWallpaper = std::move(wallpaper);
    Q_EMIT selectedWallpaperChanged();
    if (wasActive != isContentActive())
        Q_EMIT isContentActiveChanged();
}

void ContentView::closeSelectedWallpaper()
{
    setSelectedWallpaper(std::nullopt);
}

void ContentView::setDetailPage(WallpaperDetailModel *page)
{
    m_detailPage = page;
}

bool ContentView::closeInnermostLayer()
{
    if (m_detailPage && m_detailPage->isDisplayPickerPresented()) {
        m_detailPage->cancelPicker();
        return true;
    }
    if (!m_selectedWallpaper)
        return false;
    closeSelectedWallpaper();
    return true;
}

void ContentView::setWindowAllowsVideoPlayback(bool allows)
{
    if (allows == m_windowAllowsVideoPlayback)
        return;
    const bool wasActive = isContentActive();
    m_windowAllowsVideoPlayback = allows;
    Q_EMIT windowAllowsVideoPlaybackChanged();
    if (wasActive != isContentActive())
        Q_EMIT isContentActiveChanged();
}

QCoro::Task<> ContentView::appear()
{
    const QPointer<ContentView> self(this);
    if (m_library->wallpapers().isEmpty()) {
        co_await m_library->load();
        if (!self)
            co_return;
        m_likes->mergeServerLikes(m_library->wallpapers());
    }
    m_dependencies.cacheState.refresh();
}

QCoro::Task<> ContentView::reload()
{
    const QPointer<ContentView> self(this);
    co_await m_library->load();
    if (!self)
        co_return;
    const QList<Wallpaper> &wallpapers = m_library->wallpapers();
    m_likes->mergeServerLikes(wallpapers);
    m_dependencies.cacheState.refresh();
    if (m_selectedWallpaper) {
        const QString selectedID = m_selectedWallpaper->id();
        const bool kept = std::any_of(wallpapers.cbegin(), wallpapers.cend(),
                                      [&](const Wallpaper &w) { return w.id() == selectedID; });
        if (!kept)
            setSelectedWallpaper(std::nullopt);
    }
}

} // namespace lumivale
