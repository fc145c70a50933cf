#pragma once

#include "wallpaper.h"

#include <QHash>
#include <QSet>

namespace lumivale {

// One record with the normalised texts the search compares. Identified by
// its wallpaper's `id`.
struct WallpaperListEntry
{
    Wallpaper wallpaper;
    QString normalizedName;
    QString normalizedCategory;

    const QString &id() const { return wallpaper.id(); }
    friend bool operator==(const WallpaperListEntry &, const WallpaperListEntry &) = default;
};

// The searchable index of a list of records for one query: the records that
// match, in input order, the categories present and the records grouped by
// category. The home and likes views build one whenever the list or the
// query changes.
//
// A pure value: creating and reading it is safe on any thread.
struct WallpaperListSnapshot
{
    WallpaperListSnapshot() = default;
    WallpaperListSnapshot(const QList<Wallpaper> &records, QStringView query);

    QList<WallpaperListEntry> entries;
    QList<Wallpaper> wallpapers;
    QSet<QString> normalizedCategories;
    QHash<QString, QList<Wallpaper>> wallpapersByNormalizedCategory;

    // The given names, in their order, that have records after filtering.
    QStringList availableCategories(const QStringList &categoryNames) const;

    // The records of one category (empty when it has none). In "Animals" two
    // pairs of favourites trade places, so the row opens with the ones people
    // pick most.
    QList<Wallpaper> wallpapersInCategory(QStringView categoryName) const;

    // Blanks and newlines trimmed at both ends, then lower-cased with the full
    // Unicode mapping whatever the locale, then composed (NFC) so that
    // canonically equivalent texts are equal. Diacritics and inner spaces stay.
    static QString normalized(QStringView text);

    // Whether `normalizedQuery` occurs in `normalizedText` as whole grapheme
    // clusters: a decomposed "é" finds a precomposed one, but a plain "e" never
    // matches the first half of an "é". Both sides must be normalized().
    static bool matches(const QString &normalizedText, const QString &normalizedQuery);
};

} // namespace lumivale
