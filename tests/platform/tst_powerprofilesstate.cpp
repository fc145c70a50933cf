// Low Power Mode against a stand-in power-profiles-daemon (python3-dbusmock's
// template) on a private bus that this process uses as its system bus.

#include "platform/linux/powerprofilesstate.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <memory>

using namespace lumivale;

namespace {

struct DaemonName
{
    QString service;
    QString path;
    QString interface;
};

const DaemonName kLegacy{QStringLiteral("net.hadess.PowerProfiles"),
                         QStringLiteral("/net/hadess/PowerProfiles"),
                         QStringLiteral("net.hadess.PowerProfiles")};
const DaemonName kUPower{QStringLiteral("org.freedesktop.UPower.PowerProfiles"),
                         QStringLiteral("/org/freedesktop/UPower/PowerProfiles"),
                         QStringLiteral("org.freedesktop.UPower.PowerProfiles")};

// The stock template serves only the older name; newer daemons answer under
// UPower's name with the same interface, so the same template is loaded with
// the names swapped.
const char kUPowerTemplate[] = R"(import inspect
import dbusmock.templates.power_profiles_daemon as stock
source = inspect.getsource(stock)
source = source.replace('/net/hadess/PowerProfiles', '/org/freedesktop/UPower/PowerProfiles')
source = source.replace('net.hadess.PowerProfiles', 'org.freedesktop.UPower.PowerProfiles')
exec(source)
)";

bool isOnBus(const QString &service)
{
    return QDBusConnection::systemBus().interface()->isServiceRegistered(service).value();
}

} // namespace

