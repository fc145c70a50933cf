#include "homeviewmodel.h"

#include "catalogue/wallpaperlibrary.h"
#include "catalogue/wallpaperlistsnapshot.h"
#include "contentview.h"
#include "gallerywindow.h"
#include "mousedraggablecarousel.h"
#include "wallpaperlistmodel.h"

#include <QQmlEngine>
#include <algorithm>

namespace lumivale {
namespace {

QList<Wallpaper> withVideo(const QList<Wallpaper> &wallpapers)
{
    QList<Wallpaper> result;
    for (const Wallpaper &wallpaper : wallpapers) {
        if (wallpaper.video())
            result.append(wallpaper);
    }
    return result;
}

QString idsKey(const QList<Wallpaper> &wallpapers)
{
    QStringList ids;
    ids.reserve(wallpapers.size());
    for (const Wallpaper &wallpaper : wallpapers)
        ids.append(wallpaper.id());
    return ids.join(QLatin1Char('|'));
}

} // namespace

HomeViewModel::HomeViewModel(QObject *parent)
    : QObject(parent)
    , m_categoryModel(std::make_unique<WallpaperListModel>())
{
    for (qsizetype i = 0; i < kHomeCategories.size(); ++i) {
        auto *row = new WallpaperListModel(this);
        // Handed to QML by rowModel(): still ours.
        QQmlEngine::setObjectOwnership(row, QQmlEngine::CppOwnership);
        m_rowModels.append(row);
    }
}

HomeViewModel::~HomeViewModel() = default;

void HomeViewModel::setContent(ContentView *content)
{
    if (content == m_content)
        return;
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_rotation.reset();
    m_content = content;
    m_tapSuppression =
        content ? std::make_unique<CarouselTapSuppression>(content->clock()) : nullptr;
    for (WallpaperListModel *row : std::as_const(m_rowModels))
        row->setContent(content);
    m_categoryModel->setContent(content);
    if (content) {
        WallpaperLibrary &library = content->library();
        const auto update = [this] { this->update(); };
        m_connections = {
            connect(&library, &WallpaperLibrary::wallpapersChanged, this, update),
            connect(&library, &WallpaperLibrary::isLoadingChanged, this, update),
            connect(&library, &WallpaperLibrary::loadErrorChanged, this, update),
        };
    }
    Q_EMIT contentChanged();
    update();
}

void HomeViewModel::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    Q_EMIT queryChanged();
    if (m_content && !m_selectedCategory.isEmpty() &&
        WallpaperListSnapshot(m_content->library().wallpapers(), m_query)
            .wallpapersInCategory(m_selectedCategory)
            .isEmpty()) {
        setSelectedCategory({});
    }
    update();
}

HomeViewModel::Page HomeViewModel::page() const
{
    return m_page;
}

QString HomeViewModel::loadError() const
{
    return m_content ? m_content->library().loadErrorText() : QString();
}

WallpaperListModel *HomeViewModel::rowModel(int index) const
{
    return index >= 0 && index < m_rowModels.size() ? m_rowModels.at(index) : nullptr;
}

std::optional<Wallpaper> HomeViewModel::hero() const
{
    if (m_heroList.isEmpty())
        return std::nullopt;
    const auto named = std::find_if(m_heroList.cbegin(), m_heroList.cend(),
                                    [this](const auto &w) { return w.id() == m_heroWallpaperID; });
    if (named != m_heroList.cend())
        return *named;
    const auto fresh = std::find_if(m_heroList.cbegin(), m_heroList.cend(),
                                    [](const Wallpaper &w) { return w.isNew(); });
    return fresh != m_heroList.cend() ? *fresh : m_heroList.first();
}

QString HomeViewModel::heroName() const
{
    return m_shownHero ? m_shownHero->name() : QString();
}

QString HomeViewModel::heroSubtitle() const
{
    return m_shownHero
               ? m_shownHero->category() + QStringLiteral(" \u00B7 ") + m_shownHero->resolution()
               : QString();
}

QUrl HomeViewModel::heroVideo() const
{
    return m_shownHero ? m_shownHero->video().value_or(QUrl()) : QUrl();
}

