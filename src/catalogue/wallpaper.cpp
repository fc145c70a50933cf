#include "wallpaper.h"

#include <QCborArray>
#include <QCryptographicHash>
#include <QHashFunctions>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <limits>

namespace lumivale {
namespace {

constexpr qint64 kNewForMSecs = qint64(7) * 24 * 60 * 60 * 1000;

// The keys an element may carry, in decoding order: when several are at
// fault, the first of them is the one reported.
enum Key : int {
    Id,
    Name,
    Category,
    Resolution,
    IsNew,
    CreatedAt,
    LikeCount,
    Likes,
    IsLiked,
    Video,
    Gradient,
    SizeBytes,
    DurationSeconds,
    KeyCount
};

using namespace Qt::StringLiterals;
constexpr std::array<QLatin1StringView, KeyCount> kKeyNames = {
    "id"_L1,        "name"_L1,      "category"_L1,       "resolution"_L1, "isNew"_L1,
    "createdAt"_L1, "likeCount"_L1, "likes"_L1,          "isLiked"_L1,    "video"_L1,
    "gradient"_L1,  "sizeBytes"_L1, "durationSeconds"_L1};

std::optional<Key> keyNamed(QStringView name)
{
    for (int key = 0; key < KeyCount; ++key) {
        if (name == kKeyNames[key])
            return Key(key);
    }
    return std::nullopt;
}

// Reads the typed members of one manifest element, which must outlive the
// reader. The first failure is kept in `error`.
class ElementReader
{
public:
    // Visits the object's members once, noting where each known key sits,
    // rather than searching the object for each key the decoder asks about.
    ElementReader(const QJsonObject &object, qsizetype index)
        : m_index(index)
        , m_absent(object.constEnd())
    {
        m_members.fill(m_absent);
        for (auto member = object.constBegin(); member != m_absent; ++member) {
            if (const std::optional<Key> key = keyNamed(member.key()))
                m_members[*key] = member;
        }
    }

    const std::optional<Error> &error() const { return m_error; }

    // Absent and null both give nullopt; a present value of another type fails.
    std::optional<QString> optionalString(Key key)
    {
        const std::optional<QJsonValueConstRef> value = present(key);
        if (!value)
            return std::nullopt;
        if (!value->isString())
            return fail(ManifestError::WrongType, key, u"must be a string");
        return value->toString();
    }

    std::optional<QString> requiredString(Key key)
    {
        std::optional<QString> text = optionalString(key);
        if (!text && !m_error)
            failMissing(key);
        return text;
    }

    std::optional<bool> optionalBool(Key key)
    {
        const std::optional<QJsonValueConstRef> value = present(key);
        if (!value)
            return std::nullopt;
        if (!value->isBool())
            return fail(ManifestError::WrongType, key, u"must be a boolean");
        return value->toBool();
    }

    // A JSON integer that fits 64 bits; 5.5 or "5" fail.
    std::optional<qint64> optionalInteger(Key key)
    {
        const std::optional<QJsonValueConstRef> value = present(key);
        if (!value)
            return std::nullopt;
        // toInteger() falls back to its argument for anything that is not a
        // whole number within 64 bits; two different fallbacks tell that case
        // apart from a manifest value that happens to equal one of them.
        constexpr qint64 low = std::numeric_limits<qint64>::min();
        constexpr qint64 high = std::numeric_limits<qint64>::max();
        const qint64 number = value->toInteger(low);
        if (!value->isDouble() || (number == low && value->toInteger(high) == high))
            return fail(ManifestError::WrongType, key, u"must be an integer that fits 64 bits");
        return number;
    }

    std::optional<double> optionalNumber(Key key)
    {
        const std::optional<QJsonValueConstRef> value = present(key);
        if (!value)
            return std::nullopt;
        if (!value->isDouble())
            return fail(ManifestError::WrongType, key, u"must be a number");
        return value->toDouble();
    }

    // The array itself, once every element of it is known to be a string.
    std::optional<QJsonArray> optionalStringArray(Key key)
    {
        const std::optional<QJsonValueConstRef> value = present(key);
        if (!value)
            return std::nullopt;
        const QJsonArray array = value->toArray();
        const auto isString = [](QJsonValueConstRef element) { return element.isString(); };
        if (!value->isArray() || !std::all_of(array.begin(), array.end(), isString))
            return fail(ManifestError::WrongType, key, u"must be an array of strings");
        return array;
    }

    std::optional<QUrl> requiredURL(Key key)
    {
        const std::optional<QString> text = requiredString(key);
        if (!text)
            return std::nullopt;
        QUrl url(*text, QUrl::StrictMode);
        if (!url.isValid() || url.isEmpty())
            return fail(ManifestError::InvalidURL, key, u"is not a valid URL");
        return url;
    }

