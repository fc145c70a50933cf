#include "platform.h"

#include "linux/linuxplatform.h"

namespace lumivale {
namespace {
Platform *installed = nullptr;
} // namespace

Platform &Platform::instance()
{
    if (installed)
        return *installed;
    static auto *linuxPlatform = new LinuxPlatform;
    return *linuxPlatform;
}

void Platform::setInstance(Platform *platform)
{
    installed = platform;
}

} // namespace lumivale
