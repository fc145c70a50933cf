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

// The time source of the gallery's short interface delays (the search
// debounce, the hover rest before a preview, the search field's late focus),
// so that tests can move time by hand instead of sleeping.
//
// Main thread only: actions run on the main thread, never from inside
// callAfter() itself.
class GalleryClock
{
public:
    virtual ~GalleryClock() = default;

    // Runs `action` once, `delayMs` from now, unless the returned handle is
    // destroyed first.
    [[nodiscard]] virtual std::unique_ptr<PendingCall> callAfter(int delayMs,
                                                                 std::function<void()> action) = 0;

    // The real clock: Qt's precise timers on the event loop.
    static GalleryClock &system();
};

} // namespace lumivale