    // Never fails: a value of another type, like an unparsable text, gives no
    // timestamp.
    std::optional<QDateTime> lenientDateTime(Key key) const
    {
        const std::optional<QJsonValueConstRef> value = present(key);
        if (!value || !value->isString())
            return std::nullopt;
        return parseInternetDateTime(value->toString());
    }

private:
    // The member's value in place, without a copy of it; nullopt when the key
    // is absent or its value null.
    std::optional<QJsonValueConstRef> present(Key key) const
    {
        const QJsonObject::const_iterator member = m_members[key];
        if (member == m_absent || member->isNull())
            return std::nullopt;
        return *member;
    }

    // Only the first failure counts: the one reported is the earliest in
    // decoding order, whatever the reads after it find.
    std::nullopt_t fail(int code, Key key, QStringView problem)
    {
        if (!m_error) {
            m_error = Error(ManifestError::kDomain, code,
                            QStringLiteral("Manifest element %1: \"%2\" %3")
                                .arg(QString::number(m_index), kKeyNames[key], problem));
        }
        return std::nullopt;
    }

    void failMissing(Key key)
    {
        fail(ManifestError::MissingKey, key,
             m_members[key] != m_absent ? u"is required but null" : u"is required but missing");
    }

    const qsizetype m_index;
    const QJsonObject::const_iterator m_absent;
    std::array<QJsonObject::const_iterator, KeyCount> m_members;
    std::optional<Error> m_error;
};

// Categories, resolutions and palettes recur across a whole manifest; records
// that spell one the same way share a single copy of it, which spares memory
// and, with it, much of the decoding time.
class SharedTexts
{
public:
    void share(std::optional<QString> &text)
    {
        if (text)
            share(*text);
    }

    void share(QString &text)
    {
        const auto known = m_texts.constFind(text);
        if (known != m_texts.cend())
            text = *known;
        else
            m_texts.insert(text);
    }

    // The strings of an array of strings. A palette that one of the last few
    // records listed is recognised before any of its strings is converted.
    std::optional<QStringList> palette(const std::optional<QJsonArray> &array)
    {
        if (!array)
            return std::nullopt;
        // The CBOR view shares the array's storage and, unlike the JSON one,
        // compares strings in place instead of converting both sides.
        const QCborArray colors = QCborArray::fromJsonArray(*array);
        for (const auto &[seenColors, seenPalette] : m_recentPalettes) {
            if (seenColors == colors)
                return seenPalette;
        }
        QStringList palette;
        palette.reserve(array->size());
        for (const QJsonValue &color : *array)
            palette.append(color.toString());
        share(palette);
        if (m_recentPalettes.size() == kRecentPalettes)
            m_recentPalettes.removeFirst();
        m_recentPalettes.append({colors, palette});
        return palette;
    }

private:
    static constexpr qsizetype kRecentPalettes = 8;

    // A whole palette is shared when another record lists the same colours.
    void share(QStringList &texts)
    {
        const auto known = m_lists.constFind(texts);
        if (known != m_lists.cend()) {
            texts = *known;
            return;
        }
        for (QString &text : texts)
            share(text);
        m_lists.insert(texts);
    }

