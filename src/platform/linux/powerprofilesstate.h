#pragma once

#include "platform/powerstate.h"

#include <QDBusConnection>
#include <QString>
#include <array>
#include <optional>
#include <utility>

class QDBusServiceWatcher;

namespace lumivale {

// Low Power Mode as power-profiles-daemon's "power-saver" profile, read from
// its "ActiveProfile" property on the system bus. The daemon answers under
// "org.freedesktop.UPower.PowerProfiles" (newer versions) and under
// "net.hadess.PowerProfiles"; both are followed, and the newer name wins when
// both are present.
//
// The profile is read once, asynchronously, when the object is made and when
// the daemon appears on the bus, and then followed through the daemon's
// PropertiesChanged signals, so `isLowPowerModeEnabled()` only returns the
// cached value. A daemon that leaves the bus counts as off, as does a system
// without the daemon or without a system bus; none of these prints anything.
// The daemon is never started on our behalf (no bus activation).
//
// Lives on the main thread and must be made there; `powerStateChanged` is
// emitted there whenever the answer of `isLowPowerModeEnabled()` changes.
class PowerProfilesState : public PowerState
{
    Q_OBJECT

public:
    // On the system bus.
    explicit PowerProfilesState(QObject *parent = nullptr);
    // On `bus`, which may be a connection that failed.
    explicit PowerProfilesState(const QDBusConnection &bus, QObject *parent = nullptr);
    ~PowerProfilesState() override;

    bool isLowPowerModeEnabled() const override;

private Q_SLOTS:
    // Old-style slot: QDBusConnection::connect matches signals by signature.
    void onPropertiesChanged(const QString &interfaceName, const QVariantMap &changed,
                             const QStringList &invalidated);

private:
    // One of the names the daemon answers under.
    struct Source
    {
        Source(QString serviceName, QString objectPath, QString interfaceName)
            : service(std::move(serviceName))
            , path(std::move(objectPath))
            , interface(std::move(interfaceName))
        {}

        QString service;
        QString path;
        QString interface;
        // The profile as last read; none while the daemon is away.
        std::optional<QString> activeProfile;
        // Bumped by every change, so a read answered after a newer change is
        // dropped instead of overwriting it.
        quint64 generation = 0;
    };

    void readActiveProfile(Source &source);
    void setActiveProfile(Source &source, std::optional<QString> profile);
    void onServiceOwnerChanged(const QString &service, const QString &newOwner);
    Source *sourceWith(QString Source::*field, const QString &value);

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_watcher = nullptr;
    std::array<Source, 2> m_sources;
    bool m_lowPower = false;
};

} // namespace lumivale
