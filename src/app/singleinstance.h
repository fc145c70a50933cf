#pragma once

#include "instanceprotocol.h"

#include <QLockFile>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <variant>

class QLocalServer;
class QLocalSocket;

namespace lumivale {

// One Lumivale per user session.
//
// The first process takes a lock file in the user's runtime folder
// (lumivale.lock) for as long as it lives and listens on a local socket next
// to it (lumivale.socket; see instanceprotocol.h). Later processes find the
// lock taken and send their command instead. A lock left by a process that
// died is taken over (QLockFile checks that its owner is alive), and so is a
// socket file left behind.
//
// Main thread only.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<QCoro::Task<CommandReply>(CommandLine)>;

    // Over `runtimeDirectory`, or the user's runtime folder.
    explicit SingleInstance(QString runtimeDirectory = {}, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Tries to become the running instance, waiting up to `waitMs` for the
    // lock: true when this process now holds it, false when another one runs.
    // Fails when the folder cannot be used.
    Result<bool> lock(int waitMs = 0);
    // Once locked, with a Qt application object: accepts commands.
    Result<> listen();
    // Each command that arrives goes to `handler`; commands from several
    // processes may overlap, and each connection gets its own answer. A
    // command is accepted (see encodeAcceptance) before the handler runs.
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    bool isListening() const { return m_server != nullptr; }
    // Closes the socket: from now on callers find no instance here.
    void stopListening();

    // From a process that lost the lock: the command to the running instance.
    CommandReply send(const CommandLine &command, int connectTimeoutMs = 5000,
                      int replyTimeoutMs = -1) const;

    QString socketPath() const { return instanceprotocol::socketPath(m_directory); }
    QString lockPath() const { return instanceprotocol::lockPath(m_directory); }

private:
    void acceptConnections();
    QCoro::Task<> serve(QLocalSocket *socket);

    QString m_directory;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    Handler m_handler;
};

} // namespace lumivale
