#include "catalogue/deviceid.h"
#include "catalogue/httpclient.h"
#include "catalogue/wallpaperlibrary.h"
#include "platform/userdefaults.h"
#include "support/loopbackhttpserver.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

using namespace lumivale;
using namespace Qt::StringLiterals;
using lumivale::test::LoopbackHttpServer;

namespace {

// JSON written with single quotes, to keep the fixtures readable.
QByteArray J(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

QByteArray manifestNamed(const QString &id)
{
    return J("[{'id':'%1','name':'N','video':'https://cdn.test/%1.mp4'}]")
        .replace("%1", id.toUtf8());
}

QStringList idsOf(const QList<Wallpaper> &wallpapers)
{
    QStringList ids;
    for (const Wallpaper &wallpaper : wallpapers)
        ids.append(wallpaper.id());
    return ids;
}

} // namespace

class TestWallpaperLibrary : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<LoopbackHttpServer> m_server;

    void useManifestURL(const QUrl &url)
    {
        qputenv("LUMIVALE_MANIFEST_URL", url.toString().toUtf8());
    }

    void loadAndWait(WallpaperLibrary &library) { QCoro::waitFor(library.load()); }

private Q_SLOTS:
    void init()
    {
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(u"defaults.json"_s));
        m_server = std::make_unique<LoopbackHttpServer>();
    }

    void cleanup()
    {
        m_server.reset();
        m_defaults.reset();
        QFile::remove(m_dir.filePath(u"defaults.json"_s));
        qunsetenv("LUMIVALE_MANIFEST_URL");
    }

    // --- no manifest address: the demo catalogue ------------------------------

    void demoCatalogueWithoutAnAddress_data()
    {
        QTest::addColumn<QByteArray>("configured");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a URL") << QByteArray("http://exa mple/manifest.json");
    }

    void demoCatalogueWithoutAnAddress()
    {
        QFETCH(QByteArray, configured);
        qputenv("LUMIVALE_MANIFEST_URL", configured);
        WallpaperLibrary library(*m_defaults);
        QVERIFY(!library.manifestURL());
        loadAndWait(library);
        QCOMPARE(library.wallpapers(), WallpaperLibrary::sampleWallpapers());
        QCOMPARE(library.wallpapers().size(), 24);
        QVERIFY(!library.loadError() && !library.isLoading());
        QVERIFY(library.wallpapers().first().isNew());
        QVERIFY(!library.wallpapers().at(1).isNew());
        QCOMPARE(m_server->requests().size(), 0);
    }

    // --- the request URL ---------------------------------------------------

    void requestCarriesTheDeviceID()
    {
        QUrl url = m_server->url(u"/api/manifest.json"_s);
        url.setQuery(u"deviceId=stale&lang=en&b=x%26y&deviceId=2"_s);
        useManifestURL(url);
        m_server->enqueue(LoopbackHttpServer::json("[]"));
        WallpaperLibrary library(*m_defaults);
        loadAndWait(library);

        QCOMPARE(m_server->requests().size(), 1);
        const LoopbackHttpServer::Request &request = m_server->requests().first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path(), QByteArray("/api/manifest.json"));
        const QString id = deviceID(*m_defaults);
        // Every stale device ID goes; the real one comes last.
        QCOMPARE(request.query(), "lang=en&b=x%26y&deviceId=" + id.toLatin1());
        QVERIFY(!QUuid::fromString(id).isNull());
    }

    // --- answers --------------------------------------------------------------

    void successPublishesTheListAsDecoded()
    {
        useManifestURL(m_server->url(u"/m"_s));
        m_server->enqueue(LoopbackHttpServer::json(
            J("[{'id':'b','name':'B','video':'https://x/b'},{'id':'a','name':'A','video':"
              "'https://x/a'},{'id':'b','name':'B','video':'https://x/b'}]")));
        m_server->enqueue(LoopbackHttpServer::json("[]"));
        WallpaperLibrary library(*m_defaults);
        QSignalSpy loading(&library, &WallpaperLibrary::isLoadingChanged);
        QSignalSpy errors(&library, &WallpaperLibrary::loadErrorChanged);
        QCoro::Task<> task = library.load();
        // Set, and published, before anything waits.
        QVERIFY(library.isLoading());
        QCOMPARE(loading.size(), 1);
        QCOMPARE(errors.size(), 1);
        QCoro::waitFor(std::move(task));
        QCOMPARE(idsOf(library.wallpapers()), QStringList({u"b"_s, u"a"_s, u"b"_s}));
        QVERIFY(!library.isLoading() && !library.loadError());
        QCOMPARE(loading.size(), 2);
        // An empty array is a success too.
        loadAndWait(library);
        QVERIFY(library.wallpapers().isEmpty() && !library.loadError());
    }

    void failuresEmptyTheListAndSayWhy_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        // "drop" mid-body, stay "silent", announce an "oversized" body, or be
        // "unreachable" (nothing listens any more)
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("expected");

        QTest::newRow("503") << 503 << QByteArray("[]") << QString()
                             << u"Manifest request failed with HTTP 503"_s;
        QTest::newRow("404 with a manifest body") << 404 << manifestNamed(u"x"_s) << QString()
                                                  << u"Manifest request failed with HTTP 404"_s;
        QTest::newRow("one bad element")
            << 200 << (J("[{'id':'a','name':'A','video':'https://x'},{'id':'b','name':'B'}]"))
            << QString() << u"Manifest element 1: \"video\" is required but missing"_s;
        QTest::newRow("not JSON") << 200 << QByteArray("<html>") << QString()
                                  << u"Manifest is not valid JSON"_s;
        QTest::newRow("object, not array")
            << 200 << QByteArray("{}") << QString() << u"Manifest is not a JSON array"_s;
        QTest::newRow("connection dropped mid-body")
            << 200 << manifestNamed(u"x"_s).repeated(4) << u"drop"_s << QString();
        QTest::newRow("server never answers")
            << 200 << QByteArray() << u"silent"_s
            << u"The server at 127.0.0.1 sent nothing for 1 second"_s;
        QTest::newRow("oversized") << 200 << QByteArray("[" + QByteArray(1000, ' '))
                                   << u"oversized"_s << u"Manifest is larger than 64 MiB"_s;
        QTest::newRow("unreachable") << 200 << QByteArray() << u"unreachable"_s << QString();
    }

    void failuresEmptyTheListAndSayWhy()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, fault);
        QFETCH(QString, expected);
        useManifestURL(m_server->url(u"/m"_s));
        m_server->enqueue(LoopbackHttpServer::json(manifestNamed(u"kept"_s)));
        LoopbackHttpServer::Response response = LoopbackHttpServer::json(body, status);
        response.dropMidBody = fault == u"drop";
        response.neverAnswers = fault == u"silent";
        if (fault == u"oversized")
            response.headers.emplaceBack("Content-Length",
                                         QByteArray::number(kMaxManifestBytes + 1));
        m_server->enqueue(response);

        WallpaperLibrary library(*m_defaults);
        library.setTransferTimeout(1000);
        loadAndWait(library);
        QCOMPARE(library.wallpapers().size(), 1);
        if (fault == u"unreachable")
            m_server.reset();
        loadAndWait(library);

        // Earlier results are not kept on failure.
        QVERIFY(library.wallpapers().isEmpty());
        QVERIFY(!library.isLoading());
        QVERIFY(library.loadError());
        QVERIFY(!library.loadError()->isEmpty());
        QVERIFY2(library.loadError()->startsWith(expected), qPrintable(*library.loadError()));
    }

    // --- overlapping loads ----------------------------------------------------

    void theNewestLoadDecidesWhateverAnswersLast()
    {
        useManifestURL(m_server->url(u"/m"_s));
        LoopbackHttpServer::Response slow = LoopbackHttpServer::json(manifestNamed(u"older"_s));
        slow.delayMs = 400;
        m_server->enqueue(slow);
        m_server->enqueue(LoopbackHttpServer::json(manifestNamed(u"newer"_s)));

        WallpaperLibrary library(*m_defaults);
        QCoro::Task<> older = library.load();
        QVERIFY(m_server->waitForRequests(1));
        QCoro::Task<> newer = library.load();

        QTRY_COMPARE(idsOf(library.wallpapers()), QStringList({u"newer"_s}));
        QVERIFY(library.isLoading()); // until the older load has ended too
        QCoro::waitFor(std::move(older));
        QCOMPARE(idsOf(library.wallpapers()), QStringList({u"newer"_s}));
        QVERIFY(!library.isLoading() && !library.loadError());
    }

    void libraryDestroyedMidLoadPublishesNothing()
    {
        useManifestURL(m_server->url(u"/m"_s));
        LoopbackHttpServer::Response slow = LoopbackHttpServer::json(manifestNamed(u"x"_s));
        slow.delayMs = 100;
        m_server->enqueue(slow);
        auto library = std::make_unique<WallpaperLibrary>(*m_defaults);
        QSignalSpy answered(&sharedNetworkAccessManager(), &QNetworkAccessManager::finished);
        QCoro::Task<> task = library->load();
        QVERIFY(m_server->waitForRequests(1));
        library.reset();
        QTRY_COMPARE(answered.count(), 1); // after its library is gone
    }
};

LUMIVALE_TEST_MAIN(TestWallpaperLibrary)
#include "tst_wallpaperlibrary.moc"
