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
using namespace Qt::StringLiterals;

namespace {

struct DaemonName
{
    QString service;
    QString path;
    QString interface;
};

const DaemonName kLegacy{u"net.hadess.PowerProfiles"_s, u"/net/hadess/PowerProfiles"_s,
                         u"net.hadess.PowerProfiles"_s};
const DaemonName kUPower{u"org.freedesktop.UPower.PowerProfiles"_s,
                         u"/org/freedesktop/UPower/PowerProfiles"_s,
                         u"org.freedesktop.UPower.PowerProfiles"_s};

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
    // Stands in for the system bus.
    test::PrivateBus m_bus;
    std::map<QString, std::unique_ptr<QProcess>> m_daemons;

    QString templateFor(const DaemonName &name) const
    {
        return name.service == kLegacy.service ? u"power_profiles_daemon"_s
                                               : m_dir.filePath(u"upower_ppd.py"_s);
    }

    // Starts the stand-in daemon under `name` and returns once it owns it.
    void startDaemon(const DaemonName &name, const QString &activeProfile)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->start(u"/usr/bin/python3"_s,
                       {u"-m"_s, u"dbusmock"_s, u"--system"_s, u"--template"_s, templateFor(name),
                        u"-p"_s, uR"({"ActiveProfile": "%1"})"_s.arg(activeProfile)});
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
            name.service, name.path, u"org.freedesktop.DBus.Properties"_s, u"Set"_s);
        set << name.interface << u"ActiveProfile"_s << QVariant::fromValue(QDBusVariant(profile));
        const QDBusMessage reply = QDBusConnection::systemBus().call(set);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }

    // Lets everything sent to this process before now arrive: the bus and
    // each stand-in answer in order, so once a call to them returns, their
    // earlier replies and signals are queued here, and are then delivered.
    static void drain(const DaemonName *daemon = nullptr)
    {
        if (daemon) {
            QDBusMessage get = QDBusMessage::createMethodCall(
                daemon->service, daemon->path, u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
            get << daemon->interface << u"ActiveProfile"_s;
            QDBusConnection::systemBus().call(get);
        } else {
            isOnBus(u"org.freedesktop.DBus"_s);
        }
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile upowerTemplate(m_dir.filePath(u"upower_ppd.py"_s));
        QVERIFY(upowerTemplate.open(QIODevice::WriteOnly));
        upowerTemplate.write(kUPowerTemplate);
        upowerTemplate.close();

        // The process has not touched the system bus before this point.
        QVERIFY(!m_bus.address().isEmpty());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address().toUtf8());
        QVERIFY(QDBusConnection::systemBus().isConnected());
    }

    void cleanup()
    {
        while (!m_daemons.empty()) {
            const QString service = m_daemons.begin()->first;
            stopDaemon(service == kLegacy.service ? kLegacy : kUPower);
        }
    }

    void withoutDaemonTheModeIsOffAndNothingIsPrinted()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        PowerProfilesState state;
        QSignalSpy changed(&state, &PowerProfilesState::powerStateChanged);
        drain(); // the initial reads come back empty
        QVERIFY(!state.isLowPowerModeEnabled());
        QCOMPARE(changed.size(), 0);
    }

    void withoutBusTheModeIsOffAndNothingIsPrinted()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        const QDBusConnection noBus = QDBusConnection::connectToBus(
            u"unix:path=%1"_s.arg(m_dir.filePath(u"no-such-bus"_s)), u"no-bus"_s);
        QVERIFY(!noBus.isConnected());
        {
            PowerProfilesState state(noBus);
            QCoreApplication::processEvents();
            QVERIFY(!state.isLowPowerModeEnabled());
        }
        QDBusConnection::disconnectFromBus(u"no-bus"_s);
    }

    // The profile is read at start, and each switch after is followed; between
    // two profiles that are both "not low power" the answer stays the same,
    // and nobody is told.
    void theProfileIsReadAtStartAndFollowed_data()
    {
        QTest::addColumn<bool>("upower");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<bool>("lowPower");
        QTest::newRow("hadess, power-saver") << false << "power-saver" << true;
        QTest::newRow("hadess, balanced") << false << "balanced" << false;
        QTest::newRow("upower, power-saver") << true << "power-saver" << true;
        QTest::newRow("upower, balanced") << true << "balanced" << false;
    }
    void theProfileIsReadAtStartAndFollowed()
    {
        QFETCH(bool, upower);
        QFETCH(QString, profile);
        QFETCH(bool, lowPower);
        const DaemonName &name = upower ? kUPower : kLegacy;
        startDaemon(name, profile);

        PowerProfilesState state;
        QSignalSpy changed(&state, &PowerProfilesState::powerStateChanged);
        if (lowPower) {
            QTRY_VERIFY(state.isLowPowerModeEnabled());
            QCOMPARE(changed.size(), 1);
        } else {
            drain(&name);
            QVERIFY(!state.isLowPowerModeEnabled());
            QCOMPARE(changed.size(), 0);
        }

        switchProfile(name, u"performance"_s);
        QTRY_VERIFY(!state.isLowPowerModeEnabled());
        switchProfile(name, u"balanced"_s);
        switchProfile(name, u"power-saver"_s);
        QTRY_VERIFY(state.isLowPowerModeEnabled());
        QCOMPARE(changed.size(), lowPower ? 3 : 1);
    }

    void aDaemonThatStartsLaterIsFollowed()
    {
        PowerProfilesState state;
        QSignalSpy changed(&state, &PowerProfilesState::powerStateChanged);
        drain();
        QVERIFY(!state.isLowPowerModeEnabled());

        startDaemon(kLegacy, u"power-saver"_s);
        QTRY_VERIFY(state.isLowPowerModeEnabled());
        QCOMPARE(changed.size(), 1);

        // A daemon that stops counts as off; one that starts again is followed.
        stopDaemon(kLegacy);
        QTRY_VERIFY(!state.isLowPowerModeEnabled());
        QCOMPARE(changed.size(), 2);
        startDaemon(kLegacy, u"balanced"_s);
        switchProfile(kLegacy, u"power-saver"_s);
        QTRY_VERIFY(state.isLowPowerModeEnabled());
    }

    void theNewerNameWinsWhenBothAnswer()
    {
        startDaemon(kLegacy, u"balanced"_s);
        startDaemon(kUPower, u"power-saver"_s);
        PowerProfilesState state;
        QTRY_VERIFY(state.isLowPowerModeEnabled());

        // A change under the older name alone does not override the newer.
        switchProfile(kLegacy, u"performance"_s);
        drain(&kLegacy);
        QVERIFY(state.isLowPowerModeEnabled());

        // Once the newer name is gone, the older one is what remains.
        stopDaemon(kUPower);
        QTRY_VERIFY(!state.isLowPowerModeEnabled());
        switchProfile(kLegacy, u"power-saver"_s);
        QTRY_VERIFY(state.isLowPowerModeEnabled());
    }
};

LUMIVALE_TEST_MAIN(TestPowerProfilesState)
#include "tst_powerprofilesstate.moc"
