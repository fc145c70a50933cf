#include "updatedownload.h"

#include "catalogue/httpclient.h"
#include "updatesignature.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcoronetworkreply.h>

namespace lumivale {
namespace {

using namespace updateerror;

constexpr qint64 kReadBufferBytes = 256 * 1024;
// The longest file name the usual Linux file systems accept, in bytes.
constexpr qsizetype kMaxFileNameBytes = 255;
const QString kPartialSuffix = QStringLiteral(".XXXXXX.part");

// Where the extension starts: "Lumivale-1.2.tar.gz" keeps ".tar.gz" together;
// version dots stay in the stem. The size of the name when there is none.
qsizetype extensionStart(const QString &name)
{
    qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype tar = name.lastIndexOf(QStringLiteral(".tar."));
    if (tar > 0 && tar < dot)
        dot = tar;
    return dot <= 0 ? name.size() : dot;
}

// The longest start of `text` that fits in `maxBytes` of UTF-8, cut between
// characters.
QString truncatedUtf8(const QString &text, qsizetype maxBytes)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= maxBytes)
        return text;
    qsizetype cut = std::max<qsizetype>(maxBytes, 0);
    while (cut > 0 && (uchar(utf8[cut]) & 0xC0) == 0x80)
        --cut;
    return QString::fromUtf8(utf8.first(cut));
}

// `stem` + `suffix` + `extension` in at most `maxBytes`, the stem giving way.
QString fitted(const QString &stem, const QString &suffix, const QString &extension,
               qsizetype maxBytes)
{
    const qsizetype room = maxBytes - suffix.toUtf8().size() - extension.toUtf8().size();
    if (room <= 0)
        return truncatedUtf8(stem + suffix + extension, maxBytes);
    return truncatedUtf8(stem, room) + suffix + extension;
}

// The name the download is saved under: the last part of its address.
QString downloadFileName(const AppcastItem &item, qsizetype maxBytes)
{
    QString name = UpdateDownloader::cleanFileName(item.url.fileName(), maxBytes);
    if (name.isEmpty())
        name = UpdateDownloader::cleanFileName(
            QStringLiteral("Lumivale-%1").arg(item.displayVersion()), maxBytes);
    return name;
}

