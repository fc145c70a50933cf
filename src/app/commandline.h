#pragma once

#include <QString>
#include <QStringList>
#include <variant>

namespace lumivale {

// What the command line asks of this process.
struct CommandLine
{
    enum class Action { None, Apply, ListScreens };

    Action action = Action::None;
    // For Apply: the video file as given, and the screens (empty: all).
    QString file;
    QStringList screenIDs;

    // Parses the arguments (the program name first). On a mistake returns the
    // message to print.
    static std::variant<CommandLine, QString> parse(const QStringList &arguments);
    static QString usage();
};

} // namespace lumivale
