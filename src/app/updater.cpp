#include "updater.h"

#include "catalogue/httpclient.h"
#include "platform/userprompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QXmlStreamReader>
#include <QtConcurrent/QtConcurrentRun>
#include <memory>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <qcoro/qcorofuture.h>
#include <qcoro/qcoronetworkreply.h>

namespace lumivale {
namespace {

constexpr qsizetype kPublicKeyBytes = 32;
constexpr qsizetype kSignatureBytes = 64;
constexpr qint64 kReadBufferBytes = 256 * 1024;
// The longest file name the usual Linux file systems accept, in bytes.
constexpr qsizetype kMaxFileNameBytes = 255;
const QString kPartialSuffix = QStringLiteral(".XXXXXX.part");

const QString kErrorTitle = QStringLiteral("Update Error!");

struct PKeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

Error updaterError(int code, QString description)
{
    return Error(UpdaterController::kErrorDomain, code, std::move(description));
}

std::unique_ptr<EVP_PKEY, PKeyFree> publicKeyFrom(const QByteArray &raw)
{
    std::unique_ptr<EVP_PKEY, PKeyFree> key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(raw.constData()),
        size_t(raw.size())));
    if (!key)
        ERR_clear_error();
    return key;
}

std::optional<QByteArray> strictBase64(QByteArrayView text)
{
    auto decoded = QByteArray::fromBase64Encoding(text.trimmed().toByteArray(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

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
    QString name = UpdaterController::cleanFileName(item.url.fileName(), maxBytes);
    if (name.isEmpty())
        name = UpdaterController::cleanFileName(
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

struct VerifyResult
{
    bool valid = false;
    std::optional<Error> error;
};

// Off the main thread: the whole file is hashed as part of the check.
VerifyResult verifyFile(const QString &path, const QByteArray &signature,
                        const QByteArray &publicKey)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {false, updaterError(UpdaterController::FileSystemFailure,
                                    QStringLiteral("Cannot read the downloaded update \"%1\": %2")
                                        .arg(path, file.errorString()))};
    }
    const qint64 size = file.size();
    if (size == 0)
        return {UpdaterController::isValidSignature({}, signature, publicKey), std::nullopt};
    const uchar *data = file.map(0, size);
    if (!data) {
        return {false, updaterError(UpdaterController::FileSystemFailure,
                                    QStringLiteral("Cannot read the downloaded update \"%1\": %2")
                                        .arg(path, file.errorString()))};
    }
    const bool valid = UpdaterController::isValidSignature(
        QByteArrayView(reinterpret_cast<const char *>(data), size), signature, publicKey);
    return {valid, std::nullopt};
}

// An <item> of the feed; the reader stands on its start element.
std::optional<AppcastItem> readItem(QXmlStreamReader &reader, const QUrl &feedURL)
{
    const QString &sparkle = UpdaterController::kSparkleNamespace;
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
    if (const std::optional<QByteArray> raw = strictBase64(signature.toLatin1());
        raw && raw->size() == kSignatureBytes)
        item.edSignature = *raw;

    if (item.version.isEmpty() || !UpdaterController::isAllowedURL(item.url) ||
        item.edSignature.isEmpty())
        return std::nullopt;
    return item;
}

} // namespace

QString AppcastItem::displayVersion() const
{
    return shortVersion.isEmpty() ? version : shortVersion;
}

UpdaterController::UpdaterController(QUrl feedURL, QString publicEDKey, QString currentVersion,
                                     UserPrompts &prompts, QNetworkAccessManager *network,
                                     QObject *parent)
    : QObject(parent)
    , m_feedURL(std::move(feedURL))
    , m_publicEDKey(std::move(publicEDKey))
    , m_currentVersion(std::move(currentVersion))
    , m_prompts(prompts)
    , m_network(network)
    , m_transferTimeoutMs(kDefaultTransferTimeoutMs)
{}

UpdaterController::~UpdaterController()
{
    // A check waiting on the network resumes here, sees that it is being
    // destroyed, and ends quietly; its partial download goes with it.
    m_isBeingDestroyed = true;
    const QList<QPointer<QNetworkReply>> replies = m_replies;
    for (const QPointer<QNetworkReply> &reply : replies) {
        if (reply)
            reply->abort();
    }
    // Verifying when the process quits: the file is not ours to leave behind.
    if (!m_partialPath.isEmpty())
        QFile::remove(m_partialPath);
}

void UpdaterController::startUpdater()
{
    m_isStarted = true;
}

QNetworkAccessManager &UpdaterController::network() const
{
    return m_network ? *m_network : sharedNetworkAccessManager();
}

QNetworkReply *UpdaterController::get(const QUrl &url, QUrl *refusedRedirect)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Lumivale/%1").arg(m_currentVersion));
    request.setTransferTimeout(m_transferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply *reply = network().get(request);
    connect(reply, &QNetworkReply::redirected, reply, [reply, refusedRedirect](const QUrl &target) {
        if (isAllowedURL(target)) {
            Q_EMIT reply->redirectAllowed();
        } else {
            *refusedRedirect = target;
            reply->abort();
        }
    });
    m_replies.removeIf([](const QPointer<QNetworkReply> &done) { return done.isNull(); });
    m_replies.append(reply);
    return reply;
}

Error UpdaterController::insecureURLError(const QUrl &url)
{
    return updaterError(InsecureURL,
                        QStringLiteral("Updates are fetched only over https, not from \"%1\".")
                            .arg(url.toDisplayString()));
}

void UpdaterController::presentError(const Error &error)
{
    m_prompts.activateApplication();
    m_prompts.presentAlert(kErrorTitle, error.description());
}

QCoro::Task<> UpdaterController::checkForUpdates()
{
    if (m_isChecking)
        co_return;
    m_isChecking = true;
    QPointer<UpdaterController> self(this);

    const std::variant<AppcastItem, UpToDate, Error> found = co_await findUpdate();
    if (!self || m_isBeingDestroyed)
        co_return;
    if (const Error *error = std::get_if<Error>(&found)) {
        presentError(*error);
    } else if (std::holds_alternative<UpToDate>(found)) {
        m_prompts.activateApplication();
        m_prompts.presentAlert(
            QStringLiteral("You're up to date!"),
            QStringLiteral("Lumivale %1 is currently the newest version available.")
                .arg(m_currentVersion));
    } else {
        const AppcastItem &item = std::get<AppcastItem>(found);
        m_prompts.activateApplication();
        const bool download = m_prompts.askQuestion(
            QStringLiteral("A new version of Lumivale is available!"),
            QStringLiteral("Lumivale %1 is now available\u2014you have %2. Would you like to "
                           "download it now?")
                .arg(item.displayVersion(), m_currentVersion),
            QStringLiteral("Download"), QStringLiteral("Later"));
        if (download) {
            const std::variant<QString, Error> result = co_await downloadAndVerify(item);
            if (!self || m_isBeingDestroyed)
                co_return;
            if (const Error *downloadError = std::get_if<Error>(&result))
                presentError(*downloadError);
            else
                m_prompts.revealFile(std::get<QString>(result));
        }
    }
    m_isChecking = false;
}

QCoro::Task<std::variant<AppcastItem, UpToDate, Error>> UpdaterController::findUpdate()
{
    const QUrl feedURL = m_feedURL;
    if (!feedURL.isValid() || feedURL.host().isEmpty() ||
        (feedURL.scheme() != u"https" && feedURL.scheme() != u"http")) {
        co_return updaterError(
            InvalidFeedURL,
            QStringLiteral("The update feed address \"%1\" is not an http or https address.")
                .arg(feedURL.toString()));
    }
    if (!isAllowedURL(feedURL))
        co_return insecureURLError(feedURL);

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
    QPointer<UpdaterController> self(this);
    co_await rawReply;
    if (!self || m_isBeingDestroyed)
        co_return updaterError(NetworkFailure, QStringLiteral("The update check was cancelled."));
    if (!refusedRedirect.isEmpty())
        co_return insecureURLError(refusedRedirect);

    const QVariant status = rawReply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        co_return updaterError(
            status.toInt(),
            QStringLiteral("The update feed could not be loaded: the server answered HTTP %1.")
                .arg(status.toInt()));
    }
    if (tooLarge || body.size() + rawReply->bytesAvailable() > kMaxFeedBytes) {
        co_return updaterError(TooLarge, QStringLiteral("The update feed is larger than %1 MiB.")
                                             .arg(kMaxFeedBytes / (1024 * 1024)));
    }
    if (rawReply->error() != QNetworkReply::NoError) {
        co_return updaterError(
            NetworkFailure, QStringLiteral("The update feed could not be loaded: %1")
                                .arg(networkError(*rawReply, m_transferTimeoutMs).description()));
    }
    body += rawReply->readAll();

    std::variant<QList<AppcastItem>, Error> parsed = parseAppcast(body, feedURL);
    if (const Error *error = std::get_if<Error>(&parsed))
        co_return *error;
    const QList<AppcastItem> &items = std::get<QList<AppcastItem>>(parsed);
    const AppcastItem *newest = &items.first();
    for (const AppcastItem &item : items) {
        if (compareVersions(item.version, newest->version) > 0)
            newest = &item;
    }
    if (compareVersions(newest->version, m_currentVersion) <= 0)
        co_return UpToDate{};
    co_return *newest;
}

