#include "deviceid.h"

#include "platform/userdefaults.h"

#include <QUuid>

namespace lumivale {

QString deviceID(UserDefaults &defaults)
{
    const std::optional<QString> stored = defaults.string(kDeviceIDKey);
    if (stored && !stored->isEmpty())
        return *stored;
    const QString created = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    defaults.setString(kDeviceIDKey, created);
    return created;
}

} // namespace lumivale
