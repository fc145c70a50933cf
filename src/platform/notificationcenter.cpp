#include "notificationcenter.h"

namespace lumivale {

NotificationCenter &NotificationCenter::shared()
{
    static auto *instance = new NotificationCenter;
    return *instance;
}

} // namespace lumivale
