#pragma once

#include "platform/error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <variant>

namespace lumivale {

// One update the feed offers: an <item> of the appcast with its <enclosure>.
struct AppcastItem
{
    QString title;
    // The build number that is compared ("sparkle:version").
    QString version;
    // The version people see ("sparkle:shortVersionString"); may be empty.
    QString shortVersion;
    // The download, resolved against the feed's address.
    QUrl url;
    // The announced size in bytes, or -1 when the feed gives none.
    qint64 length = -1;
    QString mimeType;
    // The Ed25519 signature of the whole file, 64 raw bytes.
    QByteArray edSignature;

    // The short version when there is one, else the version.
    QString displayVersion() const;

    friend bool operator==(const AppcastItem &, const AppcastItem &) = default;
};

// The feed offers nothing newer than the running version.
struct UpToDate
{
    friend bool operator==(const UpToDate &, const UpToDate &) = default;
};

// The errors of the update check, all in the domain "Updater": an HTTP status
// or one of these codes.
namespace updateerror {
inline const QString kDomain = QStringLiteral("Updater");
enum Code {
    InvalidFeedURL = -1,
    InvalidFeed = -2,
    NoUsableItems = -3,
    NetworkFailure = -4,
    FileSystemFailure = -5,
    SizeMismatch = -6,
    TooLarge = -7,
    ImproperlySigned = -8,
    InvalidPublicKey = -9,
    InsecureURL = -10,
};
// The failing side of a Result, in the "Updater" domain.
inline tl::unexpected<Error> make(int code, QString description)
{
    return failure(kDomain, code, std::move(description));
}
} // namespace updateerror

// The appcast: an RSS feed in the format Sparkle made common, whose items each
// carry a version and a download signed with Ed25519. Read and compared here,
// with no network and no files: plain functions, any thread. Bad input is an
// error value, never an exception or a crash.
namespace appcast {

inline const QString kSparkleNamespace =
    QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// Whether updates may be fetched from `url`: https, or http to a loopback
// address; with a host either way.
bool isAllowedURL(const QUrl &url);
// The usable items of an appcast, in feed order. Items without a version, an
// allowed download address (isAllowedURL()) or a well-formed signature are
// left out; relative addresses are resolved against `feedURL`. Fails with
// InvalidFeed or NoUsableItems.
Result<QList<AppcastItem>> parse(const QByteArray &feed, const QUrl &feedURL);
// Compares dot-separated versions part by part, numerically ("1.10" is newer
// than "1.9"; missing parts count as zero, so "1.0" equals "1.0.0"). Text
// after a part's digits marks a pre-release of that number ("2.0b1" is older
// than "2.0"); two such texts compare as text. Returns <0, 0 or >0 as `a` is
// older than, equal to or newer than `b`.
int compareVersions(QStringView a, QStringView b);
// The newest of `items` (not empty) when it is newer than `currentVersion`;
// the first of equals wins.
std::variant<AppcastItem, UpToDate> newestUpdate(const QList<AppcastItem> &items,
                                                 QStringView currentVersion);

} // namespace appcast
} // namespace lumivale

Q_DECLARE_METATYPE(lumivale::AppcastItem)
