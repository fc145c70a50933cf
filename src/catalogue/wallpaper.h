#pragma once

#include "platform/error.h"

#include <QByteArrayView>
#include <QColor>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

namespace lumivale {

// One catalogue record: what a card shows, what the detail page describes,
// what the video cache downloads and what the desktop plays. Identified by
// `id`; equality is member-wise over every field.
//
// A plain value: copy it freely and read it from any thread.
struct Wallpaper
{
    QString id;
    QString name;
    QString category;
    QString resolution;
    // Decided once, when the record is decoded (see decodeWallpaper()).
    bool isNew = false;
    std::optional<QDateTime> createdAt;
    qint64 likeCount = 0;
    // As the manifest says; the local liked state is LikedWallpaperStore's.
    bool isLiked = false;
    std::optional<QUrl> video;
    std::optional<QStringList> gradient;
    std::optional<qint64> sizeBytes;
    std::optional<double> durationSeconds;

    // The colours of the placeholder gradient: the record's own, when it lists
    // any, with malformed ones skipped (possibly none at all); otherwise one
    // of the fallback palettes, chosen by `id` alone, the same in every run.
    QList<QColor> gradientColors() const;

    // The record under the manifest's keys; absent values are left out and the
    // count is written under "likeCount".
    QJsonObject toJson() const;

    friend bool operator==(const Wallpaper &, const Wallpaper &) = default;
};

size_t qHash(const Wallpaper &wallpaper, size_t seed = 0) noexcept;

// Decoding failures carry this domain, one of these codes, and a description
// that names the element's index and the key at fault.
namespace ManifestError {
inline const QString kDomain = QStringLiteral("Manifest");
enum Code {
    NotJson = 1,
    NotArray = 2,
    MissingKey = 3,
    WrongType = 4,
    InvalidURL = 5,
    TooLarge = 6,
};
} // namespace ManifestError

// The largest manifest anyone reads, so a runaway answer cannot exhaust memory.
inline constexpr qsizetype kMaxManifestBytes = 64 * 1024 * 1024;

// Decodes one manifest element. `index` only labels errors. `now` decides
// `isNew` against "createdAt". Any thread.
std::optional<Wallpaper> decodeWallpaper(const QJsonValue &element, qsizetype index,
                                         const QDateTime &now, Error *error);

// Decodes a whole manifest: a UTF-8 JSON array of wallpaper objects, in
// catalogue order. One failing element fails the whole manifest; then the
// result is nullopt and `*error` (when given) says why. Any thread.
std::optional<QList<Wallpaper>>
decodeManifest(QByteArrayView json, Error *error = nullptr,
               const QDateTime &now = QDateTime::currentDateTimeUtc());

// Parses an RFC 3339 internet date-time with whole seconds and a "Z" or
// ±hh:mm zone ("2024-05-01T12:30:00Z"); anything else gives nullopt.
std::optional<QDateTime> parseInternetDateTime(QStringView text);
// The same format written back, in UTC with "Z".
QString formatInternetDateTime(const QDateTime &dateTime);

// Six hex digits, with or without a leading "#" and surrounding blanks, to an
// opaque sRGB colour; anything else gives nullopt.
std::optional<QColor> colorFromHex(QStringView text);

// The counter shown on a card: nothing below 1, then "999", "1.0K", "1.0M".
std::optional<QString> likeCountText(qint64 count);

// The fallback palettes, as hex texts, in the order gradientColors() indexes
// them.
const QList<QStringList> &fallbackPalettes();

} // namespace lumivale

Q_DECLARE_METATYPE(lumivale::Wallpaper)
