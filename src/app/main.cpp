#include "app/appdelegate.h"
#include "app/commandline.h"
#include "app/runtime.h"
#include "app/shellcommands.h"
#include "app/singleinstance.h"
#include "cache/videocache.h"
#include "desktop/wallpapermanager.h"
#include "gallery/gallerywindow.h"
#include "platform/linux/x11desktopsurface.h"
#include "platform/platform.h"
#include "platform/userdefaults.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QSessionManager>
#include <cstdio>

using namespace lumivale;
using instanceprotocol::printReply;

namespace {

// How long a new launch waits for an instance that is quitting to let go.
constexpr int kLockWaitMs = 10'000;

// This process is the running instance: the application proper.
int runApplication(QApplication &application, SingleInstance &instance, const CommandLine &command)
{
    // Read when the platform is made, below.
    if (command.takeOverDesktop)
        qputenv("LUMIVALE_TAKE_OVER_DESKTOP", "1");
    // The gallery window exists, hidden, from the start; the delegate finds it.
    GalleryWindow gallery;
    AppDelegate::Environment environment = AppDelegate::Environment::standard();
    environment.closeCommandSocket = [&instance] { instance.stopListening(); };
    AppDelegate delegate(std::move(environment), command.launchedAsLoginItem);
    ShellCommands commands(delegate);
    instance.setHandler([&commands](CommandLine received) { return commands.run(received); });

    // A launch that carries a command runs it, and shows the gallery only when
    // the command asks for it.
    const bool plainLaunch = command.action == CommandLine::Action::Reopen;
    delegate.applicationDidFinishLaunching(plainLaunch);
    if (!plainLaunch) {
        QMetaObject::invokeMethod(
            &delegate,
            [&commands, command] {
                [](ShellCommands &shell, CommandLine run) -> QCoro::Task<> {
                    const CommandReply reply = co_await shell.run(run);
                    printReply(reply);
                }(commands, command);
            },
            Qt::QueuedConnection);
    }

    // Logging out: the session manager asks once; the freeze must be done
    // before this handler returns, or the process may be gone.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &delegate,
                     [&delegate](QSessionManager &) {
                         delegate.requestTermination();
                         // The quit sequence ends by itself at its freeze limit; the margin
                         // is for the reply.
                         waitUntil([&delegate] { return delegate.isReadyToTerminate(); },
                                   int(delegate.environment().freezeLimit.count()) + 1000);
                     });

    // Signals quit the way the menu does: freeze first, then exit. A second
    // signal exits at once.
    const int status = execHandlingSignals([&delegate] { delegate.requestTermination(); });

    // The windows and their players go before the process does; the applied
    // wallpaper stays in the user defaults for the next launch.
    WallpaperManager::shared().releaseWindows();
    waitUntil([] { return X11DesktopSurface::pendingDisposals() == 0; }, 3000);
    // The answers still on their way go out now (a `--quit` waits for its
    // own). The quit closed the command socket: a later `lumivale` finds no
    // instance and waits for the lock.
    QCoreApplication::processEvents();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const auto parsed = CommandLine::parseOrPrint(arguments);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    const auto &command = std::get<CommandLine>(parsed);

    SingleInstance instance;
    // Two commands need no running instance, and never take its place.
    if (command.action == CommandLine::Action::Status ||
        command.action == CommandLine::Action::ListScreens) {
        prepareProcess();
        QApplication application(argc, argv);
        prepareApplication();
        const CommandReply reply = instance.send(command, 0);
        if (reply || reply.error().code() != instanceprotocol::NoInstance)
            return printReply(reply);
        if (command.action == CommandLine::Action::Status)
            return printReply(
                ShellCommands::offlineStatusText(UserDefaults::standard(), VideoCache::shared()));
        return printReply(ShellCommands::screensText(Platform::instance().screens().screens()));
    }

    Result<bool> locked = instance.lock();
    if (locked && !*locked) {
        // Another Lumivale holds the lock. It may be running (it started after
        // `lumivale` looked): hand it the command, with no GUI of our own. It
        // may be starting and not listening yet, or quitting: then try again
        // until it answers or lets go of the lock.
        QCoreApplication messenger(argc, argv);
        QDeadlineTimer deadline(kLockWaitMs);
        for (;;) {
            const CommandReply reply = instance.send(command, 0);
            if (!instanceprotocol::instanceIsGone(reply))
                return printReply(reply);
            locked = instance.lock(100);
            if (!locked || *locked)
                break;
            if (deadline.hasExpired())
                return printReply(reply);
        }
    }
    if (!locked)
        return printReply(failure(locked.error()));

    prepareProcess();
    QApplication application(argc, argv);
    prepareApplication();
    prepareGraphics();
    if (const Result<> listening = instance.listen(); !listening)
        return printReply(failure(listening.error()));
    const int status = runApplication(application, instance, command);
    // With the windows, the gallery and its QML engine gone, but before the
    // OpenGL driver unloads.
    checkLeaksNow();
    return status;
}
