#pragma once

#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrik::test {

// The device side of the local simulator link, through real files in a directory: it writes the
// advertisement, reads what the application appends to "to-device.jsonl" and appends its answers to
// "to-link.jsonl", addressed to the client that wrote last. On virtual time nothing happens by
// itself: `pump()` reads and answers. On a real event loop `run()` does both on a timer and keeps the
// advertisement fresh. "sync_start" gets "sync_ready", the sync data and "sync_done"; commands are
// recorded and answered by `answerCommand`.
class LocalLinkSimulator {
public:
    using Now = std::function<std::chrono::system_clock::time_point()>;

    // One line the application wrote.
    struct Received {
        std::string session;
        std::string client;
        std::int64_t flags = 0;
        Data payload;

        std::string text() const { return std::string(payload.begin(), payload.end()); }
    };

    // Creates the directory and both message files (empty), as the simulator program does.
    explicit LocalLinkSimulator(std::filesystem::path directory);
    ~LocalLinkSimulator();
    LocalLinkSimulator(const LocalLinkSimulator&) = delete;
    LocalLinkSimulator& operator=(const LocalLinkSimulator&) = delete;

    // Real time: every `interval`, re-advertises `session` with `now()` and pumps. `stop()` ends it.
    void run(const std::string& session, std::chrono::milliseconds interval, Now now);
    void stop();

    const std::filesystem::path& directory() const { return dir; }
    std::filesystem::path advertisingFile() const { return dir / "advertising.json"; }
    std::filesystem::path inboundFile() const { return dir / "to-device.jsonl"; }
    std::filesystem::path outboundFile() const { return dir / "to-link.jsonl"; }

    // Rewrites "advertising.json"; `updatedAt` in seconds since 1970.
    void advertise(const std::string& session, double updatedAt, bool enabled = true);
    void advertise(const std::string& session, std::chrono::system_clock::time_point updatedAt, bool enabled = true);
    // Any text as the advertisement.
    void writeAdvertisementText(const std::string& text);
    void removeAdvertisement();

    // What "sync_data" carries; `syncDataJson` replaces it whole when set.
    SyncDataEnvelope data;
    std::optional<Json> syncDataJson;
    bool answerSyncStart = true;
    // Answers of a "channel:command" text; by default none.
    std::function<std::vector<Json>(const std::string& channel, const std::string& command)> answerCommand;

    // Reads the application's new lines, records them and answers; gives the lines read.
    std::vector<Received> pump();

    // Sends a message to the client that wrote last (or to `client`), in the advertised session.
    void send(const Json& message, std::optional<std::string> client = std::nullopt);
    // Appends raw bytes to "to-link.jsonl" (part of a line, a malformed line, ...).
    void appendRaw(const std::string& bytes);
    // One line for the application, built from its parts as given.
    static std::string line(const std::optional<std::string>& session, const std::optional<std::string>& client,
        const std::string& payloadText);

    // What the application sent, in order.
    const std::vector<Received>& received() const { return log; }
    std::vector<std::string> receivedTexts() const;
    // "channel:command" texts, in order.
    std::vector<std::string> receivedCommands() const;
    std::vector<Json> receivedJson() const;
    const std::optional<std::string>& lastClient() const { return client; }
    const std::string& session() const { return currentSession; }

private:
    class Ticker;
    void answer(const Received& message);

    std::filesystem::path dir;
    std::string currentSession;
    std::uint64_t readOffset = 0;
    std::optional<std::string> client;
    std::vector<Received> log;
    // Last, so that its timer stops before anything it touches goes.
    std::unique_ptr<Ticker> ticker;
};

} // namespace tavrik::test