QCoro::Task<std::variant<QString, Error>> UpdaterController::downloadAndVerify(AppcastItem item)
{
    // A build whose key is broken can verify nothing: stop before downloading.
    const std::optional<QByteArray> publicKey = decodePublicKey(m_publicEDKey);
    if (!publicKey) {
        co_return updaterError(
            InvalidPublicKey,
            QStringLiteral("The update cannot be verified because this build's update signing "
                           "key (SUPublicEDKey) is not a valid base64 Ed25519 public key."));
    }

    if (!isAllowedURL(item.url))
        co_return insecureURLError(item.url);
    // The feed's word may lower the limit, never raise it.
    if (item.length > kMaxDownloadBytes) {
        co_return updaterError(TooLarge,
                               QStringLiteral("The update download is larger than %1 MiB.")
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
        co_return updaterError(FileSystemFailure,
                               QStringLiteral("Cannot create the download file in \"%1\": %2")
                                   .arg(folder, partial.errorString()));
    }
    m_partialPath = partial.fileName();
    const auto forgetPartial = qScopeGuard([this, self = QPointer<UpdaterController>(this)] {
        if (self)
            m_partialPath.clear();
    });

    QUrl refusedRedirect;
    const NetworkReplyPtr reply(get(item.url, &refusedRedirect));
    QNetworkReply *rawReply = reply.get();
    rawReply->setReadBufferSize(kReadBufferBytes);
    bool writeFailed = false;
    bool tooLarge = false;
    qint64 written = 0;
    const auto drain = [rawReply, &partial, &writeFailed, &tooLarge, &written, limit] {
        while (!writeFailed && !tooLarge && rawReply->bytesAvailable() > 0) {
            const QByteArray chunk = rawReply->read(kReadBufferBytes);
            if (written + chunk.size() > limit) {
                tooLarge = true;
            } else {
                writeFailed = partial.write(chunk) != chunk.size();
                written += chunk.size();
            }
        }
        if (writeFailed || tooLarge)
            rawReply->abort();
    };
    connect(rawReply, &QNetworkReply::readyRead, rawReply, drain);
    connect(rawReply, &QNetworkReply::metaDataChanged, rawReply, [rawReply, &tooLarge, limit] {
        const QVariant length = rawReply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limit) {
            tooLarge = true;
            rawReply->abort();
        }
    });
    QPointer<UpdaterController> self(this);
    co_await rawReply;
    if (!self || m_isBeingDestroyed)
        co_return updaterError(NetworkFailure, QStringLiteral("The download was cancelled."));
    if (!refusedRedirect.isEmpty())
        co_return insecureURLError(refusedRedirect);
    drain();

    const QVariant status = rawReply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        co_return updaterError(
            status.toInt(),
            QStringLiteral("The update could not be downloaded: the server answered HTTP %1.")
                .arg(status.toInt()));
    }
    if (tooLarge) {
        co_return updaterError(
            item.length > 0 ? SizeMismatch : TooLarge,
            item.length > 0
                ? QStringLiteral("The update download is larger than the %1 bytes the feed "
                                 "announced.")
                      .arg(item.length)
                : QStringLiteral("The update download is larger than %1 MiB.")
                      .arg(kMaxDownloadBytes / (1024 * 1024)));
    }
    if (writeFailed || !partial.flush()) {
        co_return updaterError(FileSystemFailure,
                               QStringLiteral("Cannot write the download file \"%1\": %2")
                                   .arg(partial.fileName(), partial.errorString()));
    }
    if (rawReply->error() != QNetworkReply::NoError) {
        co_return updaterError(
            NetworkFailure, QStringLiteral("The update could not be downloaded: %1")
                                .arg(networkError(*rawReply, m_transferTimeoutMs).description()));
    }
    const QVariant contentLength = rawReply->header(QNetworkRequest::ContentLengthHeader);
    if (contentLength.isValid() && rawReply->rawHeader("Content-Encoding").isEmpty() &&
        contentLength.toLongLong() != written) {
        co_return updaterError(NetworkFailure,
                               QStringLiteral("The connection closed after %1 of %2 bytes of "
                                              "the update.")
                                   .arg(written)
                                   .arg(contentLength.toLongLong()));
    }
    if (item.length > 0 && written != item.length) {
        co_return updaterError(SizeMismatch,
                               QStringLiteral("The update download has %1 bytes, but the feed "
                                              "announced %2.")
                                   .arg(written)
                                   .arg(item.length));
    }
    partial.close();

    const VerifyResult verified =
        co_await QtConcurrent::run(verifyFile, partial.fileName(), item.edSignature, *publicKey);
    if (!self || m_isBeingDestroyed)
        co_return updaterError(NetworkFailure, QStringLiteral("The download was cancelled."));
    if (verified.error)
        co_return *verified.error;
    if (!verified.valid) {
        co_return updaterError(
            ImproperlySigned,
            QStringLiteral("The update is improperly signed and could not be verified, so the "
                           "downloaded file was deleted."));
    }

    const QString destination = unusedPath(folder, name);
    if (!partial.rename(destination)) {
        co_return updaterError(FileSystemFailure,
                               QStringLiteral("Cannot move the update to \"%1\": %2")
                                   .arg(destination, partial.errorString()));
    }
    partial.setAutoRemove(false);
    co_return destination;
}