    QSet<QString> m_texts;
    QSet<QStringList> m_lists;
    QList<std::pair<QCborArray, QStringList>> m_recentPalettes;
};

template<typename T> size_t hashOptional(const std::optional<T> &value, size_t seed)
{
    using ::qHash;
    return value ? qHash(*value, seed) : qHash(-1, seed);
}

Result<Wallpaper> decodeElement(const QJsonValue &element, qsizetype index, const QDateTime &now,
                                SharedTexts &sharedTexts)
{
    if (!element.isObject())
        return failure(ManifestError::kDomain, ManifestError::WrongType,
                       QStringLiteral("Manifest element %1 is not an object").arg(index));
    const QJsonObject object = element.toObject();
    ElementReader reader(object, index);

    // The order matters only for which failure is reported first.
    std::optional<QString> id = reader.requiredString(Id);
    std::optional<QString> name = reader.requiredString(Name);
    std::optional<QString> category = reader.optionalString(Category);
    std::optional<QString> resolution = reader.optionalString(Resolution);
    const std::optional<bool> explicitIsNew = reader.optionalBool(IsNew);
    std::optional<QDateTime> createdAt = reader.lenientDateTime(CreatedAt);
    std::optional<qint64> likeCount = reader.optionalInteger(LikeCount);
    if (!likeCount && !reader.error())
        likeCount = reader.optionalInteger(Likes);
    const std::optional<bool> isLiked = reader.optionalBool(IsLiked);
    std::optional<QUrl> video = reader.requiredURL(Video);
    const std::optional<QJsonArray> gradient = reader.optionalStringArray(Gradient);
    const std::optional<qint64> sizeBytes = reader.optionalInteger(SizeBytes);
    const std::optional<double> durationSeconds = reader.optionalNumber(DurationSeconds);

    if (reader.error())
        return failure(*reader.error());

    sharedTexts.share(category);
    sharedTexts.share(resolution);

    Wallpaper wallpaper;
    wallpaper.setId(std::move(*id));
    wallpaper.setName(std::move(*name));
    wallpaper.setCategory(category ? std::move(*category) : QStringLiteral("Featured"));
    wallpaper.setResolution(resolution ? std::move(*resolution) : QStringLiteral("4K"));
    // A timestamp, even one in the future, outranks the explicit flag.
    if (createdAt) {
        wallpaper.setIsNew(now.toMSecsSinceEpoch() - createdAt->toMSecsSinceEpoch() < kNewForMSecs);
    } else {
        wallpaper.setIsNew(explicitIsNew.value_or(false));
    }
    wallpaper.setCreatedAt(std::move(createdAt));
    wallpaper.setLikeCount(likeCount.value_or(0));
    wallpaper.setIsLiked(isLiked.value_or(false));
    wallpaper.setVideo(std::move(video));
    wallpaper.setGradient(sharedTexts.palette(gradient));
    wallpaper.setSizeBytes(sizeBytes);
    wallpaper.setDurationSeconds(durationSeconds);
    return wallpaper;
}

} // namespace

Result<Wallpaper> decodeWallpaper(const QJsonValue &element, qsizetype index, const QDateTime &now)
{
    SharedTexts sharedTexts;
    return decodeElement(element, index, now, sharedTexts);
}

Result<QList<Wallpaper>> decodeManifest(QByteArrayView json, const QDateTime &now)
{
    if (json.size() > kMaxManifestBytes)
        return failure(ManifestError::kDomain, ManifestError::TooLarge,
                       QStringLiteral("Manifest is larger than 64 MiB"));
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(json.data(), json.size()), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return failure(ManifestError::kDomain, ManifestError::NotJson,
                       QStringLiteral("Manifest is not valid JSON: %1 at offset %2")
                           .arg(parseError.errorString())
                           .arg(parseError.offset));
    if (!document.isArray())
        return failure(ManifestError::kDomain, ManifestError::NotArray,
                       QStringLiteral("Manifest is not a JSON array"));
    const QJsonArray array = document.array();
    QList<Wallpaper> wallpapers;
    wallpapers.reserve(array.size());
    SharedTexts sharedTexts;
    for (qsizetype index = 0; index < array.size(); ++index) {
        Result<Wallpaper> wallpaper = decodeElement(array.at(index), index, now, sharedTexts);
        if (!wallpaper)
            return failure(wallpaper.error());
        wallpapers.append(std::move(*wallpaper));
    }
    return wallpapers;
}

std::optional<QDateTime> parseInternetDateTime(QStringView text)
{
    // "2024-05-01T12:30:00Z" or "2024-05-01T12:30:00+02:00": every field has a
    // fixed place, so it is read in place, which costs far less than a regular
    // expression on the thousands of records of a manifest.
    constexpr qsizetype kUTCLength = 20;
    constexpr qsizetype kOffsetLength = 25;
    if (text.size() != kUTCLength && text.size() != kOffsetLength)
        return std::nullopt;
    const auto isAt = [text](qsizetype position, char16_t character) {
        return text[position] == character;
    };
    // ASCII digits only; -1 for anything else.
    const auto number = [text](qsizetype from, qsizetype length) {
        int value = 0;
        for (const QChar character : text.sliced(from, length)) {
            const char16_t unit = character.unicode();
            if (unit < u'0' || unit > u'9')
                return -1;
            value = value * 10 + (unit - u'0');
        }
        return value;
    };
    if (!isAt(4, u'-') || !isAt(7, u'-') || !isAt(10, u'T') || !isAt(13, u':') || !isAt(16, u':')) {
        return std::nullopt;
    }
    const int fields[] = {number(0, 4),  number(5, 2),  number(8, 2),
                          number(11, 2), number(14, 2), number(17, 2)};
    if (std::any_of(std::begin(fields), std::end(fields), [](int field) { return field < 0; }))
        return std::nullopt;
    const QDate date(fields[0], fields[1], fields[2]);
    const QTime time(fields[3], fields[4], fields[5]);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    int offsetSeconds = 0;
    if (text.size() == kUTCLength) {
        if (!isAt(19, u'Z'))
            return std::nullopt;
    } else {
        const int hours = number(20, 2);
        const int minutes = number(23, 2);
        if ((!isAt(19, u'+') && !isAt(19, u'-')) || !isAt(22, u':') || hours < 0 || hours > 23 ||
            minutes < 0 || minutes > 59) {
            return std::nullopt;
        }
        offsetSeconds = (hours * 60 + minutes) * 60;
        if (isAt(19, u'-'))
            offsetSeconds = -offsetSeconds;
    }
    // The local wall time minus its offset is the UTC instant.
    const QDateTime dateTime = QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
    if (!dateTime.isValid())
        return std::nullopt;
    return dateTime;
}

QString formatInternetDateTime(const QDateTime &dateTime)
{
    return dateTime.toUTC().toString(Qt::ISODate);
}

std::optional<QColor> colorFromHex(QStringView text)
{
    QStringView digits = text.trimmed();
    if (digits.startsWith(u'#'))
        digits = digits.sliced(1);
    if (digits.size() != 6)
        return std::nullopt;
    // One leading plus sign is allowed, as by an unsigned integer parse; the
    // rest must be hex digits (no "0x", no blanks, no minus).
    QStringView number = digits.startsWith(u'+') ? digits.sliced(1) : digits;
    const auto isHexDigit = [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
    };
    if (number.isEmpty() || !std::all_of(number.begin(), number.end(), isHexDigit))
        return std::nullopt;
    bool ok = false;
    const uint rgb = number.toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    return QColor::fromRgb(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
}

std::optional<QString> likeCountText(qint64 count)
{
    if (count < 1)
        return std::nullopt;
    if (count < 1000)
        return QString::number(count);
    if (count < 1000000)
        return QString::asprintf("%.1fK", double(count) / 1000.0);
    return QString::asprintf("%.1fM", double(count) / 1000000.0);
}

const QList<QStringList> &fallbackPalettes()
{
    static const QList<QStringList> palettes = {
        {QStringLiteral("#1B1450"), QStringLiteral("#3D1A78"), QStringLiteral("#0A0420")},
        {QStringLiteral("#0E3B2E"), QStringLiteral("#0A2118")},
        {QStringLiteral("#FFB37A"), QStringLiteral("#F25E92"), QStringLiteral("#3D2261")},
        {QStringLiteral("#0B2A4A"), QStringLiteral("#04101F")},
        {QStringLiteral("#1A1A1A"), QStringLiteral("#0A0A0A")},
        {QStringLiteral("#3A0E5C"), QStringLiteral("#A8175F"), QStringLiteral("#160429")},
    };
    return palettes;
}

Wallpaper::Wallpaper()
    : d(new Data)
{}

QList<QColor> Wallpaper::gradientColors() const
{
    QList<QColor> colors;
    if (d->gradient && !d->gradient->isEmpty()) {
        for (const QString &hex : *d->gradient) {
            if (const std::optional<QColor> color = colorFromHex(hex))
                colors.append(*color);
        }
        return colors;
    }
    // A digest rather than qHash, whose seed changes from run to run: the same
    // wallpaper keeps its palette across launches.
    const QByteArray digest = QCryptographicHash::hash(d->id.toUtf8(), QCryptographicHash::Sha1);
    const quint64 hash = qFromBigEndian<quint64>(digest.constData());
    const QStringList &palette = fallbackPalettes().at(qsizetype(hash % 6));
    for (const QString &hex : palette)
        colors.append(*colorFromHex(hex));
    return colors;
}

QJsonObject Wallpaper::toJson() const
{
    QJsonObject object{
        {QStringLiteral("id"), d->id},
        {QStringLiteral("name"), d->name},
        {QStringLiteral("category"), d->category},
        {QStringLiteral("resolution"), d->resolution},
        {QStringLiteral("isNew"), d->isNew},
        {QStringLiteral("likeCount"), d->likeCount},
        {QStringLiteral("isLiked"), d->isLiked},
    };
    if (d->createdAt)
        object.insert(QStringLiteral("createdAt"), formatInternetDateTime(*d->createdAt));
    if (d->video)
        object.insert(QStringLiteral("video"), d->video->toString(QUrl::FullyEncoded));
    if (d->gradient)
        object.insert(QStringLiteral("gradient"), QJsonArray::fromStringList(*d->gradient));
    if (d->sizeBytes)
        object.insert(QStringLiteral("sizeBytes"), *d->sizeBytes);
    if (d->durationSeconds)
        object.insert(QStringLiteral("durationSeconds"), *d->durationSeconds);
    return object;
}

size_t qHash(const Wallpaper &wallpaper, size_t seed) noexcept
{
    using ::qHashMulti;
    seed = qHashMulti(seed, wallpaper.id(), wallpaper.name(), wallpaper.category(),
                      wallpaper.resolution(), wallpaper.isNew(), wallpaper.likeCount(),
                      wallpaper.isLiked());
    seed = hashOptional(wallpaper.createdAt(), seed);
    seed = hashOptional(wallpaper.video(), seed);
    seed = hashOptional(wallpaper.gradient(), seed);
    seed = hashOptional(wallpaper.sizeBytes(), seed);
    return hashOptional(wallpaper.durationSeconds(), seed);
}

} // namespace lumivale
