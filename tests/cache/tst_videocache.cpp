#include "cache/videocache.h"
#include "cache/videocachestate.h"
#include "platform/notificationcenter.h"
#include "support/loopbackhttpserver.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <qcoro/qcorotask.h>

using namespace lumivale;
using namespace Qt::StringLiterals;
using lumivale::test::LoopbackHttpServer;

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

namespace {
struct CacheFile
{
    QString name;
    qint64 bytes;
    int ageSeconds;
};
} // namespace
Q_DECLARE_METATYPE(QList<CacheFile>)

namespace {

constexpr qint64 kGiB = 1024LL * 1024 * 1024;

VideoDownloadResult await(QCoro::Task<VideoDownloadResult> task)
{
    return QCoro::waitFor(std::move(task));
}

// A body of `size` bytes, answered after `delayMs`: long enough for a second
// caller or a clear to come in while the download is in flight.
LoopbackHttpServer::Response slowResponse(qsizetype size, int delayMs, int status = 200)
{
    return {status, {}, QByteArray(size, 'v'), delayMs};
}

QStringList fileNames(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class VideoCacheTest : public QObject
{
    Q_OBJECT

private:
    QString cacheDir() const { return m_root->path() + u"/LumivaleWallpapers"_s; }
    QString partialDir() const { return cacheDir() + u".partial"_s; }

    Wallpaper wallpaper(const QString &id, const QString &path = u"/video.mp4"_s)
    {
        Wallpaper record;
        record.setId(id);
        record.setVideo(m_server->url(path));
        return record;
    }

    // A file in the cache folder, sparse when large, last modified `ageSeconds` ago.
    void writeCacheFile(const QString &name, qint64 size, int ageSeconds)
    {
        QFile file(cacheDir() + u'/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
        QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-ageSeconds),
                                 QFileDevice::FileModificationTime));
    }

    // The red test clip, at any path.
    void serveVideo()
    {
        m_server->setHandler([](const LoopbackHttpServer::Request &request) {
            return LoopbackHttpServer::file(test::mediaPath(u"red"_s), request);
        });
    }

    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<LoopbackHttpServer> m_server;
    std::unique_ptr<VideoCache> m_cache;

private Q_SLOTS:
    void init()
    {
        m_cache.reset(); // before its folder
        m_root = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<LoopbackHttpServer>();
        m_cache = std::make_unique<VideoCache>(cacheDir());
    }

