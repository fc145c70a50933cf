#include "commandline.h"

#include <QFileInfo>
#include <QJsonArray>
#include <array>
#include <cstdio>

namespace lumivale {
namespace {

using Action = CommandLine::Action;

struct Option
{
    Action action;
    const char *name;
};

// Every action but Reopen, by its option.
constexpr std::array kOptions{
    Option{Action::Open, "--open"},
    Option{Action::Apply, "--apply"},
    Option{Action::Pause, "--pause"},
    Option{Action::Resume, "--resume"},
    Option{Action::TogglePause, "--toggle-pause"},
    Option{Action::Stop, "--stop"},
    Option{Action::Refresh, "--refresh"},
    Option{Action::ClearCache, "--clear-cache"},
    Option{Action::Status, "--status"},
    Option{Action::ListScreens, "--screens"},
    Option{Action::Quit, "--quit"},
};

std::optional<Action> actionForOption(const QString &option)
{
    for (const Option &entry : kOptions) {
        if (option == QLatin1StringView(entry.name))
            return entry.action;
    }
    return std::nullopt;
}

// The running instance has a working directory of its own: a file named
// relative to the caller's is made absolute here. A name with no slash that
// is no file here stays a wallpaper ID.
QString resolvedApplyTarget(const QString &target)
{
    const QFileInfo file(target);
    if (file.isRelative() && (file.exists() || target.contains(u'/')))
        return file.absoluteFilePath();
    return target;
}

} // namespace

QString CommandLine::usage()
{
    return QStringLiteral(
        "Usage: lumivale [--login-item] [--take-over-desktop] [COMMAND]\n"
        "\n"
        "Without a command, starts Lumivale in the tray or shows the running one's gallery.\n"
        "A command goes to the running instance, or starts one first.\n"
        "\n"
        "  --open                 show the gallery\n"
        "  --apply FILE|ID        play a video file, or a catalogue wallpaper (downloaded\n"
        "                         first), as the wallpaper\n"
        "    --screen ID          only on this screen (repeatable; default: all)\n"
        "  --pause, --resume, --toggle-pause\n"
        "                         pause or resume the wallpaper\n"
        "  --stop                 turn the wallpaper off and put the desktop pictures back\n"
        "  --refresh              reload the catalogue\n"
        "  --clear-cache          delete the downloaded videos\n"
        "  --status               print the wallpaper, its screens, playback and cache size\n"
        "  --screens              list the screen IDs and names\n"
        "  --quit                 quit Lumivale, leaving the current frame as the desktop\n"
        "  --login-item           (used by the autostart entry) start without the gallery\n"
        "  --take-over-desktop    on MATE and XFCE, hide the desktop's own window while a\n"
        "                         wallpaper plays, so that it plays live (desktop icons go)\n"
        "  --help                 show this text\n");
}

std::variant<CommandLine, int> CommandLine::parseOrPrint(const QStringList &arguments)
{
    auto parsed = parse(arguments);
    if (const auto *message = std::get_if<QString>(&parsed)) {
        std::fprintf(stderr, "lumivale: %s\n\n%s", qPrintable(*message), qPrintable(usage()));
        return 2;
    }
    if (std::get<CommandLine>(parsed).helpRequested) {
        std::fputs(qPrintable(usage()), stdout);
        return 0;
    }
    return std::get<CommandLine>(std::move(parsed));
}

QString CommandLine::optionName(Action action)
{
    for (const Option &entry : kOptions) {
        if (entry.action == action)
            return QString::fromLatin1(entry.name);
    }
    return {};
}

std::variant<CommandLine, QString> CommandLine::parse(const QStringList &arguments)
{
    CommandLine command;
    std::optional<Action> chosen;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        const auto takeValue = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size() || arguments[i + 1].startsWith(QStringLiteral("--")))
                return std::nullopt;
            return arguments[++i];
        };
        if (argument == QStringLiteral("--screen")) {
            const auto screen = takeValue();
            if (!screen || screen->isEmpty())
                return QStringLiteral("--screen needs a screen ID (see --screens)");
            command.screenIDs.append(*screen);
        } else if (argument == QStringLiteral("--login-item")) {
            command.launchedAsLoginItem = true;
        } else if (argument == QStringLiteral("--take-over-desktop")) {
            command.takeOverDesktop = true;
        } else if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h")) {
            command.helpRequested = true;
        } else if (const auto action = actionForOption(argument)) {
            if (chosen)
                return QStringLiteral("give only one command (%1 and %2)")
                    .arg(optionName(*chosen), argument);
            chosen = action;
            if (*action == Action::Apply) {
                const auto target = takeValue();
                if (!target || target->isEmpty())
                    return QStringLiteral("--apply needs a video file or a wallpaper ID");
                command.applyTarget = resolvedApplyTarget(*target);
            }
        } else {
            return QStringLiteral("unknown argument: %1").arg(argument);
        }
    }
    command.action = chosen.value_or(Action::Reopen);
    if (!command.screenIDs.isEmpty() && command.action != Action::Apply)
        return QStringLiteral("--screen goes with --apply");
    return command;
}

QJsonObject CommandLine::toJson() const
{
    QJsonObject json{{QStringLiteral("command"), action == Action::Reopen
                                                     ? QStringLiteral("reopen")
                                                     : optionName(action).mid(2)}};
    if (launchedAsLoginItem)
        json.insert(QStringLiteral("loginItem"), true);
    if (action == Action::Apply) {
        json.insert(QStringLiteral("target"), applyTarget);
        json.insert(QStringLiteral("screens"), QJsonArray::fromStringList(screenIDs));
    }
    return json;
}

std::optional<CommandLine> CommandLine::fromJson(const QJsonObject &json)
{
    const QString name = json.value(QStringLiteral("command")).toString();
    CommandLine command;
    command.launchedAsLoginItem = json.value(QStringLiteral("loginItem")).toBool();
    if (name == QStringLiteral("reopen")) {
        command.action = Action::Reopen;
        return command;
    }
    const auto action = actionForOption(QStringLiteral("--") + name);
    if (!action)
        return std::nullopt;
    command.action = *action;
    if (*action == Action::Apply) {
        command.applyTarget = json.value(QStringLiteral("target")).toString();
        if (command.applyTarget.isEmpty())
            return std::nullopt;
        for (const QJsonValue &screen : json.value(QStringLiteral("screens")).toArray()) {
            if (!screen.isString() || screen.toString().isEmpty())
                return std::nullopt;
            command.screenIDs.append(screen.toString());
        }
    }
    return command;
}

} // namespace lumivale
