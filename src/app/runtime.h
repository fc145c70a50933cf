#pragma once

#include <QtGlobal>
#include <functional>

class QCoreApplication;

namespace lumivale {

// Process set-up that must happen before the application object exists:
// Qt Quick is held to OpenGL, which libmpv's render API needs.
void prepareProcess();
// Set-up right after the application object exists: names, and the "C"
// numeric locale without which libmpv refuses to start.
void prepareApplication();

// Runs the event loop until the process is asked to end by SIGINT, SIGTERM or
// SIGHUP, which are brought to the main thread safely; then runs `beforeExit`
// on the main thread and returns the loop's exit code.
int execUntilSignalled(const std::function<void()> &beforeExit);

// Spins the event loop until `done` holds or `timeoutMs` passes; true if done.
bool waitUntil(const std::function<bool()> &done, int timeoutMs);

} // namespace lumivale
