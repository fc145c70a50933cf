#include "powerprofilesstate.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace lumivale {
namespace {

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kActiveProfile = QStringLiteral("ActiveProfile");
const QString kPowerSaver = QStringLiteral("power-saver");

} // namespace

PowerProfilesState::PowerProfilesState(QObject *parent)
    : PowerProfilesState(QDBusConnection::systemBus(), parent)
{}

PowerProfilesState::PowerProfilesState(const QDBusConnection &bus, QObject *parent)
    : PowerState(parent)
    , m_bus(bus)
    , m_sources{{
          // The newer name first: it wins when both answer.
          Source(QStringLiteral("org.freedesktop.UPower.PowerProfiles"),
                 QStringLiteral("/org/freedesktop/UPower/PowerProfiles"),
                 QStringLiteral("org.freedesktop.UPower.PowerProfiles")),
          Source(QStringLiteral("net.hadess.PowerProfiles"),
                 QStringLiteral("/net/hadess/PowerProfiles"),
                 QStringLiteral("net.hadess.PowerProfiles")),
      }}
{
    // Without a system bus (a container, a minimal session) there is nothing
    // to follow and the mode stays off.
    if (!m_bus.isConnected())
        return;

    m_watcher = new QDBusServiceWatcher(this);
    m_watcher->setConnection(m_bus);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    for (Source &source : m_sources) {
        m_watcher->addWatchedService(source.service);
        m_bus.connect(source.service, source.path, kPropertiesInterface,
                      QStringLiteral("PropertiesChanged"), this,
                      SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    }
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &service, const QString &, const QString &newOwner) {
                onServiceOwnerChanged(service, newOwner);
            });

    for (Source &source : m_sources)
        readActiveProfile(source);
}

PowerProfilesState::~PowerProfilesState() = default;

bool PowerProfilesState::isLowPowerModeEnabled() const
{
    return m_lowPower;
}

void PowerProfilesState::readActiveProfile(Source &source)
{
    const quint64 generation = ++source.generation;
    QDBusMessage call = QDBusMessage::createMethodCall(source.service, source.path,
                                                       kPropertiesInterface, QStringLiteral("Get"));
    call << source.interface << kActiveProfile;
    // Asking must not start a daemon the system keeps stopped.
    call.setAutoStartService(false);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, &source, generation](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                if (generation != source.generation)
                    return; // a newer change has already been taken in
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                // No daemon under this name is the common case, not a failure.
                if (reply.isError())
                    setActiveProfile(source, std::nullopt);
                else
                    setActiveProfile(source, reply.value().variant().toString());
            });
}

void PowerProfilesState::setActiveProfile(Source &source, std::optional<QString> profile)
{
    source.activeProfile = std::move(profile);

    bool lowPower = false;
    for (const Source &candidate : m_sources) {
        if (candidate.activeProfile) {
            lowPower = *candidate.activeProfile == kPowerSaver;
            break;
        }
    }
    if (lowPower == m_lowPower)
        return;
    m_lowPower = lowPower;
    Q_EMIT powerStateChanged();
}

void PowerProfilesState::onServiceOwnerChanged(const QString &service, const QString &newOwner)
{
    Source *source = sourceWith(&Source::service, service);
    if (!source)
        return;
    if (newOwner.isEmpty()) {
        ++source->generation; // an answer still in flight is from the daemon that left
        setActiveProfile(*source, std::nullopt);
    } else {
        readActiveProfile(*source);
    }
}

void PowerProfilesState::onPropertiesChanged(const QString &interfaceName,
                                             const QVariantMap &changed,
                                             const QStringList &invalidated)
{
    Source *source = sourceWith(&Source::interface, interfaceName);
    if (!source)
        return;
    const auto profile = changed.constFind(kActiveProfile);
    if (profile != changed.constEnd()) {
        ++source->generation;
        setActiveProfile(*source, profile->toString());
    } else if (invalidated.contains(kActiveProfile)) {
        readActiveProfile(*source);
    }
}

PowerProfilesState::Source *PowerProfilesState::sourceWith(QString Source::*field,
                                                           const QString &value)
{
    for (Source &source : m_sources) {
        if (source.*field == value)
            return &source;
    }
    return nullptr;
}

} // namespace lumivale
