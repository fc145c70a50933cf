#include "catalogue/deviceid.h"
#include "catalogue/httpclient.h"
#include "catalogue/likedwallpaperstore.h"
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
using namespace Qt::StringLiterals;
using lumivale::test::LoopbackHttpServer;

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

namespace {

Wallpaper record(const QString &id, bool isLiked = false)
{
    Wallpaper wallpaper;
    wallpaper.setId(id);
    wallpaper.setName(id);
    wallpaper.setIsLiked(isLiked);
    return wallpaper;
}

LoopbackHttpServer::Response status(int code)
{
    LoopbackHttpServer::Response response;
    response.status = code;
    return response;
}

QSet<QString> setOf(const QStringList &list)
{
    return QSet<QString>(list.begin(), list.end());
}

} // namespace

class TestLikedWallpaperStore : public QObject
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
    void useServer()
    {
        qputenv("LUMIVALE_MANIFEST_URL",
                m_server->url(u"/catalogue/manifest.json?x=1"_s).toString().toUtf8());
    }

private Q_SLOTS:
    void init()
    {
        m_defaults = std::make_unique<UserDefaults>(defaultsPath());
        m_server = std::make_unique<LoopbackHttpServer>();
    }

    void cleanup()
    {
        m_server.reset();
        m_defaults.reset();
        QFile::remove(defaultsPath());
        qunsetenv("LUMIVALE_MANIFEST_URL");
    }

    // --- the endpoint ------------------------------------------------------

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

    // --- toggling and the like protocol ---------------------------------------

    void toggleWritesSortedAndPostsExactlyTheBody()
    {
        useServer();
        m_server->setDefaultResponse(status(204));
        m_defaults->setStringArray(LikedWallpaperStore::kLikedIDsKey, {u"m"_s});
        LikedWallpaperStore store(*m_defaults);
        QSignalSpy changed(&store, &LikedWallpaperStore::idsChanged);
        QSignalSpy finished(&store, &LikedWallpaperStore::reportFinished);

        store.toggle(record(u"z"_s));
        store.toggle(record(u"a"_s));
        // At once, before any answer.
        QCOMPARE(store.ids(), setOf({u"a"_s, u"m"_s, u"z"_s}));
        QCOMPARE(storedIDs(), QStringList({u"a"_s, u"m"_s, u"z"_s}));
        QCOMPARE(changed.size(), 2);

        QVERIFY(m_server->waitForRequests(2));
        QTRY_COMPARE(finished.size(), 2);
        // Exactly these members, in the order toggled.
        const auto body = [this](qsizetype i) {
            const auto &request = m_server->requests()[i];
            [&] {
                QCOMPARE(QByteArray(request.method + ' ' + request.target),
                         QByteArray("POST /likes"));
                QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
            }();
            return QJsonDocument::fromJson(request.body).object();
        };
        const QString device = deviceID(*m_defaults);
        for (const auto &[i, id] : {std::pair(0, u"z"_s), std::pair(1, u"a"_s)})
            QCOMPARE(
                body(i),
                (QJsonObject{{u"deviceId"_s, device}, {u"liked"_s, true}, {u"wallpaperId"_s, id}}));

        // Unliking sends liked false.
        store.toggle(record(u"m"_s));
        QVERIFY(m_server->waitForRequests(3));
        QCOMPARE(body(2)[u"liked"], QJsonValue(false));
        QCOMPARE(storedIDs(), QStringList({u"a"_s, u"z"_s}));
    }

    // The store undoes a toggle the service refuses or never confirms.
    void refusedToggleIsUndone_data()
    {
        QTest::addColumn<bool>("wasLiked");
        QTest::addColumn<LoopbackHttpServer::Response>("response");
        QTest::addColumn<bool>("kept");
        LoopbackHttpServer::Response dropped = status(200);
        dropped.body = QByteArray(64, 'x');
        dropped.dropMidBody = true;
        QTest::newRow("like, 500") << false << status(500) << false;
        QTest::newRow("like, 404") << false << status(404) << false;
        QTest::newRow("like, 204") << false << status(204) << true;
        QTest::newRow("like, 200") << false << status(200) << true;
        QTest::newRow("like, no answer") << false << LoopbackHttpServer::silence() << false;
        QTest::newRow("like, dropped mid-body") << false << dropped << false;
        QTest::newRow("unlike, 500") << true << status(500) << false;
    }

    void refusedToggleIsUndone()
    {
        QFETCH(bool, wasLiked);
        QFETCH(LoopbackHttpServer::Response, response);
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
        LoopbackHttpServer::Response slowFailure = status(500);
        slowFailure.delayMs = 300;
        m_server->enqueue(slowFailure);
        m_server->setDefaultResponse(status(204));
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

    void withoutEndpointLikesStayLocal()
    {
        qputenv("LUMIVALE_MANIFEST_URL", "");
        LikedWallpaperStore store(*m_defaults);
        QVERIFY(!store.endpoint());
        store.toggle(record(u"w"_s));
        store.toggle(record(u"v"_s));
        store.toggle(record(u"v"_s));
        QCOMPARE(store.ids(), setOf({u"w"_s}));
        QCOMPARE(storedIDs(), QStringList({u"w"_s}));
    }

    void storeDestroyedWhileReportingIsHarmless()
    {
        useServer();
        LoopbackHttpServer::Response slow = status(500);
        slow.delayMs = 100;
        m_server->enqueue(slow);
        auto store = std::make_unique<LikedWallpaperStore>(*m_defaults);
        QSignalSpy answered(&sharedNetworkAccessManager(), &QNetworkAccessManager::finished);
        store->toggle(record(u"w"_s));
        QVERIFY(m_server->waitForRequests(1));
        store.reset();
        // The refusal arrives after the store is gone: nothing is undone.
        QTRY_COMPARE(answered.count(), 1);
        QCOMPARE(storedIDs(), QStringList({u"w"_s}));
    }

    // --- persistence and merging ------------------------------------------------

    void malformedStoredValueStartsEmpty()
    {
        m_defaults->setString(LikedWallpaperStore::kLikedIDsKey, u"w"_s);
        LikedWallpaperStore store(*m_defaults);
        QVERIFY(store.ids().isEmpty());
    }

    void mergeAddsServerLikesNeverRemoves()
    {
        qputenv("LUMIVALE_MANIFEST_URL", "");
        m_defaults->setStringArray(LikedWallpaperStore::kLikedIDsKey, {u"local"_s});
        LikedWallpaperStore store(*m_defaults);
        QSignalSpy changed(&store, &LikedWallpaperStore::idsChanged);
        QSignalSpy written(m_defaults.get(), &UserDefaults::changed);

        // No liked records: nothing assigned, nothing written.
        store.mergeServerLikes({record(u"a"_s), record(u"b"_s)});
        QCOMPARE(changed.size(), 0);
        QCOMPARE(written.size(), 0);

        store.mergeServerLikes({record(u"b"_s, true), record(u"a"_s)});
        QCOMPARE(store.ids(), setOf({u"local"_s, u"b"_s}));
        QCOMPARE(storedIDs(), QStringList({u"b"_s, u"local"_s}));

        // Already known: unchanged, but assigned and written again.
        store.mergeServerLikes({record(u"local"_s, true)});
        QCOMPARE(store.ids(), setOf({u"local"_s, u"b"_s}));
        QCOMPARE(changed.size(), 2);
        QCOMPARE(written.size(), 2);
    }

    // --- the device ID ------------------------------------------------------------

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

LUMIVALE_TEST_MAIN(TestLikedWallpaperStore)
#include "tst_likedwallpaperstore.moc"
