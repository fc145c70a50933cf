// The whole path on a private X server: Lumivale loads the demo catalogue from
// lumivale-catalog, a like reaches the server's count, `lumivale --apply`
// downloads a wallpaper and the desktop shows it, and a restart brings it back.

#include "catalogue/likedwallpaperstore.h"
#include "catalogue/wallpaperlibrary.h"
#include "gallery/galleryscene.h"
#include "platform/userdefaults.h"
#include "service/catalogueserver.h"
#include "support/xsession.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <httplib.h>
#include <qcorotask.h>

using namespace Qt::StringLiterals;
using namespace lumivale;
using namespace lumivale::test;

namespace {

const QString kExecutable = QStringLiteral(LUMIVALE_EXECUTABLE);
// Orange at the top, violet at the bottom, whatever the frame.
const QString kWallpaper = u"sunset-drift"_s;
constexpr int kWidth = 1280, kHeight = 720;

} // namespace

class TestCatalogueEndToEnd : public QObject
{
    Q_OBJECT

public:
    XSession *session = nullptr;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<service::CatalogueServer> m_server;
    std::unique_ptr<QProcess> m_app;

    qint64 serverLikeCount(const QString &wallpaper)
    {
        httplib::Client client("127.0.0.1", m_server->port());
        const auto result = client.Get("/manifest.json?deviceId=observer");
        const auto records = decodeManifest(result ? result->body : std::string());
        for (const Wallpaper &record : records.value_or(QList<Wallpaper>()))
            if (record.id() == wallpaper)
                return record.likeCount();
        return -1;
    }

    std::pair<int, QString> command(const QStringList &arguments)
    {
        QProcess second;
        second.start(kExecutable, arguments);
        if (!second.waitForStarted() ||
            !QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 120000))
            return {-1, u"timed out"_s};
        return {second.exitCode(),
                QString::fromUtf8(second.readAllStandardOutput() + second.readAllStandardError())};
    }

    void startApp()
    {
        m_app = std::make_unique<QProcess>();
        m_app->setProcessChannelMode(QProcess::ForwardedChannels);
        m_app->start(kExecutable, {u"--login-item"_s});
        QVERIFY(m_app->waitForStarted());
        QVERIFY(QTest::qWaitFor(
            [this] { return !command({u"--status"_s}).second.contains(u"not running"_s); }, 60000));
    }

    void stopApp()
    {
        if (!m_app)
            return;
        m_app->terminate();
        QVERIFY(QTest::qWaitFor([this] { return m_app->state() == QProcess::NotRunning; }, 30000));
        m_app.reset();
    }

    bool desktopShowsSunset()
    {
        const QColor top = XSession::colorAt(QPoint(kWidth / 2, 10));
        const QColor bottom = XSession::colorAt(QPoint(kWidth / 2, kHeight - 10));
        return top.red() > top.blue() + 60 && bottom.blue() > bottom.red() + 20;
    }

private Q_SLOTS:
    void initTestCase()
    {
        service::ServeOptions options;
        options.libraryFolder = u"" LUMIVALE_DEMO_DIR ""_s;
        options.port = 0;
        options.database = m_dir.filePath(u"likes.sqlite"_s);
        options.logRequests = false;
        m_server = std::make_unique<service::CatalogueServer>(options);
        QCOMPARE(errorOf(m_server->bind()), std::nullopt);
        m_server->start();
        qputenv("LUMIVALE_MANIFEST_URL",
                u"http://127.0.0.1:%1/manifest.json"_s.arg(m_server->port()).toUtf8());
        qputenv("LUMIVALE_DESKTOP_PICTURES", "x11");
    }

    void cleanupTestCase() { stopApp(); }

    void loadsTheCatalogueAndLikesReachTheServer()
    {
        WallpaperLibrary library(UserDefaults::standard());
        QCoro::waitFor(library.load());
        QVERIFY2(!library.loadError(), qPrintable(library.loadErrorText()));
        QVERIFY(library.wallpapers().size() >= 10);
        const auto found = std::ranges::find(library.wallpapers(), kWallpaper, &Wallpaper::id);
        QVERIFY(found != library.wallpapers().end());
        QCOMPARE(found->category(), u"Lofi"_s);

        LikedWallpaperStore likes(UserDefaults::standard());
        const qint64 before = serverLikeCount(kWallpaper);
        likes.toggle(*found);
        QVERIFY(QTest::qWaitFor([&] { return serverLikeCount(kWallpaper) == before + 1; }, 15000));
    }

    void appliesAWallpaperAndRestoresItAfterARestart()
    {
        startApp();
        const auto [code, text] = command({u"--apply"_s, kWallpaper});
        QVERIFY2(code == 0, qPrintable(text));
        QVERIFY(QTest::qWaitFor([this] { return desktopShowsSunset(); }, 30000));
        QVERIFY(saveScreenshot(u"catalogue-applied.png"_s, QRect(0, 0, kWidth, kHeight)));

        stopApp();
        XSession::run(u"xsetroot"_s, {u"-solid"_s, u"black"_s});
        startApp();
        QVERIFY(QTest::qWaitFor(
            [this] { return command({u"--status"_s}).second.contains(kWallpaper); }, 30000));
        QVERIFY(QTest::qWaitFor([this] { return desktopShowsSunset(); }, 30000));
        QVERIFY(saveScreenshot(u"catalogue-restored.png"_s, QRect(0, 0, kWidth, kHeight)));
    }
};

LUMIVALE_X11_TEST_MAIN(TestCatalogueEndToEnd, 1280, 720)
#include "tst_catalogueendtoend.moc"