    void downloadsIntoTheCacheFolder()
    {
        serveVideo();
        QSignalSpy changes(&NotificationCenter::shared(), &NotificationCenter::videoCacheDidChange);
        DownloadProgress lastProgress;
        connect(m_cache.get(), &VideoCache::downloadProgressChanged, this, [&] {
            if (m_cache->downloadProgress().contains(u"a"_s))
                lastProgress = m_cache->downloadProgress().value(u"a"_s);
        });

        const VideoDownloadResult result = await(m_cache->download(wallpaper(u"a"_s)));
        QCOMPARE(errorOf(result), std::nullopt);
        QCOMPARE(result.value(), QUrl::fromLocalFile(cacheDir() + u"/a.mp4"_s));
        QVERIFY(m_cache->isCached(u"a"_s));
        QFile local(result.value().toLocalFile());
        QFile original(test::mediaPath(u"red"_s));
        QVERIFY(local.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
        QCOMPARE(local.readAll(), original.readAll());
        QCOMPARE(changes.count(), 1);
        QVERIFY(fileNames(partialDir()).isEmpty());
        // Progress was published per ID and is gone once the download ended.
        QCOMPARE(lastProgress.bytesExpected, original.size());
        QCOMPARE(lastProgress.bytesReceived, original.size());
        QTRY_VERIFY(m_cache->downloadProgress().isEmpty());

        // Cached: answered from the disk, no request, no notification.
        const VideoDownloadResult again = await(m_cache->download(wallpaper(u"a"_s)));
        QCOMPARE(again.value(), result.value());
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(changes.count(), 1);
    }

    void concurrentCallersShareOneDownload()
    {
        m_server->setDefaultResponse(slowResponse(100000, 200));
        QSignalSpy changes(&NotificationCenter::shared(), &NotificationCenter::videoCacheDidChange);

        auto first = m_cache->download(wallpaper(u"shared"_s));
        auto second = m_cache->download(wallpaper(u"shared"_s));
        const VideoDownloadResult firstResult = await(std::move(first));
        QVERIFY(firstResult.has_value());
        QCOMPARE(await(std::move(second)), firstResult);
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(changes.count(), 1);

        // A shared failure reaches both callers too.
        m_server->setDefaultResponse(slowResponse(0, 200, 404));
        auto third = m_cache->download(wallpaper(u"other"_s));
        auto fourth = m_cache->download(wallpaper(u"other"_s));
        QCOMPARE(await(std::move(third)).error().code(), 404);
        QCOMPARE(await(std::move(fourth)).error().code(), 404);
        QCOMPARE(m_server->requests().size(), 2);
    }

    void failedDownloadsLeaveNothing_data()
    {
        QTest::addColumn<LoopbackHttpServer::Response>("response");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("description");
        const auto answer = [](int status, QByteArray body) {
            return LoopbackHttpServer::Response{status, {}, std::move(body)};
        };
        LoopbackHttpServer::Response dropped = answer(200, QByteArray(300000, 'v'));
        dropped.dropMidBody = true;
        LoopbackHttpServer::Response endless = answer(200, "v");
        endless.endlessBody = true;
        LoopbackHttpServer::Response huge = answer(200, QByteArray(1000, 'v'));
        huge.headers.emplaceBack("Content-Length", QByteArray::number(3 * kGiB));
        const QString tooLarge = u"Video is larger than the cache can hold (2 GiB)"_s;

        QTest::newRow("HTTP 404") << answer(404, "gone") << u"VideoCache"_s << 404
                                  << u"Video download failed with HTTP 404"_s;
        QTest::newRow("HTTP 500") << answer(500, {}) << u"VideoCache"_s << 500
                                  << u"Video download failed with HTTP 500"_s;
        QTest::newRow("empty body")
            << answer(200, {}) << u"VideoCache"_s << -2 << u"Downloaded video is empty"_s;
        QTest::newRow("dropped mid-body") << dropped << u"Network"_s << -1 << QString();
        QTest::newRow("server never answers")
            << LoopbackHttpServer::silence() << u"Network"_s << int(QNetworkReply::TimeoutError)
            << u"The server at 127.0.0.1 sent nothing for 1 second"_s;
        QTest::newRow("announces 3 GiB") << huge << u"VideoCache"_s << -5 << tooLarge;
        // With the limit lowered to 4 MiB, so the test does not write 2 GiB.
        QTest::newRow("endless body") << endless << u"VideoCache"_s << -5
                                      << u"Video is larger than the cache can hold (4 MiB)"_s;
    }

    void failedDownloadsLeaveNothing()
    {
        QFETCH(LoopbackHttpServer::Response, response);
        QFETCH(QString, domain);
        QFETCH(int, code);
        QFETCH(QString, description);
        m_server->enqueue(response);
        m_cache->setTransferTimeout(1000);
        if (response.endlessBody)
            m_cache->setMaxDownloadBytes(4 * 1024 * 1024);
        QSignalSpy changes(&NotificationCenter::shared(), &NotificationCenter::videoCacheDidChange);

        const VideoDownloadResult result = await(m_cache->download(wallpaper(u"broken"_s)));
        QVERIFY(!result.has_value());
        QCOMPARE(result.error().domain(), domain);
        if (code != -1)
            QCOMPARE(result.error().code(), code);
        if (!description.isNull())
            QCOMPARE(result.error().description(), description);
        QVERIFY(!m_cache->isCached(u"broken"_s));
        QVERIFY(fileNames(cacheDir()).isEmpty());
        QVERIFY(fileNames(partialDir()).isEmpty());
        QCOMPARE(changes.count(), 0);

        // No entry stays behind: the next call fetches again, and succeeds.
        // (After a dropped connection the HTTP client may open a fresh one
        // and send the next request twice.)
        const qsizetype requestsBefore = m_server->requests().size();
        serveVideo();
        QVERIFY(await(m_cache->download(wallpaper(u"broken"_s))).has_value());
        QVERIFY(m_server->requests().size() > requestsBefore);
    }

    void refusedBeforeAnythingIsRead_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("video"); // empty: the loopback server
        QTest::addColumn<Error>("error");
        const Error badID(u"VideoCache"_s, -3, u"Wallpaper ID is not a valid file name"_s);
        const Error badURL(u"VideoCache"_s, -4, u"Wallpaper video must be an http or https URL"_s);
        QTest::newRow("empty") << QString() << QString() << badID;
        QTest::newRow("dot") << u"."_s << QString() << badID;
        QTest::newRow("dot dot") << u".."_s << QString() << badID;
        QTest::newRow("hidden") << u".x"_s << QString() << badID;
        QTest::newRow("slash") << u"a/b"_s << QString() << badID;
        QTest::newRow("parent") << u"../escape"_s << QString() << badID;
        QTest::newRow("absolute") << u"/tmp/escape"_s << QString() << badID;
        QTest::newRow("NUL") << QString(u"a\0b"_s) << QString() << badID;
        QTest::newRow("too long") << QString(252, u'x') << QString() << badID;
        QTest::newRow("too long in UTF-8") << QString(126, QChar(0x00E9)) << QString() << badID;
        const QString local = QUrl::fromLocalFile(test::mediaPath(u"red"_s)).toString();
        QTest::newRow("file") << u"v"_s << local << badURL;
        QTest::newRow("data") << u"v"_s << u"data:video/mp4;base64,AAAA"_s << badURL;
        QTest::newRow("qrc") << u"v"_s << u"qrc:/videos/red.mp4"_s << badURL;
        QTest::newRow("ftp") << u"v"_s << u"ftp://127.0.0.1/red.mp4"_s << badURL;
        QTest::newRow("relative") << u"v"_s << u"videos/red.mp4"_s << badURL;
        QTest::newRow("no video") << u"v"_s << u"none"_s
                                  << Error(u"VideoCache"_s, -1, u"Wallpaper has no video URL"_s);
    }

