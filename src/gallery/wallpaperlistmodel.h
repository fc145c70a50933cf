#pragma once

#include "catalogue/wallpaper.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace lumivale {

class ContentView;

// The gallery's cards as a list: the catalogue of `content`, narrowed to the
// liked wallpapers with `likedOnly`, filtered by `query`, one row per record
// with what its card shows (the record, whether it is the desktop's current
// wallpaper, downloaded, or downloading and how far).
//
// Rows are kept by wallpaper ID: when the list changes, only the rows of
// wallpapers that came, went or changed are inserted, removed, moved or
// changed, so a reload that brings the same list changes nothing and the
// cards keep their state and the view its scroll position.
//
// Main thread only; `content` must outlive the model or be cleared first.
class WallpaperListModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(lumivale::ContentView *content READ content WRITE setContent NOTIFY contentChanged)
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(bool likedOnly READ likedOnly WRITE setLikedOnly NOTIFY likedOnlyChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        NameRole,
        CategoryRole,
        ResolutionRole,
        IsNewRole,
        LikeCountTextRole,
        VideoRole,
        HasVideoRole,
        GradientRole,
        IsActiveRole,
        IsDownloadedRole,
        IsDownloadingRole,
        // 0…1 while the size is known, -1 while it is not.
        DownloadFractionRole,
    };
    Q_ENUM(Role)

    explicit WallpaperListModel(QObject *parent = nullptr);
    ~WallpaperListModel() override;

    ContentView *content() const { return m_content; }
    void setContent(ContentView *content);
    const QString &query() const { return m_query; }
    void setQuery(const QString &query);
    bool likedOnly() const { return m_likedOnly; }
    void setLikedOnly(bool likedOnly);
    int count() const { return int(m_rows.size()); }
    // Rows for these records, in this order, instead of the catalogue's
    // (`likedOnly` and `query` then do not apply); nullopt goes back to the
    // catalogue.
    void setSource(std::optional<QList<Wallpaper>> wallpapers);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // The row of a wallpaper ID, -1 when none.
    Q_INVOKABLE int indexOf(const QString &wallpaperID) const;

Q_SIGNALS:
    void contentChanged();
    void queryChanged();
    void likedOnlyChanged();
    void countChanged();

private:
    struct Row
    {
        Wallpaper wallpaper;
        bool isActive = false;
        bool isDownloaded = false;
        bool isDownloading = false;
        double downloadFraction = -1;

        friend bool operator==(const Row &, const Row &) = default;
    };

    void rebuild();
    QList<Row> computeRows() const;
    void applyRows(QList<Row> rows);

    QPointer<ContentView> m_content;
    QString m_query;
    bool m_likedOnly = false;
    std::optional<QList<Wallpaper>> m_source;
    QList<Row> m_rows;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace lumivale
