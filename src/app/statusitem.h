#pragma once

#include <QIcon>
#include <QObject>
#include <memory>

class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;

namespace lumivale {

// The tray icon that carries the status menu.
//
// Qt decides once per process whether a tray speaks StatusNotifierItem over
// D-Bus, so the icon is only made once a tray can take it: at once when a
// StatusNotifierItem host is registered, or on X11 (where Qt itself follows
// XEmbed trays that appear later); otherwise as soon as a host registers with
// the session's StatusNotifierWatcher. Until then the application works
// without it (see the command line).
//
// A left click opens the menu as a right click does. Main thread only. The
// menu must outlive the item.
class StatusItem : public QObject
{
    Q_OBJECT

public:
    StatusItem(const QIcon &icon, QMenu *menu, QObject *parent = nullptr);
    ~StatusItem() override;

    void setToolTip(const QString &toolTip);
    // Null until a tray could take the icon.
    QSystemTrayIcon *trayIcon() const { return m_trayIcon.get(); }

    // Whether a StatusNotifierItem host is registered on the session bus.
    static bool isStatusNotifierHostRegistered();

Q_SIGNALS:
    // The icon was made and shown.
    void shown();

private Q_SLOTS:
    void checkForHost();

private:
    void showWhenHostExists();
    void makeTrayIcon();

    QIcon m_icon;
    QMenu *m_menu;
    QString m_toolTip;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<QDBusServiceWatcher> m_watcher;
};

} // namespace lumivale
