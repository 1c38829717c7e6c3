#pragma once

#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikCore/Support/ScheduledTask.hpp"
#include "TavrikLink/Link/DeviceLink.hpp"
#include "TavrikLink/Support/RegularFile.hpp"
#include "TavrikLink/Support/SlicedWork.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

namespace tavrik {

// The local simulator's road, through files in a folder the simulator owns: it advertises a
// session in "advertising.json", appends its messages to "to-link.jsonl" and reads ours from
// "to-device.jsonl". While polling, every interval the advertisement and then the new incoming
// lines are read. The transport never creates the folder or its files.
class LocalLinkTransport final : public DeviceLink {
public:
    struct Callbacks {
        std::function<void(const std::string&)> log;
        // One message addressed to this connection, with its message id; the payload is handed over.
        std::function<void(std::uint16_t messageId, Data payload)> message;
        // A fresh advertisement offers a session and no connection is open.
        std::function<void()> sessionOffered;
        // The connected session's advertisement changed or lapsed; the connection is already closed.
        std::function<void()> sessionLost;
        // `attached()` changed.
        std::function<void()> attachedChanged;
    };

    static constexpr std::chrono::milliseconds pollInterval { 200 };
    static constexpr std::uint64_t fileSizeLimit = 16'777'216;
    // How much of a backlog of incoming messages one turn of the event loop handles; the rest
    // follows at the next turns, in order.
    static constexpr SlicedWork::Budget slice { 256, std::chrono::milliseconds(8) };
    static constexpr std::uint16_t firstMessageId = 50000;

    // "Tavrik Simulator/Local Link" below the user's XDG data directory.
    static std::filesystem::path defaultDirectory();

    LocalLinkTransport(std::filesystem::path directory, Scheduler& scheduler, const Clock& clock, RandomSource& random,
        Callbacks callbacks);
    LocalLinkTransport(const LocalLinkTransport&) = delete;
    LocalLinkTransport& operator=(const LocalLinkTransport&) = delete;

    const std::filesystem::path& directory() const { return folder; }

    // Polls now and then every interval, until stopped.
    void startPolling();
    void stopPolling();
    bool isPolling() const { return pollTask.isPending(); }

    // One read of the advertisement.
    void pollAdvertisement();
    // Starts delivering the complete lines written since the last read, a slice at a turn.
    void pollInbound();

    // Opens a connection to the offered session as a new client, reading its lines from the start.
    void connect();
    // Closes the connection; the offered session is kept, or forgotten with `forgetSession`.
    void disconnect(bool forgetSession = false);

    const std::optional<std::string>& session() const { return offeredSession; }
    const std::string& client() const { return clientId; }
    std::uint64_t inboundOffset() const { return readOffset; }
    std::uint16_t nextMessageId() const { return messageId; }

    bool sendCommand(std::string_view channel, std::string_view command) override;
    bool sendMessage(const Json& message) override;
    bool attached() const override { return connected; }
    // The simulator runs no firmware image.
    bool supportsFirmwareTransfer() const override { return false; }
    bool supportsFirmware() const override { return false; }
    // The simulator has no radio, and opens backups itself.
    bool supportsWifi() const override { return false; }
    bool supportsRestore() const override { return false; }

private:
    void schedulePoll(std::chrono::milliseconds delay);
    bool sendPayload(const Data& data);
    // Whether the file may be used; a refusal is logged once.
    bool acceptFile(const std::string& name, const RegularFile& file);
    void setConnected(bool value);

    std::filesystem::path folder;
    Scheduler& scheduler;
    const Clock& clock;
    RandomSource& random;
    Callbacks callbacks;

    std::optional<std::string> offeredSession;
    std::string clientId;
    bool connected = false;
    std::uint64_t readOffset = 0;
    std::uint16_t messageId = firstMessageId;
    ScheduledTask pollTask { scheduler };
    std::uint64_t pollGeneration = 0;
    // Delivers the lines of one read of "to-link.jsonl", a slice at a turn.
    SlicedWork inbound { scheduler, slice };
    // Files refused as not plain, by name, each said once in the log until it is plain or gone.
    std::set<std::string> refusedFiles;
};

} // namespace tavrik
