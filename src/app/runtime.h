#pragma once

#include <QtGlobal>
#include <functional>

class QCoreApplication;

namespace lumivale {

// Process set-up that must happen before the application object exists.
void prepareProcess();
// Set-up right after the application object exists: names, and the "C"
// numeric locale without which libmpv refuses to start.
void prepareApplication();
// For a process that shows windows, before the first one: the graphics Qt
// Quick draws with (OpenGL, which libmpv's OpenGL render API needs, or Qt
// Quick's own software painter where OpenGL is itself software). Asks the
// display's OpenGL which it is, so a process that only sends a command skips it.
void prepareGraphics();

// Runs the event loop and returns its exit code. The first SIGINT, SIGTERM or
// SIGHUP is brought to the main thread safely and calls `onSignal` there,
// which decides when the loop ends; a second one exits the process at once
// with status 128 + its number.
int execHandlingSignals(const std::function<void()> &onSignal);

// Under the leak sanitizer, checks for leaks now, while the application and
// the OpenGL driver are still loaded, instead of at exit: the driver is
// unloaded before the exit check and its own allocations would then show up
// as leaks of an unknown module. Without the sanitizer it does nothing.
void checkLeaksNow();

// Runs the event loop until `done` holds or `timeoutMs` passes; true if done.
// `done` is asked after every batch of events and at least every few
// milliseconds, so it may also watch state that other threads change. Objects
// deleted later are deleted meanwhile. On a thread with an event loop; an
// exit of the application's loop meanwhile does not end the wait.
bool waitUntil(const std::function<bool()> &done, int timeoutMs);

} // namespace lumivale
