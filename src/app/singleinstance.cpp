#include "singleinstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <qcoro/qcorolocalsocket.h>

namespace lumivale {

using namespace instanceprotocol;

namespace {
Error instanceError(int code, const QString &description)
{
    return Error(kErrorDomain, code, description);
}
} // namespace

SingleInstance::SingleInstance(QString runtimeDirectory, QObject *parent)
    : QObject(parent)
    , m_directory(runtimeDirectory.isEmpty() ? defaultRuntimeDirectory()
                                             : std::move(runtimeDirectory))
{}

SingleInstance::~SingleInstance() = default;

Result<bool> SingleInstance::lock(int waitMs)
{
    if (m_lock)
        return true;
    if (m_directory.isEmpty() || !QDir().mkpath(m_directory))
        return failure(instanceError(
            NoRuntimeFolder,
            QStringLiteral("No runtime folder to meet other Lumivale processes in.")));
    auto lock = std::make_unique<QLockFile>(lockPath());
    // Never stale by age: only a dead owner frees it.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(waitMs)) {
        if (lock->error() == QLockFile::LockFailedError)
            return false;
        return failure(instanceError(
            LockFailed, QStringLiteral("Cannot take the lock file %1.").arg(lockPath())));
    }
    m_lock = std::move(lock);
    return true;
}

void SingleInstance::stopListening()
{
    if (!m_server)
        return;
    m_server->close();
    m_server.reset();
}

Result<> SingleInstance::listen()
{
    Q_ASSERT(m_lock);
    if (m_server)
        return {};
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file here was left by a process that died.
    QLocalServer::removeServer(socketPath());
    if (!server->listen(socketPath()))
        return failure(instanceError(
            CannotListen,
            QStringLiteral("Cannot listen on %1: %2").arg(socketPath(), server->errorString())));
    m_server = std::move(server);
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return {};
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        // An accepted command keeps its connection when the socket stops
        // listening (as the quit does): its answer still goes out.
        socket->setParent(this);
        serve(socket);
    }
}

QCoro::Task<> SingleInstance::serve(QLocalSocket *socket)
{
    const QPointer<QLocalSocket> connection(socket);
    const QPointer<SingleInstance> self(this);
    QByteArray line;
    while (connection && !line.contains('\n') && line.size() <= kMaxMessageBytes) {
        if (!connection->bytesAvailable() &&
            !co_await qCoro(connection.data()).waitForReadyRead(10'000))
            break;
        if (connection)
            line += connection->read(kMaxMessageBytes + 1 - line.size());
    }
    if (!connection)
        co_return;
    CommandReply reply;
    const qsizetype end = line.indexOf('\n');
    const auto command = end < 0 ? std::nullopt : decodeCommand(QByteArrayView(line).first(end));
    if (!command)
        reply = failure(
            instanceError(NotACommand, QStringLiteral("Not a command this Lumivale understands.")));
    else if (!self || !m_handler)
        reply =
            failure(instanceError(NotReady, QStringLiteral("Lumivale is not ready for commands.")));
    else {
        connection->write(encodeAcceptance());
        connection->flush();
        reply = co_await m_handler(*command);
    }
    if (!connection)
        co_return;
    connection->write(encodeReply(reply));
    connection->flush();
    connection->disconnectFromServer();
    connection->deleteLater();
}

CommandReply SingleInstance::send(const CommandLine &command, int connectTimeoutMs,
                                  int replyTimeoutMs) const
{
    return sendCommand(socketPath(), command, connectTimeoutMs, replyTimeoutMs);
}

} // namespace lumivale
