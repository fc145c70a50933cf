#include "wallpaperlistsnapshot.h"

#include <QTextBoundaryFinder>
#include <algorithm>

namespace lumivale {
namespace {

bool isGraphemeBoundary(const QString &text, qsizetype position)
{
    if (position == 0 || position == text.size())
        return true;
    // Below U+0300 (Latin letters, digits, punctuation, controls) every
    // position is a boundary except inside CR LF; this spares the finder,
    // which analyses the whole text, for the common case.
    const char16_t before = text.at(position - 1).unicode();
    const char16_t after = text.at(position).unicode();
    if (before < 0x300 && after < 0x300)
        return !(before == u'\r' && after == u'\n');
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(position);
    return finder.isAtBoundary();
}

void swapFirstNamed(QList<Wallpaper> &wallpapers, QStringView first, QStringView second)
{
    const auto named = [&wallpapers](QStringView name) {
        return std::find_if(
            wallpapers.begin(), wallpapers.end(),
            [name](const Wallpaper &wallpaper) { return wallpaper.name() == name; });
    };
    const auto firstPosition = named(first);
    const auto secondPosition = named(second);
    if (firstPosition != wallpapers.end() && secondPosition != wallpapers.end())
        std::iter_swap(firstPosition, secondPosition);
}

} // namespace

WallpaperListSnapshot::WallpaperListSnapshot(const QList<Wallpaper> &records, QStringView query)
{
    const QString normalizedQuery = normalized(query);
    // A catalogue spells its few categories the same way over and over, so
    // each spelling is normalised once.
    QHash<QString, QString> normalizedCategoryBySpelling;
    entries.reserve(records.size());
    for (const Wallpaper &wallpaper : records) {
        auto category = normalizedCategoryBySpelling.constFind(wallpaper.category());
        if (category == normalizedCategoryBySpelling.cend()) {
            category = normalizedCategoryBySpelling.insert(wallpaper.category(),
                                                           normalized(wallpaper.category()));
        }
        QString normalizedName = normalized(wallpaper.name());
        if (!normalizedQuery.isEmpty() && !matches(normalizedName, normalizedQuery) &&
            !matches(*category, normalizedQuery)) {
            continue;
        }
        entries.append(WallpaperListEntry{wallpaper, std::move(normalizedName), *category});
    }
    wallpapers.reserve(entries.size());
    for (const WallpaperListEntry &entry : std::as_const(entries)) {
        wallpapers.append(entry.wallpaper);
        normalizedCategories.insert(entry.normalizedCategory);
        wallpapersByNormalizedCategory[entry.normalizedCategory].append(entry.wallpaper);
    }
}

QStringList WallpaperListSnapshot::availableCategories(const QStringList &categoryNames) const
{
    QStringList available;
    for (const QString &name : categoryNames) {
        if (normalizedCategories.contains(normalized(name)))
            available.append(name);
    }
    return available;
}

QList<Wallpaper> WallpaperListSnapshot::wallpapersInCategory(QStringView categoryName) const
{
    const QString category = normalized(categoryName);
    QList<Wallpaper> list = wallpapersByNormalizedCategory.value(category);
    if (category == normalized(u"Animals")) {
        swapFirstNamed(list, u"Nyan Cat", u"Adorable Big Eyed Kitten");
        swapFirstNamed(list, u"MaxWell Spinning Cat", u"Halloween Black Cat");
    }
    return list;
}

QString WallpaperListSnapshot::normalized(QStringView text)
{
    return text.trimmed().toString().toLower().normalized(QString::NormalizationForm_C);
}

bool WallpaperListSnapshot::matches(const QString &normalizedText, const QString &normalizedQuery)
{
    for (qsizetype from = 0;; ++from) {
        from = normalizedText.indexOf(normalizedQuery, from);
        if (from < 0)
            return false;
        if (isGraphemeBoundary(normalizedText, from) &&
            isGraphemeBoundary(normalizedText, from + normalizedQuery.size())) {
            return true;
        }
    }
}

} // namespace lumivale
