#pragma once

#include <QtGlobal>
#include <chrono>

namespace lumivale::service {

// Milliseconds on a clock that never goes back; only differences mean
// anything. The service's default clock where a test injects its own.
inline qint64 steadyMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace lumivale::service
