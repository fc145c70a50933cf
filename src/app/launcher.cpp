// `lumivale`: hands its command to the running Lumivale, or starts it.
//
// Only QtCore and QtNetwork are loaded here, so that a command to the running
// instance comes back quickly. With no instance answering, this process
// becomes the application: it executes `lumivale-app` with the same arguments
// (same process, same PID), which takes the single-instance lock and runs the
// command itself; an instance that is quitting is waited out the same way.

#include "app/commandline.h"
#include "app/instanceprotocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

using namespace lumivale;
using instanceprotocol::printReply;

namespace {

// Next to this program (the build tree), else where installing puts it.
QString applicationPath()
{
    const QDir here = QFileInfo(QCoreApplication::applicationFilePath()).dir();
    for (const QString &candidate : {here.filePath(QStringLiteral("lumivale-app")),
                                     QDir::cleanPath(here.filePath(QStringLiteral(
                                         LUMIVALE_APP_RELATIVE_DIR "/lumivale-app")))}) {
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication messenger(argc, argv);
    const auto parsed = CommandLine::parseOrPrint(QCoreApplication::arguments());
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    const auto &command = std::get<CommandLine>(parsed);

    const QString socket =
        instanceprotocol::socketPath(instanceprotocol::defaultRuntimeDirectory());
    const CommandReply reply = instanceprotocol::sendCommand(socket, command, 0);
    // No instance, or one on its way out: the application waits for its lock.
    if (!instanceprotocol::instanceIsGone(reply))
        return printReply(reply);

    const QString application = applicationPath();
    if (application.isEmpty()) {
        std::fprintf(stderr, "lumivale: cannot find lumivale-app next to %s\n",
                     qPrintable(QCoreApplication::applicationFilePath()));
        return 1;
    }
    // The autostart entry must name this command, not the application inside.
    qputenv("LUMIVALE_LAUNCHER", QFile::encodeName(QCoreApplication::applicationFilePath()));
    const QByteArray path = QFile::encodeName(application);
    argv[0] = const_cast<char *>(path.constData());
    ::execv(path.constData(), argv);
    std::fprintf(stderr, "lumivale: cannot start %s: %s\n", path.constData(), std::strerror(errno));
    return 1;
}
