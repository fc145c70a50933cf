// The update check against an appcast served on loopback, with downloads
// signed by a key pair made for each test.

#include "app/updater.h"
#include "app/updatesignature.h"
#include "platform/fake/fakeplatform.h"
#include "support/loopbackhttpserver.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <openssl/evp.h>
#include <qcoro/qcorotask.h>

using namespace lumivale;
using namespace Qt::StringLiterals;
using namespace lumivale::updateerror;
using lumivale::test::LoopbackHttpServer;

namespace {

// An Ed25519 key pair, as a release's signing tool would hold it.
class SigningKey
{
public:
    bool isValid() const { return m_key != nullptr; }

    QByteArray publicKeyBase64() const
    {
        QByteArray raw(32, Qt::Uninitialized);
        size_t length = 32;
        EVP_PKEY_get_raw_public_key(m_key.get(), bytes(raw), &length);
        return raw.toBase64();
    }

    // Empty when signing fails.
    QByteArray signatureBase64(QByteArray message) const
    {
        const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                              &EVP_MD_CTX_free);
        QByteArray signature(64, Qt::Uninitialized);
        size_t length = 64;
        const bool signs =
            EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) == 1 &&
            EVP_DigestSign(context.get(), bytes(signature), &length, bytes(message),
                           size_t(message.size())) == 1;
        return signs ? signature.toBase64() : QByteArray();
    }

private:
    static unsigned char *bytes(QByteArray &data) { return reinterpret_cast<uchar *>(data.data()); }

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key{
        EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free};
};

struct FeedItem
{
    QString version;
    QString shortVersion;
    QString url;
    QByteArray signature;
    qint64 length = -1;
    // The version as the enclosure's attribute rather than as an element.
    bool versionOnEnclosure = false;
};
// The path of the release's archive on the loopback server.
constexpr char kArchive[] = "/dl/Lumivale-1.2.0.tar.gz";
// Plain http beyond loopback, and the refusal to fetch from it.
constexpr char kElsewhere[] = "http://updates.example/appcast.xml";
const QString kRefusal = u"only over https, not from \"http://updates.example/appcast.xml\""_s;

QByteArray appcastFeed(const QList<FeedItem> &items, const QString &prefix = u"sparkle"_s)
{
    QString xml = QStringLiteral(R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:%1="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel>
    <title>Lumivale</title>
)")
                      .arg(prefix);
    for (const FeedItem &item : items) {
        xml += u"    <item>\n      <title>Version %1</title>\n"_s.arg(item.version);
        if (!item.versionOnEnclosure && !item.version.isNull())
            xml += u"      <%1:version>%2</%1:version>\n"_s.arg(prefix, item.version);
        if (!item.shortVersion.isEmpty())
            xml += u"      <%1:shortVersionString>%2</%1:shortVersionString>\n"_s.arg(
                prefix, item.shortVersion);
        xml += u"      <enclosure url=\"%1\" type=\"application/gzip\""_s.arg(item.url);
        if (item.length >= 0)
            xml += u" length=\"%1\""_s.arg(item.length);
        if (!item.signature.isNull())
            xml += u" %1:edSignature=\"%2\""_s.arg(prefix, QString::fromLatin1(item.signature));
        if (item.versionOnEnclosure)
            xml += u" %1:version=\"%2\""_s.arg(prefix, item.version);
        xml += u"/>\n    </item>\n"_s;
    }
    xml += u"  </channel>\n</rss>\n"_s;
    return xml.toUtf8();
}

