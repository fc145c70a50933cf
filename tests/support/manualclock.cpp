#include "manualclock.h"

namespace lumivale::test {

class ManualClock::Call final : public PendingCall
{
public:
    Call(ManualClock &clock, std::pair<qint64, quint64> key)
        : m_clock(clock)
        , m_key(key)
    {}
    ~Call() override { m_clock.m_calls.erase(m_key); }

private:
    ManualClock &m_clock;
    std::pair<qint64, quint64> m_key;
};

std::unique_ptr<PendingCall> ManualClock::callAfter(int delayMs, std::function<void()> action)
{
    const std::pair<qint64, quint64> key{m_now + delayMs, m_sequence++};
    m_calls.emplace(key, std::move(action));
    return std::make_unique<Call>(*this, key);
}

void ManualClock::advance(qint64 ms)
{
    const qint64 end = m_now + ms;
    while (!m_calls.empty() && m_calls.begin()->first.first <= end) {
        auto first = m_calls.begin();
        m_now = first->first.first;
        std::function<void()> action = std::move(first->second);
        m_calls.erase(first);
        action();
    }
    m_now = end;
}

} // namespace lumivale::test
