#include "instanceprotocol.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
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
    QJsonObject json{{QStringLiteral("ok"), !reply.error.has_value()},
                     {QStringLiteral("output"), reply.output}};
    if (reply.error) {
        json.insert(QStringLiteral("domain"), reply.error->domain());
        json.insert(QStringLiteral("code"), reply.error->code());
        json.insert(QStringLiteral("error"), reply.error->description());
    }
    return QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n';
}

CommandReply decodeReply(QByteArrayView line)
{
    const QJsonObject json = QJsonDocument::fromJson(line.toByteArray()).object();
    CommandReply reply;
    reply.output = json.value(QStringLiteral("output")).toString();
    if (json.value(QStringLiteral("ok")).toBool())
        return reply;
    const QString description = json.value(QStringLiteral("error")).toString();
    reply.error =
        Error(json.value(QStringLiteral("domain")).toString(kErrorDomain),
              json.value(QStringLiteral("code")).toInt(),
              description.isEmpty() ? QStringLiteral("The running Lumivale gave no usable answer.")
                                    : description);
    return reply;
}

CommandReply sendCommand(const QString &socketPath, const CommandLine &command,
                         int connectTimeoutMs, int replyTimeoutMs)
{
    QLocalSocket socket;
    const QDeadlineTimer connectDeadline(connectTimeoutMs);
    for (;;) {
        socket.connectToServer(socketPath);
        if (socket.state() == QLocalSocket::ConnectedState ||
            socket.waitForConnected(int(qMax<qint64>(0, connectDeadline.remainingTime()))))
            break;
        if (connectDeadline.hasExpired())
            return {{},
                    protocolError(
                        NoInstance,
                        QStringLiteral("No running Lumivale answers on %1.").arg(socketPath))};
        QThread::msleep(20);
    }
    socket.write(encodeCommand(command));
    socket.flush();
    const QDeadlineTimer replyDeadline = replyTimeoutMs < 0
                                             ? QDeadlineTimer(QDeadlineTimer::Forever)
                                             : QDeadlineTimer(replyTimeoutMs);
    QByteArray line;
    while (!line.contains('\n') && line.size() <= kMaxMessageBytes) {
        if (socket.bytesAvailable()) {
            line += socket.readAll();
            continue;
        }
        if (socket.state() != QLocalSocket::ConnectedState || replyDeadline.hasExpired())
            break;
        const qint64 wait = replyDeadline.isForever() ? 60'000 : replyDeadline.remainingTime();
        socket.waitForReadyRead(int(qMin<qint64>(wait, 60'000)));
    }
    if (!line.contains('\n'))
        return {{},
                protocolError(NoAnswer,
                              QStringLiteral("The running Lumivale ended without an answer."))};
    return decodeReply(QByteArrayView(line).first(line.indexOf('\n')));
}

int printReply(const CommandReply &reply)
{
    if (!reply.output.isEmpty())
        std::fputs(qPrintable(reply.output), stdout);
    if (reply.error) {
        std::fprintf(stderr, "lumivale: %s\n", qPrintable(reply.error->description()));
        return 1;
    }
    return 0;
}

} // namespace lumivale::instanceprotocol
