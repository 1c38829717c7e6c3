#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tavrik {

enum class SimulatedChip { esp32, esp32s3 };

// What runs on the board: its ROM loader in download mode, the Tavrik firmware, the probe image
// loaded into RAM, or an application that is not Tavrik (it prints its boot log and answers nothing).
enum class SimulatedBoardMode { romLoader, tavrikFirmware, probeImage, application };

// How the host's DTR and RTS reach the chip. A pseudo-terminal carries no modem lines: with wiring,
// the test hands the line states to setModemLines() instead.
enum class SimulatedResetWiring {
    none,
    // A USB-UART bridge's two cross-coupled transistors: RTS alone holds EN low, DTR alone pulls
    // GPIO0 low; the chip samples GPIO0 as EN rises.
    classicAutoReset,
    // The ESP32-S3's own USB-Serial/JTAG port, as modelled here: RTS without DTR holds the chip in
    // reset, passing through both lines asserted arms download mode, and releasing RTS starts the
    // chip, in download mode when armed. Both lines released clears the arming.
    usbSerialJtag,
};

enum class SimulatedFault {
    none,
    silence, // nothing ever comes back
    noise, // the board prints text but never answers as a ROM loader
    refuseCommand, // `faultCommand` gets status 1, reason `faultReason`
    shortReply, // `faultCommand` gets a one-byte body
    slowReply, // `faultCommand` is answered after `slowDelay`
    corruptFlash, // one written byte reads back wrong
    stallAfterBlock, // after the first compressed block nothing more is answered
    unplugAfterBlock, // after the first compressed block the board is gone from the port
};

struct SimulatedNetwork {
    std::string ssid;
    int rssi = 0;
    int channel = 0;
    std::string auth;
    std::string password;
};

struct SimulatedUsbBoardOptions {
    SimulatedChip chip = SimulatedChip::esp32;
    // The model the probe image and the firmware report.
    std::string target = "m5stick-c";
    SimulatedBoardMode mode = SimulatedBoardMode::romLoader;
    SimulatedFault fault = SimulatedFault::none;
    std::uint8_t faultCommand = 0;
    std::uint8_t faultReason = 5;
    std::chrono::milliseconds slowDelay { 400 };
    std::string firmwareVersion = "1.4.0";
    int bleProtocolVersion = 2;
    bool probePasses = true;
    std::vector<SimulatedNetwork> networks;
    // The helper's resets travel on modem lines a pseudo-terminal cannot carry; with this the board
    // follows what the helper sends next instead: a loader frame sent to a running probe image
    // finds the loader, and a written and checked flash starts the Tavrik firmware.
    bool followsResets = false;

    SimulatedResetWiring resetWiring = SimulatedResetWiring::none;
    // When set, the port is this symbolic link to the terminal, so that it can disappear.
    std::string portAlias;
    // With usbSerialJtag: every start of the chip drops the USB device off the bus. The port
    // disappears for `reenumerationDelay`, and the board then talks only to a descriptor opened
    // after it came back (what was open before is dead).
    bool reenumerates = false;
    std::chrono::milliseconds reenumerationDelay { 300 };
    // With reenumerates: the link the port comes back as, as a kernel that gives the returning
    // device the next free ttyACM name while the old one is still held. Empty: the same name.
    std::string returnAlias;
    // The port's link appears only this long after the board is made, as from a firmware that
    // brings its USB up late.
    std::chrono::milliseconds aliasAppearsAfter { 0 };
    // The fastest speed the line carries (0: any); above it every byte is lost both ways.
    int maximumBaudRate = 0;
    // Each byte takes ten bit times at the board's current speed, both ways.
    bool pacesLine = false;
    // After it starts, the firmware does not read the line for this long.
    std::chrono::milliseconds firmwareStartDelay { 0 };
    // While an application (not Tavrik) runs, the board prints this every 100 ms, as an empty
    // flash's boot loop does ("invalid header: 0xffffffff").
    std::string bootLoopText;
};

// A board on a pseudo-terminal. It serves the ESP32 / ESP32-S3 ROM loader (SLIP, SYNC with eight
// replies, registers, SPI attach and parameters, a speed change, compressed flashing into NOR-like
// flash, MD5, RAM loading) and the Tavrik line protocol of the firmware and the probe image, and
// checks what a ROM would refuse. The line works only while the speed the host set on the terminal
// matches the board's. Its port path is what the program under test opens.
class SimulatedUsbBoard {
public:
    struct Request {
        std::string verb;
        nlohmann::json body;
    };

    explicit SimulatedUsbBoard(SimulatedUsbBoardOptions options);
    ~SimulatedUsbBoard();
    SimulatedUsbBoard(const SimulatedUsbBoard&) = delete;
    SimulatedUsbBoard& operator=(const SimulatedUsbBoard&) = delete;

