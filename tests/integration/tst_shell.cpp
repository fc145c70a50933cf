// The application as users run it: the `lumivale` executable in a private X
// session with openbox, a tray (trayer) and the catalogue on loopback HTTP.
// What it decides from other applications' windows and the power profile is
// checked on the platform double (tests/app) and on the real sources
// (tst_x11workspace, tst_powerprofilesstate).

#include "app/runtime.h"
#include "support/loopbackhttpserver.h"
#include "support/xsession.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

using namespace lumivale;
using namespace lumivale::test;
using namespace Qt::StringLiterals;

namespace {

const QString kExecutable = QStringLiteral(LUMIVALE_EXECUTABLE);
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;
const QPoint kCentre(kScreenWidth / 2, kScreenHeight / 2);

QString configDir()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME");
}

// Runs an X tool's command line, split at spaces, and returns its output.
QString x(const QString &commandLine)
{
    QStringList words = commandLine.split(u' ');
    return XSession::run(words.takeFirst(), words);
}

Hue hueAtCentre()
{
    return classify(XSession::colorAt(kCentre));
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

public:
    XSession *session = nullptr;

private:
    LoopbackHttpServer m_server;
    std::unique_ptr<QProcess> m_app;
    QProcess m_tray;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        env.insert(u"LUMIVALE_DESKTOP_PICTURES"_s, u"x11"_s);
        env.insert(u"LUMIVALE_MANIFEST_URL"_s, m_server.url(u"/manifest"_s).toString());
        env.remove(u"LUMIVALE_SU_PUBLIC_ED_KEY"_s);
        return env;
    }

    // Starts `lumivale` as the autostart entry does.
    void startApp()
    {
        m_app = std::make_unique<QProcess>();
        m_app->setProcessEnvironment(environment());
        m_app->setProcessChannelMode(QProcess::ForwardedChannels);
        m_app->start(kExecutable, {u"--login-item"_s});
        QVERIFY(m_app->waitForStarted());
        // Ready once it answers commands itself (without an instance the
        // status says "not running").
        QVERIFY(QTest::qWaitFor(
            [this] {
                const auto [code, text] = command({u"--status"_s});
                return code == 0 && !text.contains(u"not running"_s);
            },
            30000));
        QVERIFY(m_app->state() == QProcess::Running);
    }

    // Runs a second `lumivale` and returns its exit status and output; serves
    // HTTP meanwhile.
    std::pair<int, QString> command(const QStringList &arguments)
    {
        QProcess second;
        second.setProcessEnvironment(environment());
        second.start(kExecutable, arguments);
        if (!second.waitForStarted())
            return {-1, {}};
        if (!QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 60000)) {
            second.kill();
            second.waitForFinished(5000);
            return {-1, u"timed out"_s};
        }
        return {second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1,
                QString::fromUtf8(second.readAllStandardOutput() + second.readAllStandardError())};
    }

    QString status() { return command({u"--status"_s}).second; }
    bool playback(const QString &state) { return status().contains(u"playback: "_s + state); }

    void serveRed()
    {
        const QByteArray manifest = uR"([{"id":"red","name":"Red","video":"%1"}])"_s
                                        .arg(m_server.url(u"/red.mp4"_s).toString())
                                        .toUtf8();
        m_server.setHandler([manifest](const LoopbackHttpServer::Request &request) {
            if (request.path() == "/manifest")
                return LoopbackHttpServer::json(manifest);
            if (request.path() == "/red.mp4")
                return LoopbackHttpServer::file(mediaPath(u"red"_s), request);
            return LoopbackHttpServer::Response{404, {}, "not here", 0, false};
        });
    }

    void saveScreenshot(const QString &name)
    {
        QString folder = qEnvironmentVariable("LUMIVALE_SCREENSHOT_DIR");
        if (folder.isEmpty())
            folder = QStringLiteral(LUMIVALE_SCREENSHOT_DIR);
        QDir().mkpath(folder);
        const QString path = QDir(folder).filePath(name);
        XSession::grab(QRect(0, 0, kScreenWidth, kScreenHeight)).save(path, "PNG");
        qInfo("screenshot: %s", qPrintable(path));
    }

