#include "ratelimiter.h"

#include "steadyclock.h"

namespace lumivale::service {
namespace {

constexpr qint64 kWindowMs = 1000;
// Past this many keys, windows that ended are forgotten, so that a stream of
// new keys cannot grow the table without bound.
constexpr qsizetype kPruneAbove = 50000;

} // namespace

RateLimiter::RateLimiter(int perSecond, std::function<qint64()> now)
    : m_perSecond(perSecond)
    , m_now(now ? std::move(now) : steadyMilliseconds)
{}

bool RateLimiter::admit(const QString &key)
{
    if (m_perSecond <= 0)
        return true;
    const qint64 now = m_now();
    const std::lock_guard lock(m_mutex);
    if (m_windows.size() > kPruneAbove)
        m_windows.removeIf(
            [now](const auto &item) { return now - item.value().start >= kWindowMs; });
    Window &window = m_windows[key];
    if (now - window.start >= kWindowMs || window.count == 0)
        window = Window{now, 0};
    if (window.count >= m_perSecond)
        return false;
    ++window.count;
    return true;
}

} // namespace lumivale::service