// `name` in `folder`, with " (1)", " (2)"... before the extension when that
// name is taken; never longer than a file name may be.
QString unusedPath(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    if (!QFileInfo::exists(dir.filePath(name)))
        return dir.filePath(name);
    const qsizetype dot = extensionStart(name);
    const QString stem = name.first(dot);
    const QString extension = name.sliced(dot);
    for (int n = 1;; ++n) {
        const QString candidate = dir.filePath(
            fitted(stem, QStringLiteral(" (%1)").arg(n), extension, kMaxFileNameBytes));
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

} // namespace

UpdateDownloader::UpdateDownloader(QString publicEDKey, QString userAgentVersion,
                                   QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_publicEDKey(std::move(publicEDKey))
    , m_userAgentVersion(std::move(userAgentVersion))
    , m_network(network)
    , m_transferTimeoutMs(kDefaultTransferTimeoutMs)
{}

UpdateDownloader::~UpdateDownloader()
{
    // A call waiting on the network resumes here, sees that the downloader is
    // being destroyed, and ends; its partial download goes with it.
    m_isBeingDestroyed = true;
    m_requests.abortAll();
    // Verifying when the process quits: the file is not ours to leave behind.
    if (!m_partialPath.isEmpty())
        QFile::remove(m_partialPath);
}

QNetworkAccessManager &UpdateDownloader::network() const
{
    return m_network ? *m_network : sharedNetworkAccessManager();
}

QNetworkReply *UpdateDownloader::get(const QUrl &url, QUrl *refusedRedirect)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Lumivale/%1").arg(m_userAgentVersion));
    request.setTransferTimeout(m_transferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply *reply = network().get(request);
    connect(reply, &QNetworkReply::redirected, reply, [reply, refusedRedirect](const QUrl &target) {
        if (appcast::isAllowedURL(target)) {
            Q_EMIT reply->redirectAllowed();
        } else {
            *refusedRedirect = target;
            reply->abort();
        }
    });
    m_requests.add(reply);
    return reply;
}

Error UpdateDownloader::insecureURLError(const QUrl &url)
{
    return Error(kDomain, InsecureURL,
                 QStringLiteral("Updates are fetched only over https, not from \"%1\".")
                     .arg(url.toDisplayString()));
}

QCoro::Task<Result<QByteArray>> UpdateDownloader::fetchFeed(QUrl feedURL)
{
    QUrl refusedRedirect;
    const NetworkReplyPtr reply(get(feedURL, &refusedRedirect));
    QNetworkReply *rawReply = reply.get();
    QByteArray body;
    bool tooLarge = false;
    connect(rawReply, &QNetworkReply::readyRead, rawReply, [rawReply, &body, &tooLarge] {
        if (body.size() + rawReply->bytesAvailable() > kMaxFeedBytes) {
            tooLarge = true;
            rawReply->abort();
        } else {
            body += rawReply->readAll();
        }
    });
    QPointer<UpdateDownloader> self(this);
    co_await rawReply;
    if (!self || m_isBeingDestroyed)
        co_return make(NetworkFailure, QStringLiteral("The update check was cancelled."));
    if (!refusedRedirect.isEmpty())
        co_return failure(insecureURLError(refusedRedirect));

    const QVariant status = rawReply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        co_return make(
            status.toInt(),
            QStringLiteral("The update feed could not be loaded: the server answered HTTP %1.")
                .arg(status.toInt()));
    }
    if (tooLarge || body.size() + rawReply->bytesAvailable() > kMaxFeedBytes) {
        co_return make(TooLarge, QStringLiteral("The update feed is larger than %1 MiB.")
                                     .arg(kMaxFeedBytes / (1024 * 1024)));
    }
    if (rawReply->error() != QNetworkReply::NoError) {
        co_return make(NetworkFailure,
                       QStringLiteral("The update feed could not be loaded: %1")
                           .arg(networkError(*rawReply, m_transferTimeoutMs).description()));
    }
    body += rawReply->readAll();

    co_return body;
}

QCoro::Task<Result<QString>> UpdateDownloader::downloadAndVerify(AppcastItem item)
{
    // A build whose key is broken can verify nothing: stop before downloading.
    const std::optional<QByteArray> publicKey = updatesignature::decodePublicKey(m_publicEDKey);
    if (!publicKey) {
        co_return make(InvalidPublicKey,
                       QStringLiteral("The update cannot be verified because this build's update "
                                      "signing key (SUPublicEDKey) is not a valid base64 Ed25519 "
                                      "public key."));
    }

    if (!appcast::isAllowedURL(item.url))
        co_return failure(insecureURLError(item.url));
    // The feed's word may lower the limit, never raise it.
    if (item.length > kMaxDownloadBytes) {
        co_return make(TooLarge, QStringLiteral("The update download is larger than %1 MiB.")
                                     .arg(kMaxDownloadBytes / (1024 * 1024)));
    }
    const qint64 limit = item.length > 0 ? item.length : kMaxDownloadBytes;

    const QString folder = downloadFolder();
    const QString name = downloadFileName(item, kMaxFileNameBytes);
    // Written under a passing name, removed on every way out unless it is
    // verified and renamed.
    QTemporaryFile partial(QDir(folder).filePath(
        truncatedUtf8(name, kMaxFileNameBytes - kPartialSuffix.size()) + kPartialSuffix));
    if (!partial.open()) {
        co_return make(FileSystemFailure, QStringLiteral("Cannot create the download file in "
                                                         "\"%1\": %2")
                                              .arg(folder, partial.errorString()));
    }
    m_partialPath = partial.fileName();
    const auto forgetPartial = qScopeGuard([this, self = QPointer<UpdateDownloader>(this)] {
        if (self)
            m_partialPath.clear();
    });

    QUrl refusedRedirect;
    const NetworkReplyPtr reply(get(item.url, &refusedRedirect));
    QPointer<UpdateDownloader> self(this);
    FileDownloadOptions options;
    options.maxBytes = limit;
    options.readBufferBytes = kReadBufferBytes;
    const FileDownloadResult download = co_await downloadToFile(reply.get(), partial, options);
    if (!self || m_isBeingDestroyed)
        co_return make(NetworkFailure, QStringLiteral("The download was cancelled."));
    if (!refusedRedirect.isEmpty())
        co_return failure(insecureURLError(refusedRedirect));

    using Failure = FileDownloadResult::Failure;
    switch (download.failure) {
    case Failure::HttpStatus:
        co_return make(
            download.httpStatus,
            QStringLiteral("The update could not be downloaded: the server answered HTTP %1.")
                .arg(download.httpStatus));
    case Failure::TooLarge:
        co_return make(item.length > 0 ? SizeMismatch : TooLarge,
                       item.length > 0
                           ? QStringLiteral("The update download is larger than the %1 bytes the "
                                            "feed announced.")
                                 .arg(item.length)
                           : QStringLiteral("The update download is larger than %1 MiB.")
                                 .arg(kMaxDownloadBytes / (1024 * 1024)));
    default:
        break;
    }
    if (download.failure == Failure::WriteFailed || !partial.flush()) {
        co_return make(FileSystemFailure,
                       QStringLiteral("Cannot write the download file \"%1\": %2")
                           .arg(partial.fileName(), partial.errorString()));
    }
    if (download.failure == Failure::Network || download.failure == Failure::Cancelled) {
        co_return make(NetworkFailure,
                       QStringLiteral("The update could not be downloaded: %1")
                           .arg(networkError(*reply, m_transferTimeoutMs).description()));
    }
    if (download.failure == Failure::Truncated) {
        co_return make(NetworkFailure,
                       QStringLiteral("The connection closed after %1 of %2 bytes of the update.")
                           .arg(download.bytesWritten)
                           .arg(download.announcedBytes));
    }
    if (item.length > 0 && download.bytesWritten != item.length) {
        co_return make(
            SizeMismatch,
            QStringLiteral("The update download has %1 bytes, but the feed announced %2.")
                .arg(download.bytesWritten)
                .arg(item.length));
    }
    partial.close();

    const Result<bool> verified = co_await QtConcurrent::run(
        updatesignature::verifyFile, partial.fileName(), item.edSignature, *publicKey);
    if (!self || m_isBeingDestroyed)
        co_return make(NetworkFailure, QStringLiteral("The download was cancelled."));
    if (!verified)
        co_return failure(verified.error());
    if (!*verified) {
        co_return make(ImproperlySigned,
                       QStringLiteral("The update is improperly signed and could not be verified, "
                                      "so the downloaded file was deleted."));
    }

    const QString destination = unusedPath(folder, name);
    if (!partial.rename(destination)) {
        co_return make(FileSystemFailure, QStringLiteral("Cannot move the update to \"%1\": %2")
                                              .arg(destination, partial.errorString()));
    }
    partial.setAutoRemove(false);
    co_return destination;
}

QString UpdateDownloader::cleanFileName(const QString &name, qsizetype maxBytes)
{
    QString clean = name.sliced(name.lastIndexOf(u'/') + 1);
    // Controls, and the invisible marks that can make "gz.exe" read as
    // "exe.gz".
    clean.removeIf([](QChar c) {
        const QChar::Category category = c.category();
        return category == QChar::Other_Control || category == QChar::Other_Format;
    });
    qsizetype start = 0;
    while (start < clean.size() && (clean[start] == u'.' || clean[start].isSpace()))
        ++start;
    clean = clean.sliced(start).trimmed();
    const qsizetype dot = extensionStart(clean);
    return fitted(clean.first(dot), QString(), clean.sliced(dot), maxBytes);
}

QString UpdateDownloader::downloadFolder() const
{
    QStringList candidates;
    if (!m_downloadFolderOverride.isEmpty())
        candidates.append(m_downloadFolderOverride);
    else
        candidates.append(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    candidates.append(QDir::tempPath());
    for (const QString &candidate : std::as_const(candidates)) {
        if (!candidate.isEmpty() && QDir().mkpath(candidate))
            return candidate;
    }
    return QDir::tempPath();
}

} // namespace lumivale
