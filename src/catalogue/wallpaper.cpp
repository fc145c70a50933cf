#include "wallpaper.h"

#include <QCborValue>
#include <QCryptographicHash>
#include <QHashFunctions>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtEndian>
#include <algorithm>

namespace lumivale {
namespace {

constexpr qint64 kNewForMSecs = qint64(7) * 24 * 60 * 60 * 1000;

// Reads the typed members of one manifest element. A reader stops at the
// first failure and leaves its description in `error`.
class ElementReader
{
public:
    ElementReader(const QJsonObject &object, qsizetype index)
        : m_object(object)
        , m_index(index)
    {}

    const std::optional<Error> &error() const { return m_error; }

    // Absent and null both give nullopt; a present value of another type fails.
    std::optional<QString> optionalString(QLatin1StringView key)
    {
        const QJsonValue value = m_object.value(key);
        if (isMissing(value))
            return std::nullopt;
        if (!value.isString())
            return fail(ManifestError::WrongType, key, u"must be a string");
        return value.toString();
    }

    std::optional<QString> requiredString(QLatin1StringView key)
    {
        std::optional<QString> text = optionalString(key);
        if (!text && !m_error)
            failMissing(key);
        return text;
    }

    std::optional<bool> optionalBool(QLatin1StringView key)
    {
        const QJsonValue value = m_object.value(key);
        if (isMissing(value))
            return std::nullopt;
        if (!value.isBool())
            return fail(ManifestError::WrongType, key, u"must be a boolean");
        return value.toBool();
    }

    // A JSON integer that fits 64 bits; 5.5 or "5" fail.
    std::optional<qint64> optionalInteger(QLatin1StringView key)
    {
        const QJsonValue value = m_object.value(key);
        if (isMissing(value))
            return std::nullopt;
        const QCborValue number = QCborValue::fromJsonValue(value);
        if (!number.isInteger())
            return fail(ManifestError::WrongType, key, u"must be an integer that fits 64 bits");
        return number.toInteger();
    }

    std::optional<double> optionalNumber(QLatin1StringView key)
    {
        const QJsonValue value = m_object.value(key);
        if (isMissing(value))
            return std::nullopt;
        if (!value.isDouble())
            return fail(ManifestError::WrongType, key, u"must be a number");
        return value.toDouble();
    }

    std::optional<QStringList> optionalStringArray(QLatin1StringView key)
    {
        const QJsonValue value = m_object.value(key);
        if (isMissing(value))
            return std::nullopt;
        if (!value.isArray())
            return fail(ManifestError::WrongType, key, u"must be an array of strings");
        const QJsonArray array = value.toArray();
        QStringList strings;
        strings.reserve(array.size());
        for (const QJsonValue &element : array) {
            if (!element.isString())
                return fail(ManifestError::WrongType, key, u"must be an array of strings");
            strings.append(element.toString());
        }
        return strings;
    }

    std::optional<QUrl> requiredURL(QLatin1StringView key)
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
    std::optional<QDateTime> lenientDateTime(QLatin1StringView key) const
    {
        const QJsonValue value = m_object.value(key);
        if (!value.isString())
            return std::nullopt;
        return parseInternetDateTime(value.toString());
    }

private:
    static bool isMissing(const QJsonValue &value) { return value.isUndefined() || value.isNull(); }

    std::nullopt_t fail(int code, QLatin1StringView key, QStringView problem)
    {
        m_error = Error(ManifestError::kDomain, code,
                        QStringLiteral("Manifest element %1: \"%2\" %3")
                            .arg(QString::number(m_index), key, problem));
        return std::nullopt;
    }

    void failMissing(QLatin1StringView key)
    {
        fail(ManifestError::MissingKey, key,
             m_object.contains(key) ? u"is required but null" : u"is required but missing");
    }

