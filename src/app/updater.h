#pragma once

#include "platform/error.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <qcoro/qcorotask.h>
#include <variant>

class QNetworkAccessManager;

namespace lumivale {

class UserPrompts;

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

// Software updates from an appcast: an RSS feed in the format Sparkle made
// common, whose items each carry a version and a download signed with Ed25519.
//
// `checkForUpdates()` is the whole exchange with the user: it fetches the
// feed, says when the running version is the newest, asks before downloading a
// newer one, downloads it into the user's download folder, checks its
// signature against the public key this build carries, and shows the verified
// file in the file manager. Nothing is installed. A download whose signature
// does not match is deleted. Every failure ends in one "Update Error!" alert.
// There are no automatic or periodic checks.
//
// Whether updates are configured at all (a key and a feed exist) is the
// caller's decision; this class takes the values as given.
//
// Main thread only. The prompts are borrowed and must outlive the controller.
// Deleting the controller while a check is waiting lets that check end
// quietly. Errors have the domain "Updater" and either an HTTP status or one of
// the codes below.
class UpdaterController : public QObject
{
    Q_OBJECT

public:
    static inline const QString kErrorDomain = QStringLiteral("Updater");
    enum ErrorCode {
        InvalidFeedURL = -1,
        InvalidFeed = -2,
        NoUsableItems = -3,
        NetworkFailure = -4,
        FileSystemFailure = -5,
        SizeMismatch = -6,
        TooLarge = -7,
        ImproperlySigned = -8,
        InvalidPublicKey = -9,
    };

    static inline const QString kSparkleNamespace =
        QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
    // Larger feeds are refused; so are downloads larger than this when the
    // feed announces no size.
    static constexpr qint64 kMaxFeedBytes = 8 * 1024 * 1024;
    static constexpr qint64 kMaxDownloadBytes = qint64(2) * 1024 * 1024 * 1024;

    // `publicEDKey`: the base64 text of a raw 32-byte Ed25519 public key.
    // `currentVersion`: the running version, compared with the feed's.
    // `network`: borrowed; by default the process's shared HTTP client.
    UpdaterController(QUrl feedURL, QString publicEDKey, QString currentVersion,
                      UserPrompts &prompts, QNetworkAccessManager *network = nullptr,
                      QObject *parent = nullptr);
    ~UpdaterController() override;

    // Marks the updater as started. Nothing runs by itself afterwards: checks
    // happen only when asked for.
    void startUpdater();
    bool isStarted() const { return m_isStarted; }

    // The user-facing check described above. A call while another check is
    // still running returns at once and does nothing.
    QCoro::Task<> checkForUpdates();
    bool isChecking() const { return m_isChecking; }

    // The newest usable item of the feed when it is newer than the running
    // version; UpToDate otherwise.
    QCoro::Task<std::variant<AppcastItem, UpToDate, Error>> findUpdate();
    // Downloads the item's file into the download folder and checks its size
    // and signature. Returns the path of the verified file, which then has the
    // name the download address ends with (with " (1)", " (2)"... added
    // instead of replacing a file already there). On any failure nothing is
    // left in the folder.
    QCoro::Task<std::variant<QString, Error>> downloadAndVerify(AppcastItem item);

    // The folder downloads go to: the override when set, else the user's
    // download folder, else the temporary folder.
    QString downloadFolder() const;
    void setDownloadFolderOverride(const QString &folder) { m_downloadFolderOverride = folder; }

    QUrl feedURL() const { return m_feedURL; }
    QString currentVersion() const { return m_currentVersion; }

    // The usable items of an appcast, in feed order. Items without a version,
    // an http(s) download address or a well-formed signature are left out;
    // relative addresses are resolved against `feedURL`.
    static std::variant<QList<AppcastItem>, Error> parseAppcast(const QByteArray &feed,
                                                                const QUrl &feedURL);
    // Compares dot-separated versions part by part, numerically ("1.10" is
    // newer than "1.9"; missing parts count as zero, so "1.0" equals "1.0.0").
    // Text after a part's digits marks a pre-release of that number ("2.0b1"
    // is older than "2.0"); two such texts compare as text. Returns <0, 0 or
    // >0 as `a` is older than, equal to or newer than `b`.
    static int compareVersions(QStringView a, QStringView b);
    // The raw key from its base64 text, or none when it is not a 32-byte
    // Ed25519 public key.
    static std::optional<QByteArray> decodePublicKey(const QString &base64);
    // Whether `signature` (64 raw bytes) is `publicKey`'s Ed25519 signature of
    // `message`.
    static bool isValidSignature(QByteArrayView message, const QByteArray &signature,
                                 const QByteArray &publicKey);

private:
    void presentError(const Error &error);
    QNetworkAccessManager &network() const;

    QUrl m_feedURL;
    QString m_publicEDKey;
    QString m_currentVersion;
    UserPrompts &m_prompts;
    QNetworkAccessManager *m_network = nullptr;
    QString m_downloadFolderOverride;
    bool m_isStarted = false;
    bool m_isChecking = false;
};

} // namespace lumivale

Q_DECLARE_METATYPE(lumivale::AppcastItem)
