// The catalogue's two clients of the service, against a loopback server: the
// library loading the manifest, and the store of likes reporting them.

#include "catalogue/deviceid.h"
#include "catalogue/httpclient.h"
#include "catalogue/likedwallpaperstore.h"
#include "catalogue/wallpaperlibrary.h"
#include "catalogueshorthands.h"
#include "platform/userdefaults.h"
#include "support/loopbackhttpserver.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

using namespace lumivale;
using namespace lumivale::test;
using namespace Qt::StringLiterals;
using Response = LoopbackHttpServer::Response;

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

namespace {

QByteArray manifestNamed(const QString &id)
{
    return J("[{'id':'%1','name':'N','video':'https://cdn.test/%1.mp4'}]")
        .replace("%1", id.toUtf8());
}

Wallpaper record(const QString &id, bool isLiked = false)
{
    Wallpaper wallpaper;
    wallpaper.setId(id);
    wallpaper.setName(id);
    wallpaper.setIsLiked(isLiked);
    return wallpaper;
}

} // namespace

class TestCatalogueClients : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<LoopbackHttpServer> m_server;

    QString defaultsPath() const { return m_dir.filePath(u"defaults.json"_s); }
    std::optional<QStringList> storedIDs() const
    {
        return m_defaults->stringArray(LikedWallpaperStore::kLikedIDsKey);
    }
    void useManifestURL(const QUrl &url)
    {
        qputenv("LUMIVALE_MANIFEST_URL", url.toString().toUtf8());
    }
    // The likes go to the manifest's host.
    void useServer() { useManifestURL(m_server->url(u"/catalogue/manifest.json?x=1"_s)); }
    void loadAndWait(WallpaperLibrary &library) { QCoro::waitFor(library.load()); }

