#pragma once

#include "catalogue/wallpaper.h"
#include "mousedraggablecarousel.h"
#include "platform/delayclock.h"
#include "wallpaperlistmodel.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>
#include <memory>

namespace lumivale {

class ContentView;

// What the Home tab shows, from the catalogue of `content` and the applied
// search `query`:
//
// - the page: loading (a load runs and nothing is there yet), the load error
//   (nothing is there and the last load failed), the selected category's
//   page, or home; home without rows says "No results";
// - the hero: one of the wallpapers with a video among those that match, or
//   among the whole catalogue when none matches. It starts at the record
//   named before if it is still there, else at the first new one, else at
//   the first, and moves on every kHeroRotationMs. The rotation restarts only
//   when the heroes' IDs change, so a reload that brings the same list keeps
//   its rhythm;
// - one row per home category with matches, in kHomeCategories order, each a
//   WallpaperListModel that updates by wallpaper ID (and one more for the
//   category page);
// - the tap suppression all the rows' carousels share.
//
// A search that leaves the selected category empty goes back home.
//
// Main thread only; `content` must outlive the view model or be cleared
// first, and its clock drives the rotation and the carousels' delays.
class HomeViewModel : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(lumivale::ContentView *content READ content WRITE setContent NOTIFY contentChanged)
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(Page page READ page NOTIFY pageChanged)
    Q_PROPERTY(QString loadError READ loadError NOTIFY pageChanged)
    Q_PROPERTY(QStringList homeCategories READ homeCategories CONSTANT)
    Q_PROPERTY(QStringList rowCategories READ rowCategories NOTIFY rowCategoriesChanged)
    Q_PROPERTY(QString selectedCategory READ selectedCategory NOTIFY selectedCategoryChanged)
    Q_PROPERTY(lumivale::WallpaperListModel *categoryModel READ categoryModel CONSTANT)
    Q_PROPERTY(QString heroWallpaperID READ heroWallpaperID NOTIFY heroChanged)
    Q_PROPERTY(bool hasHero READ hasHero NOTIFY heroChanged)
    Q_PROPERTY(QString heroName READ heroName NOTIFY heroChanged)
    // "category · resolution"
    Q_PROPERTY(QString heroSubtitle READ heroSubtitle NOTIFY heroChanged)
    Q_PROPERTY(QUrl heroVideo READ heroVideo NOTIFY heroChanged)
    Q_PROPERTY(QVariantList heroGradient READ heroGradient NOTIFY heroChanged)
    Q_PROPERTY(lumivale::CarouselTapSuppression *carouselTapSuppression READ carouselTapSuppression
                   NOTIFY contentChanged)

public:
    enum class Page {
        Loading,
        Error,
        Category,
        Home,
    };
    Q_ENUM(Page)

    static constexpr int kHeroRotationMs = 8000;
    static inline const QStringList kHomeCategories{
        QStringLiteral("Nature"), QStringLiteral("Space"), QStringLiteral("Anime"),
        QStringLiteral("Pixel"),  QStringLiteral("Lofi"),  QStringLiteral("Cars"),
        QStringLiteral("Animals")};

    explicit HomeViewModel(QObject *parent = nullptr);
    ~HomeViewModel() override;

    ContentView *content() const { return m_content; }
    void setContent(ContentView *content);
    const QString &query() const { return m_query; }
    void setQuery(const QString &query);

    Page page() const;
    QString loadError() const;
    QStringList homeCategories() const { return kHomeCategories; }
    const QStringList &rowCategories() const { return m_rowCategories; }
    const QString &selectedCategory() const { return m_selectedCategory; }
    WallpaperListModel *categoryModel() const { return m_categoryModel.get(); }
    // The row of kHomeCategories[index]; it is empty while the category has
    // no matches.
    Q_INVOKABLE lumivale::WallpaperListModel *rowModel(int index) const;

    const QList<Wallpaper> &heroList() const { return m_heroList; }
    const QString &heroWallpaperID() const { return m_heroWallpaperID; }
    // The hero shown: the one named by heroWallpaperID, else the first new
    // one, else the first; none while the hero list is empty.
    std::optional<Wallpaper> hero() const;
    bool hasHero() const { return !m_heroList.isEmpty(); }
    QString heroName() const;
    QString heroSubtitle() const;
    QUrl heroVideo() const;
    QVariantList heroGradient() const;
    CarouselTapSuppression *carouselTapSuppression() const { return m_tapSuppression.get(); }

    // The row title: the category's page.
    Q_INVOKABLE void selectCategory(const QString &category);
    // The category page's back button.
    Q_INVOKABLE void closeCategory();
    // The error page's "Retry": loads the catalogue again.
    Q_INVOKABLE void retry();
    // Whether a click at this height in the window opens the hero: not in
    // the window's title area, which drags the window.
    Q_INVOKABLE static bool heroTakesClickAt(qreal windowY);
    // How far one wheel event scrolls a page down (negative: up).
    Q_INVOKABLE static qreal pageScrollDelta(QPointF pixelDelta, QPointF angleDelta);

Q_SIGNALS:
    void contentChanged();
    void queryChanged();
    void pageChanged();
    void rowCategoriesChanged();
    void selectedCategoryChanged();
    void heroChanged();

private:
    void update();
    void setSelectedCategory(const QString &category);
    void restartRotation();
    void rotate();
    void scheduleRotation();
    void setHeroWallpaperID(const QString &id);

    QPointer<ContentView> m_content;
    QString m_query;
    QList<QMetaObject::Connection> m_connections;
    std::unique_ptr<CarouselTapSuppression> m_tapSuppression;
    QList<WallpaperListModel *> m_rowModels; // children
    std::unique_ptr<WallpaperListModel> m_categoryModel;
    QStringList m_rowCategories;
    QString m_selectedCategory;
    QList<Wallpaper> m_heroList;
    QString m_heroKey;
    std::optional<Wallpaper> m_shownHero;
    QString m_heroWallpaperID;
    // The pending turn, and the one that is running (kept alive until the
    // next turn is scheduled from inside it).
    std::unique_ptr<PendingCall> m_rotation;
    std::unique_ptr<PendingCall> m_runningRotation;
    Page m_page = Page::Home;
};

} // namespace lumivale
