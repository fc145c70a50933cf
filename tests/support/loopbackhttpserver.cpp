#include "loopbackhttpserver.h"

#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace lumivale::test {
namespace {

const char kBufferProperty[] = "lumivaleRequestBuffer";

// Parses one complete request from the front of `buffer` and removes it;
// nullopt while the request is still incomplete.
std::optional<LoopbackHttpServer::Request> takeRequest(QByteArray &buffer)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return std::nullopt;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    LoopbackHttpServer::Request request;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = lines[i].left(colon).trimmed();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        if (name.compare("content-length", Qt::CaseInsensitive) == 0)
            contentLength = value.toLongLong();
        request.headers.emplaceBack(name, value);
    }
    const qsizetype bodyStart = headerEnd + 4;
    if (buffer.size() - bodyStart < contentLength)
        return std::nullopt;
    request.body = buffer.mid(bodyStart, contentLength);
    buffer.remove(0, bodyStart + contentLength);
    return request;
}

std::optional<QByteArray> find(const LoopbackHttpServer::Headers &headers, QByteArrayView name)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> LoopbackHttpServer::Request::header(QByteArrayView name) const
{
    return find(headers, name);
}

QByteArray LoopbackHttpServer::Request::path() const
{
    return target.split('?').first();
}

QByteArray LoopbackHttpServer::Request::query() const
{
    const qsizetype question = target.indexOf('?');
    return question < 0 ? QByteArray() : target.mid(question + 1);
}

LoopbackHttpServer::LoopbackHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::onNewConnection);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("loopback server cannot listen: %s", qPrintable(m_server.errorString()));
}

QUrl LoopbackHttpServer::url(const QString &path) const
{
    QUrl url(QStringLiteral("http://127.0.0.1"));
    url.setPort(m_server.serverPort());
    url.setPath(path);
    return url;
}

void LoopbackHttpServer::enqueue(Response response)
{
    m_queue.append(std::move(response));
}

void LoopbackHttpServer::setDefaultResponse(Response response)
{
    m_defaultResponse = std::move(response);
}

void LoopbackHttpServer::setHandler(std::function<Response(const Request &)> handler)
{
    m_handler = std::move(handler);
}

bool LoopbackHttpServer::waitForRequests(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_requests.size() >= count; }, timeoutMs);
}

LoopbackHttpServer::Response LoopbackHttpServer::json(const QByteArray &body, int status)
{
    return {.status = status, .headers = {{"Content-Type", "application/json"}}, .body = body};
}

LoopbackHttpServer::Response LoopbackHttpServer::silence()
{
    return {.neverAnswers = true};
}

LoopbackHttpServer::Response LoopbackHttpServer::file(const QString &path, const Request &request)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {.status = 404};
    Response response;
    const QByteArray content = file.readAll();
    response.headers.emplaceBack("Content-Type", "video/mp4");
    response.headers.emplaceBack("Accept-Ranges", "bytes");
    const std::optional<QByteArray> range = request.header("Range");
    if (!range || !range->startsWith("bytes=")) {
        response.body = content;
        return response;
    }
    const QList<QByteArray> bounds = range->mid(6).split('-');
    bool firstOk = false;
    const qsizetype first = bounds.value(0).toLongLong(&firstOk);
    bool lastOk = false;
    qsizetype last = bounds.value(1).toLongLong(&lastOk);
    if (!lastOk || last >= content.size())
        last = content.size() - 1;
    if (!firstOk || first > last) {
        response.status = 416;
        response.headers.emplaceBack("Content-Range",
                                     "bytes */" + QByteArray::number(content.size()));
        return response;
    }
    response.status = 206;
    response.headers.emplaceBack("Content-Range", "bytes " + QByteArray::number(first) + '-' +
                                                      QByteArray::number(last) + '/' +
                                                      QByteArray::number(content.size()));
    response.body = content.mid(first, last - first + 1);
    return response;
}

void LoopbackHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LoopbackHttpServer::readFrom(QTcpSocket *socket)
{
    QByteArray buffer = socket->property(kBufferProperty).toByteArray() + socket->readAll();
    while (std::optional<Request> request = takeRequest(buffer)) {
        m_requests.append(*request);
        const Response response = responseFor(*request);
        if (response.neverAnswers)
            continue;
        if (response.delayMs > 0) {
            QTimer::singleShot(response.delayMs, socket,
                               [this, socket, response] { send(socket, response); });
        } else {
            send(socket, response);
        }
    }
    socket->setProperty(kBufferProperty, buffer);
}

LoopbackHttpServer::Response LoopbackHttpServer::responseFor(const Request &request)
{
    if (!m_queue.isEmpty())
        return m_queue.takeFirst();
    if (m_handler)
        return m_handler(request);
    return m_defaultResponse;
}

void LoopbackHttpServer::send(QTcpSocket *socket, const Response &response)
{
    // Clients go by the code alone; the reason phrase is free text.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    const bool hasBody = response.status != 204 && response.status != 304;
    if (hasBody && !find(response.headers, "Content-Length") && !response.endlessBody)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += "\r\n";
    socket->write(head);
    if (!hasBody)
        return;
    if (response.endlessBody) {
        // Topped up as the client reads, never more than a chunk queued.
        const auto topUp = [socket, chunk = QByteArray(64 * 1024, 'e')] {
            if (socket->bytesToWrite() < chunk.size())
                socket->write(chunk);
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
        topUp();
        return;
    }
    if (response.throttleBytes > 0) {
        auto *timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket,
                [socket, timer, body = response.body, step = response.throttleBytes,
                 sent = qsizetype(0)]() mutable {
                    socket->write(body.mid(sent, step));
                    sent += step;
                    if (sent >= body.size())
                        timer->deleteLater();
                });
        timer->start(50);
        return;
    }
    if (response.dropMidBody) {
        socket->write(response.body.left(response.body.size() / 2));
        socket->flush();
        socket->disconnectFromHost();
        return;
    }
    socket->write(response.body);
}

} // namespace lumivale::test