    void refusedBeforeAnythingIsRead()
    {
        QFETCH(QString, id);
        QFETCH(QString, video);
        QFETCH(Error, error);
        serveVideo();
        Wallpaper record = wallpaper(id);
        if (!video.isEmpty())
            record.setVideo(video == u"none" ? std::nullopt : std::optional(QUrl(video)));
        const QStringList before = QDir(m_root->path()).entryList(QDir::AllEntries | QDir::Hidden);
        const VideoDownloadResult result = await(m_cache->download(record));
        QCOMPARE(result.error(), error);
        QVERIFY(m_server->requests().isEmpty());
        QCOMPARE(QDir(m_root->path()).entryList(QDir::AllEntries | QDir::Hidden), before);
        QVERIFY(fileNames(cacheDir()).isEmpty());
        if (error.code() == -3) {
            QVERIFY(m_cache->fileURL(id).isEmpty());
            QVERIFY(!m_cache->isCached(id));
        }
    }

    void longestValidIDIsAccepted()
    {
        serveVideo();
        const QString id(251, u'x'); // 255 bytes with ".mp4"
        QCOMPARE(errorOf(await(m_cache->download(wallpaper(id)))), std::nullopt);
        QVERIFY(m_cache->isCached(id));
        // Odd but harmless names are valid and stay inside the folder.
        for (const QString &odd : {u"a.."_s, u" a "_s, u"a\\b"_s, u"?#%"_s})
            QCOMPARE(QFileInfo(m_cache->fileURL(odd).toLocalFile()).absolutePath(), cacheDir());
    }

