#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <map>
#include <vector>

namespace tavrik::test {

// A host that trickles: every request on 127.0.0.1 gets "200 OK" with a long declared body at
// once, and then one byte of it each time `trickle()` is called, so the answer never ends and is
// never silent for long.
class TricklingHttpServer final : public QObject {
public:
    TricklingHttpServer()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    std::erase(clients, socket);
                    ++hangUps;
                });
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }

    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
    }

    // One more byte to every request waiting; true when there was one.
    bool trickle()
    {
        for (QTcpSocket* socket : clients) {
            socket->write("x");
            socket->flush();
        }
        bytesSent += static_cast<int>(clients.size());
        return !clients.empty();
    }

    // Everything written has left for the client.
    bool flushed() const
    {
        return std::all_of(
            clients.begin(), clients.end(), [](QTcpSocket* socket) { return socket->bytesToWrite() == 0; });
    }
    int waiting() const { return static_cast<int>(clients.size()); }
    int hungUp() const { return hangUps; }
    int sent() const { return bytesSent; }

private:
    void answer(QTcpSocket* socket)
    {
        QByteArray& request = requests[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n")) {
            return;
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n");
        socket->flush();
        clients.push_back(socket);
    }

    QTcpServer server;
    std::map<QTcpSocket*, QByteArray> requests;
    std::vector<QTcpSocket*> clients;
    int hangUps = 0;
    int bytesSent = 0;
};

} // namespace tavrik::test
