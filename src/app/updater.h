#pragma once

#include "platform/error.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <qcoro/qcorotask.h>
#include <variant>

class QNetworkAccessManager;
class QNetworkReply;

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
// The feed and the download are fetched only over https (plain http only from
// a loopback address, for tests), redirects included, and each request is
// given up when the server sends nothing for the transfer timeout. A download
// never grows past kMaxDownloadBytes, whatever the feed announces.
//
// Main thread only. The prompts are borrowed and must outlive the controller.
// Deleting the controller (as quitting does) while a check is waiting aborts
// its request, removes a partial download and lets the check end quietly.
// Errors have the domain "Updater" and either an HTTP status or one of the
// codes below.
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
        InsecureURL = -10,
    };

    static inline const QString kSparkleNamespace =
        QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
    // Larger feeds are refused; so are larger downloads.
    static constexpr qint64 kMaxFeedBytes = 8 * 1024 * 1024;
    static constexpr qint64 kMaxDownloadBytes = qint64(2) * 1024 * 1024 * 1024;

    // `publicEDKey`: the base64 text of a raw 32-byte Ed25519 public key.
    // `currentVersion`: the running version, compared with the feed's.
    // `network`: borrowed; by default the process's shared HTTP client.
    UpdaterController(QUrl feedURL, QString publicEDKey, QString currentVersion,
                      UserPrompts &prompts, QNetworkAccessManager *network = nullptr,
                      QObject *parent = nullptr);
    ~UpdaterController() override;

    // kDefaultTransferTimeoutMs unless set; applies to requests started later.
    void setTransferTimeout(int milliseconds) { m_transferTimeoutMs = milliseconds; }

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
    // name the download address ends with, cleaned (see cleanFileName()), with
    // " (1)", " (2)"... added instead of replacing a file already there. On any
    // failure nothing is left in the folder.
    QCoro::Task<std::variant<QString, Error>> downloadAndVerify(AppcastItem item);

    // The folder downloads go to: the override when set, else the user's
    // download folder, else the temporary folder.
    QString downloadFolder() const;
    void setDownloadFolderOverride(const QString &folder) { m_downloadFolderOverride = folder; }

    QUrl feedURL() const { return m_feedURL; }
    QString currentVersion() const { return m_currentVersion; }

    // Whether updates may be fetched from `url`: https, or http to a loopback
    // address; with a host either way.
    static bool isAllowedURL(const QUrl &url);
    // `name` made safe as a file name in the download folder: no path
    // separators, no control characters, no leading dots or blanks, and at
    // most `maxBytes` bytes of UTF-8 (cut from the stem, so the extension
    // stays); empty when nothing is left.
    static QString cleanFileName(const QString &name, qsizetype maxBytes = 255);

    // The usable items of an appcast, in feed order. Items without a version,
    // an allowed download address (isAllowedURL()) or a well-formed signature
    // are left out; relative addresses are resolved against `feedURL`.
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
    // Starts a GET that follows only allowed redirects (a refused one aborts it
    // and is put in `refusedRedirect`) and gives up after the transfer timeout;
    // it is aborted if the controller goes away first.
    QNetworkReply *get(const QUrl &url, QUrl *refusedRedirect);
    static Error insecureURLError(const QUrl &url);

    QUrl m_feedURL;
    QString m_publicEDKey;
    QString m_currentVersion;
    UserPrompts &m_prompts;
    QNetworkAccessManager *m_network = nullptr;
    QString m_downloadFolderOverride;
    bool m_isStarted = false;
    bool m_isChecking = false;
    bool m_isBeingDestroyed = false;
    // The download being written, while one is.
    QString m_partialPath;
    int m_transferTimeoutMs;
    // The requests in flight, aborted when the controller goes away.
    QList<QPointer<QNetworkReply>> m_replies;
};

} // namespace lumivale

Q_DECLARE_METATYPE(lumivale::AppcastItem)