QVariantList HomeViewModel::heroGradient() const
{
    QVariantList colors;
    if (m_shownHero) {
        for (const QColor &color : m_shownHero->gradientColors())
            colors.append(color);
    }
    return colors;
}

void HomeViewModel::selectCategory(const QString &category)
{
    setSelectedCategory(category);
    update();
}

void HomeViewModel::closeCategory()
{
    setSelectedCategory({});
    update();
}

void HomeViewModel::retry()
{
    if (m_content)
        m_content->library().load();
}

bool HomeViewModel::heroTakesClickAt(qreal windowY)
{
    return windowY >= GalleryWindow::kDragRegionHeight;
}

qreal HomeViewModel::pageScrollDelta(QPointF pixelDelta, QPointF angleDelta)
{
    return MouseDraggableCarousel::pageScrollDelta(pixelDelta, angleDelta);
}

void HomeViewModel::setSelectedCategory(const QString &category)
{
    if (category == m_selectedCategory)
        return;
    m_selectedCategory = category;
    Q_EMIT selectedCategoryChanged();
}

void HomeViewModel::update()
{
    const QList<Wallpaper> all = m_content ? m_content->library().wallpapers() : QList<Wallpaper>();
    const WallpaperListSnapshot snapshot(all, m_query);

    for (qsizetype i = 0; i < kHomeCategories.size(); ++i)
        m_rowModels.at(i)->setSource(snapshot.wallpapersInCategory(kHomeCategories.at(i)));
    m_categoryModel->setSource(m_selectedCategory.isEmpty()
                                   ? QList<Wallpaper>()
                                   : snapshot.wallpapersInCategory(m_selectedCategory));
    const QStringList rows = snapshot.availableCategories(kHomeCategories);
    if (rows != m_rowCategories) {
        m_rowCategories = rows;
        Q_EMIT rowCategoriesChanged();
    }

    QList<Wallpaper> heroes = withVideo(snapshot.wallpapers);
    if (heroes.isEmpty())
        heroes = withVideo(all);
    m_heroList = heroes;
    const QString key = idsKey(heroes);
    if (key != m_heroKey || (heroes.isEmpty() && !m_heroWallpaperID.isEmpty())) {
        m_heroKey = key;
        restartRotation();
    }
    // The same IDs may come back with other details (a reload).
    if (hero() != m_shownHero) {
        m_shownHero = hero();
        Q_EMIT heroChanged();
    }

    Page page = Page::Home;
    if (m_content && all.isEmpty() && m_content->library().isLoading())
        page = Page::Loading;
    else if (m_content && all.isEmpty() && m_content->library().loadError())
        page = Page::Error;
    else if (!m_selectedCategory.isEmpty())
        page = Page::Category;
    if (page != m_page || page == Page::Error) {
        m_page = page;
        Q_EMIT pageChanged();
    }
}

void HomeViewModel::restartRotation()
{
    m_rotation.reset();
    if (m_heroList.isEmpty()) {
        setHeroWallpaperID({});
        return;
    }
    const bool named = std::any_of(m_heroList.cbegin(), m_heroList.cend(),
                                   [this](const auto &w) { return w.id() == m_heroWallpaperID; });
    if (!named)
        setHeroWallpaperID(hero()->id());
    if (m_heroList.size() > 1)
        scheduleRotation();
}

void HomeViewModel::scheduleRotation()
{
    if (!m_content)
        return;
    m_rotation = m_content->clock().callAfter(kHeroRotationMs, [this] {
        m_runningRotation = std::move(m_rotation);
        rotate();
        scheduleRotation();
    });
}

void HomeViewModel::rotate()
{
    const auto at = std::find_if(m_heroList.cbegin(), m_heroList.cend(),
                                 [this](const auto &w) { return w.id() == m_heroWallpaperID; });
    const qsizetype i = at - m_heroList.cbegin();
    setHeroWallpaperID(m_heroList.at(i + 1 < m_heroList.size() ? i + 1 : 0).id());
}

void HomeViewModel::setHeroWallpaperID(const QString &id)
{
    if (id == m_heroWallpaperID)
        return;
    m_heroWallpaperID = id;
    m_shownHero = hero();
    Q_EMIT heroChanged();
}

} // namespace lumivale
