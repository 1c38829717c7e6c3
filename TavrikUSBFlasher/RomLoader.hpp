#pragma once

#include "TavrikUSBFlasher/EspImage.hpp"
#include "TavrikUSBFlasher/RomPacket.hpp"
#include "TavrikUSBFlasher/SerialLink.hpp"
#include "TavrikUSBFlasher/Slip.hpp"

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

    explicit RomLoader(SerialLink& link);

    // Pulses DTR/RTS to start the chip in download mode. False when the port has no modem lines
    // (a pseudo-terminal, some adapters): the board must then be put there by hand.
    bool resetIntoBootloader(bool slowReset);
    // Resets and sends SYNC until the loader answers or `window` runs out.
    void synchronize(std::chrono::milliseconds window);
    EspChip detectChip();
    // SPI_ATTACH and SPI_SET_PARAMS; on an S3 on its own USB port also stops the watchdogs that
    // would reset it mid-flash.
    void prepareFlash(EspChip chip, std::uint32_t flashSize);
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
    std::optional<RomResponse> awaitResponse(std::uint8_t opcode, SerialLink::Clock::time_point until);
    RomResponse exchange(RomOpcode opcode, const Data& body, std::uint32_t checksum, std::chrono::milliseconds timeout);
    Data command(RomOpcode opcode, const Data& body, std::chrono::milliseconds timeout, std::size_t payloadLength = 0,
        std::uint32_t checksum = 0);
    void sendData(RomOpcode opcode, const std::uint8_t* bytes, std::size_t length, std::uint32_t sequence,
        std::chrono::milliseconds timeout);

    SerialLink& link_;
    SlipDecoder decoder_;
    std::deque<Data> frames_;
};

} // namespace tavrik
