#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <map>

namespace tavrik::test {

// A host on 127.0.0.1 whose answer never gets past its header: after the status line it sends
// header lines (or one header line without end) as fast as the client takes them. It gives up
// after `ceiling` bytes and then stays silent, so a client that never stops reading waits instead
// of filling the memory.
class EndlessHeaderServer final : public QObject {
public:
    enum class Shape { manyLines, oneEndlessLine, endlessStatusLine };

    explicit EndlessHeaderServer(Shape shape, qint64 ceiling = qint64 { 64 } * 1024 * 1024)
        : shape(shape)
        , ceiling(ceiling)
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
                connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { feed(socket); });
                connect(socket, &QTcpSocket::disconnected, this, [this] { ++hangUps; });
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }

    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
    }

    int hungUp() const { return hangUps; }
    qint64 written() const { return total; }

private:
    void answer(QTcpSocket* socket)
    {
        QByteArray& request = requests[socket];
        if (request.contains("\r\n\r\n")) {
            return;
        }
        request += socket->readAll();
        if (!request.contains("\r\n\r\n")) {
            return;
        }
        send(socket, shape == Shape::endlessStatusLine ? "HTTP/1.1 200 OK" : "HTTP/1.1 200 OK\r\n");
        if (shape == Shape::oneEndlessLine) {
            send(socket, "X-Filler: ");
        }
        feed(socket);
    }

    void feed(QTcpSocket* socket)
    {
        if (socket->state() != QAbstractSocket::ConnectedState || socket->bytesToWrite() > 0 || total >= ceiling) {
            return;
        }
        static const QByteArray lines = QByteArray("X-Filler: 0123456789abcdef\r\n").repeated(2048);
        static const QByteArray blanks = QByteArray(lines.size(), 'x');
        send(socket, shape == Shape::manyLines ? lines : blanks);
    }

    void send(QTcpSocket* socket, const QByteArray& bytes)
    {
        socket->write(bytes);
        total += bytes.size();
    }

    Shape shape;
    qint64 ceiling;
    QTcpServer server;
    std::map<QTcpSocket*, QByteArray> requests;
    int hangUps = 0;
    qint64 total = 0;
};

} // namespace tavrik::test