    const std::string& portPath() const { return options_.portAlias.empty() ? portPath_ : options_.portAlias; }

    // The host's DTR and RTS (true = asserted), through the reset wiring. Returns once the board
    // has acted on them.
    void setModemLines(bool dtr, bool rts);
    // The speed the board's side of the line runs at.
    int baudRate() const;
    // Starts of the chip by the reset wiring, into the loader and into the application.
    std::size_t startsIntoLoader() const;
    std::size_t startsIntoApplication() const;
    // The line speed when the last compressed block arrived; 0 before any.
    int flashBaudRate() const;

    std::vector<std::uint8_t> flash(std::size_t offset, std::size_t length) const;
    // Bytes programmed into flash so far (erasing does not count).
    std::size_t programmedBytes() const;
    std::size_t flashDataBlocks() const;
    // Opcodes of every ROM request, in order.
    std::vector<std::uint8_t> romRequests() const;
    // Line-protocol requests, in order.
    std::vector<Request> requests() const;
    // Lines that reached a running application, which reads nothing.
    std::size_t linesIgnored() const;
    std::vector<std::uint8_t> labels() const;
    SimulatedBoardMode mode() const;
    // Waits (without sleeping a fixed time) until `count` compressed blocks arrived or `limit` passed.
    bool waitForDataBlocks(std::size_t count, std::chrono::milliseconds limit) const;

private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        std::vector<std::uint8_t> bytes;
        // The speed the bytes were sent at.
        int baudRate = 0;
    };

    void run();
    void readHost(std::chrono::steady_clock::time_point now);
    void deliver(const Pending& pending);
    bool hostSpeedMatches(int baudRate) const;
    void applyModemLines(bool dtr, bool rts);
    void start(bool downloadMode);
    void unplug();
    void receive(const std::vector<std::uint8_t>& bytes);
    void handleFrame(const std::vector<std::uint8_t>& frame);
    void handleLine(const std::string& line);
    void reply(std::uint8_t command, std::uint32_t value, const std::vector<std::uint8_t>& payload,
        std::uint8_t status = 0, std::uint8_t reason = 0);
    void sendFrame(std::uint8_t command, std::vector<std::uint8_t> frame);
    void sendLine(const std::string& verb, const nlohmann::ordered_json& body);
    void emit(std::vector<std::uint8_t> bytes, std::chrono::milliseconds delay = {});
    void program(std::uint32_t address, const std::uint8_t* bytes, std::size_t length);

    SimulatedUsbBoardOptions options_;
    int master_ = -1;
    int slave_ = -1;
    int wake_[2] = { -1, -1 };
    int openWatch_ = -1;
    std::string portPath_;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    SimulatedBoardMode mode_;
    std::vector<std::uint8_t> flash_;
    std::size_t programmed_ = 0;
    std::size_t dataBlocks_ = 0;
    std::vector<std::uint8_t> romRequests_;
    std::vector<Request> requests_;
    std::vector<std::uint8_t> labels_;
    std::deque<std::pair<bool, bool>> lineStates_;
    std::size_t lineStatesApplied_ = 0;
    std::size_t lineStatesPosted_ = 0;
    int baudRate_ = 115200;
    int flashBaudRate_ = 0;
    std::size_t startsIntoLoader_ = 0;
    std::size_t linesIgnored_ = 0;
    std::chrono::steady_clock::time_point nextBootLoop_ {};
    std::size_t startsIntoApplication_ = 0;

    // Line and loader state, touched only by the board's thread.
    bool inReset_ = false;
    bool armed_ = false;
    bool detached_ = false;
    bool awaitingOpen_ = false;
    std::optional<std::chrono::steady_clock::time_point> returnsAt_;
    // The name the port has (or gets when it comes back).
    std::string currentAlias_;
    std::chrono::steady_clock::time_point inputFreeAt_ {};
    std::chrono::steady_clock::time_point outputFreeAt_ {};
    std::chrono::steady_clock::time_point firmwareReadyAt_ {};
    std::vector<std::uint8_t> frame_;
    bool inFrame_ = false;
    bool escaping_ = false;
    std::string line_;
    std::deque<Pending> pending_;
    bool synced_ = false;
    bool attached_ = false;
    bool stalled_ = false;
    bool corrupted_ = false;
    std::uint32_t flashLimit_ = 2 * 1024 * 1024;
    void* inflater_ = nullptr;
    bool inflating_ = false;
    std::uint32_t writeAddress_ = 0;
    std::uint32_t writeEnd_ = 0;
    std::uint32_t nextSequence_ = 0;
    std::uint32_t blockCount_ = 0;
    bool memLoading_ = false;
    std::uint32_t memAddress_ = 0;
    std::uint32_t memEnd_ = 0;
    std::size_t ramLoaded_ = 0;
};

} // namespace tavrik