LoopbackHttpServer::Response ok(const QByteArray &body)
{
    return {200, {}, body};
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LoopbackHttpServer> m_server;
    std::unique_ptr<fake::FakeUserPrompts> m_prompts;
    std::unique_ptr<SigningKey> m_key;
    // What the server serves, by path.
    QHash<QByteArray, LoopbackHttpServer::Response> m_routes;
    // Binary, and large enough to arrive in several reads.
    const QByteArray m_payload =
        QByteArrayLiteral("Lumivale 1.2.0 archive\0\x01\x02\xff").repeated(5000);

    QString downloads() const { return m_dir->filePath(u"Downloads"_s); }
    QStringList downloadedFiles() const
    {
        return QDir(downloads())
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    QString url(const char *path) const
    {
        return m_server->url(QString::fromLatin1(path)).toString();
    }

    // Checks the loopback feed unless given another.
    std::unique_ptr<UpdaterController> controller(const QString &currentVersion = u"1.0"_s,
                                                  std::optional<QString> publicKey = std::nullopt,
                                                  std::optional<QUrl> feed = std::nullopt)
    {
        auto updater = std::make_unique<UpdaterController>(
            feed ? *feed : m_server->url(u"/appcast.xml"_s),
            publicKey.value_or(QString::fromLatin1(m_key->publicKeyBase64())), currentVersion,
            *m_prompts);
        updater->setDownloadFolderOverride(downloads());
        return updater;
    }

    void serveFeed(const QList<FeedItem> &items)
    {
        m_routes.insert("/appcast.xml", ok(appcastFeed(items)));
    }
    // One newer version whose archive is `m_payload` with its signature.
    FeedItem signedRelease(const QString &version = u"1.2.0"_s)
    {
        m_routes.insert(kArchive, ok(m_payload));
        return {version, QString(), url(kArchive), m_key->signatureBase64(m_payload),
                m_payload.size()};
    }
    int requestsFor(const QByteArray &path) const
    {
        return int(
            std::ranges::count(m_server->requests(), path, &LoopbackHttpServer::Request::path));
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_server = std::make_unique<LoopbackHttpServer>();
        m_prompts = std::make_unique<fake::FakeUserPrompts>();
        m_key = std::make_unique<SigningKey>();
        QVERIFY(m_key->isValid());
        m_routes.clear();
        m_server->setHandler([this](const LoopbackHttpServer::Request &request) {
            return m_routes.value(request.path(), {404, {}, "not here"});
        });
    }

    void versionsCompareByNumericParts_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        const std::tuple<const char *, const char *, const char *, int> rows[]{
            {"equal", "1.2.3", "1.2.3", 0},
            {"numbers, not text", "1.10", "1.9", 1},
            {"missing parts are zero", "1.0", "1.0.0", 0},
            {"missing parts, shorter newer", "1.1", "1.0.9", 1},
            {"major wins", "2", "1.99.99", 1},
            {"leading zeros", "1.02", "1.2", 0},
            {"beyond 64 bits", "1.18446744073709551617", "1.18446744073709551616", 1},
            {"pre-release before release", "2.0b1", "2.0", -1},
            {"pre-releases as text", "2.0b2", "2.0b1", 1},
            {"pre-release after the previous", "2.0b1", "1.9", 1},
            {"white space", " 1.2 ", "1.2", 0},
        };
        for (const auto &[name, a, b, order] : rows)
            QTest::newRow(name) << QString::fromLatin1(a) << QString::fromLatin1(b) << order;
    }

    void versionsCompareByNumericParts()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(appcast::compareVersions(a, b), order);
        QCOMPARE(appcast::compareVersions(b, a), -order);
    }

    void feedItemsAreReadAndUnusableOnesSkipped()
    {
        const QByteArray signature = m_key->signatureBase64("x");
        const QUrl feedURL(u"https://updates.example/lumivale/appcast.xml"_s);
        // Any prefix bound to the namespace will do.
        const QByteArray feed = appcastFeed(
            {
                {u"1.1"_s, u"1.1 (beta)"_s, u"https://cdn.example/a.tar.gz"_s, signature, 1234},
                {u"1.2"_s, QString(), u"b.tar.gz"_s, signature, -1, true}, // relative; attribute
                {QString(), u"1.3"_s, u"https://cdn.example/c.tar.gz"_s, signature}, // no version
                {u"1.4"_s, QString(), QString(), signature},                         // no address
                {u"1.5"_s, QString(), u"ftp://cdn.example/e.tar.gz"_s, signature},   // not http(s)
                {u"1.9"_s, QString(), u"http://cdn.example/i.tar.gz"_s, signature},  // plain http
                {u"1.6"_s, QString(), u"https://cdn.example/f.tar.gz"_s, QByteArray()}, // unsigned
                {u"1.7"_s, QString(), u"https://cdn.example/g.tar.gz"_s,
                 "c2hvcnQ="},                                                     // not 64 bytes
                {u"1.8"_s, QString(), u"https://cdn.example/h.tar.gz"_s, "%%%%"}, // not base64
            },
            u"sp"_s);
        const auto parsed = appcast::parse(feed, feedURL);
        QVERIFY(parsed);
        const QList<AppcastItem> &items = *parsed;
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].title, u"Version 1.1"_s);
        QCOMPARE(items[0].version, u"1.1"_s);
        QCOMPARE(items[0].displayVersion(), u"1.1 (beta)"_s);
        QCOMPARE(items[0].url, QUrl(u"https://cdn.example/a.tar.gz"_s));
        QCOMPARE(items[0].length, 1234);
        QCOMPARE(items[0].mimeType, u"application/gzip"_s);
        QCOMPARE(items[0].edSignature, QByteArray::fromBase64(signature));
        QCOMPARE(items[1].version, u"1.2"_s);
        QCOMPARE(items[1].displayVersion(), u"1.2"_s);
        QCOMPARE(items[1].url, QUrl(u"https://updates.example/lumivale/b.tar.gz"_s));
        QCOMPARE(items[1].length, -1);
        // Plain http only to a loopback address.
        QVERIFY(appcast::isAllowedURL(QUrl(u"http://localhost:8080/a"_s)));
        QVERIFY(appcast::isAllowedURL(QUrl(u"http://[::1]/a"_s)));
    }

    void badFeedsAreClearErrors_data()
    {
        QTest::addColumn<QByteArray>("feed");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("not XML") << QByteArray("{\"version\": \"2.0\"}") << int(InvalidFeed)
                                 << "not valid XML";
        QTest::newRow("cut off")
            << appcastFeed({{u"2.0"_s, QString(), u"https://a.example/x"_s, "AAAA"}}).left(150)
            << int(InvalidFeed) << "not valid XML";
        QTest::newRow("empty") << QByteArray() << int(InvalidFeed) << "XML";
        QTest::newRow("another document") << QByteArray("<html><body>Hello</body></html>")
                                          << int(InvalidFeed) << "not an RSS feed";
        QTest::newRow("no items") << appcastFeed({}) << int(NoUsableItems) << "lists no updates";
        QTest::newRow("no usable items")
            << appcastFeed({{u"2.0"_s, QString(), u"https://a.example/x"_s, QByteArray()}})
            << int(NoUsableItems) << "signature";
        // Elements of the same local name in another namespace are not ours.
        QTest::newRow("another namespace")
            << appcastFeed({{u"2.0"_s, QString(), u"https://a.example/x"_s,
                             QByteArray(64, 's').toBase64()}})
                   .replace("http://www.andymatuschak.org/xml-namespaces/sparkle",
                            "http://example.com/other")
            << int(NoUsableItems) << "";
    }

    void badFeedsAreClearErrors()
    {
        QFETCH(QByteArray, feed);
        QFETCH(int, code);
        QFETCH(QString, mentions);
        const auto parsed = appcast::parse(feed, QUrl(u"https://a.example/f"_s));
        QVERIFY(!parsed);
        const Error &error = parsed.error();
        QCOMPARE(error.domain(), u"Updater"_s);
        QCOMPARE(error.code(), code);
        QVERIFY2(error.description().contains(mentions), qPrintable(error.description()));
    }

    // The newest item of the feed, between older ones, is offered when newer
    // than this version (1.0.1) and, if the user wants it, downloaded (its
    // name and contents: savedFileNames); otherwise this version is up to date.
    void theCheckAsksOrSaysUpToDate_data()
    {
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("question"); // null: not asked
        QTest::addColumn<QString>("alert");    // null: none
        const QString available = u"Lumivale 1.2 is now available\u2014you have 1.0.1. Would you "
                                  u"like to download it now?"_s;
        QTest::newRow("downloaded") << u"1.2.0"_s << true << available << QString();
        QTest::newRow("answered later") << u"1.2.0"_s << false << available << QString();
        const QString upToDate = u"Lumivale 1.0.1 is currently the newest version available."_s;
        QTest::newRow("the same version") << u"1.0.1"_s << true << QString() << upToDate;
        QTest::newRow("an older version") << u"1.0.0"_s << true << QString() << upToDate;
    }
    void theCheckAsksOrSaysUpToDate()
    {
        QFETCH(QString, offered);
        QFETCH(bool, answer);
        QFETCH(QString, question);
        QFETCH(QString, alert);
        FeedItem release = signedRelease(offered);
        release.shortVersion = offered.left(3); // "1.2.0" is shown as "1.2"
        const QByteArray signature = m_key->signatureBase64("x");
        serveFeed({{u"0.9"_s, QString(), url("/a"), signature},
                   release,
                   {u"0.10"_s, QString(), url("/b"), signature}});
        m_prompts->setAnswer(answer);
        auto updater = controller(u"1.0.1"_s);
        QCoro::waitFor(updater->checkForUpdates());
        QCOMPARE(m_prompts->questions().size(), question.isNull() ? 0 : 1);
        if (!question.isNull())
            QCOMPARE(m_prompts->questions()[0].informativeText, question);
        QCOMPARE(m_prompts->alerts().size(), alert.isNull() ? 0 : 1);
        if (!alert.isNull()) {
            QCOMPARE(m_prompts->alerts()[0].message, u"You're up to date!"_s);
            QCOMPARE(m_prompts->alerts()[0].informativeText, alert);
        }
        QCOMPARE(m_prompts->activationsBeforePrompts(), 1);
        const bool downloaded = !question.isNull() && answer;
        QCOMPARE(downloadedFiles().size(), downloaded ? 1 : 0);
        QCOMPARE(m_prompts->revealedFiles().size(), downloaded ? 1 : 0);
        QCOMPARE(requestsFor(kArchive), downloaded ? 1 : 0);
        QVERIFY(!updater->isChecking());
        QCOMPARE(m_server->requests().first().header("User-Agent"), QByteArray("Lumivale/1.0.1"));
    }

    // Beyond loopback, plain http is refused, also where a redirect leads.
    void feedFailuresAreShownOnce_data()
    {
        // 0: never answers; -1: nothing listens; -2: no URL; -3: on another host
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("404") << 404 << QByteArray() << 404 << "HTTP 404";
        QTest::newRow("malformed")
            << 200 << QByteArray("<rss><channel><item>") << int(InvalidFeed) << "not valid XML";
        QTest::newRow("no answer")
            << 0 << QByteArray() << int(NetworkFailure) << "sent nothing for 1 second";
        QTest::newRow("nothing listens") << -1 << QByteArray() << int(NetworkFailure) << "";
        QTest::newRow("no feed address") << -2 << QByteArray() << int(InvalidFeedURL) << "";
        QTest::newRow("on another host") << -3 << QByteArray() << int(InsecureURL) << kRefusal;
        QTest::newRow("redirected to another host")
            << 302 << QByteArray() << int(InsecureURL) << kRefusal;
    }

    void feedFailuresAreShownOnce()
    {
        QFETCH(int, httpStatus);
        QFETCH(QByteArray, body);
        QFETCH(int, code);
        QFETCH(QString, mentions);
        LoopbackHttpServer::Response response{httpStatus, {{"Location", kElsewhere}}, body};
        response.neverAnswers = httpStatus == 0;
        m_routes.insert("/appcast.xml", response);
        QUrl feed = httpStatus == -2 ? QUrl() : m_server->url(u"/appcast.xml"_s);
        if (httpStatus == -3)
            feed = QUrl(QString::fromLatin1(kElsewhere));
        if (httpStatus == -1)
            m_server.reset();

        auto updater = controller(u"1.0"_s, std::nullopt, feed);
        updater->setTransferTimeout(1000);
        const auto found = QCoro::waitFor(updater->findUpdate());
        QVERIFY(!found);
        QCOMPARE(found.error().domain(), u"Updater"_s);
        QCOMPARE(found.error().code(), code);

        QCoro::waitFor(updater->checkForUpdates());
        QCOMPARE(m_prompts->alerts().size(), 1);
        QCOMPARE(m_prompts->alerts()[0].message, u"Update Error!"_s);
        QVERIFY2(m_prompts->alerts()[0].informativeText.contains(mentions),
                 qPrintable(m_prompts->alerts()[0].informativeText));
        QCOMPARE(m_prompts->activationsBeforePrompts(), 1);
        QCOMPARE(m_prompts->questions().size(), 0);
    }

    // Every way the download can fail, from the server to the signature and the
    // key this build carries, ends in one alert and leaves nothing behind.
    void downloadFailuresLeaveNothing_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("brokenKey"); // null: the release's own key
        QTest::addColumn<QString>("mentions");  // phrases, split at '|'
        QTest::addColumn<int>("downloads");
        const QString badSignature = u"improperly signed|deleted"_s;
        const QString badKey = u"SUPublicEDKey"_s;
        QTest::newRow("404") << u"404"_s << QString() << u"HTTP 404"_s << 1;
        QTest::newRow("shorter than announced") << u"short"_s << QString() << u"announced"_s << 1;
        QTest::newRow("longer than announced") << u"long"_s << QString() << u"announced"_s << 1;
        QTest::newRow("connection dropped") << u"drop"_s << QString() << QString() << 1;
        QTest::newRow("redirected to another host") << u"redirect"_s << QString() << kRefusal << 1;
        QTest::newRow("another key signed it") << u"key"_s << QString() << badSignature << 1;
        QTest::newRow("the file was changed") << u"file"_s << QString() << badSignature << 1;
        QTest::newRow("key not base64") << QString() << u"not a key!"_s << badKey << 0;
        QTest::newRow("key too short")
            << QString() << QString::fromLatin1(QByteArray(31, 'k').toBase64()) << badKey << 0;
        QTest::newRow("key too long")
            << QString() << QString::fromLatin1(QByteArray(33, 'k').toBase64()) << badKey << 0;
        QTest::newRow("key empty") << QString() << QString(u""_s) << badKey << 0;
    }

    void downloadFailuresLeaveNothing()
    {
        QFETCH(QString, failure);
        QFETCH(QString, brokenKey);
        QFETCH(QString, mentions);
        QFETCH(int, downloads);
        FeedItem release = signedRelease();
        if (failure == u"404")
            m_routes.remove(kArchive);
        else if (failure == u"short")
            release.length = m_payload.size() + 1;
        else if (failure == u"long")
            release.length = m_payload.size() - 1;
        else if (failure == u"drop")
            m_routes[kArchive].dropMidBody = true;
        else if (failure == u"redirect")
            m_routes[kArchive] = {302, {{"Location", kElsewhere}}, {}};
        else if (failure == u"key")
            release.signature = SigningKey().signatureBase64(m_payload);
        else if (failure == u"file")
            m_routes[kArchive].body[1000] ^= 1;
        serveFeed({release});
        std::optional<QString> key;
        if (!brokenKey.isNull()) {
            QVERIFY(!updatesignature::decodePublicKey(brokenKey));
            key = brokenKey;
        }

        QCoro::waitFor(controller(u"1.0"_s, key)->checkForUpdates());
        QCOMPARE(m_prompts->questions().size(), 1);
        QCOMPARE(m_prompts->alerts().size(), 1);
        QCOMPARE(m_prompts->alerts()[0].message, u"Update Error!"_s);
        for (const QString &phrase : mentions.split(u'|', Qt::SkipEmptyParts))
            QVERIFY2(m_prompts->alerts()[0].informativeText.contains(phrase),
                     qPrintable(m_prompts->alerts()[0].informativeText));
        QCOMPARE(m_prompts->activationsBeforePrompts(), 2);
        QVERIFY(m_prompts->revealedFiles().isEmpty());
        QCOMPARE(downloadedFiles(), QStringList());
        QCOMPARE(requestsFor(kArchive), downloads);
    }

    void aSecondCheckWhileOneRunsIsIgnored()
    {
        serveFeed({signedRelease(u"1.0"_s)});
        m_routes["/appcast.xml"].delayMs = 200;
        auto updater = controller();
        QCoro::Task<> first = updater->checkForUpdates();
        QVERIFY(updater->isChecking());
        QCoro::waitFor(updater->checkForUpdates()); // returns at once
        QVERIFY(updater->isChecking());
        QCoro::waitFor(first);
        QVERIFY(!updater->isChecking());
        QCOMPARE(requestsFor("/appcast.xml"), 1);
        QCOMPARE(m_prompts->alerts().size(), 1);

        // And a check after it has finished runs again.
        QCoro::waitFor(updater->checkForUpdates());
        QCOMPARE(requestsFor("/appcast.xml"), 2);
    }

    void deletingTheControllerMidCheckIsQuiet_data()
    {
        QTest::addColumn<QByteArray>("slowPath");
        QTest::newRow("while the feed loads") << QByteArray("/appcast.xml");
        QTest::newRow("while the update downloads") << QByteArray(kArchive);
    }

    void deletingTheControllerMidCheckIsQuiet()
    {
        QFETCH(QByteArray, slowPath);
        serveFeed({signedRelease()});
        m_routes[slowPath].delayMs = 10000;
        auto updater = controller();
        QCoro::Task<> check = updater->checkForUpdates();
        const bool downloading = slowPath != "/appcast.xml";
        QVERIFY(m_server->waitForRequests(downloading ? 2 : 1));
        QCOMPARE(downloadedFiles().size(), downloading ? 1 : 0); // the partial file
        updater.reset();                                         // as quitting does
        // Gone at once: a quitting process does not wait for the server.
        QCOMPARE(downloadedFiles(), QStringList());
        QCoro::waitFor(check);
        QCOMPARE(m_prompts->alerts().size(), 0);
        QCOMPARE(m_prompts->questions().size(), downloading ? 1 : 0);
    }

    // The saved name is cleaned of anything hostile, and never overwrites a
    // file already there.
    void savedFileNames_data()
    {
        QTest::addColumn<QString>("name"); // as the download address ends
        QTest::addColumn<QString>("saved");
        QTest::newRow("as published") << u"Lumivale-1.2.0.tar.gz"_s << u"Lumivale-1.2.0.tar.gz"_s;
        QTest::newRow("path") << u"..%2F..%2F.config%2Fautostart"_s << u"autostart"_s;
        QTest::newRow("leading dots") << u"..bashrc"_s << u"bashrc"_s;
        QTest::newRow("control characters") << u"Lumi%07vale%0A.tar.gz"_s << u"Lumivale.tar.gz"_s;
        QTest::newRow("direction override") << u"%E2%80%AEzg.tar.gz"_s << u"zg.tar.gz"_s;
        QTest::newRow("too long") << QString(300, u'a') + u".tar.gz"_s
                                  << QString(248, u'a') + u".tar.gz"_s;
        QTest::newRow("too long in UTF-8")
            << QString(200, QChar(0xE9)) + u".gz"_s << QString(126, QChar(0xE9)) + u".gz"_s;
        QTest::newRow("nothing left") << u"..."_s << u"Lumivale-1.2.0"_s;
        QTest::newRow("an earlier download is kept")
            << u"earlier.tar.gz"_s << u"earlier (1).tar.gz"_s;
    }

    void savedFileNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, saved);
        FeedItem release = signedRelease();
        release.url = url("/dl/") + name;
        serveFeed({release});
        m_server->setHandler([this](const LoopbackHttpServer::Request &request) {
            return request.path() == "/appcast.xml" ? m_routes.value("/appcast.xml")
                                                    : ok(m_payload);
        });
        QStringList files{saved};
        if (name.startsWith(u"earlier")) {
            QDir().mkpath(downloads());
            QFile earlier(downloads() + u'/' + name);
            QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("the user's own file"));
            files.append(name);
        }
        QCoro::waitFor(controller()->checkForUpdates());
        QCOMPARE(m_prompts->alerts().size(), 0);
        QCOMPARE(downloadedFiles(), files);
        QCOMPARE(m_prompts->revealedFiles(), QStringList{downloads() + u'/' + saved});
        for (const QString &file : files) {
            QFile written(downloads() + u'/' + file);
            QVERIFY(written.open(QIODevice::ReadOnly));
            QCOMPARE(written.readAll(),
                     file == saved ? m_payload : QByteArray("the user's own file"));
        }
    }
};

LUMIVALE_TEST_MAIN(TestUpdater)
#include "tst_updater.moc"
