#include "catalogueserver.h"

#include "likedatabase.h"
#include "manifestcache.h"
#include "ratelimiter.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <fcntl.h>
#include <httplib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace lumivale::service {
namespace {

constexpr size_t kMaxBodyBytes = 4096;
constexpr qint64 kReadChunk = 256 * 1024;

std::string toStd(const QString &text)
{
    return text.toStdString();
}

void sendError(httplib::Response &response, int status, const QString &message)
{
    response.status = status;
    const QByteArray body =
        QJsonDocument(QJsonObject{{u"error"_s, message}}).toJson(QJsonDocument::Compact);
    response.set_content(body.toStdString(), "application/json");
}

// httplib applies the request's byte ranges to whatever body a handler sets,
// error bodies included; only the video handler means its body to be cut.
void ignoreRanges(const httplib::Request &request)
{
    const_cast<httplib::Request &>(request).ranges.clear();
}

QString httpDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), u"ddd, dd MMM yyyy HH:mm:ss 'GMT'"_s);
}

std::optional<QDateTime> parseHttpDate(const std::string &text)
{
    QDateTime time = QLocale::c().toDateTime(QString::fromStdString(text).trimmed(),
                                             u"ddd, dd MMM yyyy HH:mm:ss 'GMT'"_s);
    if (!time.isValid())
        return std::nullopt;
    time.setTimeSpec(Qt::UTC);
    return time;
}

// Whether an If-None-Match header names `tag` (or is "*").
bool matchesTag(const std::string &header, const std::string &tag)
{
    if (header.empty())
        return false;
    const QStringList candidates = QString::fromStdString(header).split(u',');
    return std::any_of(candidates.begin(), candidates.end(), [&](QString candidate) {
        candidate = candidate.trimmed();
        if (candidate.startsWith(u"W/"))
            candidate.remove(0, 2);
        return candidate == u"*" || candidate.toStdString() == tag;
    });
}

bool acceptsGzip(const httplib::Request &request)
{
    const QStringList codings =
        QString::fromStdString(request.get_header_value("Accept-Encoding")).split(u',');
    return std::any_of(codings.begin(), codings.end(), [](const QString &coding) {
        const QStringList parts = coding.split(u';');
        if (parts.first().trimmed().compare(u"gzip", Qt::CaseInsensitive) != 0)
            return false;
        for (const QString &parameter : parts.mid(1)) {
            const QString value = parameter.trimmed();
            if (value.startsWith(u"q=") && value.mid(2).toDouble() <= 0)
                return false;
        }
        return true;
    });
}

QString contentTypeOf(const QString &file)
{
    static const QHash<QString, QString> types{
        {u"mp4"_s, u"video/mp4"_s},        {u"m4v"_s, u"video/x-m4v"_s},
        {u"mov"_s, u"video/quicktime"_s},  {u"webm"_s, u"video/webm"_s},
        {u"mkv"_s, u"video/x-matroska"_s}, {u"ogv"_s, u"video/ogg"_s},
    };
    return types.value(QFileInfo(file).suffix().toLower(), u"application/octet-stream"_s);
}

// Serves `bytes` (kept alive by `owner`) with a known length, so that httplib
// neither compresses nor chunks it.
template<typename Owner>
void sendBytes(httplib::Response &response, std::shared_ptr<Owner> owner, const QByteArray &bytes,
               const char *contentType)
{
    const char *data = bytes.constData();
    const size_t size = size_t(bytes.size());
    if (size == 0) {
        response.set_content("", contentType);
        return;
    }
    response.set_content_provider(
        size, contentType,
        [owner, data, size](size_t offset, size_t length, httplib::DataSink &sink) {
            return sink.write(data + offset, std::min(length, size - offset));
        });
}

struct OpenFile
{
    int fd = -1;
    ~OpenFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

thread_local QElapsedTimer requestTimer;

} // namespace

struct CatalogueServer::Private
{
    ServeOptions options;
    std::unique_ptr<LikeDatabase> database;
    std::unique_ptr<ManifestCache> cache;
    RateLimiter likeLimiter;
    httplib::Server http;
    int port = 0;
    int listeningSocket = -1; // as httplib made it, so that bind() can widen its backlog

    explicit Private(ServeOptions serveOptions)
        : options(std::move(serveOptions))
        , likeLimiter(options.likesPerSecond)
    {}

