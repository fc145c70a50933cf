#pragma once

#include "catalogue/wallpaper.h"
#include "platform/delayclock.h"
#include "previewplaybackcoordinator.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumivale {

class LikedWallpaperStore;
class UserDefaults;
class VideoCache;
class VideoCacheState;
class WallpaperDetailModel;
class WallpaperLibrary;
class WallpaperManager;

// The gallery's root view model. It owns the gallery's catalogue, likes and
// preview coordinator, uses the process's playback manager and cache state,
// and holds what the whole window shares: the visible tab, the search text
// and its debounced copy, the wallpaper whose page is open, and whether the
// window can be seen (and so whether any video may play).
//
// The search text reaches `appliedQuery` kQueryDebounceMs after its last
// change. appear() loads the catalogue when it is still empty and refreshes
// the cache state; every "refreshWallpaperLibrary" reloads it, and a reload
// that drops the open wallpaper closes its page.
//
// Main thread only. The dependencies must outlive the view model.
class ContentView : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by the gallery window")
    Q_PROPERTY(AppTab tab READ tab NOTIFY tabChanged)
    Q_PROPERTY(QString query READ query NOTIFY queryChanged)
    Q_PROPERTY(QString appliedQuery READ appliedQuery NOTIFY appliedQueryChanged)
    Q_PROPERTY(bool hasSelectedWallpaper READ hasSelectedWallpaper NOTIFY selectedWallpaperChanged)
    Q_PROPERTY(QString selectedWallpaperID READ selectedWallpaperID NOTIFY selectedWallpaperChanged)
    Q_PROPERTY(
        QString selectedWallpaperName READ selectedWallpaperName NOTIFY selectedWallpaperChanged)
    Q_PROPERTY(bool windowAllowsVideoPlayback READ windowAllowsVideoPlayback NOTIFY
                   windowAllowsVideoPlaybackChanged)
    // The tabs may play video: the window can be seen and no page covers them.
    Q_PROPERTY(bool isContentActive READ isContentActive NOTIFY isContentActiveChanged)
    Q_PROPERTY(
        lumivale::PreviewPlaybackCoordinator *previewCoordinator READ previewCoordinator CONSTANT)

public:
    enum class AppTab {
        Home,
        Likes,
    };
    Q_ENUM(AppTab)
    static constexpr int kQueryDebounceMs = 220;

    struct Dependencies
    {
        UserDefaults &defaults;
        WallpaperManager &manager;
        VideoCacheState &cacheState;
        VideoCache &cache;
        DelayClock &clock;

        // The process's own: standard defaults, the shared manager, cache
        // and cache state, the real clock.
        static Dependencies standard();
    };

    explicit ContentView(Dependencies dependencies, QObject *parent = nullptr);
    ~ContentView() override;

    // The tab's title: "Home", "Likes".
    Q_INVOKABLE static QString tabTitle(lumivale::ContentView::AppTab tab);

    AppTab tab() const { return m_tab; }
    const QString &query() const { return m_query; }
    const QString &appliedQuery() const { return m_appliedQuery; }
    bool hasSelectedWallpaper() const { return m_selectedWallpaper.has_value(); }
    const std::optional<Wallpaper> &selectedWallpaper() const { return m_selectedWallpaper; }
    QString selectedWallpaperID() const;
    QString selectedWallpaperName() const;
    bool windowAllowsVideoPlayback() const { return m_windowAllowsVideoPlayback; }
    bool isContentActive() const { return m_windowAllowsVideoPlayback && !hasSelectedWallpaper(); }

    WallpaperLibrary &library() const { return *m_library; }
    LikedWallpaperStore &likes() const { return *m_likes; }
    WallpaperManager &manager() const { return m_dependencies.manager; }
    VideoCacheState &cacheState() const { return m_dependencies.cacheState; }
    VideoCache &cache() const { return m_dependencies.cache; }
    PreviewPlaybackCoordinator *previewCoordinator() const { return m_previewCoordinator.get(); }
    DelayClock &clock() const { return m_dependencies.clock; }

    // Choosing the tab that is already shown does nothing.
    Q_INVOKABLE void selectTab(lumivale::ContentView::AppTab tab);
    // The search field's live text.
    Q_INVOKABLE void setQuery(const QString &query);
    // Opens the page of the catalogue's wallpaper with this ID (none: nothing).
    Q_INVOKABLE void selectWallpaper(const QString &wallpaperID);
    void setSelectedWallpaper(std::optional<Wallpaper> wallpaper);
    // The page's back control; nothing when no page is open.
    Q_INVOKABLE void closeSelectedWallpaper();
    // Escape: closes the innermost open layer (the page's display picker,
    // then the page); false when none was open.
    Q_INVOKABLE bool closeInnermostLayer();
    // The open page's model, whose picker Escape closes first.
    void setDetailPage(WallpaperDetailModel *page);

    // Set by the window from what the window system reports.
    void setWindowAllowsVideoPlayback(bool allows);

    // The view coming on screen: loads the catalogue unless it already holds
    // wallpapers, then refreshes the cache state.
    QCoro::Task<> appear();
    // What "refreshWallpaperLibrary" starts.
    QCoro::Task<> reload();

Q_SIGNALS:
    void tabChanged();
    void queryChanged();
    void appliedQueryChanged();
    void selectedWallpaperChanged();
    void windowAllowsVideoPlaybackChanged();
    void isContentActiveChanged();

private:
    void setAppliedQuery(const QString &query);

    Dependencies m_dependencies;
    std::unique_ptr<WallpaperLibrary> m_library;
    std::unique_ptr<LikedWallpaperStore> m_likes;
    std::unique_ptr<PreviewPlaybackCoordinator> m_previewCoordinator;
    AppTab m_tab = AppTab::Home;
    QString m_query;
    QString m_appliedQuery;
    std::unique_ptr<PendingCall> m_queryDebounce;
    std::optional<Wallpaper> m_selectedWallpaper;
    QPointer<WallpaperDetailModel> m_detailPage;
    bool m_windowAllowsVideoPlayback = false;
};

} // namespace lumivale
