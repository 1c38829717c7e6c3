#include "TavrikLink/Firmware/BoundedHttpGet.hpp"

#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <utility>

namespace tavrik {

namespace {

constexpr qint64 readBlock = 65536;
// A chunk-size line is a few hex digits, perhaps with an extension nobody sends.
constexpr std::int64_t chunkLineLimit = 1024;

bool isHttps(const QUrl& url)
{
    return url.scheme() == QLatin1String("https");
}

std::optional<std::int64_t> decimal(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 18) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        value = value * 10 + (digit - '0');
    }
    return value;
}

std::optional<std::int64_t> hexadecimal(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 15) {
        return std::nullopt;
    }
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 16);
    if (!ok || value < 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace

BoundedHttpGet::BoundedHttpGet(const QUrl& url, std::int64_t replyLimit, Handlers handlers, QObject* parent)
    : QObject(parent)
    , target(url)
    , replyLimit(replyLimit)
    , handlers(std::move(handlers))
{
    if (isHttps(url)) {
        auto* secure = new QSslSocket(this);
        socket = secure;
        connect(secure, &QSslSocket::encrypted, this, &BoundedHttpGet::sendRequest);
    } else {
        socket = new QTcpSocket(this);
        connect(socket, &QTcpSocket::connected, this, &BoundedHttpGet::sendRequest);
    }
    // What the socket holds unread is bounded too; the rest waits in the system until read.
    socket->setReadBufferSize(readBlock);
    connect(socket, &QTcpSocket::readyRead, this, &BoundedHttpGet::readSocket);
    connect(socket, &QTcpSocket::disconnected, this, &BoundedHttpGet::connectionEnded);
    connect(socket, &QTcpSocket::errorOccurred, this, &BoundedHttpGet::connectionFailed);
    // Connecting at the next turn: whatever the socket reports, even at once, reaches a caller that
    // already holds the request.
    QMetaObject::invokeMethod(this, &BoundedHttpGet::connectSocket, Qt::QueuedConnection);
}

void BoundedHttpGet::connectSocket()
{
    if (ended || !socket) {
        return;
    }
    const quint16 port = static_cast<quint16>(target.port(isHttps(target) ? 443 : 80));
    if (auto* secure = qobject_cast<QSslSocket*>(socket.data())) {
        secure->connectToHostEncrypted(target.host(), port);
    } else {
        socket->connectToHost(target.host(), port);
    }
}

BoundedHttpGet::~BoundedHttpGet()
{
    ended = true;
    close();
}

void BoundedHttpGet::abort()
{
    ended = true;
    close();
}

void BoundedHttpGet::sendRequest()
{
    QByteArray path = target.path(QUrl::FullyEncoded).toLatin1();
    if (path.isEmpty()) {
        path = "/";
    }
    if (target.hasQuery()) {
        path += "?" + target.query(QUrl::FullyEncoded).toLatin1();
    }
    QByteArray host = target.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':')) {
        host = "[" + host + "]";
    }
    if (target.port() != -1) {
        host += ":" + QByteArray::number(target.port());
    }
    // One request per connection and no compression: the body arrives as the manifest states it.
    socket->write("GET " + path + " HTTP/1.1\r\nHost: " + host
        + "\r\nUser-Agent: TavrikLink\r\nAccept: */*\r\nAccept-Encoding: identity\r\nConnection: close\r\n\r\n");
}

void BoundedHttpGet::readSocket()
{
    while (!ended && socket && socket->bytesAvailable() > 0) {
        const QByteArray bytes = socket->read(readBlock);
        received += bytes.size();
        if (received > replyLimit) {
            fail(Failure::oversizedReply, {});
            return;
        }
        pending += bytes;
        if (handlers.activity) {
            handlers.activity();
        }
        if (ended || !parse()) {
            return;
        }
    }
}

void BoundedHttpGet::connectionEnded()
{
    if (ended) {
        return;
    }
    readSocket();
    if (ended) {
        return;
    }
    // Without a declared length or chunks, the body is whatever came before the host hung up.
    if (stage == Stage::body && remaining < 0) {
        finish();
    } else {
        fail(Failure::connection, "The remote host closed the connection");
    }
}

void BoundedHttpGet::connectionFailed()
{
    if (ended || !socket) {
        return;
    }
    if (socket->error() == QAbstractSocket::RemoteHostClosedError) {
        connectionEnded();
        return;
    }
    fail(Failure::connection, socket->errorString().toStdString());
}

