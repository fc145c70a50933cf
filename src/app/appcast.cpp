#include "appcast.h"

#include "updatesignature.h"

#include <QHostAddress>
#include <QXmlStreamReader>
#include <optional>

namespace lumivale::appcast {
namespace {

// Part of a version: the number it starts with and what follows it.
struct VersionPart
{
    QStringView digits; // without leading zeros
    QStringView rest;
};

VersionPart splitPart(QStringView part)
{
    qsizetype end = 0;
    while (end < part.size() && part[end].isDigit() && part[end].unicode() < 128)
        ++end;
    QStringView digits = part.first(end);
    while (!digits.isEmpty() && digits.front() == u'0')
        digits = digits.sliced(1);
    return {digits, part.sliced(end)};
}

int comparePart(QStringView a, QStringView b)
{
    const VersionPart left = splitPart(a);
    const VersionPart right = splitPart(b);
    // Numbers of any length: the longer one is larger, else digit by digit.
    if (left.digits.size() != right.digits.size())
        return left.digits.size() < right.digits.size() ? -1 : 1;
    if (const int order = left.digits.compare(right.digits); order != 0)
        return order < 0 ? -1 : 1;
    // "2b1" comes before "2".
    if (left.rest.isEmpty() != right.rest.isEmpty())
        return left.rest.isEmpty() ? 1 : -1;
    const int order = left.rest.compare(right.rest);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// An <item> of the feed; the reader stands on its start element.
std::optional<AppcastItem> readItem(QXmlStreamReader &reader, const QUrl &feedURL)
{
    const QString &sparkle = kSparkleNamespace;
    AppcastItem item;
    bool hasEnclosure = false;
    QString enclosureVersion;
    QString enclosureShortVersion;
    QString enclosureURL;
    QString signature;
    while (reader.readNextStartElement()) {
        const QStringView name = reader.name();
        const QStringView ns = reader.namespaceUri();
        if (ns.isEmpty() && name == u"title") {
            item.title = reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (ns == sparkle && name == u"version") {
            item.version = reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (ns == sparkle && name == u"shortVersionString") {
            item.shortVersion =
                reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (ns.isEmpty() && name == u"enclosure" && !hasEnclosure) {
            hasEnclosure = true;
            const QXmlStreamAttributes attributes = reader.attributes();
            enclosureURL = attributes.value(QStringLiteral("url")).trimmed().toString();
            bool ok = false;
            const qint64 length =
                attributes.value(QStringLiteral("length")).trimmed().toLongLong(&ok);
            item.length = ok && length > 0 ? length : -1;
            item.mimeType = attributes.value(QStringLiteral("type")).trimmed().toString();
            signature = attributes.value(sparkle, QStringLiteral("edSignature")).toString();
            enclosureVersion =
                attributes.value(sparkle, QStringLiteral("version")).trimmed().toString();
            enclosureShortVersion = attributes.value(sparkle, QStringLiteral("shortVersionString"))
                                        .trimmed()
                                        .toString();
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (reader.hasError())
        return std::nullopt;

    if (item.version.isEmpty())
        item.version = enclosureVersion;
    if (item.shortVersion.isEmpty())
        item.shortVersion = enclosureShortVersion;
    if (!enclosureURL.isEmpty())
        item.url = feedURL.resolved(QUrl(enclosureURL));
    if (const std::optional<QByteArray> raw =
            updatesignature::decodeSignature(signature.toLatin1()))
        item.edSignature = *raw;

    if (item.version.isEmpty() || !isAllowedURL(item.url) || item.edSignature.isEmpty())
        return std::nullopt;
    return item;
}

} // namespace

bool isAllowedURL(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == u"https")
        return true;
    if (url.scheme() != u"http")
        return false;
    if (url.host().compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(url.host()) && address.isLoopback();
}

Result<QList<AppcastItem>> parse(const QByteArray &feed, const QUrl &feedURL)
{
    QXmlStreamReader reader(feed);
    if (!reader.readNextStartElement() || reader.name() != u"rss" ||
        !reader.namespaceUri().isEmpty()) {
        if (reader.hasError()) {
            return updateerror::make(
                updateerror::InvalidFeed,
                QStringLiteral("The update feed is not valid XML: %1 (line %2).")
                    .arg(reader.errorString())
                    .arg(reader.lineNumber()));
        }
        return updateerror::make(updateerror::InvalidFeed,
                                 QStringLiteral("The update feed is not an RSS feed."));
    }

    QList<AppcastItem> items;
    int itemCount = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == u"item" &&
            reader.namespaceUri().isEmpty()) {
            ++itemCount;
            if (std::optional<AppcastItem> item = readItem(reader, feedURL))
                items.append(std::move(*item));
        }
    }
    if (reader.hasError()) {
        return updateerror::make(updateerror::InvalidFeed,
                                 QStringLiteral("The update feed is not valid XML: %1 (line %2).")
                                     .arg(reader.errorString())
                                     .arg(reader.lineNumber()));
    }
    if (itemCount == 0)
        return updateerror::make(updateerror::NoUsableItems,
                                 QStringLiteral("The update feed lists no updates."));
    if (items.isEmpty()) {
        return updateerror::make(
            updateerror::NoUsableItems,
            QStringLiteral("None of the %1 updates in the feed has a version, a "
                           "download address and an EdDSA signature.")
                .arg(itemCount));
    }
    return items;
}

int compareVersions(QStringView a, QStringView b)
{
    const QList<QStringView> left = a.trimmed().split(u'.');
    const QList<QStringView> right = b.trimmed().split(u'.');
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        const QStringView leftPart = i < left.size() ? left[i] : QStringView(u"0");
        const QStringView rightPart = i < right.size() ? right[i] : QStringView(u"0");
        if (const int order = comparePart(leftPart, rightPart); order != 0)
            return order;
    }
    return 0;
}

std::variant<AppcastItem, UpToDate> newestUpdate(const QList<AppcastItem> &items,
                                                 QStringView currentVersion)
{
    const AppcastItem *newest = &items.first();
    for (const AppcastItem &item : items) {
        if (compareVersions(item.version, newest->version) > 0)
            newest = &item;
    }
    if (compareVersions(newest->version, currentVersion) <= 0)
        return UpToDate{};
    return *newest;
}

} // namespace lumivale::appcast

namespace lumivale {

QString AppcastItem::displayVersion() const
{
    return shortVersion.isEmpty() ? version : shortVersion;
}

} // namespace lumivale