    // Files as (name, bytes, age in seconds); "new.mp4" is protected.
    void trim_data()
    {
        QTest::addColumn<QList<CacheFile>>("files");
        QTest::addColumn<QStringList>("kept");

        // Only visible lower-case ".mp4" files count, however old the rest.
        const QStringList others{u"b.MP4"_s, u"c.mov"_s, u"d.mp4.part"_s, u".hidden.mp4"_s};
        QList<CacheFile> sixtyOld{{u"new.mp4"_s, 10, 0}};
        QStringList newAndFortyNine = others + QStringList{u"new.mp4"_s};
        for (const QString &name : others)
            sixtyOld.append({name, 10, 2000});
        for (int i = 0; i < 60; ++i) {
            sixtyOld.append({u"old%1.mp4"_s.arg(i, 2, 10, QChar(u'0')), 10, 1000 - i});
            if (i >= 11)
                newAndFortyNine.append(u"old%1.mp4"_s.arg(i));
        }
        QTest::newRow("the protected file and the 49 newest") << sixtyOld << newAndFortyNine;
        // The protected file is the newest of all, yet walked first.
        QTest::newRow("the newest go while over budget")
            << QList<CacheFile>{{u"oldest.mp4"_s, kGiB, 300},
                                {u"middle.mp4"_s, kGiB, 200},
                                {u"newest.mp4"_s, kGiB, 100},
                                {u"new.mp4"_s, kGiB / 2, 0}}
            << QStringList{u"new.mp4"_s, u"oldest.mp4"_s};
        QTest::newRow("the protected file stays even over budget")
            << QList<CacheFile>{{u"new.mp4"_s, 3 * kGiB, 500}, {u"small.mp4"_s, 10, 0}}
            << QStringList{u"new.mp4"_s};
    }

    void trim()
    {
        QFETCH(QList<CacheFile>, files);
        QFETCH(QStringList, kept);
        for (const CacheFile &file : files)
            writeCacheFile(file.name, file.bytes, file.ageSeconds);
        QVERIFY(VideoCache::trim(cacheDir(), {cacheDir() + u"/new.mp4"_s}));
        kept.sort();
        QCOMPARE(fileNames(cacheDir()), kept);
    }

    // A folder removed from outside: its listings read as empty, and trimming
    // or clearing it fails without a notification.
    void aMissingFolderReadsEmptyAndCannotBeCleared()
    {
        QVERIFY(QDir(cacheDir()).removeRecursively());
        QVERIFY(m_cache->cachedIDs().isEmpty());
        QCOMPARE(m_cache->totalBytes(), 0);
        const auto trimmed = errorOf(VideoCache::trim(cacheDir(), {}));
        QCOMPARE(trimmed.value_or(Error()).domain(), u"FileSystem"_s);
        QSignalSpy changes(&NotificationCenter::shared(), &NotificationCenter::videoCacheDidChange);
        const std::optional<Error> cleared = errorOf(m_cache->clearCache());
        QVERIFY(cleared && !cleared->description().isEmpty());
        QCOMPARE(changes.count(), 0);
    }

