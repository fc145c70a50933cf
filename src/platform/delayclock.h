#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

namespace lumivale {

// A pending delayed call; destroying it cancels the call if it has not run.
class PendingCall
{
public:
    virtual ~PendingCall() = default;
};

// The time source of short delays (the gallery's search debounce, its hover
// rest before a preview and late focus; the desktop windows' rebuild after a
// screen change), so that tests can move time by hand instead of sleeping.
//
// Main thread only: actions run on the main thread, never from inside
// callAfter() itself.
class DelayClock
{
public:
    virtual ~DelayClock() = default;

    // Runs `action` once, `delayMs` from now, unless the returned handle is
    // destroyed first.
    [[nodiscard]] virtual std::unique_ptr<PendingCall> callAfter(int delayMs,
                                                                 std::function<void()> action) = 0;

    // The real clock: Qt's precise timers on the event loop.
    static DelayClock &system();
};

} // namespace lumivale