bool UpdaterController::isAllowedURL(const QUrl &url)
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

QString UpdaterController::cleanFileName(const QString &name, qsizetype maxBytes)
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

QString UpdaterController::downloadFolder() const
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

std::variant<QList<AppcastItem>, Error> UpdaterController::parseAppcast(const QByteArray &feed,
                                                                        const QUrl &feedURL)
{
    QXmlStreamReader reader(feed);
    if (!reader.readNextStartElement() || reader.name() != u"rss" ||
        !reader.namespaceUri().isEmpty()) {
        if (reader.hasError()) {
            return updaterError(InvalidFeed,
                                QStringLiteral("The update feed is not valid XML: %1 (line %2).")
                                    .arg(reader.errorString())
                                    .arg(reader.lineNumber()));
        }
        return updaterError(InvalidFeed, QStringLiteral("The update feed is not an RSS feed."));
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
        return updaterError(InvalidFeed,
                            QStringLiteral("The update feed is not valid XML: %1 (line %2).")
                                .arg(reader.errorString())
                                .arg(reader.lineNumber()));
    }
    if (itemCount == 0)
        return updaterError(NoUsableItems, QStringLiteral("The update feed lists no updates."));
    if (items.isEmpty()) {
        return updaterError(NoUsableItems,
                            QStringLiteral("None of the %1 updates in the feed has a version, a "
                                           "download address and an EdDSA signature.")
                                .arg(itemCount));
    }
    return items;
}

int UpdaterController::compareVersions(QStringView a, QStringView b)
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

std::optional<QByteArray> UpdaterController::decodePublicKey(const QString &base64)
{
    const std::optional<QByteArray> raw = strictBase64(base64.toLatin1());
    if (!raw || raw->size() != kPublicKeyBytes || !publicKeyFrom(*raw))
        return std::nullopt;
    return raw;
}

bool UpdaterController::isValidSignature(QByteArrayView message, const QByteArray &signature,
                                         const QByteArray &publicKey)
{
    if (signature.size() != kSignatureBytes)
        return false;
    const auto key = publicKeyFrom(publicKey);
    const std::unique_ptr<EVP_MD_CTX, MdCtxFree> context(EVP_MD_CTX_new());
    if (!key || !context)
        return false;
    // Ed25519 hashes internally: no digest is named, and the message goes in
    // whole.
    const bool valid =
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(
            context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
            size_t(signature.size()), reinterpret_cast<const unsigned char *>(message.data()),
            size_t(message.size())) == 1;
    ERR_clear_error();
    return valid;
}

} // namespace lumivale
