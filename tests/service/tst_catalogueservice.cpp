// The catalogue service over real HTTP on loopback, the same cases against
// SQLite and a private PostgreSQL server.

#include "catalogue/wallpaper.h"
#include "service/catalogueserver.h"
#include "service/scanner.h"
#include "support/postgrescluster.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <httplib.h>
#include <thread>

using namespace Qt::StringLiterals;
using namespace lumivale;
using namespace lumivale::service;

namespace {

struct Reply
{
    int status = 0;
    QByteArray body;
    httplib::Headers headers;
    QString header(const char *name) const
    {
        const auto found = headers.find(name);
        return found == headers.end() ? QString() : QString::fromStdString(found->second);
    }
    QString error() const
    {
        return QJsonDocument::fromJson(body).object().value(u"error").toString();
    }
};

Reply get(int port, const QString &path, const httplib::Headers &headers = {})
{
    httplib::Client client("127.0.0.1", port);
    const auto result = client.Get(path.toStdString(), headers);
    return result ? Reply{result->status, QByteArray::fromStdString(result->body), result->headers}
                  : Reply{};
}

Reply post(int port, const QByteArray &body, const httplib::Headers &headers = {})
{
    httplib::Client client("127.0.0.1", port);
    const auto result = client.Post("/likes", headers, body.toStdString(), "application/json");
    return result ? Reply{result->status, QByteArray::fromStdString(result->body), result->headers}
                  : Reply{};
}

QByteArray likeBody(const QString &wallpaper, const QString &device, bool liked)
{
    return QJsonDocument(QJsonObject{{u"wallpaperId"_s, wallpaper},
                                     {u"deviceId"_s, device},
                                     {u"liked"_s, liked}})
        .toJson(QJsonDocument::Compact);
}

QString newDevice()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

// Each row's server, or a skip (PostgreSQL absent) or failure (present
// but not starting) that names why.
#define FETCH_PORT()                                                                               \
    QFETCH(QString, backend);                                                                      \
    if (backend == u"postgres" && !m_postgresProblem.isEmpty()) {                                  \
        if (!test::PostgresCluster::unavailableReason().isEmpty())                                 \
            QSKIP(qPrintable(m_postgresProblem));                                                  \
        QFAIL(qPrintable(m_postgresProblem));                                                      \
    }                                                                                              \
    const int port = m_servers.at(backend)->port()

class TestCatalogueService : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_library;
    std::optional<ScanResult> m_scan;
    test::PostgresCluster m_postgres;
    QString m_postgresProblem;
    std::map<QString, std::unique_ptr<CatalogueServer>> m_servers;

    std::unique_ptr<CatalogueServer> startServer(const QString &database, int likesPerSecond = 0,
                                                 const QString &trustedProxy = {})
    {
        ServeOptions options;
        options.libraryFolder = m_library;
        options.port = 0;
        options.database = database;
        options.likesPerSecond = likesPerSecond;
        options.logRequests = false;
        options.trustedProxy = trustedProxy;
        auto server = std::make_unique<CatalogueServer>(options);
        if (const Result<> bound = server->bind(); !bound)
            qFatal("cannot start the service: %s", qPrintable(bound.error().description()));
        server->start();
        return server;
    }

