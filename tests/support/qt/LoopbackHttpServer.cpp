#include "tests/support/qt/LoopbackHttpServer.hpp"

#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>

namespace tavrik::test {

namespace {

constexpr qint64 endlessBlock = 65536;

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer(QObject* parent)
    : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, &LoopbackHttpServer::accept);
    server.listen(QHostAddress::LocalHost, 0);
}

void LoopbackHttpServer::route(const QString& path, Response response)
{
    routes[path] = std::move(response);
}

void LoopbackHttpServer::routeRedirect(const QString& path, int status, const QByteArray& location)
{
    route(path, Response { status, {}, { { "Location", location } } });
}

QString LoopbackHttpServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
}

void LoopbackHttpServer::accept()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            partialRequests.erase(socket);
            socket->deleteLater();
        });
    }
}

void LoopbackHttpServer::readRequest(QTcpSocket* socket)
{
    QByteArray& request = partialRequests[socket];
    request += socket->readAll();
    const qsizetype end = request.indexOf("\r\n\r\n");
    if (end < 0) {
        return;
    }
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() >= 2 ? QString::fromLatin1(requestLine[1]) : QString();
    request.clear();
    requestedPaths.push_back(path);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);

    const auto found = routes.find(path);
    const Response response = found != routes.end() ? found->second : Response { 404, "not found", {} };
    if (response.mode == Response::Mode::stall) {
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason(response.status) + "\r\n";
    for (const auto& [name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
    }
    head += "Connection: close\r\n";
    if (response.mode == Response::Mode::endless) {
        // No length: the body ends when the connection does, which is never unless the client hangs up.
        socket->write(head + "\r\n");
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { feedEndless(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { ++endlessClosed; });
        feedEndless(socket);
        return;
    }
    const bool declared = std::any_of(response.headers.begin(), response.headers.end(),
        [](const auto& header) { return header.first.toLower() == "content-length"; });
    if (!declared) {
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    }
    head += "\r\n";
    socket->write(head + response.body);
    socket->disconnectFromHost();
}

void LoopbackHttpServer::feedEndless(QTcpSocket* socket)
{
    if (socket->state() != QAbstractSocket::ConnectedState || socket->bytesToWrite() >= endlessBlock) {
        return;
    }
    socket->write(QByteArray(endlessBlock, 'x'));
    endlessWritten += endlessBlock;
}

} // namespace tavrik::test
