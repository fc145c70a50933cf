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
    LoopbackHttpServer::Response response;
    response.status = status;
    response.body = QByteArray(size, 'v');
    response.delayMs = delayMs;
    return response;
}

QByteArray describe(const VideoDownloadResult &result)
{
    return result ? QByteArray("success") : result.error().debugText().toUtf8();
}

QStringList fileNames(const QString &directory)
{
    QStringList names =
        QDir(directory).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    return names;
}

} // namespace

class VideoCacheTest : public QObject
{
    Q_OBJECT

private:
    QString cacheDir() const { return m_root->path() + QStringLiteral("/LumivaleWallpapers"); }
    QString partialDir() const { return cacheDir() + QStringLiteral(".partial"); }

    Wallpaper wallpaper(const QString &id, const QString &path = QStringLiteral("/video.mp4"))
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

    void serveVideo(const QString &name = QStringLiteral("red"))
    {
        const QString path = test::mediaPath(name);
        m_server->setHandler([path](const LoopbackHttpServer::Request &request) {
            return LoopbackHttpServer::file(path, request);
        });
    }

    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<LoopbackHttpServer> m_server;
    std::unique_ptr<VideoCache> m_cache;

private Q_SLOTS:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<LoopbackHttpServer>();
        m_cache = std::make_unique<VideoCache>(cacheDir());
    }

    void cleanup()
    {
        m_cache.reset();
        m_server.reset();
        m_root.reset();
    }

    void defaultFolderIsInTheUserCacheFolder()
    {
        QCOMPARE(VideoCache::defaultCacheDirectory(),
                 qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/LumivaleWallpapers"));
    }

    void downloadsIntoTheCacheFolder()
    {
        serveVideo();
        QSignalSpy changes(&NotificationCenter::shared(), &NotificationCenter::videoCacheDidChange);
        DownloadProgress lastProgress;
        connect(m_cache.get(), &VideoCache::downloadProgressChanged, this, [&] {
            if (m_cache->downloadProgress().contains(u"a"_qs))
                lastProgress = m_cache->downloadProgress().value(u"a"_qs);
        });

        const VideoDownloadResult result = await(m_cache->download(wallpaper(u"a"_qs)));
        QVERIFY2(result.has_value(), describe(result));
        QCOMPARE(result.value(), QUrl::fromLocalFile(cacheDir() + u"/a.mp4"_qs));
        QCOMPARE(result.value(), m_cache->fileURL(u"a"_qs));
        QVERIFY(m_cache->isCached(u"a"_qs));
        QFile local(result.value().toLocalFile());
        QFile original(test::mediaPath(u"red"_qs));
        QVERIFY(local.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
        QCOMPARE(local.readAll(), original.readAll());
        QCOMPARE(changes.count(), 1);
        QVERIFY(fileNames(partialDir()).isEmpty());
        // Progress was published per ID and is gone once the download ended.
        QCOMPARE(lastProgress.bytesExpected, original.size());
        QCOMPARE(lastProgress.bytesReceived, original.size());
        QTRY_VERIFY(m_cache->downloadProgress().isEmpty());

        // Cached: answered from the disk, no request, no notification.
        const VideoDownloadResult again = await(m_cache->download(wallpaper(u"a"_qs)));
        QCOMPARE(again.value(), result.value());
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(changes.count(), 1);
    }

    void concurrentCallersShareOneDownload()
    {
        m_server->setDefaultResponse(slowResponse(100000, 200));
        QSignalSpy changes(&NotificationCenter::shared(), &NotificationCenter::videoCacheDidChange);

        auto first = m_cache->download(wallpaper(u"shared"_qs));
        auto second = m_cache->download(wallpaper(u"shared"_qs));
        const VideoDownloadResult firstResult = await(std::move(first));
        const VideoDownloadResult secondResult = await(std::move(second));
        QVERIFY(firstResult.has_value() && secondResult.has_value());
        QCOMPARE(firstResult.value(), secondResult.value());
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(changes.count(), 1);

        // A shared failure reaches both callers too.
        m_server->setDefaultResponse(slowResponse(0, 200, 404));
        auto third = m_cache->download(wallpaper(u"other"_qs));
        auto fourth = m_cache->download(wallpaper(u"other"_qs));
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
            LoopbackHttpServer::Response response;
            response.status = status;
            response.body = std::move(body);
            return response;
        };
        LoopbackHttpServer::Response dropped = answer(200, QByteArray(300000, 'v'));
        dropped.dropMidBody = true;
        LoopbackHttpServer::Response endless = answer(200, "v");
        endless.endlessBody = true;
        LoopbackHttpServer::Response huge = answer(200, QByteArray(1000, 'v'));
        huge.headers.emplaceBack("Content-Length", QByteArray::number(3 * kGiB));
        const QString tooLarge = u"Video is larger than the cache can hold (2 GiB)"_qs;

        QTest::newRow("HTTP 404") << answer(404, "gone") << u"VideoCache"_qs << 404
                                  << u"Video download failed with HTTP 404"_qs;
        QTest::newRow("HTTP 500") << answer(500, {}) << u"VideoCache"_qs << 500
                                  << u"Video download failed with HTTP 500"_qs;
        QTest::newRow("empty body")
            << answer(200, {}) << u"VideoCache"_qs << -2 << u"Downloaded video is empty"_qs;
        QTest::newRow("dropped mid-body") << dropped << u"Network"_qs << -1 << QString();
        QTest::newRow("server never answers")
            << LoopbackHttpServer::silence() << u"Network"_qs << int(QNetworkReply::TimeoutError)
            << u"The server at 127.0.0.1 sent nothing for 1 second"_qs;
        QTest::newRow("announces 3 GiB") << huge << u"VideoCache"_qs << -5 << tooLarge;
        // With the limit lowered to 4 MiB, so the test does not write 2 GiB.
        QTest::newRow("endless body") << endless << u"VideoCache"_qs << -5
                                      << u"Video is larger than the cache can hold (4 MiB)"_qs;
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

        const VideoDownloadResult result = await(m_cache->download(wallpaper(u"broken"_qs)));
        QVERIFY(!result.has_value());
        QCOMPARE(result.error().domain(), domain);
        if (code != -1)
            QCOMPARE(result.error().code(), code);
        if (!description.isNull())
            QCOMPARE(result.error().description(), description);
        QVERIFY(!m_cache->isCached(u"broken"_qs));
        QVERIFY(fileNames(cacheDir()).isEmpty());
        QVERIFY(fileNames(partialDir()).isEmpty());
        QCOMPARE(changes.count(), 0);

        // No entry stays behind: the next call fetches again, and succeeds.
        // (After a dropped connection the HTTP client may open a fresh one
        // and send the next request twice.)
        const qsizetype requestsBefore = m_server->requests().size();
        serveVideo();
        QVERIFY(await(m_cache->download(wallpaper(u"broken"_qs))).has_value());
        QVERIFY(m_server->requests().size() > requestsBefore);
    }

    void recordWithoutVideoFailsBeforeTouchingAnything()
    {
        Wallpaper record;
        record.setId(u"novideo"_qs);
        const VideoDownloadResult result = await(m_cache->download(record));
        QCOMPARE(result.error(), Error(u"VideoCache"_qs, -1, u"Wallpaper has no video URL"_qs));
        QVERIFY(fileNames(cacheDir()).isEmpty());
        QVERIFY(m_server->requests().isEmpty());
    }

    void refusedBeforeAnythingIsRead_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("video"); // empty: the loopback server
        QTest::addColumn<Error>("error");
        const Error badID(u"VideoCache"_qs, -3, u"Wallpaper ID is not a valid file name"_qs);
        const Error badURL(u"VideoCache"_qs, -4,
                           u"Wallpaper video must be an http or https URL"_qs);
        QTest::newRow("empty") << QString() << QString() << badID;
        QTest::newRow("dot") << u"."_qs << QString() << badID;
        QTest::newRow("dot dot") << u".."_qs << QString() << badID;
        QTest::newRow("hidden") << u".x"_qs << QString() << badID;
        QTest::newRow("slash") << u"a/b"_qs << QString() << badID;
        QTest::newRow("parent") << u"../escape"_qs << QString() << badID;
        QTest::newRow("absolute") << u"/tmp/escape"_qs << QString() << badID;
        QTest::newRow("NUL") << QString(u"a\0b"_qs) << QString() << badID;
        QTest::newRow("too long") << QString(252, u'x') << QString() << badID;
        QTest::newRow("too long in UTF-8") << QString(126, QChar(0x00E9)) << QString() << badID;
        const QString local = QUrl::fromLocalFile(test::mediaPath(u"red"_qs)).toString();
        QTest::newRow("file") << u"v"_qs << local << badURL;
        QTest::newRow("data") << u"v"_qs << u"data:video/mp4;base64,AAAA"_qs << badURL;
        QTest::newRow("qrc") << u"v"_qs << u"qrc:/videos/red.mp4"_qs << badURL;
        QTest::newRow("ftp") << u"v"_qs << u"ftp://127.0.0.1/red.mp4"_qs << badURL;
        QTest::newRow("relative") << u"v"_qs << u"videos/red.mp4"_qs << badURL;
    }

    void refusedBeforeAnythingIsRead()
    {
        QFETCH(QString, id);
        QFETCH(QString, video);
        QFETCH(Error, error);
        serveVideo();
        Wallpaper record = wallpaper(id);
        if (!video.isEmpty())
            record.setVideo(QUrl(video));
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
        QVERIFY(VideoCache::isValidWallpaperID(id));
        QVERIFY(await(m_cache->download(wallpaper(id))).has_value());
        QVERIFY(m_cache->isCached(id));
        // Odd but harmless names stay inside the folder.
        for (const QString &odd : {u"a.."_qs, u" a "_qs, u"a\\b"_qs, u"?#%"_qs}) {
            QVERIFY(VideoCache::isValidWallpaperID(odd));
            QCOMPARE(QFileInfo(m_cache->fileURL(odd).toLocalFile()).absolutePath(), cacheDir());
        }
    }

    // Files as (name, bytes, age in seconds); "new.mp4" is protected.
    void trim_data()
    {
        QTest::addColumn<QList<CacheFile>>("files");
        QTest::addColumn<QStringList>("kept");

        QList<CacheFile> sixtyOld{{u"new.mp4"_qs, 10, 0}};
        QStringList newAndFortyNine{u"new.mp4"_qs};
        for (int i = 0; i < 60; ++i) {
            sixtyOld.append({QStringLiteral("old%1.mp4").arg(i, 2, 10, QChar(u'0')), 10, 1000 - i});
            if (i >= 11)
                newAndFortyNine.append(QStringLiteral("old%1.mp4").arg(i));
        }
        QTest::newRow("the protected file and the 49 newest") << sixtyOld << newAndFortyNine;
        // The protected file is the newest of all, yet walked first.
        QTest::newRow("the newest go while over budget")
            << QList<CacheFile>{{u"oldest.mp4"_qs, kGiB, 300},
                                {u"middle.mp4"_qs, kGiB, 200},
                                {u"newest.mp4"_qs, kGiB, 100},
                                {u"new.mp4"_qs, kGiB / 2, 0}}
            << QStringList{u"new.mp4"_qs, u"oldest.mp4"_qs};
        QTest::newRow("the protected file stays even over budget")
            << QList<CacheFile>{{u"new.mp4"_qs, 3 * kGiB, 500}, {u"small.mp4"_qs, 10, 0}}
            << QStringList{u"new.mp4"_qs};
    }

    void trim()
    {
        QFETCH(QList<CacheFile>, files);
        QFETCH(QStringList, kept);
        for (const CacheFile &file : files)
            writeCacheFile(file.name, file.bytes, file.ageSeconds);
        QVERIFY(VideoCache::trim(cacheDir(), {cacheDir() + u"/new.mp4"_qs}));
        kept.sort();
        QCOMPARE(fileNames(cacheDir()), kept);
    }

    void downloadTrimsAndKeepsItsFile()
    {
        for (int i = 0; i < 50; ++i)
            writeCacheFile(QStringLiteral("old%1.mp4").arg(i), 10, 1000 - i);
        serveVideo();
        QVERIFY(await(m_cache->download(wallpaper(u"new"_qs))).has_value());
        QVERIFY(m_cache->isCached(u"new"_qs) && !m_cache->isCached(u"old0"_qs));
        QCOMPARE(m_cache->cachedIDs().size(), 50);
    }

    void trimFailsWhenTheFolderCannotBeListed()
    {
        const std::optional<Error> error =
            errorOf(VideoCache::trim(m_root->path() + u"/missing"_qs, {}));
        QVERIFY(error);
        QCOMPARE(error->domain(), u"FileSystem"_qs);
    }

    void onlyLowerCaseMp4FilesAreVideosButAllCountInBytes()
    {
        writeCacheFile(u"a.mp4"_qs, 10, 0);
        writeCacheFile(u"b.MP4"_qs, 20, 0);
        writeCacheFile(u"c.mov"_qs, 30, 0);
        writeCacheFile(u"d.mp4.part"_qs, 40, 0);
        writeCacheFile(u".hidden.mp4"_qs, 50, 0); // an ID, but not counted in bytes
        QCOMPARE(m_cache->cachedIDs(), (QSet<QString>{u"a"_qs, u".hidden"_qs}));
        QCOMPARE(m_cache->totalBytes(), 100);

        // Not trim candidates either: with 52 videos, the other files survive.
        for (int i = 0; i < 52; ++i)
            writeCacheFile(QStringLiteral("v%1.mp4").arg(i), 1, 100 + i);
        QVERIFY(VideoCache::trim(cacheDir(), {cacheDir() + u"/a.mp4"_qs}));
        const QStringList names = fileNames(cacheDir());
        QVERIFY(names.contains(u"b.MP4"_qs) && names.contains(u"c.mov"_qs) &&
                names.contains(u"d.mp4.part"_qs) && names.contains(u".hidden.mp4"_qs));
        QCOMPARE(m_cache->cachedIDs().size(), 51); // 50 visible videos and the hidden one
    }

    void listingFailuresReadAsEmpty()
    {
        QVERIFY(QDir(cacheDir()).removeRecursively());
        QVERIFY(m_cache->cachedIDs().isEmpty());
        QCOMPARE(m_cache->totalBytes(), 0);
    }

    void clearCacheKeepsOnlyThePlayingFileAndPosts()
    {
        writeCacheFile(u"a.mp4"_qs, 10, 0);
        writeCacheFile(u"playing.mp4"_qs, 10, 0);
        writeCacheFile(u"b.mov"_qs, 10, 0);
        writeCacheFile(u".hidden"_qs, 10, 0);
        QVERIFY(QDir(cacheDir()).mkdir(u"folder"_qs));
        m_cache->setFilesInUseProvider(
            [this] { return QList<QUrl>{QUrl::fromLocalFile(cacheDir() + u"/playing.mp4"_qs)}; });
        QSignalSpy changes(&NotificationCenter::shared(), &NotificationCenter::videoCacheDidChange);
        QCOMPARE(errorOf(m_cache->clearCache()), std::nullopt);
        QCOMPARE(fileNames(cacheDir()), QStringList{u"playing.mp4"_qs});
        QVERIFY(QDir(cacheDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
        QCOMPARE(changes.count(), 1);
    }

    void filesJustHandedOutSurviveOtherTrimsForAMinute()
    {
        // Over budget: each finishing download's trim deletes the newest
        // files it may, so the other download's file would go first.
        writeCacheFile(u"old1.mp4"_qs, kGiB, 300);
        writeCacheFile(u"old2.mp4"_qs, kGiB, 200);
        writeCacheFile(u"old3.mp4"_qs, kGiB, 100);
        qint64 now = 1000000;
        m_cache->setClock([&now] { return now; });
        m_server->setDefaultResponse(slowResponse(1000, 300));
        auto first = m_cache->download(wallpaper(u"first"_qs));
        auto second = m_cache->download(wallpaper(u"second"_qs));
        const VideoDownloadResult firstResult = await(std::move(first));
        const VideoDownloadResult secondResult = await(std::move(second));
        QVERIFY2(firstResult.has_value() && secondResult.has_value(), describe(firstResult));
        QVERIFY(QFileInfo::exists(firstResult.value().toLocalFile()));
        QVERIFY(QFileInfo::exists(secondResult.value().toLocalFile()));

        // A minute later they are ordinary cached files.
        now += VideoCache::kRecentlyHandedOutMs;
        QCOMPARE(errorOf(m_cache->clearCache()), std::nullopt);
        QVERIFY(fileNames(cacheDir()).isEmpty());
    }

    void clearCacheFailsWhenTheFolderWasRemovedFromOutside()
    {
        QVERIFY(QDir(cacheDir()).removeRecursively());
        QSignalSpy changes(&NotificationCenter::shared(), &NotificationCenter::videoCacheDidChange);
        const std::optional<Error> error = errorOf(m_cache->clearCache());
        QVERIFY(error);
        QVERIFY(!error->description().isEmpty());
        QCOMPARE(changes.count(), 0);
    }

    void downloadInFlightLandsInTheNewFolderAfterClear()
    {
        m_server->enqueue(slowResponse(50000, 300));
        auto download = m_cache->download(wallpaper(u"late"_qs));
        QVERIFY(m_server->waitForRequests(1));
        QCOMPARE(errorOf(m_cache->clearCache()), std::nullopt);
        const VideoDownloadResult result = await(std::move(download));
        QVERIFY(result.has_value());
        QCOMPARE(fileNames(cacheDir()), QStringList{u"late.mp4"_qs});
    }

    void destroyingTheCacheFailsItsDownloadsInFlight()
    {
        m_server->enqueue(slowResponse(50000, 2000));
        auto download = m_cache->download(wallpaper(u"gone"_qs));
        QVERIFY(m_server->waitForRequests(1));
        m_cache.reset();
        const VideoDownloadResult result = await(std::move(download));
        QVERIFY(!result.has_value());
        QCOMPARE(result.error().domain(), u"Network"_qs);
        QVERIFY(fileNames(cacheDir()).isEmpty());
        QVERIFY(fileNames(partialDir()).isEmpty());
    }

    void partialFilesOfAnEarlierProcessAreRemoved()
    {
        m_cache.reset();
        writeCacheFile(u"kept.mp4"_qs, 10, 0);
        QFile leftover(partialDir() + u"/download-abc123"_qs);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.write("half a video");
        leftover.close();
        m_cache = std::make_unique<VideoCache>(cacheDir());
        QVERIFY(fileNames(partialDir()).isEmpty());
        QCOMPARE(fileNames(cacheDir()), QStringList{u"kept.mp4"_qs});
    }

    void stateFollowsTheCacheWithoutBeingAsked()
    {
        qint64 now = 0;
        m_cache->setClock([&now] { return now; });
        writeCacheFile(u"first.mp4"_qs, 10, 0);
        VideoCacheState state(*m_cache);
        QCOMPARE(state.cachedIDs(), QSet<QString>{u"first"_qs});
        QCOMPARE(state.totalBytes(), 10);
        QSignalSpy idsChanged(&state, &VideoCacheState::cachedIDsChanged);
        QSignalSpy bytesChanged(&state, &VideoCacheState::totalBytesChanged);

        serveVideo();
        QVERIFY(await(m_cache->download(wallpaper(u"second"_qs))).has_value());
        QTRY_COMPARE(state.cachedIDs(), (QSet<QString>{u"first"_qs, u"second"_qs}));
        QCOMPARE(state.totalBytes(), 10 + QFileInfo(test::mediaPath(u"red"_qs)).size());
        QCOMPARE(idsChanged.count(), 1);
        QCOMPARE(bytesChanged.count(), 1);

        // Nothing changed on disk: nothing is published.
        state.refresh();
        NotificationCenter::shared().postVideoCacheDidChange();
        QTest::qWait(20);
        QCOMPARE(idsChanged.count(), 1);
        QCOMPARE(bytesChanged.count(), 1);

        // Only the byte total changed.
        writeCacheFile(u"extra.mov"_qs, 5, 0);
        state.refresh();
        QCOMPARE(idsChanged.count(), 1);
        QCOMPARE(bytesChanged.count(), 2);

        now += VideoCache::kRecentlyHandedOutMs; // no longer kept for its caller
        QCOMPARE(errorOf(m_cache->clearCache()), std::nullopt);
        QTRY_VERIFY(state.cachedIDs().isEmpty());
        QCOMPARE(state.totalBytes(), 0);
    }
};

LUMIVALE_TEST_MAIN(VideoCacheTest)
#include "tst_videocache.moc"