private Q_SLOTS:
    void init()
    {
        m_defaults = std::make_unique<UserDefaults>(defaultsPath());
        m_server = std::make_unique<LoopbackHttpServer>();
        qputenv("LUMIVALE_MANIFEST_URL", ""); // no service unless a case names one
    }

    void cleanup()
    {
        m_server.reset();
        m_defaults.reset();
        QFile::remove(defaultsPath());
        qunsetenv("LUMIVALE_MANIFEST_URL");
    }

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
        QVERIFY(!library.loadError() && !library.isLoading());
        QCOMPARE(m_server->requests().size(), 0);
    }

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
        QCOMPARE(request.method + ' ' + request.path(), QByteArray("GET /api/manifest.json"));
        const QString id = deviceID(*m_defaults);
        // Every stale device ID goes; the real one comes last.
        QCOMPARE(request.query(), "lang=en&b=x%26y&deviceId=" + id.toLatin1());
    }

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
        QVERIFY(library.wallpapers().isEmpty() && !library.isLoading());
        QVERIFY(library.loadError() && !library.loadError()->isEmpty());
        QVERIFY2(library.loadError()->startsWith(expected), qPrintable(*library.loadError()));
    }

    void theNewestLoadDecidesWhateverAnswersLast()
    {
        useManifestURL(m_server->url(u"/m"_s));
        m_server->enqueue({200, {}, manifestNamed(u"older"_s), 400});
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

    void endpointIsTheHostsLikesPath_data()
    {
        QTest::addColumn<QString>("manifest");
        QTest::addColumn<QString>("endpoint");
        QTest::newRow("path, query and port") << "https://h.example:8443/v1/manifest.json?a=b#f"
                                              << "https://h.example:8443/likes";
        QTest::newRow("no port") << "http://h.example/m.json"
                                 << "http://h.example/likes";
        QTest::newRow("empty") << "" << QString();
        QTest::newRow("no host") << "file:///tmp/manifest.json" << QString();
        QTest::newRow("relative") << "manifest.json" << QString();
        QTest::newRow("not a URL") << "http://h .example/m" << QString();
    }

    void endpointIsTheHostsLikesPath()
    {
        QFETCH(QString, manifest);
        QFETCH(QString, endpoint);
        const std::optional<QUrl> url = LikedWallpaperStore::likesEndpoint(manifest);
        QCOMPARE(url.has_value(), !endpoint.isNull());
        if (url)
            QCOMPARE(url->toString(), endpoint);
    }

    void toggleWritesSortedAndPostsExactlyTheBody()
    {
        useServer();
        m_server->setDefaultResponse({204, {}, {}});
        m_defaults->setStringArray(LikedWallpaperStore::kLikedIDsKey, {u"m"_s});
        LikedWallpaperStore store(*m_defaults);
        QSignalSpy changed(&store, &LikedWallpaperStore::idsChanged);
        QSignalSpy finished(&store, &LikedWallpaperStore::reportFinished);

        store.toggle(record(u"z"_s));
        store.toggle(record(u"a"_s));
        // At once, before any answer.
        QCOMPARE(store.ids(), (QSet<QString>{u"a"_s, u"m"_s, u"z"_s}));
        QCOMPARE(storedIDs(), QStringList({u"a"_s, u"m"_s, u"z"_s}));
        QCOMPARE(changed.size(), 2);
        QVERIFY(m_server->waitForRequests(2));

        store.toggle(record(u"m"_s)); // unliking
        QCOMPARE(storedIDs(), QStringList({u"a"_s, u"z"_s}));
        QVERIFY(m_server->waitForRequests(3));
        QTRY_COMPARE(finished.size(), 3);
        // Exactly these members, in the order toggled.
        const QString device = deviceID(*m_defaults);
        for (const auto &[i, id, liked] : {std::tuple(0, u"z"_s, true), std::tuple(1, u"a"_s, true),
                                           std::tuple(2, u"m"_s, false)}) {
            const auto &request = m_server->requests()[i];
            QCOMPARE(request.method + ' ' + request.target, QByteArray("POST /likes"));
            QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
            QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                     (QJsonObject{
                         {u"deviceId"_s, device}, {u"liked"_s, liked}, {u"wallpaperId"_s, id}}));
        }
    }

    // The store undoes a toggle the service refuses or never confirms.
    void refusedToggleIsUndone_data()
    {
        QTest::addColumn<bool>("wasLiked");
        QTest::addColumn<Response>("response");
        QTest::addColumn<bool>("kept");
        Response dropped{200, {}, QByteArray(64, 'x')};
        dropped.dropMidBody = true;
        QTest::newRow("like, 500") << false << Response{500, {}, {}} << false;
        QTest::newRow("like, 404") << false << Response{404, {}, {}} << false;
        QTest::newRow("like, 204") << false << Response{204, {}, {}} << true;
        QTest::newRow("like, 200") << false << Response{200, {}, {}} << true;
        QTest::newRow("like, no answer") << false << LoopbackHttpServer::silence() << false;
        QTest::newRow("like, dropped mid-body") << false << dropped << false;
        QTest::newRow("unlike, 500") << true << Response{500, {}, {}} << false;
    }

    void refusedToggleIsUndone()
    {
        QFETCH(bool, wasLiked);
        QFETCH(Response, response);
        QFETCH(bool, kept);
        useServer();
        m_server->enqueue(response);
        if (wasLiked)
            m_defaults->setStringArray(LikedWallpaperStore::kLikedIDsKey, {u"w"_s});
        LikedWallpaperStore store(*m_defaults);
        store.setReportTimeout(1000);
        QSignalSpy finished(&store, &LikedWallpaperStore::reportFinished);
        store.toggle(record(u"w"_s));
        QCOMPARE(store.isLiked(u"w"_s), !wasLiked); // at once
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(2).toBool(), kept);
        const bool liked = kept != wasLiked;
        QCOMPARE(store.isLiked(u"w"_s), liked);
        QCOMPARE(storedIDs(), liked ? QStringList({u"w"_s}) : QStringList());
    }

    void aLateFailureNeverOverturnsANewerToggle_data()
    {
        QTest::addColumn<int>("toggles");
        QTest::newRow("toggle, toggle back") << 2;
        QTest::newRow("toggle three times") << 3;
    }

    void aLateFailureNeverOverturnsANewerToggle()
    {
        // The first report fails after all the others were accepted.
        QFETCH(int, toggles);
        useServer();
        m_server->enqueue({500, {}, {}, 300});
        m_server->setDefaultResponse({204, {}, {}});
        LikedWallpaperStore store(*m_defaults);
        QSignalSpy finished(&store, &LikedWallpaperStore::reportFinished);
        for (int i = 1; i <= toggles; ++i) {
            store.toggle(record(u"w"_s));
            QVERIFY(m_server->waitForRequests(i));
        }
        QTRY_COMPARE(finished.size(), toggles);
        QVERIFY(!finished.last().at(2).toBool());
        const bool lastChoice = toggles % 2 == 1;
        QCOMPARE(store.isLiked(u"w"_s), lastChoice);
        QCOMPARE(storedIDs(), lastChoice ? QStringList({u"w"_s}) : QStringList());
    }

    // A stored value that is not a list of texts starts empty.
    void withoutEndpointLikesStayLocal()
    {
        m_defaults->setString(LikedWallpaperStore::kLikedIDsKey, u"w"_s);
        LikedWallpaperStore store(*m_defaults);
        QVERIFY(!store.endpoint() && store.ids().isEmpty());
        store.toggle(record(u"w"_s));
        store.toggle(record(u"v"_s));
        store.toggle(record(u"v"_s));
        QCOMPARE(store.ids(), (QSet<QString>{u"w"_s}));
        QCOMPARE(storedIDs(), QStringList({u"w"_s}));
    }

    // A library and a store destroyed while their requests are out: the late
    // answers publish nothing and undo nothing.
    void clientsDestroyedMidRequestAreHarmless()
    {
        useServer();
        m_server->enqueue({200, {}, manifestNamed(u"x"_s), 300});
        m_server->enqueue({500, {}, {}, 300});
        auto library = std::make_unique<WallpaperLibrary>(*m_defaults);
        auto store = std::make_unique<LikedWallpaperStore>(*m_defaults);
        QSignalSpy answered(&sharedNetworkAccessManager(), &QNetworkAccessManager::finished);
        QCoro::Task<> task = library->load();
        QVERIFY(m_server->waitForRequests(1));
        store->toggle(record(u"w"_s));
        QVERIFY(m_server->waitForRequests(2));
        library.reset();
        store.reset();
        QTRY_COMPARE(answered.count(), 2); // after their clients are gone
        QCOMPARE(storedIDs(), QStringList({u"w"_s}));
    }

    void mergeAddsServerLikesNeverRemoves()
    {
        m_defaults->setStringArray(LikedWallpaperStore::kLikedIDsKey, {u"local"_s});
        LikedWallpaperStore store(*m_defaults);
        QSignalSpy changed(&store, &LikedWallpaperStore::idsChanged);
        QSignalSpy written(m_defaults.get(), &UserDefaults::changed);

        // No liked records: nothing assigned, nothing written.
        store.mergeServerLikes({record(u"a"_s), record(u"b"_s)});
        QCOMPARE(changed.size(), 0);
        QCOMPARE(written.size(), 0);

        store.mergeServerLikes({record(u"b"_s, true), record(u"a"_s)});
        QCOMPARE(store.ids(), (QSet<QString>{u"local"_s, u"b"_s}));
        QCOMPARE(storedIDs(), QStringList({u"b"_s, u"local"_s}));

        // Already known: unchanged, but assigned and written again.
        store.mergeServerLikes({record(u"local"_s, true)});
        QCOMPARE(store.ids(), (QSet<QString>{u"local"_s, u"b"_s}));
        QCOMPARE(changed.size(), 2);
        QCOMPARE(written.size(), 2);
    }

    // Made once, as an upper-case random UUID, when none or an empty one is
    // stored; any other stored value is kept as it is.
    void deviceIDIsCreatedOnce()
    {
        m_defaults->setString(kDeviceIDKey, QString());
        const QString id = deviceID(*m_defaults);
        QCOMPARE(QUuid::fromString(id).toString(QUuid::WithoutBraces).toUpper(), id);
        QCOMPARE(QUuid::fromString(id).version(), QUuid::Random);
        QCOMPARE(m_defaults->string(kDeviceIDKey), id);
        QCOMPARE(deviceID(*m_defaults), id);
        m_defaults->setString(kDeviceIDKey, u"kept-as-is"_s);
        QCOMPARE(deviceID(*m_defaults), u"kept-as-is"_s);
    }
};

LUMIVALE_TEST_MAIN(TestCatalogueClients)
#include "tst_catalogueclients.moc"
