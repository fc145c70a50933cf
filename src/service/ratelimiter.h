#pragma once

#include <QHash>
#include <QString>
#include <functional>
#include <mutex>

namespace lumivale::service {

// Counts requests per key (a device ID, an address) in windows of one second
// and refuses those beyond the limit. A limit of 0 refuses nothing.
//
// Safe from any thread. `now` gives milliseconds of a steady clock; the
// default is the process's own.
class RateLimiter
{
public:
    explicit RateLimiter(int perSecond, std::function<qint64()> now = {});

    // Whether one more request from `key` is allowed now; counts it if so.
    bool admit(const QString &key);

private:
    struct Window
    {
        qint64 start = 0;
        int count = 0;
    };

    const int m_perSecond;
    const std::function<qint64()> m_now;
    std::mutex m_mutex;
    QHash<QString, Window> m_windows;
};

} // namespace lumivale::service
