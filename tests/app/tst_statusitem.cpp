// The tray icon waits for a tray: with no StatusNotifierItem host on the
// session bus it is not made, and it appears once a watcher with a host shows
// up. The watcher is python3-dbusmock on a private session bus; Qt's offscreen
// platform has no XEmbed tray, so D-Bus is the only way in.

#include "app/statusitem.h"
#include "support/testenvironment.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QFileInfo>
#include <QMenu>
#include <QPixmap>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

using namespace lumivale;
using namespace Qt::StringLiterals;

namespace {
const QString kService = u"org.kde.StatusNotifierWatcher"_s;
const QString kPath = u"/StatusNotifierWatcher"_s;
} // namespace

class TestStatusItem : public QObject
{
    Q_OBJECT

    // The session bus, made before anything in this process touches it.
    test::PrivateBus m_bus;
    QProcess m_watcher;

    bool mock(const QString &method, const QStringList &arguments)
    {
        QProcess call;
        call.start(u"gdbus"_s, QStringList{u"call"_s, u"--address"_s, m_bus.address(), u"--dest"_s,
                                           kService, u"--object-path"_s, kPath, u"--method"_s,
                                           u"org.freedesktop.DBus.Mock."_s + method} +
                                   arguments);
        return call.waitForFinished(10000) && call.exitCode() == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!QFileInfo(u"/usr/bin/python3"_s).isExecutable())
            QSKIP("python3-dbusmock needs /usr/bin/python3");
        QVERIFY(!m_bus.address().isEmpty());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
    }

    void cleanupTestCase() { test::endProcess(m_watcher); }

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
        QDBusServiceWatcher registration(kService, QDBusConnection::sessionBus(),
                                         QDBusServiceWatcher::WatchForRegistration);
        QSignalSpy registered(&registration, &QDBusServiceWatcher::serviceRegistered);
        m_watcher.start(u"/usr/bin/python3"_s, {u"-m"_s, u"dbusmock"_s, kService, kPath,
                                                u"org.kde.StatusNotifierWatcher"_s});
        QVERIFY(m_watcher.waitForStarted(10000));
        QVERIFY(QTest::qWaitFor(
            [this] {
                return mock(u"AddProperty"_s, {u"org.kde.StatusNotifierWatcher"_s,
                                               u"IsStatusNotifierHostRegistered"_s, u"<false>"_s});
            },
            20000));
        // The item has seen the watcher come (its signal reached this
        // process) and found no host.
        QTRY_COMPARE(registered.count(), 1);
        QCoreApplication::processEvents();
        QVERIFY(!item.trayIcon());

        // Then a host registers.
        QVERIFY(mock(u"UpdateProperties"_s, {u"org.kde.StatusNotifierWatcher"_s,
                                             u"{'IsStatusNotifierHostRegistered': <true>}"_s}));
        QVERIFY(mock(u"EmitSignal"_s, {u"org.kde.StatusNotifierWatcher"_s,
                                       u"StatusNotifierHostRegistered"_s, u""_s, u"[]"_s}));
        QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, 10000);
        QVERIFY(item.trayIcon());
        QCOMPARE(item.trayIcon()->contextMenu(), &menu);
    }
};

LUMIVALE_TEST_MAIN(TestStatusItem)
#include "tst_statusitem.moc"
