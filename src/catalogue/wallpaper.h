#pragma once

#include "platform/error.h"

#include <QByteArrayView>
#include <QColor>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QSharedData>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

namespace lumivale {

// One catalogue record: what a card shows, what the detail page describes,
// what the video cache downloads and what the desktop plays. Identified by
// `id`; equality is member-wise over every field.
//
// A value with implicitly shared data, like QString: a copy costs one
// reference count, which matters because every search snapshot holds each
// matching record several times; a setter detaches. Copies may be read and
// handed between threads freely; one object is not written from two threads.
class Wallpaper
{
public:
    Wallpaper();

    const QString &id() const { return d->id; }
    void setId(QString id) { d->id = std::move(id); }
    const QString &name() const { return d->name; }
    void setName(QString name) { d->name = std::move(name); }
    const QString &category() const { return d->category; }
    void setCategory(QString category) { d->category = std::move(category); }
    const QString &resolution() const { return d->resolution; }
    void setResolution(QString resolution) { d->resolution = std::move(resolution); }
    // Decided once, when the record is decoded (see decodeWallpaper()).
    bool isNew() const { return d->isNew; }
    void setIsNew(bool isNew) { d->isNew = isNew; }
    const std::optional<QDateTime> &createdAt() const { return d->createdAt; }
    void setCreatedAt(std::optional<QDateTime> createdAt) { d->createdAt = std::move(createdAt); }
    qint64 likeCount() const { return d->likeCount; }
    void setLikeCount(qint64 likeCount) { d->likeCount = likeCount; }
    // As the manifest says; the local liked state is LikedWallpaperStore's.
    bool isLiked() const { return d->isLiked; }
    void setIsLiked(bool isLiked) { d->isLiked = isLiked; }
    const std::optional<QUrl> &video() const { return d->video; }
    void setVideo(std::optional<QUrl> video) { d->video = std::move(video); }
    const std::optional<QStringList> &gradient() const { return d->gradient; }
    void setGradient(std::optional<QStringList> gradient) { d->gradient = std::move(gradient); }
    std::optional<qint64> sizeBytes() const { return d->sizeBytes; }
    void setSizeBytes(std::optional<qint64> sizeBytes) { d->sizeBytes = sizeBytes; }
    std::optional<double> durationSeconds() const { return d->durationSeconds; }
    void setDurationSeconds(std::optional<double> seconds) { d->durationSeconds = seconds; }

    // The colours of the placeholder gradient: the record's own, when it lists
    // any, with malformed ones skipped (possibly none at all); otherwise one
    // of the fallback palettes, chosen by `id` alone, the same in every run.
    QList<QColor> gradientColors() const;

    // The record under the manifest's keys; absent values are left out and the
    // count is written under "likeCount".
    QJsonObject toJson() const;

    void swap(Wallpaper &other) noexcept { d.swap(other.d); }

    friend bool operator==(const Wallpaper &left, const Wallpaper &right)
    {
        return left.d == right.d ||
               static_cast<const Fields &>(*left.d) == static_cast<const Fields &>(*right.d);
    }

private:
    struct Fields
    {
        QString id;
        QString name;
        QString category;
        QString resolution;
        bool isNew = false;
        std::optional<QDateTime> createdAt;
        qint64 likeCount = 0;
        bool isLiked = false;
        std::optional<QUrl> video;
        std::optional<QStringList> gradient;
        std::optional<qint64> sizeBytes;
        std::optional<double> durationSeconds;

        friend bool operator==(const Fields &, const Fields &) = default;
    };
    struct Data : QSharedData, Fields
    {
    };

    QSharedDataPointer<Data> d;
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
Result<Wallpaper> decodeWallpaper(const QJsonValue &element, qsizetype index, const QDateTime &now);

// Decodes a whole manifest: a UTF-8 JSON array of wallpaper objects, in
// catalogue order. One failing element fails the whole manifest, with the
// element's error. Any thread.
Result<QList<Wallpaper>> decodeManifest(QByteArrayView json,
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

Q_DECLARE_SHARED(lumivale::Wallpaper)
Q_DECLARE_METATYPE(lumivale::Wallpaper)
