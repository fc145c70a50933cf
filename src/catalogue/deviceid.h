#pragma once

#include <QString>

namespace lumivale {

class UserDefaults;

// The key under which this installation's device ID is kept.
inline const QString kDeviceIDKey = QStringLiteral("deviceID");

// This installation's random identifier, sent with the manifest request and
// with every like: the text stored under "deviceID" when there is one, else a
// new version-4 UUID in canonical upper-case form ("8-4-4-4-12" hex digits),
// which is stored at once, so it is created only once. An empty stored text
// counts as none. Main thread only (it may write the defaults).
QString deviceID(UserDefaults &defaults);

} // namespace lumivale