    void clearCacheKeepsOnlyThePlayingFileAndPosts()
    {
        writeCacheFile(u"a.mp4"_s, 10, 0);
        writeCacheFile(u"playing.mp4"_s, 10, 0);
        writeCacheFile(u"b.mov"_s, 10, 0);
        writeCacheFile(u".hidden"_s, 10, 0);
        QVERIFY(QDir(cacheDir()).mkdir(u"folder"_s));
        m_cache->setFilesInUseProvider(
            [this] { return QList<QUrl>{QUrl::fromLocalFile(cacheDir() + u"/playing.mp4"_s)}; });
        QSignalSpy changes(&NotificationCenter::shared(), &NotificationCenter::videoCacheDidChange);
        QCOMPARE(errorOf(m_cache->clearCache()), std::nullopt);
        QCOMPARE(fileNames(cacheDir()), QStringList{u"playing.mp4"_s});
        QVERIFY(QDir(cacheDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
        QCOMPARE(changes.count(), 1);
    }

    // Each download trims the folder, keeping its own file.
    void filesJustHandedOutSurviveOtherTrimsForAMinute()
    {
        // Over budget: each finishing download's trim deletes the newest
        // files it may, so the other download's file would go first.
        writeCacheFile(u"old1.mp4"_s, kGiB, 300);
        writeCacheFile(u"old2.mp4"_s, kGiB, 200);
        writeCacheFile(u"old3.mp4"_s, kGiB, 100);
        qint64 now = 1000000;
        m_cache->setClock([&now] { return now; });
        m_server->setDefaultResponse(slowResponse(1000, 300));
        auto first = m_cache->download(wallpaper(u"first"_s));
        auto second = m_cache->download(wallpaper(u"second"_s));
        const VideoDownloadResult firstResult = await(std::move(first));
        const VideoDownloadResult secondResult = await(std::move(second));
        QCOMPARE(errorOf(firstResult), std::nullopt);
        QCOMPARE(errorOf(secondResult), std::nullopt);
        QCOMPARE(fileNames(cacheDir()),
                 (QStringList{u"first.mp4"_s, u"old1.mp4"_s, u"second.mp4"_s}));

        // A minute later they are ordinary cached files.
        now += VideoCache::kRecentlyHandedOutMs;
        QCOMPARE(errorOf(m_cache->clearCache()), std::nullopt);
        QVERIFY(fileNames(cacheDir()).isEmpty());
    }

    // A clear leaves a download in flight alone: it lands in the new folder.
    // Destroying the cache fails it and leaves nothing.
    void whileADownloadIsInFlight_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("clear") << false << QStringList{u"late.mp4"_s};
        QTest::newRow("destroy") << true << QStringList();
    }
    void whileADownloadIsInFlight()
    {
        QFETCH(bool, destroy);
        m_server->enqueue(slowResponse(50000, destroy ? 2000 : 300));
        auto download = m_cache->download(wallpaper(u"late"_s));
        QVERIFY(m_server->waitForRequests(1));
        if (destroy)
            m_cache.reset();
        else
            QCOMPARE(errorOf(m_cache->clearCache()), std::nullopt);
        const VideoDownloadResult result = await(std::move(download));
        QCOMPARE(result ? QString() : result.error().domain(), destroy ? u"Network"_s : QString());
        QTEST(fileNames(cacheDir()), "files");
        QVERIFY(fileNames(partialDir()).isEmpty());
    }

    void partialFilesOfAnEarlierProcessAreRemoved()
    {
        m_cache.reset();
        writeCacheFile(u"kept.mp4"_s, 10, 0);
        QFile leftover(partialDir() + u"/download-abc123"_s);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.write("half a video");
        leftover.close();
        m_cache = std::make_unique<VideoCache>(cacheDir());
        QVERIFY(fileNames(partialDir()).isEmpty());
        QCOMPARE(fileNames(cacheDir()), QStringList{u"kept.mp4"_s});
    }

    // Only lower-case ".mp4" files are videos, but every visible file counts
    // in the bytes. The state refreshes on the cache's notification (a
    // download and a clear post one), and publishes only what changed.
    void stateFollowsTheCacheWithoutBeingAsked()
    {
        writeCacheFile(u"first.mp4"_s, 10, 0);
        writeCacheFile(u"b.MP4"_s, 20, 0);
        writeCacheFile(u"c.mov"_s, 30, 0);
        writeCacheFile(u"d.mp4.part"_s, 40, 0);
        writeCacheFile(u".hidden.mp4"_s, 50, 0); // an ID, but not counted in bytes
        VideoCacheState state(*m_cache);
        QCOMPARE(state.cachedIDs(), (QSet<QString>{u"first"_s, u".hidden"_s}));
        QCOMPARE(state.totalBytes(), 100);
        QSignalSpy idsChanged(&state, &VideoCacheState::cachedIDsChanged);
        QSignalSpy bytesChanged(&state, &VideoCacheState::totalBytesChanged);

        writeCacheFile(u"second.mp4"_s, 20, 0);
        NotificationCenter::shared().postVideoCacheDidChange();
        QTRY_COMPARE(state.cachedIDs(), (QSet<QString>{u"first"_s, u".hidden"_s, u"second"_s}));
        QCOMPARE(state.totalBytes(), 120);
        QCOMPARE(idsChanged.count(), 1);
        QCOMPARE(bytesChanged.count(), 1);

        // Nothing changed on disk: nothing is published.
        state.refresh();
        NotificationCenter::shared().postVideoCacheDidChange();
        QCoreApplication::sendPostedEvents(); // the queued refresh has run
        QCOMPARE(idsChanged.count(), 1);
        QCOMPARE(bytesChanged.count(), 1);

        // Only the byte total changed.
        writeCacheFile(u"extra.mov"_s, 5, 0);
        state.refresh();
        QCOMPARE(idsChanged.count(), 1);
        QCOMPARE(bytesChanged.count(), 2);

        QCOMPARE(errorOf(m_cache->clearCache()), std::nullopt);
        QTRY_VERIFY(state.cachedIDs().isEmpty());
        QCOMPARE(state.totalBytes(), 0);
    }
};

LUMIVALE_TEST_MAIN(VideoCacheTest)
#include "tst_videocache.moc"
