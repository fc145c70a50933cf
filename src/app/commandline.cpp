#include "commandline.h"

namespace lumivale {

QString CommandLine::usage()
{
    return QStringLiteral("Usage: lumivale --apply FILE [--screen ID]...\n"
                          "       lumivale --screens\n"
                          "\n"
                          "  --apply FILE   play a video file as the wallpaper until interrupted\n"
                          "  --screen ID    only on this screen (repeatable; default: all)\n"
                          "  --screens      list the screen IDs and names\n");
}

std::variant<CommandLine, QString> CommandLine::parse(const QStringList &arguments)
{
    CommandLine command;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        const auto takeValue = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size() || arguments[i + 1].startsWith(QStringLiteral("--")))
                return std::nullopt;
            return arguments[++i];
        };
        if (argument == QStringLiteral("--apply")) {
            const auto file = takeValue();
            if (!file || file->isEmpty())
                return QStringLiteral("--apply needs a video file");
            if (command.action != Action::None)
                return QStringLiteral("give only one of --apply and --screens");
            command.action = Action::Apply;
            command.file = *file;
        } else if (argument == QStringLiteral("--screen")) {
            const auto screen = takeValue();
            if (!screen || screen->isEmpty())
                return QStringLiteral("--screen needs a screen ID (see --screens)");
            command.screenIDs.append(*screen);
        } else if (argument == QStringLiteral("--screens")) {
            if (command.action != Action::None)
                return QStringLiteral("give only one of --apply and --screens");
            command.action = Action::ListScreens;
        } else {
            return QStringLiteral("unknown argument: %1").arg(argument);
        }
    }
    if (!command.screenIDs.isEmpty() && command.action != Action::Apply)
        return QStringLiteral("--screen goes with --apply");
    return command;
}

} // namespace lumivale