private Q_SLOTS:
    void initTestCase()
    {
        serveRed();
        QVERIFY(QFileInfo(kExecutable).isExecutable());
    }

    void cleanup()
    {
        if (m_app)
            endProcess(*m_app, 20000);
        m_app.reset();
        endProcess(m_tray);
        QFile::remove(configDir() + u"/lumivale/lumivale.json"_s);
    }

    void commandsReachTheInstanceAsMeant()
    {
        startApp();
        auto [code, text] = command({u"--apply"_s, mediaPath(u"red"_s)});
        QCOMPARE(code, 0);
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCentre(), Hue::Red, 15000);
        QVERIFY2(playback(u"playing"_s), qPrintable(status()));
        QVERIFY2(status().contains(u"\nrender: "_s), qPrintable(status()));

        // A failure reaches the caller's standard error and exit status.
        std::tie(code, text) = command({u"--apply"_s, u"no-such-wallpaper"_s});
        QCOMPARE(code, 1);
        QVERIFY2(text.contains(u"No such file or wallpaper: no-such-wallpaper"_s),
                 qPrintable(text));

        // An instance that does not answer is given up after 10 s, clearly.
        ::kill(pid_t(m_app->processId()), SIGSTOP);
        std::tie(code, text) = command({u"--status"_s});
        ::kill(pid_t(m_app->processId()), SIGCONT);
        QCOMPARE(code, 1);
        QVERIFY2(text.contains(u"does not answer"_s), qPrintable(text));

        // `lumivale --quit && lumivale`: the new launch waits for the old
        // instance to let go, and is a fresh instance.
        std::unique_ptr<QProcess> old = std::move(m_app);
        QCOMPARE(command({u"--quit"_s}).first, 0);
        startApp();
        QCOMPARE(old->state(), QProcess::NotRunning);
        QCOMPARE(old->exitStatus(), QProcess::NormalExit);
        QCOMPARE(old->exitCode(), 0);

        // SIGTERM freezes the frame into the bare X11 desktop, where the
        // windows were.
        QCOMPARE(command({u"--apply"_s, mediaPath(u"red"_s)}).first, 0);
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCentre(), Hue::Red, 15000);
        const QString frozen =
            qEnvironmentVariable("XDG_DATA_HOME") + u"/Lumivale/FrozenWallpaper.jpg"_s;
        QFile::remove(frozen);
        ::kill(pid_t(m_app->processId()), SIGTERM);
        QVERIFY(m_app->waitForFinished(20000));
        QCOMPARE(m_app->exitCode(), 0);
        QVERIFY(QFileInfo(frozen).size() > 0);
        QVERIFY(x(u"xprop -root _XROOTPMAP_ID"_s).contains(u"pixmap id"_s));
        QCOMPARE(hueAtCentre(), Hue::Red);

        // Nothing runs now; the status says what the next launch restores.
        std::tie(code, text) = command({u"--status"_s});
        QCOMPARE(code, 0);
        QVERIFY2(text.contains(u"not running"_s), qPrintable(text));
    }

    // A launch at login restores the last wallpaper, before a tray exists;
    // the icon shows once one appears, and its menu works.
    void launchRestoresTheWallpaperAndTheTrayMenuWorks()
    {
        // What a previous run left: the wallpaper's ID; its video comes from
        // the catalogue.
        QDir().mkpath(configDir() + u"/lumivale"_s);
        QFile defaults(configDir() + u"/lumivale/lumivale.json"_s);
        QVERIFY(defaults.open(QIODevice::WriteOnly));
        defaults.write(R"({"currentWallpaperID": "red", "currentWallpaperScreenIDs": []})");
        defaults.close();
        x(u"xsetroot -solid green"_s);
        startApp();
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCentre(), Hue::Red, 20000);
        QVERIFY(playback(u"playing"_s));
        m_tray.start(u"trayer"_s, {u"--edge"_s, u"top"_s, u"--align"_s, u"right"_s,
                                   u"--widthtype"_s, u"pixel"_s, u"--width"_s, u"64"_s,
                                   u"--height"_s, u"32"_s, u"--SetDockType"_s, u"true"_s});
        QVERIFY(m_tray.waitForStarted(10000));
        // Our icon is embedded: a window of ours inside trayer's panel.
        const QRegularExpression iconWindow(QStringLiteral(
            "\"panel\": \\(\"panel\" \"trayer\"\\)[^\\n]*\\n(?:[^\\n]*\\n)*?\\s+0x[0-9a-f]+ "
            "\"lumivale\": \\(\"lumivale-app\" "
            "\"lumivale\"\\)\\s+(\\d+)x(\\d+)\\S*\\s+\\+(\\d+)\\+(\\d+)"));
        QRegularExpressionMatch embedded;
        QTRY_VERIFY_WITH_TIMEOUT(
            (embedded = iconWindow.match(x(u"xwininfo -root -tree"_s))).hasMatch(), 15000);
        const QPoint icon(embedded.captured(3).toInt() + embedded.captured(1).toInt() / 2,
                          embedded.captured(4).toInt() + embedded.captured(2).toInt() / 2);
        x(u"xdotool mousemove %1 %2 click 1"_s.arg(icon.x()).arg(icon.y()));
        // The menu is an override-redirect popup of our process.
        QTRY_VERIFY_WITH_TIMEOUT(
            x(u"xdotool search --onlyvisible --class lumivale"_s).trimmed().size() > 0, 10000);
        QTest::qWait(500);
        saveScreenshot(u"tray-menu.png"_s);
        // Keyboard through the open menu: the meters cannot be chosen, so the
        // seventh choosable item is "Pause / Resume".
        for (int i = 0; i < 7; ++i)
            x(u"xdotool key Down"_s);
        x(u"xdotool key Return"_s);
        QTRY_VERIFY_WITH_TIMEOUT(playback(u"paused"_s), 10000);
    }
};

LUMIVALE_X11_TEST_MAIN(TestShell, 1280, 720)
#include "tst_shell.moc"
