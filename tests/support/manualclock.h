#pragma once

#include "platform/delayclock.h"

#include <map>
#include <memory>

namespace lumivale::test {

// A DelayClock that moves only when told to: advance() runs, in order, the
// calls that fall due, each at its own time.
class ManualClock final : public DelayClock
{
public:
    std::unique_ptr<PendingCall> callAfter(int delayMs, std::function<void()> action) override;
    void advance(qint64 ms);
    qint64 now() const { return m_now; }

private:
    class Call;
    qint64 m_now = 0;
    quint64 m_sequence = 0;
    // By due time, then by order of scheduling.
    std::map<std::pair<qint64, quint64>, std::function<void()>> m_calls;
};

} // namespace lumivale::test
