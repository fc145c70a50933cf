// The application as users run it: the `lumivale` executable in a private X
// session with openbox, a tray (trayer), other applications' windows, a faked
// power-profiles-daemon and the catalogue on loopback HTTP.

#include "app/runtime.h"
#include "support/loopbackhttpserver.h"
#include "support/xsession.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace lumivale;
using namespace lumivale::test;

namespace {

const QString kExecutable = QStringLiteral(LUMIVALE_EXECUTABLE);
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;
const QPoint kCentre(kScreenWidth / 2, kScreenHeight / 2);

QString configDir()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME");
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
    QList<QProcess *> m_helpers;
    QByteArray m_output;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("LUMIVALE_DESKTOP_PICTURES"), QStringLiteral("x11"));
        env.insert(QStringLiteral("LUMIVALE_MANIFEST_URL"),
                   m_server.url(QStringLiteral("/manifest")).toString());
        env.remove(QStringLiteral("LUMIVALE_SU_PUBLIC_ED_KEY"));
        return env;
    }

    void startApp(const QStringList &arguments = {QStringLiteral("--login-item")})
    {
        m_output.clear();
        m_app = std::make_unique<QProcess>();
        m_app->setProcessEnvironment(environment());
        m_app->setProcessChannelMode(QProcess::MergedChannels);
        connect(m_app.get(), &QProcess::readyRead, this,
                [this, app = m_app.get()] { m_output += app->readAll(); });
        m_app->start(kExecutable, arguments);
        QVERIFY(m_app->waitForStarted());
        // Ready once it answers commands itself (without an instance the
        // status says "not running").
        QVERIFY(QTest::qWaitFor(
            [this] {
                const auto [code, text] = command({QStringLiteral("--status")});
                return code == 0 && !text.contains(QStringLiteral("not running"));
            },
            30000));
        QVERIFY(m_app->state() == QProcess::Running);
    }

    // Runs a second `lumivale` and returns its exit status and output; serves
    // HTTP meanwhile.
    std::pair<int, QString> command(const QStringList &arguments,
                                    const QString &workingDirectory = {})
    {
        QProcess second;
        second.setProcessEnvironment(environment());
        second.setWorkingDirectory(workingDirectory);
        second.start(kExecutable, arguments);
        if (!second.waitForStarted())
            return {-1, {}};
        if (!QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 60000)) {
            second.kill();
            second.waitForFinished(5000);
            return {-1, QStringLiteral("timed out")};
        }
        return {second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1,
                QString::fromUtf8(second.readAllStandardOutput() + second.readAllStandardError())};
    }

    QString status() { return command({QStringLiteral("--status")}).second; }

    QProcess *startHelper(const QString &program, const QStringList &arguments,
                          const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        auto *process = new QProcess(this);
        process->setProcessEnvironment(env);
        process->start(program, arguments);
        if (!process->waitForStarted(10000)) {
            delete process;
            return nullptr;
        }
        m_helpers.append(process);
        return process;
    }

    void stopApp()
    {
        if (!m_app)
            return;
        if (m_app->state() != QProcess::NotRunning) {
            m_app->terminate();
            if (!QTest::qWaitFor([this] { return m_app->state() == QProcess::NotRunning; }, 20000))
                m_app->kill();
        }
        m_app->waitForFinished(5000);
        m_app.reset();
    }

    void serveRed()
    {
        const QByteArray manifest = QStringLiteral(R"([{"id":"red","name":"Red","video":"%1"}])")
                                        .arg(m_server.url(QStringLiteral("/red.mp4")).toString())
                                        .toUtf8();
        m_server.setHandler([manifest](const LoopbackHttpServer::Request &request) {
            if (request.path() == "/manifest")
                return LoopbackHttpServer::json(manifest);
            if (request.path() == "/red.mp4")
                return LoopbackHttpServer::file(mediaPath(QStringLiteral("red")), request);
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
        stopApp();
        for (QProcess *helper : std::as_const(m_helpers)) {
            helper->terminate();
            if (!helper->waitForFinished(5000))
                helper->kill();
            helper->waitForFinished(2000);
            delete helper;
        }
        m_helpers.clear();
        QFile::remove(configDir() + QStringLiteral("/lumivale/lumivale.json"));
    }

    void secondProcessesActOnTheFirst()
    {
        startApp();
        auto [code, text] = command({QStringLiteral("--apply"), mediaPath(QStringLiteral("red"))});
        QCOMPARE(code, 0);
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCentre(), Hue::Red, 15000);
        QVERIFY2(status().contains(QStringLiteral("playback: playing")), qPrintable(status()));
        QVERIFY2(status().contains(QStringLiteral("\nrender: ")), qPrintable(status()));

        std::tie(code, text) = command({QStringLiteral("--pause")});
        QCOMPARE(code, 0);
        QVERIFY(status().contains(QStringLiteral("wallpaper: red\n")));
        QVERIFY(status().contains(QStringLiteral("playback: paused")));

        // A failure reaches the caller's standard error and exit status.
        std::tie(code, text) =
            command({QStringLiteral("--apply"), QStringLiteral("no-such-wallpaper")});
        QCOMPARE(code, 1);
        QVERIFY2(text.contains(QStringLiteral("No such file or wallpaper: no-such-wallpaper")),
                 qPrintable(text));

        std::tie(code, text) = command({QStringLiteral("--quit")});
        QVERIFY2(code == 0, qPrintable(text));
        QVERIFY(m_app->waitForFinished(20000));
        QCOMPARE(m_app->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_app->exitCode(), 0);
        // Nothing runs now; the status says what the next launch restores.
        std::tie(code, text) = command({QStringLiteral("--status")});
        QCOMPARE(code, 0);
        QVERIFY2(text.contains(QStringLiteral("not running")), qPrintable(text));
    }

    void commandsReachTheInstanceAsMeant()
    {
        startApp();
        // A relative file is the caller's, whatever the instance's folder.
        const QFileInfo red(mediaPath(QStringLiteral("red")));
        auto [code, text] = command({QStringLiteral("--apply"), red.fileName()}, red.path());
        QVERIFY2(code == 0, qPrintable(text));
        QVERIFY(status().contains(QStringLiteral("wallpaper: red\n")));

        // An instance that does not answer is given up after 10 s, clearly.
        ::kill(pid_t(m_app->processId()), SIGSTOP);
        std::tie(code, text) = command({QStringLiteral("--status")});
        ::kill(pid_t(m_app->processId()), SIGCONT);
        QCOMPARE(code, 1);
        QVERIFY2(text.contains(QStringLiteral("does not answer")), qPrintable(text));

        // `lumivale --quit && lumivale`: the new launch waits for the old
        // instance to let go, and is a fresh instance.
        std::unique_ptr<QProcess> old = std::move(m_app);
        QCOMPARE(command({QStringLiteral("--quit")}).first, 0);
        startApp();
        QCOMPARE(old->state(), QProcess::NotRunning);
        QCOMPARE(old->exitCode(), 0);
        QVERIFY(m_app->state() == QProcess::Running);
    }

    void sigtermFreezesTheFrameIntoTheDesktop()
    {
        startApp();
        QCOMPARE(command({QStringLiteral("--apply"), mediaPath(QStringLiteral("red"))}).first, 0);
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCentre(), Hue::Red, 15000);
        const QString frozen =
            qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Lumivale/FrozenWallpaper.jpg");
        QFile::remove(frozen);

        QVERIFY(m_app->processId() > 0);
        ::kill(pid_t(m_app->processId()), SIGTERM);
        QVERIFY(m_app->waitForFinished(20000));
        QCOMPARE(m_app->exitCode(), 0);
        QVERIFY(QFileInfo(frozen).size() > 0);
        // The bare X11 desktop now shows the frozen frame where the windows were.
        QVERIFY(XSession::run(QStringLiteral("xprop"),
                              {QStringLiteral("-root"), QStringLiteral("_XROOTPMAP_ID")})
                    .contains(QStringLiteral("pixmap id")));
        QCOMPARE(hueAtCentre(), Hue::Red);
    }

    void launchRestoresTheLastWallpaper()
    {
        // What a previous run left: the wallpaper's ID and its video in the cache.
        QDir().mkpath(configDir() + QStringLiteral("/lumivale"));
        QFile defaults(configDir() + QStringLiteral("/lumivale/lumivale.json"));
        QVERIFY(defaults.open(QIODevice::WriteOnly));
        defaults.write(R"({"currentWallpaperID": "red", "currentWallpaperScreenIDs": []})");
        defaults.close();
        XSession::run(QStringLiteral("xsetroot"),
                      {QStringLiteral("-solid"), QStringLiteral("green")});
        startApp();
        QTRY_COMPARE_WITH_TIMEOUT(hueAtCentre(), Hue::Red, 20000);
        QVERIFY(status().contains(QStringLiteral("playback: playing")));
    }

    void fullScreenWindowPausesAndClosingItResumes()
    {
        startApp();
        QCOMPARE(command({QStringLiteral("--apply"), mediaPath(QStringLiteral("red"))}).first, 0);
        QTRY_VERIFY_WITH_TIMEOUT(status().contains(QStringLiteral("playback: playing")), 15000);

        QProcess *other = startHelper(QStringLiteral("xmessage"),
                                      {QStringLiteral("-name"), QStringLiteral("coverer"),
                                       QStringLiteral("-title"), QStringLiteral("Coverer"),
                                       QStringLiteral("A window of another application")});
        QVERIFY(other);
        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(window = XSession::run(QStringLiteral("xdotool"),
                                     {QStringLiteral("search"), QStringLiteral("--name"),
                                      QStringLiteral("^Coverer$")})
                           .trimmed())
                 .isEmpty(),
            10000);
        // Xt programs do not say which process they belong to; toolkits do.
        XSession::run(QStringLiteral("xprop"),
                      {QStringLiteral("-id"), window.section(u'\n', 0, 0), QStringLiteral("-f"),
                       QStringLiteral("_NET_WM_PID"), QStringLiteral("32c"), QStringLiteral("-set"),
                       QStringLiteral("_NET_WM_PID"), QString::number(other->processId())});
        XSession::run(QStringLiteral("wmctrl"), {QStringLiteral("-a"), QStringLiteral("Coverer")});
        XSession::run(QStringLiteral("wmctrl"),
                      {QStringLiteral("-r"), QStringLiteral("Coverer"), QStringLiteral("-b"),
                       QStringLiteral("add,fullscreen")});
        QTRY_VERIFY_WITH_TIMEOUT(status().contains(QStringLiteral("playback: paused")), 15000);

        other->terminate();
        other->waitForFinished(5000);
        QTRY_VERIFY_WITH_TIMEOUT(status().contains(QStringLiteral("playback: playing")), 15000);
    }

    void powerSaverPausesAndBalancedResumes()
    {
        const QString python = QStringLiteral("/usr/bin/python3");
        if (!QFileInfo(python).isExecutable())
            QSKIP("python3-dbusmock needs /usr/bin/python3");
        // A private bus that stands in for the system bus.
        QProcess *bus = startHelper(QStringLiteral("dbus-daemon"),
                                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                     QStringLiteral("--print-address")});
        QVERIFY(bus);
        QVERIFY(QTest::qWaitFor([bus] { return bus->canReadLine(); }, 10000));
        const QString address = QString::fromUtf8(bus->readLine()).trimmed();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        QProcess *daemon = startHelper(python,
                                       {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                        QStringLiteral("--system"), QStringLiteral("--template"),
                                        QStringLiteral("power_profiles_daemon")},
                                       env);
        QVERIFY(daemon);
        const auto setProfile = [&](const QString &profile) {
            QProcess call;
            call.setProcessEnvironment(env);
            call.start(QStringLiteral("gdbus"),
                       {QStringLiteral("call"), QStringLiteral("--system"),
                        QStringLiteral("--dest"), QStringLiteral("net.hadess.PowerProfiles"),
                        QStringLiteral("--object-path"),
                        QStringLiteral("/net/hadess/PowerProfiles"), QStringLiteral("--method"),
                        QStringLiteral("org.freedesktop.DBus.Properties.Set"),
                        QStringLiteral("net.hadess.PowerProfiles"), QStringLiteral("ActiveProfile"),
                        QStringLiteral("<'%1'>").arg(profile)});
            call.waitForFinished(10000);
            return call.exitCode() == 0;
        };
        QVERIFY(QTest::qWaitFor([&] { return setProfile(QStringLiteral("balanced")); }, 15000));

        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
        startApp();
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        QCOMPARE(command({QStringLiteral("--apply"), mediaPath(QStringLiteral("red"))}).first, 0);
        QTRY_VERIFY_WITH_TIMEOUT(status().contains(QStringLiteral("playback: playing")), 15000);

        QVERIFY(setProfile(QStringLiteral("power-saver")));
        QTRY_VERIFY_WITH_TIMEOUT(status().contains(QStringLiteral("playback: paused")), 15000);
        QVERIFY(setProfile(QStringLiteral("balanced")));
        QTRY_VERIFY_WITH_TIMEOUT(status().contains(QStringLiteral("playback: playing")), 15000);
    }

    void trayIconShowsAndItsMenuWorks()
    {
        // The application starts before the tray exists, as it may at login.
        startApp();
        QCOMPARE(command({QStringLiteral("--apply"), mediaPath(QStringLiteral("red"))}).first, 0);
        QTRY_VERIFY_WITH_TIMEOUT(status().contains(QStringLiteral("playback: playing")), 15000);
        QProcess *tray = startHelper(
            QStringLiteral("trayer"),
            {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
             QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
             QStringLiteral("--width"), QStringLiteral("64"), QStringLiteral("--height"),
             QStringLiteral("32"), QStringLiteral("--SetDockType"), QStringLiteral("true")});
        QVERIFY(tray);
        // Our icon is embedded: a window of ours inside trayer's panel.
        const QRegularExpression iconWindow(QStringLiteral(
            "\"panel\": \\(\"panel\" \"trayer\"\\)[^\\n]*\\n(?:[^\\n]*\\n)*?\\s+0x[0-9a-f]+ "
            "\"lumivale\": \\(\"lumivale-app\" "
            "\"lumivale\"\\)\\s+(\\d+)x(\\d+)\\S*\\s+\\+(\\d+)\\+(\\d+)"));
        QRegularExpressionMatch embedded;
        QTRY_VERIFY_WITH_TIMEOUT(
            (embedded = iconWindow.match(XSession::run(
                 QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})))
                .hasMatch(),
            15000);
        const QPoint icon(embedded.captured(3).toInt() + embedded.captured(1).toInt() / 2,
                          embedded.captured(4).toInt() + embedded.captured(2).toInt() / 2);
        XSession::run(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QString::number(icon.x()),
                       QString::number(icon.y()), QStringLiteral("click"), QStringLiteral("1")});
        // The menu is an override-redirect popup of our process.
        QTRY_VERIFY_WITH_TIMEOUT(
            XSession::run(QStringLiteral("xdotool"),
                          {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--class"), QStringLiteral("lumivale")})
                    .trimmed()
                    .size() > 0,
            10000);
        QTest::qWait(500);
        saveScreenshot(QStringLiteral("tray-menu.png"));
        // Keyboard through the open menu: the meters cannot be chosen, so the
        // seventh choosable item is "Pause / Resume".
        for (int i = 0; i < 7; ++i)
            XSession::run(QStringLiteral("xdotool"),
                          {QStringLiteral("key"), QStringLiteral("Down")});
        XSession::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
        QTRY_VERIFY_WITH_TIMEOUT(status().contains(QStringLiteral("playback: paused")), 10000);
    }
};

LUMIVALE_X11_TEST_MAIN(TestShell, 1280, 720)
#include "tst_shell.moc"
