// The tray icon waits for a tray: with no StatusNotifierItem host on the
// session bus it is not made, and it appears once a watcher with a host shows
// up. The watcher is python3-dbusmock on a private session bus; Qt's offscreen
// platform has no XEmbed tray, so D-Bus is the only way in.

#include "app/statusitem.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QMenu>
#include <QPixmap>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

using namespace lumivale;

namespace {
const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kPath = QStringLiteral("/StatusNotifierWatcher");
} // namespace

class TestStatusItem : public QObject
{
    Q_OBJECT

    QProcess m_bus;
    QProcess m_watcher;
    QString m_address;

    bool mock(const QString &method, const QStringList &arguments)
    {
        QProcess call;
        call.start(QStringLiteral("gdbus"),
                   QStringList{QStringLiteral("call"), QStringLiteral("--address"), m_address,
                               QStringLiteral("--dest"), kService, QStringLiteral("--object-path"),
                               kPath, QStringLiteral("--method"),
                               QStringLiteral("org.freedesktop.DBus.Mock.") + method} +
                       arguments);
        return call.waitForFinished(10000) && call.exitCode() == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!QFileInfo(QStringLiteral("/usr/bin/python3")).isExecutable())
            QSKIP("python3-dbusmock needs /usr/bin/python3");
        // Before anything in this process touches the session bus.
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--print-address")});
        QVERIFY(m_bus.waitForStarted(5000) && m_bus.waitForReadyRead(10000));
        m_address = QString::fromUtf8(m_bus.readLine().trimmed());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    }

    void cleanupTestCase()
    {
        for (QProcess *process : {&m_watcher, &m_bus}) {
            process->terminate();
            process->waitForFinished(5000);
        }
    }

    void theIconWaitsForAHost()
    {
        QMenu menu;
        QPixmap logo(16, 16);
        logo.fill(Qt::black);
        StatusItem item(QIcon(logo), &menu);
        QSignalSpy shown(&item, &StatusItem::shown);
        QVERIFY(!StatusItem::isStatusNotifierHostRegistered());
        QVERIFY(!item.trayIcon());

        // A watcher appears, without a host yet.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        m_watcher.setProcessEnvironment(env);
        m_watcher.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-m"), QStringLiteral("dbusmock"), kService, kPath,
                         QStringLiteral("org.kde.StatusNotifierWatcher")});
        QVERIFY(m_watcher.waitForStarted(10000));
        QVERIFY(QTest::qWaitFor(
            [this] {
                return mock(QStringLiteral("AddProperty"),
                            {QStringLiteral("org.kde.StatusNotifierWatcher"),
                             QStringLiteral("IsStatusNotifierHostRegistered"),
                             QStringLiteral("<false>")});
            },
            20000));
        QTest::qWait(200);
        QVERIFY(!item.trayIcon());

        // Then a host registers.
        QVERIFY(mock(QStringLiteral("UpdateProperties"),
                     {QStringLiteral("org.kde.StatusNotifierWatcher"),
                      QStringLiteral("{'IsStatusNotifierHostRegistered': <true>}")}));
        QVERIFY(mock(QStringLiteral("EmitSignal"), {QStringLiteral("org.kde.StatusNotifierWatcher"),
                                                    QStringLiteral("StatusNotifierHostRegistered"),
                                                    QStringLiteral(""), QStringLiteral("[]")}));
        QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, 10000);
        QVERIFY(item.trayIcon());
        QCOMPARE(item.trayIcon()->contextMenu(), &menu);
    }
};

LUMIVALE_TEST_MAIN(TestStatusItem)
#include "tst_statusitem.moc"
