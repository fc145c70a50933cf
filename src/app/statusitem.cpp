#include "statusitem.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

namespace lumivale {
namespace {
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
} // namespace

StatusItem::StatusItem(const QIcon &icon, QMenu *menu, QObject *parent)
    : QObject(parent)
    , m_icon(icon)
    , m_menu(menu)
{
    if (isStatusNotifierHostRegistered() || QGuiApplication::platformName() == u"xcb")
        makeTrayIcon();
    else
        showWhenHostExists();
}

StatusItem::~StatusItem() = default;

bool StatusItem::isStatusNotifierHostRegistered()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusInterface properties(kWatcherService, kWatcherPath,
                              QStringLiteral("org.freedesktop.DBus.Properties"), bus);
    properties.setTimeout(1000);
    const QDBusMessage reply = properties.call(QStringLiteral("Get"), kWatcherInterface,
                                               QStringLiteral("IsStatusNotifierHostRegistered"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void StatusItem::showWhenHostExists()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // A watcher that appears may already have a host; one that exists may get
    // its host later.
    m_watcher = std::make_unique<QDBusServiceWatcher>(kWatcherService, bus,
                                                      QDBusServiceWatcher::WatchForRegistration);
    connect(m_watcher.get(), &QDBusServiceWatcher::serviceRegistered, this,
            &StatusItem::checkForHost);
    bus.connect(kWatcherService, kWatcherPath, kWatcherInterface,
                QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(checkForHost()));
}

void StatusItem::checkForHost()
{
    if (!m_trayIcon && isStatusNotifierHostRegistered())
        makeTrayIcon();
}

void StatusItem::makeTrayIcon()
{
    m_trayIcon = std::make_unique<QSystemTrayIcon>(m_icon);
    m_trayIcon->setContextMenu(m_menu);
    m_trayIcon->setToolTip(m_toolTip);
    connect(m_trayIcon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger && m_menu && !m_menu->isVisible())
                    m_menu->popup(QCursor::pos());
            });
    m_trayIcon->show();
    m_watcher.reset();
    Q_EMIT shown();
}

void StatusItem::setToolTip(const QString &toolTip)
{
    m_toolTip = toolTip;
    if (m_trayIcon)
        m_trayIcon->setToolTip(toolTip);
}

} // namespace lumivale
