#include "loginitemsync.h"

#include "platform/loginitem.h"
#include "platform/userdefaults.h"

namespace lumivale {

LoginItemSync::LoginItemSync(LoginItemService &service, UserDefaults &defaults)
    : m_service(service)
    , m_defaults(defaults)
{}

bool LoginItemSync::isEnabled() const
{
    return m_service.status() == LoginItemService::Status::Enabled;
}

void LoginItemSync::sync()
{
    if (!m_defaults.boolean(launchAtLoginPreferenceSetKey).value_or(false)) {
        m_defaults.setBool(launchAtLoginPreferenceKey, true);
        m_defaults.setBool(launchAtLoginPreferenceSetKey, true);
    }
    const bool wish = m_defaults.boolean(launchAtLoginPreferenceKey).value_or(false);
    const bool enabled = isEnabled();
    Result<> synced;
    if (wish && !enabled)
        synced = m_service.registerLoginItem();
    else if (!wish && enabled)
        synced = m_service.unregisterLoginItem();
    if (!synced)
        logFailure(u"launch at login sync failed:", synced.error());
}

Result<> LoginItemSync::toggle()
{
    // Anything but enabled (not registered, awaiting approval, not found)
    // registers again.
    const bool registering = !isEnabled();
    Result<> changed =
        registering ? m_service.registerLoginItem() : m_service.unregisterLoginItem();
    if (!changed)
        return changed;
    m_defaults.setBool(launchAtLoginPreferenceKey, registering);
    m_defaults.setBool(launchAtLoginPreferenceSetKey, true);
    return {};
}

} // namespace lumivale