std::optional<QByteArray> BoundedHttpGet::takeLine(std::int64_t limit)
{
    const bool inHeader = stage == Stage::statusLine || stage == Stage::headerLines || stage == Stage::trailer;
    const qsizetype end = pending.indexOf('\n');
    const std::int64_t length = end < 0 ? pending.size() : end + 1;
    if (length > limit || (inHeader && headerBytes + length > headerSizeLimit)) {
        fail(inHeader ? Failure::oversizedHeader : Failure::malformed, {});
        return std::nullopt;
    }
    if (end < 0) {
        return std::nullopt;
    }
    QByteArray line = pending.left(end);
    pending.remove(0, end + 1);
    if (inHeader) {
        headerBytes += end + 1;
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

bool BoundedHttpGet::parse()
{
    while (!ended) {
        switch (stage) {
        case Stage::statusLine: {
            const std::optional<QByteArray> line = takeLine(lineSizeLimit);
            if (!line) {
                return !ended;
            }
            const QList<QByteArray> parts = line->split(' ');
            const std::optional<std::int64_t> status = parts.size() >= 2 ? decimal(parts[1]) : std::nullopt;
            if (!line->startsWith("HTTP/1.") || !status || parts[1].size() != 3) {
                fail(Failure::malformed, {});
                return false;
            }
            head = Head { static_cast<int>(*status), std::nullopt, {} };
            chunked = false;
            stage = Stage::headerLines;
            break;
        }
        case Stage::headerLines: {
            const std::optional<QByteArray> line = takeLine(lineSizeLimit);
            if (!line) {
                return !ended;
            }
            if (!(line->isEmpty() ? headerEnded() : headerLine(*line))) {
                return false;
            }
            break;
        }
        case Stage::body: {
            if (pending.isEmpty()) {
                return true;
            }
            const qsizetype count = remaining < 0 ? pending.size() : std::min<qsizetype>(pending.size(), remaining);
            if (!deliverBody(count)) {
                return false;
            }
            if (remaining >= 0) {
                remaining -= count;
                if (remaining == 0) {
                    finish();
                    return false;
                }
            }
            break;
        }
        case Stage::chunkSize: {
            const std::optional<QByteArray> line = takeLine(chunkLineLimit);
            if (!line) {
                return !ended;
            }
            const std::optional<std::int64_t> size = hexadecimal(line->split(';').front().trimmed());
            if (!size) {
                fail(Failure::malformed, {});
                return false;
            }
            remaining = *size;
            stage = remaining == 0 ? Stage::trailer : Stage::chunkData;
            break;
        }
        case Stage::chunkData: {
            if (pending.isEmpty()) {
                return true;
            }
            const qsizetype count = std::min<qsizetype>(pending.size(), remaining);
            if (!deliverBody(count)) {
                return false;
            }
            remaining -= count;
            if (remaining == 0) {
                stage = Stage::chunkEnd;
            }
            break;
        }
        case Stage::chunkEnd: {
            const std::optional<QByteArray> line = takeLine(chunkLineLimit);
            if (!line) {
                return !ended;
            }
            if (!line->isEmpty()) {
                fail(Failure::malformed, {});
                return false;
            }
            stage = Stage::chunkSize;
            break;
        }
        case Stage::trailer: {
            const std::optional<QByteArray> line = takeLine(lineSizeLimit);
            if (!line) {
                return !ended;
            }
            if (line->isEmpty()) {
                finish();
                return false;
            }
            if (++headerLines > headerLineLimit) {
                fail(Failure::oversizedHeader, {});
                return false;
            }
            break;
        }
        case Stage::done:
            return false;
        }
    }
    return false;
}

bool BoundedHttpGet::headerLine(const QByteArray& line)
{
    if (++headerLines > headerLineLimit) {
        fail(Failure::oversizedHeader, {});
        return false;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) {
        // A folded continuation or a stray line; neither names a field this client reads.
        return true;
    }
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "content-length") {
        const std::optional<std::int64_t> length = decimal(value);
        if (!length || (head.contentLength && *head.contentLength != *length)) {
            fail(Failure::malformed, {});
            return false;
        }
        head.contentLength = length;
    } else if (name == "transfer-encoding") {
        chunked = value.toLower().contains("chunked");
    } else if (name == "location") {
        head.location = value;
    }
    return true;
}

bool BoundedHttpGet::headerEnded()
{
    headerLines = 0;
    if (head.status >= 100 && head.status <= 199) {
        // An interim answer; the real one follows on the same connection.
        stage = Stage::statusLine;
        return true;
    }
    if (chunked) {
        head.contentLength.reset();
    }
    if (handlers.head) {
        handlers.head(head);
    }
    if (ended) {
        return false;
    }
    if (head.status == 204 || head.status == 304 || (!chunked && head.contentLength == 0)) {
        finish();
        return false;
    }
    if (chunked) {
        stage = Stage::chunkSize;
    } else {
        stage = Stage::body;
        remaining = head.contentLength.value_or(-1);
    }
    return true;
}

bool BoundedHttpGet::deliverBody(qsizetype count)
{
    const QByteArray bytes = pending.left(count);
    pending.remove(0, count);
    if (handlers.body) {
        handlers.body(bytes);
    }
    return !ended;
}

void BoundedHttpGet::finish()
{
    ended = true;
    stage = Stage::done;
    close();
    // A copy: the handler may end the request's owner, and with it these handlers.
    if (const auto finished = handlers.finished) {
        finished();
    }
}

void BoundedHttpGet::fail(Failure failure, std::string text)
{
    ended = true;
    stage = Stage::done;
    close();
    if (const auto failed = handlers.failed) {
        failed(failure, std::move(text));
    }
}

void BoundedHttpGet::close()
{
    if (QTcpSocket* open = socket) {
        socket = nullptr;
        disconnect(open, nullptr, this, nullptr);
        open->abort();
        open->deleteLater();
    }
}

} // namespace tavrik
