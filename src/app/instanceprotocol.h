#pragma once

#include "commandline.h"
#include "platform/error.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace lumivale {

// What a command produced: the text to print, or why it failed.
using CommandReply = Result<QString>;

// How a `lumivale` process talks to the running instance: a local socket in
// the user's runtime folder; the command goes as one line of JSON, the answer
// comes back as one line of JSON, and the connection closes.
//
// Only QtCore and QtNetwork: the small `lumivale` command runs this without
// loading the application's libraries. Any thread; the client call blocks.
namespace instanceprotocol {

inline const QString kErrorDomain = QStringLiteral("Lumivale");
enum ErrorCode {
    NoRuntimeFolder = 1,
    LockFailed = 2,
    CannotListen = 3,
    NotACommand = 4,
    NotReady = 5,
    NoInstance = 6,
    NoAnswer = 7,
    NotAnswering = 8,
    Quitting = 9,
};
// How long a running instance may take to accept a command before the caller
// gives up on it; the command itself may then take as long as it needs.
constexpr int kAcceptTimeoutMs = 10'000;
// A command line is a few hundred bytes; anything much longer is not ours.
constexpr qsizetype kMaxMessageBytes = 64 * 1024;

// $XDG_RUNTIME_DIR, or Qt's fallback for it.
QString defaultRuntimeDirectory();
QString socketPath(const QString &runtimeDirectory);
QString lockPath(const QString &runtimeDirectory);

QByteArray encodeCommand(const CommandLine &command);
// Nothing when the line is not a command this version understands.
std::optional<CommandLine> decodeCommand(QByteArrayView line);
QByteArray encodeReply(const CommandReply &reply);
CommandReply decodeReply(QByteArrayView line);
// The line an instance sends as soon as it has read a command it will run.
QByteArray encodeAcceptance();

// Sends `command` to the instance listening at `socketPath` and waits for its
// answer, retrying the connection for `connectTimeoutMs` (an instance may hold
// the lock but not listen yet). Fails with NoInstance when nothing answers the
// connection, NotAnswering when the instance does not accept the command
// within `acceptTimeoutMs` (a wedged instance), and NoAnswer when it ends
// without an answer; `replyTimeoutMs` < 0 waits as long as an accepted command
// takes.
CommandReply sendCommand(const QString &socketPath, const CommandLine &command,
                         int connectTimeoutMs, int replyTimeoutMs = -1,
                         int acceptTimeoutMs = kAcceptTimeoutMs);
// Whether the reply says that no instance runs, or that the one running is on
// its way out: either way a new instance may take its place.
bool instanceIsGone(const CommandReply &reply);

// Prints the output to standard output and a failure's description to
// standard error; returns the process's exit status (0, or 1 on failure).
int printReply(const CommandReply &reply);

} // namespace instanceprotocol
} // namespace lumivale
