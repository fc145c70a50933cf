#include "runtime.h"

#include "buildconfig.h"
#include "platform/desktopintegration.h"
#include "platform/linux/mpvvideoitem.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace lumivale {
namespace {
// How often a wait looks again when nothing wakes it.
constexpr int kWaitPollMs = 5;

int signalSockets[2] = {-1, -1};
volatile sig_atomic_t signalsReceived = 0;

// Async-signal-safe: a write to a non-blocking socket, or _exit. The first
// signal asks for the orderly quit; a second one, while that quit is still
// freezing the frame, ends the process at once.
void forwardSignal(int signal)
{
    const int savedErrno = errno;
    if (signalsReceived > 0)
        ::_exit(128 + signal);
    signalsReceived = 1;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalSockets[0], &byte, 1);
    errno = savedErrno;
}
} // namespace

void prepareProcess()
{
    // GNOME on Wayland keeps Wayland clients off the desktop level; its
    // XWayland server lets an X11 window sit there.
    const DesktopIntegration integration = chooseDesktopIntegration(
        {qEnvironmentVariable("XDG_CURRENT_DESKTOP"), qEnvironmentVariable("XDG_SESSION_TYPE"), {}},
        qEnvironmentVariable("LUMIVALE_DESKTOP_INTEGRATION"), false);
    if (integration.needsXWayland && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        std::fputs("desktop integration: GNOME on Wayland: running on XWayland, where a window can "
                   "sit at desktop level\n",
                   stdout);
    }
    // Decoded pictures, posters and textures are large, short-lived buffers:
    // every hand-over brings a new decoder with threads of its own, and the
    // gallery's posters come and go by the hundred. glibc raises its mmap
    // threshold once a first such buffer is freed and from then on carves
    // them from per-thread arenas, which keep the pages after the free
    // (malloc_trim cannot hand them back either): resident memory grew with
    // every hand-over and every browse. A fixed threshold gives each large
    // buffer a mapping of its own, returned to the system when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    QCoreApplication::setOrganizationName(QStringLiteral("lumivale"));
    QCoreApplication::setApplicationName(QStringLiteral("lumivale"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(buildconfig::version));
}

void prepareApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("lumivale"));
    std::setlocale(LC_NUMERIC, "C");
}

void prepareGraphics()
{
    chooseSceneGraphicsApi();
}

int execHandlingSignals(const std::function<void()> &onSignal)
{
    // Non-blocking, so that a burst of signals never blocks the handler, and
    // closed on exec, so that no child inherits it.
    if (signalSockets[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSockets) != 0)
        qFatal("cannot create the signal socket pair");
    QSocketNotifier notifier(signalSockets[1], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char byte;
        [[maybe_unused]] const auto read = ::read(signalSockets[1], &byte, 1);
        onSignal();
    });
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    return QCoreApplication::exec();
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // The loop sleeps until something happens: every event (a reply, a queued
    // signal from another thread, a timer) wakes it and `done` is asked again
    // at once. The poll wakes it for what other threads change without
    // posting anything.
    QEventLoop loop;
    QTimer poll;
    poll.start(kWaitPollMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
        // Objects deleted later from an outer loop go now, as they would there.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void checkLeaksNow()
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check();
#endif
}

} // namespace lumivale
