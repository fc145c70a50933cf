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
    std::optional<Error> error;
    if (wish && !enabled)
        error = m_service.registerLoginItem();
    else if (!wish && enabled)
        error = m_service.unregisterLoginItem();
    if (error)
        logFailure(u"launch at login sync failed:", *error);
}

std::optional<Error> LoginItemSync::toggle()
{
    // Anything but enabled (not registered, awaiting approval, not found)
    // registers again.
    const bool registering = !isEnabled();
    if (std::optional<Error> error =
            registering ? m_service.registerLoginItem() : m_service.unregisterLoginItem())
        return error;
    m_defaults.setBool(launchAtLoginPreferenceKey, registering);
    m_defaults.setBool(launchAtLoginPreferenceSetKey, true);
    return std::nullopt;
}

} // namespace lumivale