    QString videoBaseFor(const httplib::Request &request) const
    {
        if (!options.videoBaseURL.isEmpty())
            return options.videoBaseURL;
        static const QRegularExpression hostPattern(
            u"^[A-Za-z0-9.\\-]+(:[0-9]{1,5})?$|^\\[[0-9A-Fa-f:.]+\\](:[0-9]{1,5})?$"_s);
        QString host = QString::fromStdString(request.get_header_value("Host"));
        if (host.size() > 255 || !hostPattern.match(host).hasMatch())
            host = (options.host.contains(u':') ? u'[' + options.host + u']' : options.host) +
                   u':' + QString::number(port);
        return u"http://"_s + host + u"/videos/"_s;
    }

    QString clientAddress(const httplib::Request &request) const
    {
        const QString peer = QString::fromStdString(request.remote_addr);
        if (options.trustedProxy.isEmpty() || peer != options.trustedProxy)
            return peer;
        const QString forwarded =
            QString::fromStdString(request.get_header_value("X-Forwarded-For"));
        const QString last = forwarded.section(u',', -1).trimmed();
        return last.isEmpty() ? peer : last;
    }

    void handleManifest(const httplib::Request &request, httplib::Response &response)
    {
        const auto found = cache->manifest(videoBaseFor(request));
        if (!found)
            return sendError(response, 503,
                             u"the like database is unavailable: "_s + found.error().description());
        const std::shared_ptr<const ManifestSnapshot> &snapshot = *found;
        const QString deviceID = QString::fromStdString(request.get_param_value("deviceId"));
        QStringList liked;
        if (!deviceID.isEmpty()) {
            const Result<QSet<QString>> likedIDs = database->likedBy(deviceID);
            if (!likedIDs)
                return sendError(response, 503,
                                 u"the like database is unavailable: "_s +
                                     likedIDs.error().description());
            for (const QString &id : *likedIDs)
                if (snapshot->indexByID.contains(id))
                    liked.append(id);
            liked.sort();
        }
        const bool gzip = acceptsGzip(request);
        QByteArray tag = snapshot->tag;
        if (!liked.isEmpty())
            tag +=
                '-' + QCryptographicHash::hash(liked.join(u'\n').toUtf8(), QCryptographicHash::Sha1)
                          .toHex()
                          .left(12);
        const std::string etag = '"' + tag.toStdString() + (gzip ? "-gz\"" : "\"");
        response.set_header("ETag", etag);
        response.set_header("Vary", "Accept-Encoding");
        response.set_header("Cache-Control", "no-cache");
        if (matchesTag(request.get_header_value("If-None-Match"), etag)) {
            response.status = 304;
            return;
        }
        if (gzip)
            response.set_header("Content-Encoding", "gzip");
        if (liked.isEmpty())
            return sendBytes(response, snapshot, gzip ? snapshot->gzipBody : snapshot->body,
                             "application/json");
        const QSet<QString> likedSet(liked.begin(), liked.end());
        QByteArray body = snapshot->bodyFor(likedSet);
        auto bytes = std::make_shared<QByteArray>(gzip ? gzipCompress(body, 1) : std::move(body));
        sendBytes(response, bytes, *bytes, "application/json");
    }