    void addBackendRows()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << u"sqlite"_s;
        QTest::newRow("postgres") << u"postgres"_s;
    }

    QList<Wallpaper> manifest(int port, const QString &device)
    {
        const Reply reply = get(port, u"/manifest.json?deviceId="_s + device);
        [&] { QCOMPARE(reply.status, 200); }();
        const auto wallpapers = decodeManifest(reply.body);
        [&] { QCOMPARE(errorOf(wallpapers), std::nullopt); }();
        return wallpapers.value_or(QList<Wallpaper>());
    }

    std::pair<qint64, bool> likeState(int port, const QString &device, const QString &wallpaper)
    {
        for (const Wallpaper &record : manifest(port, device))
            if (record.id() == wallpaper)
                return {record.likeCount(), record.isLiked()};
        return {-1, false};
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_library = m_dir.filePath(u"library"_s);
        QDir().mkpath(m_library);
        QFile::copy(test::mediaPath(u"red"_s), m_library + u"/red.mp4"_s);
        QFile::copy(test::mediaPath(u"blue"_s), m_library + u"/blue_sky.mp4"_s);
        QFile::copy(test::mediaPath(u"not-a-video.mp4"_s), m_library + u"/notes.mp4"_s);
        QFile metadata(m_library + u"/library.json"_s);
        QVERIFY(metadata.open(QIODevice::WriteOnly));
        metadata.write(
            R"({"wallpapers": [{"id": "red", "file": "red.mp4", "name": "Crimson Tide", "category": "Nature"}]})");
        metadata.close();
        const Result<ScanResult> scanned = scanLibrary(m_library);
        QCOMPARE(errorOf(scanned), std::nullopt);
        m_scan = *scanned;

        m_servers[u"sqlite"_s] = startServer(QString());
        m_postgresProblem = test::PostgresCluster::unavailableReason();
        if (m_postgresProblem.isEmpty() && !m_postgres.start())
            m_postgresProblem = m_postgres.error();
        if (m_postgresProblem.isEmpty())
            m_servers[u"postgres"_s] = startServer(m_postgres.url());
    }

    void scanDescribesTheVideosAndKeepsWhatAPersonWrote()
    {
        QCOMPARE(m_scan->entries.size(), 2);
        const LibraryEntry &red = m_scan->entries.at(0);
        QCOMPARE(red.id, u"red"_s);
        QCOMPARE(red.name, u"Crimson Tide"_s);
        QCOMPARE(red.category, u"Nature"_s);
        QCOMPARE(red.resolution, u"360p"_s);
        QCOMPARE(red.sizeBytes, QFileInfo(m_library + u"/red.mp4"_s).size());
        QVERIFY(qAbs(red.durationSeconds.value_or(0) - 2.0) < 0.1);
        QVERIFY(red.createdAt);
        QCOMPARE(red.gradient->size(), 3);
        QVERIFY(colorFromHex(red.gradient->at(1))->red() > 200);
        const LibraryEntry &blue = m_scan->entries.at(1);
        QCOMPARE(blue.id, u"blue_sky"_s);
        QCOMPARE(blue.name, u"Blue Sky"_s);
        QCOMPARE(blue.category, u"Featured"_s);
        QCOMPARE(m_scan->skipped.size(), 1);
        QVERIFY(m_scan->skipped.first().startsWith(u"notes.mp4: not a playable video"_s));
        // Scanning again changes nothing a person wrote.
        const auto again = scanLibrary(m_library);
        QCOMPARE(again->entries, m_scan->entries);
    }

    void serveArguments_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("problem"); // empty: accepted
        QTest::newRow("minimal") << u"--library /srv/v"_s << QString();
        QTest::newRow("all") << u"--library /v --listen [::1]:80 --db postgres://u@h/d "
                                u"--video-base-url https://cdn.example/v --likes-per-second 0 "
                                u"--threads 8 --quiet"_s
                             << QString();
        QTest::newRow("no library") << u"--quiet"_s << u"--library"_s;
        QTest::newRow("no port") << u"--library /v --listen localhost"_s << u"HOST:PORT"_s;
        QTest::newRow("relative base")
            << u"--library /v --video-base-url videos/"_s << u"absolute URL"_s;
        QTest::newRow("no threads") << u"--library /v --threads 0"_s << u"number"_s;
        QTest::newRow("missing value") << u"--library"_s << u"needs a value"_s;
        QTest::newRow("unknown") << u"--library /v --port 1"_s << u"--port"_s;
    }
    void serveArguments()
    {
        QFETCH(QString, words);
        QFETCH(QString, problem);
        const QStringList arguments = words.split(u' ');
        const auto options = parseServeArguments(arguments);
        const QString error = options ? QString() : options.error().description();
        QCOMPARE(options.has_value(), problem.isEmpty());
        QVERIFY2(error.contains(problem), qPrintable(error));
        if (options && arguments.contains(u"--video-base-url"_s))
            QCOMPARE(options->videoBaseURL, u"https://cdn.example/v/"_s);
    }

    void resolutionLabels_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("label");
        QTest::newRow("UHD") << 3840 << 2160 << u"4K"_s;
        QTest::newRow("DCI 4K") << 4096 << 2160 << u"4K"_s;
        QTest::newRow("QHD") << 2560 << 1440 << u"1440p"_s;
        QTest::newRow("full HD") << 1920 << 1080 << u"1080p"_s;
        QTest::newRow("portrait") << 1080 << 1920 << u"1080p"_s;
        QTest::newRow("HD") << 1280 << 720 << u"720p"_s;
        QTest::newRow("odd") << 640 << 480 << u"480p"_s;
    }
    void resolutionLabels()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QTEST(resolutionLabel(width, height), "label");
    }

    void manifestCarriesCountsAndEachDevicesLikes_data() { addBackendRows(); }
    void manifestCarriesCountsAndEachDevicesLikes()
    {
        FETCH_PORT();
        const QString alice = newDevice(), bob = newDevice(), carol = newDevice();
        const QList<Wallpaper> records = manifest(port, alice);
        QCOMPARE(records.size(), 2);
        QCOMPARE(records.at(0).name(), u"Crimson Tide"_s);
        QCOMPARE(records.at(0).video(), QUrl(u"http://127.0.0.1:%1/videos/red.mp4"_s.arg(port)));
        QCOMPARE(records.at(1).resolution(), u"360p"_s);

        // Liking twice counts once; an unlike undoes it, twice or not.
        QCOMPARE(post(port, likeBody(u"red"_s, alice, true)).status, 204);
        QCOMPARE(post(port, likeBody(u"red"_s, alice, true)).status, 204);
        QCOMPARE(post(port, likeBody(u"red"_s, bob, true)).status, 204);
        QCOMPARE(likeState(port, alice, u"red"_s), std::pair(qint64(2), true));
        QCOMPARE(likeState(port, carol, u"red"_s), std::pair(qint64(2), false));
        QCOMPARE(likeState(port, alice, u"blue_sky"_s), std::pair(qint64(0), false));
        QCOMPARE(post(port, likeBody(u"red"_s, bob, false)).status, 204);
        QCOMPARE(post(port, likeBody(u"red"_s, bob, false)).status, 204);
        QCOMPARE(likeState(port, bob, u"red"_s), std::pair(qint64(1), false));
        QCOMPARE(post(port, likeBody(u"red"_s, alice, false)).status, 204);
        QCOMPARE(likeState(port, alice, u"red"_s), std::pair(qint64(0), false));
    }

    // Bad likes, and paths to anything but the library's videos: all turned
    // away before the database, whichever it is.
    void badRequestsGetAStatusAndAMessage_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body"); // null: a GET
        QTest::addColumn<int>("status");
        const QList<std::tuple<const char *, QString, QByteArray, int>> cases{
            {"not JSON", u"/likes"_s, "{nope", 400},
            {"not an object", u"/likes"_s, "[]", 400},
            {"missing key", u"/likes"_s, R"({"wallpaperId":"red","deviceId":"D"})", 400},
            {"wrong type", u"/likes"_s, R"({"wallpaperId":"red","deviceId":"D","liked":"yes"})",
             400},
            {"empty device", u"/likes"_s, R"({"wallpaperId":"red","deviceId":"","liked":true})",
             400},
            {"extra key", u"/likes"_s, R"({"wallpaperId":"red","deviceId":"D","liked":true,"x":1})",
             400},
            {"unknown wallpaper", u"/likes"_s, likeBody(u"green"_s, u"D"_s, true), 404},
            {"over 4 KiB", u"/likes"_s, likeBody(u"red"_s, QString(5000, u'd'), true), 413},
            {"parent", u"/videos/../library.json"_s, {}, 404},
            {"encoded parent", u"/videos/..%2Flikes.sqlite"_s, {}, 404},
            {"encoded dots", u"/videos/%2e%2e/%2e%2e/etc/passwd"_s, {}, 404},
            {"absolute", u"/videos//etc/passwd"_s, {}, 404},
            {"not a video of the library", u"/videos/likes.sqlite"_s, {}, 404},
            {"left out by the scan", u"/videos/notes.mp4"_s, {}, 404},
        };
        for (const auto &[name, path, body, status] : cases)
            QTest::newRow(name) << path << body << status;
    }
    void badRequestsGetAStatusAndAMessage()
    {
        const int port = m_servers.at(u"sqlite"_s)->port();
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const Reply reply = body.isNull() ? get(port, path) : post(port, body);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.header("Content-Type"), u"application/json"_s);
        QVERIFY2(!reply.error().isEmpty(), reply.body.constData());
    }

    void likesBeyondTheRateAreRefused()
    {
        const auto server = startServer(m_dir.filePath(u"rated.sqlite"_s), 2);
        const int port = server->port();
        const QString device = newDevice();
        QCOMPARE(post(port, likeBody(u"red"_s, device, true)).status, 204);
        QCOMPARE(post(port, likeBody(u"red"_s, device, false)).status, 204);
        const Reply sameDevice = post(port, likeBody(u"red"_s, device, true));
        QCOMPARE(sameDevice.status, 429);
        QVERIFY(sameDevice.error().contains(u"too many"_s));
        // Another device from the same address is over the address's share.
        QCOMPARE(post(port, likeBody(u"red"_s, newDevice(), true)).status, 429);

        // Behind a trusted proxy each client has a share of its own.
        const auto proxied = startServer(m_dir.filePath(u"proxied.sqlite"_s), 1, u"127.0.0.1"_s);
        for (const auto &[client, status] :
             {std::pair("192.0.2.1", 204), {"192.0.2.2", 204}, {"192.0.2.1", 429}}) {
            const httplib::Headers forwarded{
                {"X-Forwarded-For", std::string("198.51.100.9, ") + client}};
            QCOMPARE(post(proxied->port(), likeBody(u"red"_s, newDevice(), true), forwarded).status,
                     status);
        }
    }

    void aSecondCopyOnTheSamePortIsRefused()
    {
        ServeOptions options;
        options.libraryFolder = m_library;
        options.port = m_servers.at(u"sqlite"_s)->port();
        CatalogueServer second(options);
        const Result<> bound = second.bind();
        QVERIFY(!bound);
        QVERIFY(bound.error().description().contains(u"cannot listen"_s));
    }

    void videoRanges_data()
    {
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("offset"); // negative: from the end
        QTest::addColumn<qint64>("length");
        QTest::newRow("whole") << QByteArray() << 200 << 0LL << -1LL;
        QTest::newRow("middle") << QByteArray("bytes=1000-1499") << 206 << 1000LL << 500LL;
        QTest::newRow("open end") << QByteArray("bytes=2000-") << 206 << 2000LL << -1LL;
        QTest::newRow("suffix") << QByteArray("bytes=-300") << 206 << -300LL << 300LL;
        QTest::newRow("end past the end") << QByteArray("bytes=10-99999999") << 206 << 10LL << -1LL;
        QTest::newRow("past the end") << QByteArray("bytes=99999999-") << 416 << 0LL << 0LL;
    }
    void videoRanges()
    {
        QFETCH(QByteArray, range);
        QFETCH(int, status);
        QFETCH(qint64, offset);
        QFETCH(qint64, length);
        QFile file(m_library + u"/red.mp4"_s);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        httplib::Headers headers;
        if (!range.isEmpty())
            headers.emplace("Range", range.toStdString());
        const Reply reply = get(m_servers.at(u"sqlite"_s)->port(), u"/videos/red.mp4"_s, headers);
        QCOMPARE(reply.status, status);
        if (status == 416) {
            QCOMPARE(reply.header("Content-Range"), u"bytes */%1"_s.arg(bytes.size()));
            QVERIFY(!reply.error().isEmpty());
            return;
        }
        QCOMPARE(reply.header("Content-Type"), u"video/mp4"_s);
        const qint64 start = offset < 0 ? bytes.size() + offset : offset;
        QCOMPARE(reply.body, bytes.mid(start, length));
        if (status == 206)
            QCOMPARE(reply.header("Content-Range"), u"bytes %1-%2/%3"_s.arg(start)
                                                        .arg(start + reply.body.size() - 1)
                                                        .arg(bytes.size()));
    }

    void conditionalRequests_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("acceptEncoding");
        QTest::addColumn<QByteArray>("validator"); // the response header to send back
        const QString listing = u"/manifest.json?deviceId=X"_s, video = u"/videos/red.mp4"_s;
        QTest::newRow("manifest") << listing << QByteArray() << QByteArray("ETag");
        QTest::newRow("gzip manifest") << listing << QByteArray("gzip") << QByteArray("ETag");
        QTest::newRow("video by tag") << video << QByteArray() << QByteArray("ETag");
        QTest::newRow("video by date") << video << QByteArray() << QByteArray("Last-Modified");
    }
    void conditionalRequests()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, acceptEncoding);
        QFETCH(QByteArray, validator);
        const int port = m_servers.at(u"sqlite"_s)->port();
        httplib::Headers headers;
        if (!acceptEncoding.isEmpty())
            headers.emplace("Accept-Encoding", acceptEncoding.toStdString());
        const Reply first = get(port, path, headers);
        QCOMPARE(first.status, 200);
        if (!acceptEncoding.isEmpty()) {
            // httplib's client has inflated it already.
            QCOMPARE(first.header("Content-Encoding"), u"gzip"_s);
            QCOMPARE(first.body, get(port, path).body);
        }
        headers.emplace(validator == "ETag" ? "If-None-Match" : "If-Modified-Since",
                        first.header(validator.constData()).toStdString());
        const Reply second = get(port, path, headers);
        QCOMPARE(second.status, 304);
        QVERIFY(second.body.isEmpty());
    }

    void anUnreachableDatabaseGives503UntilItIsBack_data() { addBackendRows(); }
    void anUnreachableDatabaseGives503UntilItIsBack()
    {
        FETCH_PORT();
        // SQLite is out of reach while its folder is missing.
        const QString folder = m_dir.filePath(u"appears-later"_s);
        std::unique_ptr<CatalogueServer> sqliteServer;
        const int servedPort =
            backend == u"sqlite" ? (sqliteServer = startServer(folder + u"/likes.sqlite"_s))->port()
                                 : port;
        const auto takeAway = [&] { return backend == u"sqlite" || m_postgres.stop(); };
        const auto bringBack = [&] {
            return backend == u"sqlite" ? QDir().mkpath(folder) : m_postgres.start();
        };
        const QString device = newDevice();
        QVERIFY(takeAway());
        for (const Reply &reply : {get(servedPort, u"/healthz"_s),
                                   get(servedPort, u"/manifest.json?deviceId="_s + device),
                                   post(servedPort, likeBody(u"red"_s, device, true))}) {
            QCOMPARE(reply.status, 503);
            QVERIFY(reply.error().contains(u"database"_s));
        }
        QVERIFY2(bringBack(), qPrintable(m_postgres.error()));
        QCOMPARE(get(servedPort, u"/healthz"_s).status, 200);
        QCOMPARE(post(servedPort, likeBody(u"red"_s, device, true)).status, 204);
        QCOMPARE(likeState(servedPort, device, u"red"_s).second, true);
        QCOMPARE(post(servedPort, likeBody(u"red"_s, device, false)).status, 204);
    }

    void concurrentLikesCountExactly_data() { addBackendRows(); }
    void concurrentLikesCountExactly()
    {
        FETCH_PORT();
        constexpr int kThreads = 8, kDevicesPerThread = 40;
        const QString prefix = newDevice();
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                httplib::Client client("127.0.0.1", port);
                const auto send = [&](const QString &wallpaper, int device, bool liked) {
                    const auto result = client.Post(
                        "/likes",
                        likeBody(wallpaper, u"%1-%2-%3"_s.arg(prefix).arg(t).arg(device), liked)
                            .toStdString(),
                        "application/json");
                    if (!result || result->status != 204)
                        ++failures;
                };
                // Every device likes both twice; every fourth takes back its like of "red".
                for (int device = 0; device < kDevicesPerThread; ++device) {
                    send(u"red"_s, device, true);
                    send(u"blue_sky"_s, device, true);
                    send(u"red"_s, device, true);
                    send(u"blue_sky"_s, device, true);
                    if (device % 4 == 0)
                        send(u"red"_s, device, false);
                }
            });
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(failures.load(), 0);
        const int devices = kThreads * kDevicesPerThread;
        QCOMPARE(likeState(port, prefix, u"blue_sky"_s).first, devices);
        QCOMPARE(likeState(port, prefix, u"red"_s).first, devices - devices / 4);
    }
};

LUMIVALE_TEST_MAIN(TestCatalogueService)
#include "tst_catalogueservice.moc"
