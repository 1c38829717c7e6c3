#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <map>
#include <utility>
#include <vector>

class QTcpSocket;

namespace tavrik::test {

// A small HTTP/1.1 server on 127.0.0.1 for tests of real downloads: each path answers with a fixed
// response, one request per connection. A route may declare its own Content-Length, stall (send
// nothing) or stream an endless body.
class LoopbackHttpServer final : public QObject {
    Q_OBJECT
public:
    struct Response {
        enum class Mode { complete, stall, endless };
        int status = 200;
        QByteArray body;
        std::vector<std::pair<QByteArray, QByteArray>> headers;
        Mode mode = Mode::complete;
    };

    explicit LoopbackHttpServer(QObject* parent = nullptr);

    // Paths without a route answer 404.
    void route(const QString& path, Response response);
    void routeBody(const QString& path, QByteArray body) { route(path, Response { 200, std::move(body), {} }); }
    void routeRedirect(const QString& path, int status, const QByteArray& location);

    // "http://127.0.0.1:<port>" + path.
    QString url(const QString& path) const;
    // The paths requested so far, in order.
    const std::vector<QString>& requests() const { return requestedPaths; }
    // Bytes of endless bodies written before the client hung up.
    qint64 endlessBytesWritten() const { return endlessWritten; }
    int closedEndlessConnections() const { return endlessClosed; }

private:
    void accept();
    void readRequest(QTcpSocket* socket);
    void feedEndless(QTcpSocket* socket);

    QTcpServer server;
    std::map<QString, Response> routes;
    std::map<QTcpSocket*, QByteArray> partialRequests;
    std::vector<QString> requestedPaths;
    qint64 endlessWritten = 0;
    int endlessClosed = 0;
};

} // namespace tavrik::test
