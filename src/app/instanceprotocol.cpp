#include "instanceprotocol.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace lumivale::instanceprotocol {
namespace {

Error protocolError(int code, const QString &description)
{
    return Error(kErrorDomain, code, description);
}

} // namespace

QString defaultRuntimeDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString socketPath(const QString &runtimeDirectory)
{
    return QDir(runtimeDirectory).filePath(QStringLiteral("lumivale.socket"));
}

QString lockPath(const QString &runtimeDirectory)
{
    return QDir(runtimeDirectory).filePath(QStringLiteral("lumivale.lock"));
}

QByteArray encodeCommand(const CommandLine &command)
{
    return QJsonDocument(command.toJson()).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<CommandLine> decodeCommand(QByteArrayView line)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return CommandLine::fromJson(document.object());
}

QByteArray encodeReply(const CommandReply &reply)
{
    QJsonObject json{{QStringLiteral("ok"), reply.has_value()},
                     {QStringLiteral("output"), reply.value_or(QString())}};
    if (!reply) {
        json.insert(QStringLiteral("domain"), reply.error().domain());
        json.insert(QStringLiteral("code"), reply.error().code());
        json.insert(QStringLiteral("error"), reply.error().description());
    }
    return QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray encodeAcceptance()
{
    return QByteArrayLiteral("{\"accepted\":true}\n");
}

bool instanceIsGone(const CommandReply &reply)
{
    return !reply && reply.error().domain() == kErrorDomain &&
           (reply.error().code() == NoInstance || reply.error().code() == Quitting);
}

CommandReply decodeReply(QByteArrayView line)
{
    const QJsonObject json = QJsonDocument::fromJson(line.toByteArray()).object();
    if (json.value(QStringLiteral("ok")).toBool())
        return json.value(QStringLiteral("output")).toString();
    const QString description = json.value(QStringLiteral("error")).toString();
    return failure(json.value(QStringLiteral("domain")).toString(kErrorDomain),
                   json.value(QStringLiteral("code")).toInt(),
                   description.isEmpty()
                       ? QStringLiteral("The running Lumivale gave no usable answer.")
                       : description);
}

CommandReply sendCommand(const QString &socketPath, const CommandLine &command,
                         int connectTimeoutMs, int replyTimeoutMs, int acceptTimeoutMs)
{
    QLocalSocket socket;
    const QDeadlineTimer connectDeadline(connectTimeoutMs);
    for (;;) {
        socket.connectToServer(socketPath);
        if (socket.state() == QLocalSocket::ConnectedState ||
            socket.waitForConnected(int(qMax<qint64>(0, connectDeadline.remainingTime()))))
            break;
        if (connectDeadline.hasExpired())
            return failure(protocolError(
                NoInstance, QStringLiteral("No running Lumivale answers on %1.").arg(socketPath)));
        QThread::msleep(20);
    }
    socket.write(encodeCommand(command));
    socket.flush();
    // The kernel accepts a connection even for an instance whose event loop is
    // stuck; only its acceptance line shows that it reads commands.
    bool accepted = false;
    const QDeadlineTimer acceptDeadline(acceptTimeoutMs);
    QDeadlineTimer replyDeadline(QDeadlineTimer::Forever);
    QByteArray buffer;
    for (;;) {
        const qsizetype end = buffer.indexOf('\n');
        if (end >= 0) {
            const QByteArray line = buffer.first(end);
            buffer.remove(0, end + 1);
            if (!accepted && line + '\n' == encodeAcceptance()) {
                accepted = true;
                if (replyTimeoutMs >= 0)
                    replyDeadline.setRemainingTime(replyTimeoutMs);
                continue;
            }
            return decodeReply(line);
        }
        if (buffer.size() > kMaxMessageBytes)
            break;
        if (socket.bytesAvailable()) {
            buffer += socket.readAll();
            continue;
        }
        const QDeadlineTimer &deadline = accepted ? replyDeadline : acceptDeadline;
        if (!accepted && acceptDeadline.hasExpired())
            return failure(protocolError(
                NotAnswering, QStringLiteral("The running Lumivale does not answer (waited %1 s).")
                                  .arg(acceptTimeoutMs / 1000.0)));
        if (socket.state() != QLocalSocket::ConnectedState || deadline.hasExpired())
            break;
        const qint64 wait = deadline.isForever() ? 60'000 : deadline.remainingTime();
        socket.waitForReadyRead(int(std::clamp<qint64>(wait, 1, 60'000)));
    }
    return failure(
        protocolError(NoAnswer, QStringLiteral("The running Lumivale ended without an answer.")));
}

int printReply(const CommandReply &reply)
{
    if (!reply) {
        std::fprintf(stderr, "lumivale: %s\n", qPrintable(reply.error().description()));
        return 1;
    }
    std::fputs(qPrintable(*reply), stdout);
    return 0;
}

} // namespace lumivale::instanceprotocol