    const QJsonObject &m_object;
    const qsizetype m_index;
    std::optional<Error> m_error;
};

template<typename T> size_t hashOptional(const std::optional<T> &value, size_t seed)
{
    using ::qHash;
    return value ? qHash(*value, seed) : qHash(-1, seed);
}

} // namespace

std::optional<Wallpaper> decodeWallpaper(const QJsonValue &element, qsizetype index,
                                         const QDateTime &now, Error *error)
{
    using namespace Qt::StringLiterals;
    if (!element.isObject()) {
        if (error) {
            *error = Error(ManifestError::kDomain, ManifestError::WrongType,
                           QStringLiteral("Manifest element %1 is not an object").arg(index));
        }
        return std::nullopt;
    }
    const QJsonObject object = element.toObject();
    ElementReader reader(object, index);
    Wallpaper wallpaper;

    // The order matters only for which failure is reported first.
    std::optional<QString> id = reader.requiredString("id"_L1);
    std::optional<QString> name = reader.requiredString("name"_L1);
    std::optional<QString> category = reader.optionalString("category"_L1);
    std::optional<QString> resolution = reader.optionalString("resolution"_L1);
    const std::optional<bool> explicitIsNew = reader.optionalBool("isNew"_L1);
    wallpaper.createdAt = reader.lenientDateTime("createdAt"_L1);
    std::optional<qint64> likeCount = reader.optionalInteger("likeCount"_L1);
    if (!likeCount && !reader.error())
        likeCount = reader.optionalInteger("likes"_L1);
    const std::optional<bool> isLiked = reader.optionalBool("isLiked"_L1);
    wallpaper.video = reader.requiredURL("video"_L1);
    wallpaper.gradient = reader.optionalStringArray("gradient"_L1);
    wallpaper.sizeBytes = reader.optionalInteger("sizeBytes"_L1);
    wallpaper.durationSeconds = reader.optionalNumber("durationSeconds"_L1);

    if (reader.error()) {
        if (error)
            *error = *reader.error();
        return std::nullopt;
    }

    wallpaper.id = std::move(*id);
    wallpaper.name = std::move(*name);
    wallpaper.category = category ? std::move(*category) : QStringLiteral("Featured");
    wallpaper.resolution = resolution ? std::move(*resolution) : QStringLiteral("4K");
    // A timestamp, even one in the future, outranks the explicit flag.
    if (wallpaper.createdAt) {
        wallpaper.isNew =
            now.toMSecsSinceEpoch() - wallpaper.createdAt->toMSecsSinceEpoch() < kNewForMSecs;
    } else {
        wallpaper.isNew = explicitIsNew.value_or(false);
    }
    wallpaper.likeCount = likeCount.value_or(0);
    wallpaper.isLiked = isLiked.value_or(false);
    return wallpaper;
}

std::optional<QList<Wallpaper>> decodeManifest(QByteArrayView json, Error *error,
                                               const QDateTime &now)
{
    if (json.size() > kMaxManifestBytes) {
        if (error) {
            *error = Error(ManifestError::kDomain, ManifestError::TooLarge,
                           QStringLiteral("Manifest is larger than 64 MiB"));
        }
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(json.data(), json.size()), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        if (error) {
            *error = Error(ManifestError::kDomain, ManifestError::NotJson,
                           QStringLiteral("Manifest is not valid JSON: %1 at offset %2")
                               .arg(parseError.errorString())
                               .arg(parseError.offset));
        }
        return std::nullopt;
    }
    if (!document.isArray()) {
        if (error) {
            *error = Error(ManifestError::kDomain, ManifestError::NotArray,
                           QStringLiteral("Manifest is not a JSON array"));
        }
        return std::nullopt;
    }
    const QJsonArray array = document.array();
    QList<Wallpaper> wallpapers;
    wallpapers.reserve(array.size());
    for (qsizetype index = 0; index < array.size(); ++index) {
        std::optional<Wallpaper> wallpaper = decodeWallpaper(array.at(index), index, now, error);
        if (!wallpaper)
            return std::nullopt;
        wallpapers.append(std::move(*wallpaper));
    }
    return wallpapers;
}

std::optional<QDateTime> parseInternetDateTime(QStringView text)
{
    // Built once, on first use, and shared by every record.
    static const QRegularExpression pattern(QStringLiteral(
        R"(\A(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:Z|([+-])(\d{2}):(\d{2}))\z)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto field = [&match](int group) { return match.capturedView(group).toInt(); };
    const QDate date(field(1), field(2), field(3));
    const QTime time(field(4), field(5), field(6));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (match.hasCaptured(7)) {
        const int hours = field(8);
        const int minutes = field(9);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 60 + minutes) * 60;
        if (match.capturedView(7) == u"-")
            offsetSeconds = -offsetSeconds;
    }
    const QDateTime dateTime(date, time, Qt::OffsetFromUTC, offsetSeconds);
    if (!dateTime.isValid())
        return std::nullopt;
    return dateTime.toUTC();
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

QList<QColor> Wallpaper::gradientColors() const
{
    QList<QColor> colors;
    if (gradient && !gradient->isEmpty()) {
        for (const QString &hex : *gradient) {
            if (const std::optional<QColor> color = colorFromHex(hex))
                colors.append(*color);
        }
        return colors;
    }
    // A digest rather than qHash, whose seed changes from run to run: the same
    // wallpaper keeps its palette across launches.
    const QByteArray digest = QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha1);
    const quint64 hash = qFromBigEndian<quint64>(digest.constData());
    const QStringList &palette = fallbackPalettes().at(qsizetype(hash % 6));
    for (const QString &hex : palette)
        colors.append(*colorFromHex(hex));
    return colors;
}

QJsonObject Wallpaper::toJson() const
{
    QJsonObject object{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), name},
        {QStringLiteral("category"), category},
        {QStringLiteral("resolution"), resolution},
        {QStringLiteral("isNew"), isNew},
        {QStringLiteral("likeCount"), likeCount},
        {QStringLiteral("isLiked"), isLiked},
    };
    if (createdAt)
        object.insert(QStringLiteral("createdAt"), formatInternetDateTime(*createdAt));
    if (video)
        object.insert(QStringLiteral("video"), video->toString(QUrl::FullyEncoded));
    if (gradient)
        object.insert(QStringLiteral("gradient"), QJsonArray::fromStringList(*gradient));
    if (sizeBytes)
        object.insert(QStringLiteral("sizeBytes"), *sizeBytes);
    if (durationSeconds)
        object.insert(QStringLiteral("durationSeconds"), *durationSeconds);
    return object;
}

size_t qHash(const Wallpaper &wallpaper, size_t seed) noexcept
{
    using ::qHashMulti;
    seed = qHashMulti(seed, wallpaper.id, wallpaper.name, wallpaper.category, wallpaper.resolution,
                      wallpaper.isNew, wallpaper.likeCount, wallpaper.isLiked);
    seed = hashOptional(wallpaper.createdAt, seed);
    seed = hashOptional(wallpaper.video, seed);
    seed = hashOptional(wallpaper.gradient, seed);
    seed = hashOptional(wallpaper.sizeBytes, seed);
    return hashOptional(wallpaper.durationSeconds, seed);
}

} // namespace lumivale
