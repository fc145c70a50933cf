#pragma once

#include "platform/error.h"

#include <QString>
#include <optional>

namespace lumivale {

class LoginItemService;
class UserDefaults;

// Start at login: the user's stored wish, and the login item brought into line
// with it. The wish is on by default; the stored wish wins over whatever the
// desktop's autostart list says at each launch, while isEnabled() always
// reports the login item as it actually is.
//
// Main thread only. The service and defaults are borrowed and must outlive
// the object. A failure leaves the stored wish as it was: sync() reports it as
// the line "launch at login sync failed:", toggle() returns it for the caller
// to show.
class LoginItemSync
{
public:
    static inline const QString launchAtLoginPreferenceKey = QStringLiteral("launchAtLoginEnabled");
    static inline const QString launchAtLoginPreferenceSetKey =
        QStringLiteral("launchAtLoginPreferenceSet");

    LoginItemSync(LoginItemService &service, UserDefaults &defaults);

    // At launch: stores the default wish on the first launch, then registers
    // or unregisters the login item when it differs from the wish.
    void sync();
    // The menu's choice: flips the login item and, on success, stores the new
    // wish.
    Result<> toggle();
    bool isEnabled() const;

private:
    LoginItemService &m_service;
    UserDefaults &m_defaults;
};

} // namespace lumivale