    void handleVideo(const httplib::Request &request, httplib::Response &response)
    {
        const QString name = QString::fromStdString(request.matches[1].str());
        const auto library = cache->library();
        if (!isPlainFileName(name) || !library->files.contains(name)) {
            ignoreRanges(request);
            return sendError(response, 404, u"no such video: "_s + name);
        }
        auto file = std::make_shared<OpenFile>();
        file->fd = ::open(QFile::encodeName(QDir(options.libraryFolder).filePath(name)).constData(),
                          O_RDONLY | O_CLOEXEC);
        struct stat status
        {
        };
        if (file->fd < 0 || ::fstat(file->fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            ignoreRanges(request);
            return sendError(response, 404, u"no such video: "_s + name);
        }
        const qint64 size = status.st_size;
        const QDateTime modified = QDateTime::fromSecsSinceEpoch(status.st_mtim.tv_sec, Qt::UTC);
        const std::string etag =
            '"' + QByteArray::number(size, 16).toStdString() + '-' +
            QByteArray::number(qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
                               16)
                .toStdString() +
            '"';
        response.set_header("ETag", etag);
        response.set_header("Last-Modified", toStd(httpDate(modified)));
        response.set_header("Accept-Ranges", "bytes");
        response.set_header("Cache-Control", "public, max-age=3600");

        const std::string ifNoneMatch = request.get_header_value("If-None-Match");
        const auto ifModifiedSince = parseHttpDate(request.get_header_value("If-Modified-Since"));
        if (ifNoneMatch.empty() ? ifModifiedSince && modified <= *ifModifiedSince
                                : matchesTag(ifNoneMatch, etag)) {
            ignoreRanges(request);
            response.status = 304;
            return;
        }

        // A range of a file that changed since the client's copy would splice
        // two versions: then the whole file goes out.
        const std::string ifRange = request.get_header_value("If-Range");
        if (!ifRange.empty() && ifRange != etag && ifRange != toStd(httpDate(modified)))
            ignoreRanges(request);

        // Clamp every range to the file, the form httplib slices by; none
        // left means none could be satisfied.
        auto &ranges = const_cast<httplib::Request &>(request).ranges;
        httplib::Ranges satisfiable;
        for (auto [first, last] : ranges) {
            if (first < 0) { // the last `last` bytes
                if (last <= 0)
                    continue;
                first = std::max<ssize_t>(0, size - last);
                last = size - 1;
            }
            if (first >= size)
                continue;
            if (last < 0 || last >= size)
                last = size - 1;
            satisfiable.emplace_back(first, last);
        }
        if (!ranges.empty() && satisfiable.empty()) {
            ranges.clear();
            response.set_header("Content-Range", "bytes */" + std::to_string(size));
            return sendError(response, 416,
                             u"the range is outside the video's %1 bytes"_s.arg(size));
        }
        ranges = satisfiable;

        const std::string type = toStd(contentTypeOf(name));
        if (size == 0) {
            response.set_content("", type);
            return;
        }
        response.set_content_provider(
            size_t(size), type, [file](size_t offset, size_t length, httplib::DataSink &sink) {
                thread_local std::vector<char> buffer(kReadChunk);
                const size_t chunk = std::min(length, buffer.size());
                const ssize_t read = ::pread(file->fd, buffer.data(), chunk, off_t(offset));
                return read > 0 && sink.write(buffer.data(), size_t(read));
            });
    }

    void handleLike(const httplib::Request &request, httplib::Response &response)
    {
        if (!likeLimiter.admit(u"address "_s + clientAddress(request)))
            return sendError(response, 429,
                             u"too many likes from this address; try again in a second"_s);
        QJsonParseError parseError;
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &parseError);
        if (!document.isObject())
            return sendError(response, 400,
                             parseError.error != QJsonParseError::NoError
                                 ? u"the body is not JSON: "_s + parseError.errorString()
                                 : u"the body must be a JSON object"_s);
        const QJsonObject body = document.object();
        for (auto it = body.begin(); it != body.end(); ++it)
            if (it.key() != u"wallpaperId" && it.key() != u"deviceId" && it.key() != u"liked")
                return sendError(response, 400, u"unexpected key \"%1\""_s.arg(it.key()));
        const QJsonValue wallpaperID = body.value(u"wallpaperId");
        const QJsonValue deviceID = body.value(u"deviceId");
        const QJsonValue liked = body.value(u"liked");
        if (!wallpaperID.isString() || wallpaperID.toString().isEmpty())
            return sendError(response, 400, u"\"wallpaperId\" must be a non-empty string"_s);
        if (!deviceID.isString() || deviceID.toString().isEmpty())
            return sendError(response, 400, u"\"deviceId\" must be a non-empty string"_s);
        if (!liked.isBool())
            return sendError(response, 400, u"\"liked\" must be true or false"_s);
        if (!likeLimiter.admit(u"device "_s + deviceID.toString()))
            return sendError(response, 429,
                             u"too many likes from this device; try again in a second"_s);
        if (!cache->library()->indexByID.contains(wallpaperID.toString()))
            return sendError(response, 404, u"no wallpaper \"%1\""_s.arg(wallpaperID.toString()));
        const Result<bool> changed =
            database->setLiked(wallpaperID.toString(), deviceID.toString(), liked.toBool());
        if (!changed)
            return sendError(response, 503,
                             u"the like database is unavailable: "_s +
                                 changed.error().description());
        if (*changed)
            cache->countsChanged();
        response.status = 204;
    }

    void handleHealth(httplib::Response &response)
    {
        if (const Result<> answered = database->ping(); !answered)
            return sendError(response, 503,
                             u"the like database is unavailable: "_s +
                                 answered.error().description());
        response.set_content(R"({"status":"ok"})", "application/json");
    }