class TestPowerProfilesState : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    std::map<QString, std::unique_ptr<QProcess>> m_daemons;

    QString templateFor(const DaemonName &name) const
    {
        return name.service == kLegacy.service ? QStringLiteral("power_profiles_daemon")
                                               : m_dir.filePath(QStringLiteral("upower_ppd.py"));
    }

    // Starts the stand-in daemon under `name` and returns once it owns it.
    void startDaemon(const DaemonName &name, const QString &activeProfile)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                        QStringLiteral("--system"), QStringLiteral("--template"), templateFor(name),
                        QStringLiteral("-p"),
                        QStringLiteral(R"({"ActiveProfile": "%1"})").arg(activeProfile)});
        QVERIFY2(process->waitForStarted(), "python3-dbusmock is missing");
        m_daemons[name.service] = std::move(process);
        QTRY_VERIFY_WITH_TIMEOUT(isOnBus(name.service), 15000);
    }

    void stopDaemon(const DaemonName &name)
    {
        const auto found = m_daemons.find(name.service);
        QVERIFY(found != m_daemons.end());
        found->second->terminate();
        QVERIFY(found->second->waitForFinished());
        m_daemons.erase(found);
        QTRY_VERIFY(!isOnBus(name.service));
    }

    // What a user's profile switch does: the daemon's own property write,
    // which announces itself through PropertiesChanged.
    static void switchProfile(const DaemonName &name, const QString &profile)
    {
        QDBusMessage set = QDBusMessage::createMethodCall(
            name.service, name.path, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Set"));
        set << name.interface << QStringLiteral("ActiveProfile")
            << QVariant::fromValue(QDBusVariant(profile));
        const QDBusMessage reply = QDBusConnection::systemBus().call(set);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile upowerTemplate(m_dir.filePath(QStringLiteral("upower_ppd.py")));
        QVERIFY(upowerTemplate.open(QIODevice::WriteOnly));
        upowerTemplate.write(kUPowerTemplate);
        upowerTemplate.close();

        // A bus of our own stands in for the system bus; the process has not
        // touched the system bus before this point.
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--print-address=1")});
        QVERIFY2(m_bus.waitForStarted(), "dbus-daemon is missing (package dbus)");
        QVERIFY(m_bus.waitForReadyRead(10000));
        const QByteArray address = m_bus.readLine().trimmed();
        QVERIFY(!address.isEmpty());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        QVERIFY(QDBusConnection::systemBus().isConnected());
    }

    void cleanup()
    {
        while (!m_daemons.empty()) {
            const QString service = m_daemons.begin()->first;
            stopDaemon(service == kLegacy.service ? kLegacy : kUPower);
        }
    }

    void cleanupTestCase()
    {
        m_bus.terminate();
        m_bus.waitForFinished();
    }

    void withoutDaemonTheModeIsOffAndNothingIsPrinted()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        PowerProfilesState state;
        QSignalSpy changed(&state, &PowerProfilesState::powerStateChanged);
        QTest::qWait(300); // lets the initial reads come back empty
        QVERIFY(!state.isLowPowerModeEnabled());
        QCOMPARE(changed.size(), 0);
    }

    void withoutBusTheModeIsOffAndNothingIsPrinted()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        const QDBusConnection noBus = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=%1").arg(m_dir.filePath(QStringLiteral("no-such-bus"))),
            QStringLiteral("no-bus"));
        QVERIFY(!noBus.isConnected());
        {
            PowerProfilesState state(noBus);
            QTest::qWait(100);
            QVERIFY(!state.isLowPowerModeEnabled());
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
    }

    void theProfileIsReadAtStart_data()
    {
        QTest::addColumn<bool>("upower");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<bool>("lowPower");
        QTest::newRow("hadess, power-saver") << false << "power-saver" << true;
        QTest::newRow("hadess, balanced") << false << "balanced" << false;
        QTest::newRow("hadess, performance") << false << "performance" << false;
        QTest::newRow("upower, power-saver") << true << "power-saver" << true;
        QTest::newRow("upower, balanced") << true << "balanced" << false;
    }

    void theProfileIsReadAtStart()
    {
        QFETCH(bool, upower);
        QFETCH(QString, profile);
        QFETCH(bool, lowPower);
        startDaemon(upower ? kUPower : kLegacy, profile);

        PowerProfilesState state;
        QSignalSpy changed(&state, &PowerProfilesState::powerStateChanged);
        if (lowPower) {
            QTRY_VERIFY(state.isLowPowerModeEnabled());
            QCOMPARE(changed.size(), 1);
        } else {
            QTest::qWait(300);
            QVERIFY(!state.isLowPowerModeEnabled());
            QCOMPARE(changed.size(), 0);
        }
    }

    void profileSwitchesAreFollowed_data()
    {
        QTest::addColumn<bool>("upower");
        QTest::newRow("hadess") << false;
        QTest::newRow("upower") << true;
    }

    void profileSwitchesAreFollowed()
    {
        QFETCH(bool, upower);
        const DaemonName &name = upower ? kUPower : kLegacy;
        startDaemon(name, QStringLiteral("balanced"));
        PowerProfilesState state;
        QSignalSpy changed(&state, &PowerProfilesState::powerStateChanged);

        switchProfile(name, QStringLiteral("power-saver"));
        QTRY_COMPARE(changed.size(), 1);
        QVERIFY(state.isLowPowerModeEnabled());

        switchProfile(name, QStringLiteral("performance"));
        QTRY_COMPARE(changed.size(), 2);
        QVERIFY(!state.isLowPowerModeEnabled());

        // Between two profiles that are both "not low power" the answer stays
        // the same, and nobody is told.
        switchProfile(name, QStringLiteral("balanced"));
        switchProfile(name, QStringLiteral("power-saver"));
        QTRY_VERIFY(state.isLowPowerModeEnabled());
        QCOMPARE(changed.size(), 3);
    }

    void aDaemonThatStopsCountsAsOff()
    {
        startDaemon(kLegacy, QStringLiteral("power-saver"));
        PowerProfilesState state;
        QSignalSpy changed(&state, &PowerProfilesState::powerStateChanged);
        QTRY_VERIFY(state.isLowPowerModeEnabled());

        stopDaemon(kLegacy);
        QTRY_VERIFY(!state.isLowPowerModeEnabled());
        QCOMPARE(changed.size(), 2);
    }

    void aDaemonThatStartsLaterIsFollowed()
    {
        PowerProfilesState state;
        QSignalSpy changed(&state, &PowerProfilesState::powerStateChanged);
        QTest::qWait(100);
        QVERIFY(!state.isLowPowerModeEnabled());

        startDaemon(kLegacy, QStringLiteral("power-saver"));
        QTRY_VERIFY(state.isLowPowerModeEnabled());
        QCOMPARE(changed.size(), 1);

        // And keeps being followed after a restart.
        stopDaemon(kLegacy);
        QTRY_VERIFY(!state.isLowPowerModeEnabled());
        startDaemon(kLegacy, QStringLiteral("balanced"));
        switchProfile(kLegacy, QStringLiteral("power-saver"));
        QTRY_VERIFY(state.isLowPowerModeEnabled());
    }

    void theNewerNameWinsWhenBothAnswer()
    {
        startDaemon(kLegacy, QStringLiteral("balanced"));
        startDaemon(kUPower, QStringLiteral("power-saver"));
        PowerProfilesState state;
        QTRY_VERIFY(state.isLowPowerModeEnabled());

        // A change under the older name alone does not override the newer.
        switchProfile(kLegacy, QStringLiteral("performance"));
        QTest::qWait(200);
        QVERIFY(state.isLowPowerModeEnabled());

        // Once the newer name is gone, the older one is what remains.
        stopDaemon(kUPower);
        QTRY_VERIFY(!state.isLowPowerModeEnabled());
        switchProfile(kLegacy, QStringLiteral("power-saver"));
        QTRY_VERIFY(state.isLowPowerModeEnabled());
    }
};

LUMIVALE_TEST_MAIN(TestPowerProfilesState)
#include "tst_powerprofilesstate.moc"
