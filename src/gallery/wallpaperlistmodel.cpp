#include "wallpaperlistmodel.h"

#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "catalogue/likedwallpaperstore.h"
#include "catalogue/wallpaperlibrary.h"
#include "catalogue/wallpaperlistsnapshot.h"
#include "contentview.h"
#include "desktop/wallpapermanager.h"

#include <QSet>

namespace lumivale {

WallpaperListModel::WallpaperListModel(QObject *parent)
    : QAbstractListModel(parent)
{}

WallpaperListModel::~WallpaperListModel() = default;

void WallpaperListModel::setContent(ContentView *content)
{
    if (content == m_content)
        return;
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_content = content;
    if (content) {
        const auto update = [this] { rebuild(); };
        m_connections = {
            connect(&content->library(), &WallpaperLibrary::wallpapersChanged, this, update),
            connect(&content->likes(), &LikedWallpaperStore::idsChanged, this, update),
            connect(&content->manager(), &WallpaperManager::currentWallpaperIDChanged, this,
                    update),
            connect(&content->cacheState(), &VideoCacheState::cachedIDsChanged, this, update),
            connect(&content->cache(), &VideoCache::downloadProgressChanged, this, update),
        };
    }
    Q_EMIT contentChanged();
    rebuild();
}

void WallpaperListModel::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    Q_EMIT queryChanged();
    rebuild();
}

void WallpaperListModel::setLikedOnly(bool likedOnly)
{
    if (likedOnly == m_likedOnly)
        return;
    m_likedOnly = likedOnly;
    Q_EMIT likedOnlyChanged();
    rebuild();
}

void WallpaperListModel::setSource(std::optional<QList<Wallpaper>> wallpapers)
{
    m_source = std::move(wallpapers);
    rebuild();
}

int WallpaperListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant WallpaperListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows.at(index.row());
    const Wallpaper &w = row.wallpaper;
    switch (role) {
    case IdRole:
        return w.id();
    case NameRole:
        return w.name();
    case CategoryRole:
        return w.category();
    case ResolutionRole:
        return w.resolution();
    case IsNewRole:
        return w.isNew();
    case LikeCountTextRole:
        return likeCountText(w.likeCount()).value_or(QString());
    case VideoRole:
        return w.video().value_or(QUrl());
    case HasVideoRole:
        return w.video().has_value();
    case GradientRole: {
        QVariantList colors;
        for (const QColor &color : w.gradientColors())
            colors.append(color);
        return colors;
    }
    case IsActiveRole:
        return row.isActive;
    case IsDownloadedRole:
        return row.isDownloaded;
    case IsDownloadingRole:
        return row.isDownloading;
    case DownloadFractionRole:
        return row.downloadFraction;
    }
    return {};
}

QHash<int, QByteArray> WallpaperListModel::roleNames() const
{
    return {
        {IdRole, "wallpaperID"},
        {NameRole, "name"},
        {CategoryRole, "category"},
        {ResolutionRole, "resolution"},
        {IsNewRole, "isNew"},
        {LikeCountTextRole, "likeCountText"},
        {VideoRole, "video"},
        {HasVideoRole, "hasVideo"},
        {GradientRole, "gradient"},
        {IsActiveRole, "isActive"},
        {IsDownloadedRole, "isDownloaded"},
        {IsDownloadingRole, "isDownloading"},
        {DownloadFractionRole, "downloadFraction"},
    };
}

int WallpaperListModel::indexOf(const QString &wallpaperID) const
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).wallpaper.id() == wallpaperID)
            return int(i);
    }
    return -1;
}

void WallpaperListModel::rebuild()
{
    applyRows(computeRows());
}

QList<WallpaperListModel::Row> WallpaperListModel::computeRows() const
{
    if (!m_content)
        return {};
    QList<Wallpaper> matching;
    if (m_source) {
        matching = *m_source;
    } else {
        QList<Wallpaper> records = m_content->library().wallpapers();
        if (m_likedOnly) {
            const QSet<QString> &liked = m_content->likes().ids();
            records.removeIf([&](const Wallpaper &w) { return !liked.contains(w.id()); });
        }
        matching = m_query.trimmed().isEmpty() ? records
                                               : WallpaperListSnapshot(records, m_query).wallpapers;
    }
    const QString current = m_content->manager().currentWallpaperID();
    const QSet<QString> &cached = m_content->cacheState().cachedIDs();
    const QHash<QString, DownloadProgress> &progress = m_content->cache().downloadProgress();
    QList<Row> rows;
    rows.reserve(matching.size());
    for (const Wallpaper &wallpaper : matching) {
        Row row{wallpaper};
        row.isActive = !current.isEmpty() && current == wallpaper.id();
        row.isDownloaded = cached.contains(wallpaper.id());
        if (const auto found = progress.constFind(wallpaper.id()); found != progress.cend()) {
            row.isDownloading = true;
            if (found->bytesExpected > 0)
                row.downloadFraction =
                    qBound(0.0, double(found->bytesReceived) / double(found->bytesExpected), 1.0);
        }
        rows.append(std::move(row));
    }
    return rows;
}

void WallpaperListModel::applyRows(QList<Row> rows)
{
    const int countBefore = count();
    // Rows whose wallpaper left go first, from the end so the indices hold.
    QSet<QString> kept;
    for (const Row &row : std::as_const(rows))
        kept.insert(row.wallpaper.id());
    // Each run of neighbours goes in one step, so that a search that drops
    // most of a long list tells the view a few times, not once per card.
    for (int last = int(m_rows.size()) - 1; last >= 0; --last) {
        if (kept.contains(m_rows.at(last).wallpaper.id()))
            continue;
        int first = last;
        while (first > 0 && !kept.contains(m_rows.at(first - 1).wallpaper.id()))
            --first;
        beginRemoveRows({}, first, last);
        m_rows.remove(first, last - first + 1);
        endRemoveRows();
        last = first;
    }
    // Then, position by position: the row is already there, comes from
    // further down, or is new.
    for (int i = 0; i < int(rows.size()); ++i) {
        const QString &id = rows.at(i).wallpaper.id();
        if (i < m_rows.size() && m_rows.at(i).wallpaper.id() == id) {
            if (!(m_rows.at(i) == rows.at(i))) {
                m_rows[i] = rows.at(i);
                Q_EMIT dataChanged(index(i), index(i));
            }
            continue;
        }
        int from = -1;
        for (int j = i + 1; j < int(m_rows.size()); ++j) {
            if (m_rows.at(j).wallpaper.id() == id) {
                from = j;
                break;
            }
        }
        if (from >= 0) {
            beginMoveRows({}, from, from, {}, i);
            m_rows.move(from, i);
            endMoveRows();
            if (!(m_rows.at(i) == rows.at(i))) {
                m_rows[i] = rows.at(i);
                Q_EMIT dataChanged(index(i), index(i));
            }
        } else {
            // New rows up to the next one already present, in one step.
            QSet<QString> present;
            for (qsizetype j = i; j < m_rows.size(); ++j)
                present.insert(m_rows.at(j).wallpaper.id());
            int last = i;
            while (last + 1 < int(rows.size()) &&
                   !present.contains(rows.at(last + 1).wallpaper.id()))
                ++last;
            beginInsertRows({}, i, last);
            m_rows = m_rows.first(i) + rows.sliced(i, last - i + 1) + m_rows.sliced(i);
            endInsertRows();
            i = last;
        }
    }
    if (count() != countBefore)
        Q_EMIT countChanged();
}

} // namespace lumivale