    void route()
    {
        http.new_task_queue = [threads = options.threads] {
            return new httplib::ThreadPool(size_t(threads));
        };
        http.set_keep_alive_max_count(100000);
        // Headers and a small body go out as two writes: without this the
        // body waits for the client's delayed acknowledgement.
        http.set_tcp_nodelay(true);
        // httplib's own options add SO_REUSEPORT, which would let a second
        // copy on this port take half the connections unnoticed.
        http.set_socket_options([this](int socket) {
            const int yes = 1;
            ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            listeningSocket = socket;
        });
        http.set_payload_max_length(kMaxBodyBytes);
        http.set_pre_routing_handler([](const httplib::Request &request, httplib::Response &) {
            requestTimer.start();
            if (!request.path.starts_with("/videos/"))
                ignoreRanges(request);
            return httplib::Server::HandlerResponse::Unhandled;
        });
        http.Get("/manifest.json", [this](const auto &request, auto &response) {
            handleManifest(request, response);
        });
        http.Get("/videos/(.+)",
                 [this](const auto &request, auto &response) { handleVideo(request, response); });
        http.Post("/likes",
                  [this](const auto &request, auto &response) { handleLike(request, response); });
        http.Get("/healthz", [this](const auto &, auto &response) { handleHealth(response); });
        // Statuses httplib gives by itself (413, 404 for other paths, a bad
        // request line) get a JSON body like the rest.
        http.set_error_handler(httplib::Server::HandlerWithResponse(
            [](const httplib::Request &request, httplib::Response &response) {
                if (!response.body.empty() || response.content_length_ > 0)
                    return httplib::Server::HandlerResponse::Unhandled;
                ignoreRanges(request);
                const QString message =
                    response.status == 413
                        ? u"the body is larger than %1 bytes"_s.arg(kMaxBodyBytes)
                    : response.status == 404 ? u"no such resource"_s
                    : response.status == 405 ? u"method not allowed"_s
                                             : u"the request cannot be served"_s;
                sendError(response, response.status, message);
                return httplib::Server::HandlerResponse::Handled;
            }));
        http.set_exception_handler(
            [](const httplib::Request &request, httplib::Response &response, std::exception_ptr) {
                ignoreRanges(request);
                sendError(response, 500, u"internal error"_s);
            });
        if (options.logRequests) {
            http.set_logger([](const httplib::Request &request, const httplib::Response &response) {
                const double ms =
                    requestTimer.isValid() ? double(requestTimer.nsecsElapsed()) / 1e6 : 0;
                requestTimer.invalidate();
                // A decoded path may hold line breaks; a log line stays one line.
                static const QRegularExpression controls(u"[\\x00-\\x1f\\x7f]"_s);
                const QString path = QString::fromStdString(request.path).replace(controls, u"?"_s);
                logLine(u"%1 %2 %3 %4 ms"_s.arg(QString::fromStdString(request.method), path)
                            .arg(response.status)
                            .arg(ms, 0, 'f', 1));
            });
        }
    }
};

CatalogueServer::CatalogueServer(ServeOptions options)
    : d(std::make_unique<Private>(std::move(options)))
{}

CatalogueServer::~CatalogueServer()
{
    stop();
}

Result<> CatalogueServer::bind()
{
    const QString databaseText = d->options.database.isEmpty()
                                     ? QDir(d->options.libraryFolder).filePath(u"likes.sqlite"_s)
                                     : d->options.database;
    const Result<DatabaseLocation> location = DatabaseLocation::parse(databaseText);
    if (!location)
        return failure(location.error());
    if (!QFileInfo(d->options.libraryFolder).isDir())
        return failure(kLibraryErrorDomain, 4,
                       u"no library folder \"%1\""_s.arg(d->options.libraryFolder));
    d->database = std::make_unique<LikeDatabase>(*location);
    d->cache = std::make_unique<ManifestCache>(d->options.libraryFolder, *d->database,
                                               d->options.videoBaseURL, d->options.refreshMs);
    d->route();
    const std::string host = toStd(d->options.host);
    d->port = d->options.port == 0
                  ? d->http.bind_to_any_port(host)
                  : (d->http.bind_to_port(host, d->options.port) ? d->options.port : -1);
    // httplib listens with a backlog of 5: a burst of clients past that has
    // its SYNs dropped or answered with cookies, which cost a retry of a
    // second or a connection without window scaling.
    if (d->port > 0 && d->listeningSocket >= 0)
        ::listen(d->listeningSocket, SOMAXCONN);
    if (d->port <= 0)
        return failure(u"Server"_s, 1,
                       u"cannot listen on %1:%2"_s.arg(d->options.host).arg(d->options.port));
    // Look at the database once, so that a wrong address shows at start; the
    // service runs all the same and answers 503 until the database is there.
    if (const Result<> answered = d->database->ping(); !answered)
        logFailure(u"database check failed:", answered.error());
    return {};
}

int CatalogueServer::port() const
{
    return d->port;
}

void CatalogueServer::serve()
{
    d->http.listen_after_bind();
}

void CatalogueServer::start()
{
    m_thread = std::thread([this] { serve(); });
}

void CatalogueServer::stop()
{
    d->http.stop();
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace lumivale::service
