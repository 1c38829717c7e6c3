#pragma once

#include "TavrikUSBFlasher/EspImage.hpp"
#include "TavrikUSBFlasher/RomPacket.hpp"
#include "TavrikUSBFlasher/SerialLink.hpp"
#include "TavrikUSBFlasher/Slip.hpp"
#include "TavrikUSBFlasher/UsbPortIdentity.hpp"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace tavrik {

// The board never reached a state where its ROM loader answered. Only this error carries the
// phrases the application reads as "the board did not enter its bootloader".
class BootloaderContactError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Talks to the ESP32 / ESP32-S3 ROM serial loader (no RAM stub) over a SerialLink.
class RomLoader {
public:
    using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

    // `expected`: how the port's modem lines are thought to reach the chip.
    RomLoader(SerialLink& link, ResetCircuit expected);

    // Resets the board into its loader and sends SYNC until it answers or `window` runs out. The
    // expected circuit's reset goes first and the other one's next when that misses, in turn.
    // Without modem lines (a pseudo-terminal, some adapters) the board must be put there by hand.
    void connect(std::chrono::milliseconds window);
    EspChip detectChip();
    // SPI_ATTACH and SPI_SET_PARAMS; on an S3 on its own USB port also stops the watchdogs that
    // would reset it mid-flash.
    void prepareFlash(EspChip chip, std::uint32_t flashSize);
    // True when a reset through a USB-UART bridge reached the loader: the line has a speed worth
    // raising, and a speed the line does not carry can be undone with another reset.
    bool canChangeBaudRate() const;
    // CHANGE_BAUDRATE and the port to match. True when the board answers at the new speed.
    // Otherwise the board is reset and synchronized at the loader's own speed again, its SPI set-up
    // gone, and the answer is false.
    bool changeBaudRate(EspChip chip, int baudRate);
    // Compressed flashing of an image already padded to a multiple of four. Progress is counted in
    // image bytes written (at most `reportedTotal`).
    void writeCompressed(EspChip chip, const Data& paddedImage, std::uint32_t offset, std::uint64_t reportedTotal,
        const Progress& progress);
    std::string flashMd5(std::uint32_t offset, std::uint32_t length);
    // Loads a RAM-only application image and jumps to its entry; the ROM is gone afterwards.
    void loadIntoRam(EspChip chip, const EspAppImage& image);
    void hardReset();

    std::uint32_t readRegister(std::uint32_t address);
    void writeRegister(std::uint32_t address, std::uint32_t value);

private:
    // False when the port has no modem lines.
    bool resetIntoLoader(ResetCircuit circuit, bool slowReset);
    // One SYNC; true when the loader answered (its further answers are drained).
    bool synchronizeOnce();
    std::uint32_t esp32BaudRateValue(int baudRate);
    void forgetInput();
    std::optional<RomResponse> awaitResponse(std::uint8_t opcode, SerialLink::Clock::time_point until);
    void send(RomOpcode opcode, const Data& body, std::uint32_t checksum = 0);
    RomResponse exchange(RomOpcode opcode, const Data& body, std::uint32_t checksum, std::chrono::milliseconds timeout);
    Data command(RomOpcode opcode, const Data& body, std::chrono::milliseconds timeout, std::size_t payloadLength = 0,
        std::uint32_t checksum = 0);
    void sendData(RomOpcode opcode, const std::uint8_t* bytes, std::size_t length, std::uint32_t sequence,
        std::chrono::milliseconds timeout);

    SerialLink& link_;
    ResetCircuit expected_;
    // The circuit whose reset reached the loader; nothing when it was reached without one.
    std::optional<ResetCircuit> resetThrough_;
    SlipDecoder decoder_;
    // Something other than a loader's answer came from the board before the decoder was renewed.
    bool heardBoard_ = false;
    std::deque<Data> frames_;
    // One frame at a time is built here and written in one piece.
    Data frame_;
};

} // namespace tavrik
