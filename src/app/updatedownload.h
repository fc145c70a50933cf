#pragma once

#include "appcast.h"
#include "cache/filedownload.h"
#include "platform/error.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <qcoro/qcorotask.h>
#include <variant>

class QNetworkAccessManager;
class QNetworkReply;

namespace lumivale {

// The network side of updates: the feed fetched into memory, and an update's
// file downloaded into the download folder (through downloadToFile, as the
// video cache does) and checked against the feed's length and signature.
//
// Everything is fetched only over https (plain http only from a loopback
// address, for tests), redirects included, and each request is given up when
// the server sends nothing for the transfer timeout. A feed never grows past
// kMaxFeedBytes and a download past kMaxDownloadBytes, whatever the feed
// announces.
//
// Main thread only. The network is borrowed (by default the process's shared
// HTTP client). Deleting the downloader while a request waits aborts it,
// removes a partial download and ends the waiting call with a "cancelled"
// NetworkFailure. Errors are in the "Updater" domain (see updateerror).
class UpdateDownloader : public QObject
{
public:
    static constexpr qint64 kMaxFeedBytes = 8 * 1024 * 1024;
    static constexpr qint64 kMaxDownloadBytes = qint64(2) * 1024 * 1024 * 1024;

    // `publicEDKey`: the base64 text of a raw 32-byte Ed25519 public key.
    // `userAgentVersion`: the running version, named in each request.
    UpdateDownloader(QString publicEDKey, QString userAgentVersion,
                     QNetworkAccessManager *network = nullptr, QObject *parent = nullptr);
    ~UpdateDownloader() override;

    // kDefaultTransferTimeoutMs unless set; applies to requests started later.
    void setTransferTimeout(int milliseconds) { m_transferTimeoutMs = milliseconds; }

    // The body of the feed at `feedURL` (already checked to be allowed).
    QCoro::Task<Result<QByteArray>> fetchFeed(QUrl feedURL);
    // Downloads the item's file into the download folder and checks its size
    // and signature. Returns the path of the verified file, which then has the
    // name the download address ends with, cleaned (see cleanFileName()), with
    // " (1)", " (2)"... added instead of replacing a file already there. On any
    // failure nothing is left in the folder.
    QCoro::Task<Result<QString>> downloadAndVerify(AppcastItem item);

    // The folder downloads go to: the override when set, else the user's
    // download folder, else the temporary folder.
    QString downloadFolder() const;
    void setDownloadFolderOverride(const QString &folder) { m_downloadFolderOverride = folder; }

    static Error insecureURLError(const QUrl &url);
    // `name` made safe as a file name in the download folder: no path
    // separators, no control characters, no leading dots or blanks, and at
    // most `maxBytes` bytes of UTF-8 (cut from the stem, so the extension
    // stays); empty when nothing is left.
    static QString cleanFileName(const QString &name, qsizetype maxBytes = 255);

private:
    QNetworkAccessManager &network() const;
    // Starts a GET that follows only allowed redirects (a refused one aborts it
    // and is put in `refusedRedirect`) and gives up after the transfer timeout;
    // it is aborted if the downloader goes away first.
    QNetworkReply *get(const QUrl &url, QUrl *refusedRedirect);

    QString m_publicEDKey;
    QString m_userAgentVersion;
    QNetworkAccessManager *m_network = nullptr;
    QString m_downloadFolderOverride;
    int m_transferTimeoutMs;
    bool m_isBeingDestroyed = false;
    // The download being written, while one is.
    QString m_partialPath;
    DownloadGroup m_requests;
};

} // namespace lumivale
