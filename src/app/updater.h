#pragma once

#include "appcast.h"
#include "platform/error.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <memory>
#include <qcoro/qcorotask.h>
#include <variant>

class QNetworkAccessManager;

namespace lumivale {

class UpdateDownloader;
class UserPrompts;

// Software updates from an appcast (see appcast.h), as the user meets them.
//
// `checkForUpdates()` is the whole exchange with the user: it fetches the
// feed, says when the running version is the newest, asks before downloading a
// newer one, downloads it into the user's download folder, checks its
// signature against the public key this build carries, and shows the verified
// file in the file manager. Nothing is installed. A download whose signature
// does not match is deleted. Every failure ends in one "Update Error!" alert.
// There are no automatic or periodic checks. The fetching, the download and
// their limits are UpdateDownloader's.
//
// Whether updates are configured at all (a key and a feed exist) is the
// caller's decision (UpdaterConfiguration); this class takes the values as
// given.
//
// Main thread only. The prompts are borrowed and must outlive the controller;
// the downloader is its own. Deleting the controller (as quitting does) while
// a check is waiting aborts its request, removes a partial download and lets
// the check end quietly. Errors have the domain "Updater" and either an HTTP
// status or one of the updateerror codes.
class UpdaterController : public QObject
{
    Q_OBJECT

public:
    // `publicEDKey`: the base64 text of a raw 32-byte Ed25519 public key.
    // `currentVersion`: the running version, compared with the feed's.
    // `network`: borrowed; by default the process's shared HTTP client.
    UpdaterController(QUrl feedURL, QString publicEDKey, QString currentVersion,
                      UserPrompts &prompts, QNetworkAccessManager *network = nullptr,
                      QObject *parent = nullptr);
    ~UpdaterController() override;

    // kDefaultTransferTimeoutMs unless set; applies to requests started later.
    void setTransferTimeout(int milliseconds);

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
    QCoro::Task<Result<std::variant<AppcastItem, UpToDate>>> findUpdate();
    // See UpdateDownloader::downloadAndVerify().
    QCoro::Task<Result<QString>> downloadAndVerify(AppcastItem item);

    QString downloadFolder() const;
    void setDownloadFolderOverride(const QString &folder);

    QUrl feedURL() const { return m_feedURL; }
    QString currentVersion() const { return m_currentVersion; }

private:
    void presentError(const Error &error);

    QUrl m_feedURL;
    QString m_currentVersion;
    UserPrompts &m_prompts;
    std::unique_ptr<UpdateDownloader> m_downloader;
    bool m_isStarted = false;
    bool m_isChecking = false;
    bool m_isBeingDestroyed = false;
};

} // namespace lumivale
