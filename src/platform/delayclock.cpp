#include "delayclock.h"

#include <QTimer>

namespace lumivale {
namespace {

class TimerCall final : public PendingCall
{
public:
    TimerCall(int delayMs, std::function<void()> action)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, std::move(action));
        m_timer.start(delayMs);
    }

private:
    QTimer m_timer;
};

class SystemClock final : public DelayClock
{
public:
    std::unique_ptr<PendingCall> callAfter(int delayMs, std::function<void()> action) override
    {
        return std::make_unique<TimerCall>(delayMs, std::move(action));
    }
};

} // namespace

DelayClock &DelayClock::system()
{
    static SystemClock clock;
    return clock;
}

} // namespace lumivale
