#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

namespace lumivale {

// What one invocation of `lumivale` asks for. A running instance receives the
// same value from a second process (see toJson/fromJson), so the running
// instance and a fresh one read a command the same way.
struct CommandLine
{
    enum class Action {
        Reopen, // no command: show the gallery
        Open,
        Apply,
        Pause,
        Resume,
        TogglePause,
        Stop,
        Refresh,
        ClearCache,
        Status,
        ListScreens,
        Quit,
    };

    Action action = Action::Reopen;
    // For Apply: a video file, or a wallpaper ID of the catalogue; and the
    // screens (empty: all).
    QString applyTarget;
    QStringList screenIDs;
    // Set by the autostart entry: this launch is a login-item launch.
    bool launchedAsLoginItem = false;
    // For this run, hide an opaque desktop (MATE, XFCE) while a wallpaper
    // plays; the user default "desktopTakeOver" does the same for good.
    bool takeOverDesktop = false;
    bool helpRequested = false;

    // Parses the arguments (the program name first). On a mistake returns the
    // message to print.
    static std::variant<CommandLine, QString> parse(const QStringList &arguments);
    static QString usage();
    // For main(): the command, or, after printing the usage (for --help) or
    // the mistake and the usage, the exit status to end with.
    static std::variant<CommandLine, int> parseOrPrint(const QStringList &arguments);

    // The option that names `action` ("--toggle-pause"); empty for Reopen.
    static QString optionName(Action action);

    QJsonObject toJson() const;
    // Nothing when `json` is not a command this version understands.
    static std::optional<CommandLine> fromJson(const QJsonObject &json);

    friend bool operator==(const CommandLine &, const CommandLine &) = default;
};

} // namespace lumivale
