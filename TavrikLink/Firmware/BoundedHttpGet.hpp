#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QTcpSocket;

namespace tavrik {

// One HTTP/1.1 GET over its own connection, with every part of the answer bounded: the status line
// and each header line, the number of header lines, the header as a whole and the whole reply. A
// host that never ends its header is refused once it passes what any real server sends, where a
// general-purpose client would buffer it until the memory runs out. Redirects are not followed:
// the caller sees the redirect's status and Location and decides.
//
// Handlers are called from the event loop; any of them may abort the request (the request then
// calls nothing more).
class BoundedHttpGet final : public QObject {
    Q_OBJECT
public:
    // Far above the few hundred bytes of a real firmware host's header.
    static constexpr std::int64_t headerSizeLimit = 65536;
    static constexpr int headerLineLimit = 128;
    static constexpr std::int64_t lineSizeLimit = 16384;

    enum class Failure {
        // The header passed one of its limits.
        oversizedHeader,
        // The reply is not HTTP, or its framing contradicts itself.
        malformed,
        // The whole reply passed `replyLimit`.
        oversizedReply,
        // The connection failed or ended early; `text` is the system's.
        connection,
    };

    struct Head {
        int status = 0;
        // The declared body length, when the body is not chunked.
        std::optional<std::int64_t> contentLength;
        QByteArray location;
    };

    struct Handlers {
        std::function<void(const Head&)> head;
        std::function<void(const QByteArray&)> body;
        std::function<void()> finished;
        std::function<void(Failure, std::string text)> failed;
        // Any bytes arrived, header or body.
        std::function<void()> activity;
    };

    // Starts at the next turn of the event loop. `replyLimit` bounds every byte read for the answer, header and framing included.
    BoundedHttpGet(const QUrl& url, std::int64_t replyLimit, Handlers handlers, QObject* parent = nullptr);
    ~BoundedHttpGet() override;

    const QUrl& url() const { return target; }
    // Closes the connection; no handler is called after this.
    void abort();

private:
    enum class Stage { statusLine, headerLines, body, chunkSize, chunkData, chunkEnd, trailer, done };

    void connectSocket();
    void sendRequest();
    void readSocket();
    void connectionEnded();
    void connectionFailed();
    // Parses as much of `pending` as it can; false once the request ended.
    bool parse();
    // The next line of `pending` without its line ending; none until a whole line arrived. Fails the
    // request when a line passes its limit.
    std::optional<QByteArray> takeLine(std::int64_t limit);
    bool headerLine(const QByteArray& line);
    bool headerEnded();
    bool deliverBody(qsizetype count);
    void finish();
    void fail(Failure failure, std::string text);
    void close();

    QUrl target;
    std::int64_t replyLimit;
    Handlers handlers;
    QPointer<QTcpSocket> socket;
    Stage stage = Stage::statusLine;
    QByteArray pending;
    std::int64_t received = 0;
    std::int64_t headerBytes = 0;
    int headerLines = 0;
    Head head;
    bool chunked = false;
    std::int64_t remaining = 0;
    bool ended = false;
};

} // namespace tavrik
