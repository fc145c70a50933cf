#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>
#include <QUrl>
#include <functional>
#include <optional>

class QTcpSocket;

namespace lumivale::test {

// A small HTTP/1.1 server on 127.0.0.1 for tests that talk to a real socket.
// It records every request it receives and answers with scripted responses:
// first those queued with enqueue(), in order, then the default response, or
// whatever the handler returns when one is set.
//
// Requests are parsed just far enough for tests: request line, headers and a
// body of "Content-Length" bytes (chunked request bodies are not supported).
// Connections are kept alive, as clients expect, unless a response drops them.
//
// Lives on the thread that created it (the test's main thread); answers are
// produced from its event loop, so the test must spin the loop (QTRY_*,
// QTest::qWaitFor) while it waits.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT

public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    struct Request
    {
        QByteArray method;
        // The request target as sent: path and query ("/manifest?deviceId=...").
        QByteArray target;
        Headers headers;
        QByteArray body;

        // The first header with this name, compared case-insensitively.
        std::optional<QByteArray> header(QByteArrayView name) const;
        QByteArray path() const;
        QByteArray query() const;
    };

    struct Response
    {
        int status = 200;
        // "Content-Length" is added unless given here (a test may claim a
        // length the body does not have).
        Headers headers = {};
        QByteArray body = {};
        // Wait this long before answering.
        int delayMs = 0;
        // Announce the full body but close the connection after half of it.
        bool dropMidBody = false;
        // Keep the connection open and send nothing at all.
        bool neverAnswers = false;
        // After the headers, send bytes until the client goes away (no
        // "Content-Length" unless given).
        bool endlessBody = false;
        // Send the body in pieces of this many bytes, one every 50 ms (0: all
        // at once).
        int throttleBytes = 0;
    };

    explicit LoopbackHttpServer(QObject *parent = nullptr);

    // http://127.0.0.1:<port><path>
    QUrl url(const QString &path = QStringLiteral("/")) const;

    void enqueue(Response response);
    void setDefaultResponse(Response response);
    void setHandler(std::function<Response(const Request &)> handler);

    const QList<Request> &requests() const { return m_requests; }
    // Spins the event loop until `count` requests have arrived.
    bool waitForRequests(qsizetype count, int timeoutMs = 5000);

    static Response json(const QByteArray &body, int status = 200);
    static Response silence();
    // The bytes of the file at `path` as "video/mp4", honouring a single
    // "Range: bytes=first-[last]" of the request with 206 (416 when the range
    // lies outside the file), so media readers can seek; 404 when the file
    // cannot be read.
    static Response file(const QString &path, const Request &request);

private:
    void onNewConnection();
    void readFrom(QTcpSocket *socket);
    Response responseFor(const Request &request);
    void send(QTcpSocket *socket, const Response &response);

    QTcpServer m_server;
    QList<Request> m_requests;
    QList<Response> m_queue;
    Response m_defaultResponse{.status = 404};
    std::function<Response(const Request &)> m_handler;
};

} // namespace lumivale::test
