#include "TavrikUSBFlasher/RomLoader.hpp"

#include "TavrikUSBProtocol/Bootloader/ESPBootloaderPayload.hpp"
#include "TavrikUSBProtocol/Bootloader/ESPBootloaderResponse.hpp"
#include "TavrikUSBProtocol/Bootloader/ESPFirmwareCompression.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <zlib.h>

namespace tavrik {

using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t chipMagicAddress = 0x40001000;
constexpr std::uint32_t esp32Magic = 0x00F01D83;
constexpr std::uint32_t esp32s3Magic = 0x00000009;
constexpr std::uint32_t flashBlockSize = 0x400;
constexpr std::uint32_t ramBlockSize = 0x1800;
constexpr auto defaultTimeout = 3000ms;
constexpr int romBaudRate = 115200;

std::string hexByte(std::uint8_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

// A time-out that grows with the bytes the ROM must handle, never below the default.
std::chrono::milliseconds scaledTimeout(std::uint64_t bytes, std::uint64_t millisecondsPerMiB)
{
    const auto scaled = std::chrono::milliseconds(static_cast<std::int64_t>(bytes * millisecondsPerMiB / 1048576));
    return std::max<std::chrono::milliseconds>(defaultTimeout, scaled);
}

bool inRamOf(EspChip chip, std::uint32_t address, std::size_t length)
{
    struct Range {
        std::uint64_t begin;
        std::uint64_t end;
    };
    static const Range esp32[] = { { 0x3FFAE000, 0x40000000 }, { 0x40080000, 0x400A0000 } };
    static const Range esp32s3[] = { { 0x3FC88000, 0x3FD00000 }, { 0x40370000, 0x403E0000 } };
    const auto end = static_cast<std::uint64_t>(address) + length;
    const Range* first = chip == EspChip::esp32 ? std::begin(esp32) : std::begin(esp32s3);
    const Range* last = chip == EspChip::esp32 ? std::end(esp32) : std::end(esp32s3);
    return std::any_of(first, last, [&](const Range& range) { return address >= range.begin && end <= range.end; });
}

} // namespace

RomLoader::RomLoader(SerialLink& link, ResetCircuit expected)
    : link_(link)
    , expected_(expected)
{
}

bool RomLoader::resetIntoLoader(ResetCircuit circuit, bool slowReset)
{
    if (!link_.setModemLines(false, false)) {
        return false;
    }
    if (circuit == ResetCircuit::usbSerialJtag) {
        // The S3's USB-Serial/JTAG turns the line states into reset and GPIO0 itself; the way to
        // download mode passes through both lines asserted.
        link_.pause(100ms);
        link_.setModemLines(true, false);
        link_.pause(100ms);
        link_.setModemLines(true, true);
        link_.setModemLines(false, true);
        link_.setModemLines(false, true);
        link_.pause(100ms);
        link_.setModemLines(false, false);
    } else {
        // Classic auto-reset circuit: RTS holds EN low, DTR pulls GPIO0 low as EN is released.
        link_.setModemLines(false, true);
        link_.pause(100ms);
        link_.setModemLines(true, false);
        link_.pause(slowReset ? 550ms : 50ms);
        link_.setModemLines(false, false);
    }
    // A chip reset restarts the S3's own USB port: it drops off the bus and comes back, which the
    // native sequence does every time and the classic one when it was the wrong guess.
    const auto vanish = circuit == ResetCircuit::usbSerialJtag ? 1000ms : 0ms;
    if (!link_.reconnect(vanish, 5000ms)) {
        throw DisconnectedError();
    }
    forgetInput();
    return true;
}

bool RomLoader::synchronizeOnce()
{
    Data body(36, 0x55);
    body[0] = 0x07;
    body[1] = 0x07;
    body[2] = 0x12;
    body[3] = 0x20;
    send(RomOpcode::sync, body);
    // A late answer to an earlier SYNC counts too: any SYNC reply means the loader is there.
    if (!awaitResponse(static_cast<std::uint8_t>(RomOpcode::sync), link_.now() + 100ms)) {
        return false;
    }
    // The ROM answers one SYNC eight times; the rest must not pass for later replies.
    const auto drainUntil = link_.now() + 1000ms;
    while (link_.now() < drainUntil && awaitResponse(static_cast<std::uint8_t>(RomOpcode::sync), link_.now() + 100ms)) {
    }
    return true;
}

void RomLoader::connect(std::chrono::milliseconds window)
{
    const auto giveUp = link_.now() + window;
    const ResetCircuit other
        = expected_ == ResetCircuit::classicAutoReset ? ResetCircuit::usbSerialJtag : ResetCircuit::classicAutoReset;
    for (int attempt = 0; link_.now() < giveUp; ++attempt) {
        const ResetCircuit circuit = attempt % 2 == 0 ? expected_ : other;
        try {
            // Every other round the classic reset holds EN longer, for boards with a slow EN RC.
            const bool reset = resetIntoLoader(circuit, (attempt / 2) % 2 == 1);
            for (int sync = 0; sync < 5 && link_.now() < giveUp; ++sync) {
                if (synchronizeOnce()) {
                    resetThrough_ = reset ? std::optional<ResetCircuit>(circuit) : std::nullopt;
                    expected_ = circuit;
                    return;
                }
            }
        } catch (const DisconnectedError&) {
            // The port went with the chip's USB; once it is back the next round goes on.
            if (!link_.reconnect(0ms, 5000ms)) {
                throw;
            }
        }
    }
    if (heardBoard_ || decoder_.sawBytes()) {
        throw BootloaderContactError("Failed to synchronize with the ESP32 bootloader on " + link_.name()
            + ": the board answered, but not as a ROM loader. Hold its BOOT button, "
              "tap RESET, then try again.");
    }
    throw BootloaderContactError("Timed out waiting for the ESP32 bootloader on " + link_.name()
        + ". Hold the board's BOOT button, tap RESET, then try again.");
}

bool RomLoader::canChangeBaudRate() const
{
    return resetThrough_ == ResetCircuit::classicAutoReset;
}

std::uint32_t RomLoader::esp32BaudRateValue(int baudRate)
{
    // The ESP32 ROM sets its UART divider from a crystal frequency it estimates with an RC clock
    // that drifts; the number sent must be off by the same factor for the line to end up right.
    try {
        const std::uint64_t calibration = (readRegister(0x3FF5F06C) >> 7) & 0x1FFFFFF;
        const std::uint64_t clock = readRegister(0x3FF5A010) & 0xFF;
        const double romCrystal = static_cast<double>(calibration * 15625 * clock) / 40.0;
        if (romCrystal > 0) {
            const double nominal = romCrystal > 33e6 ? 40e6 : 26e6;
            return static_cast<std::uint32_t>(std::lround(baudRate * romCrystal / nominal));
        }
    } catch (const ESPBootloaderResponseValidationError&) {
    }
    return static_cast<std::uint32_t>(baudRate);
}

bool RomLoader::changeBaudRate(EspChip chip, int baudRate)
{
    Data body;
    appendLittleEndian32(body, chip == EspChip::esp32 ? esp32BaudRateValue(baudRate) : baudRate);
    appendLittleEndian32(body, 0);
    try {
        // Answered at the old speed.
        command(RomOpcode::changeBaudRate, body, defaultTimeout);
    } catch (const ESPBootloaderResponseValidationError&) {
        return false; // refused: the old speed stands
    }
    link_.setBaudRate(baudRate);
    link_.pause(50ms);
    forgetInput();
    Data address;
    appendLittleEndian32(address, chipMagicAddress);
    for (int attempt = 0; attempt < 3; ++attempt) {
        send(RomOpcode::readReg, address);
        if (awaitResponse(static_cast<std::uint8_t>(RomOpcode::readReg), link_.now() + 200ms)) {
            return true;
        }
    }
    // The line does not carry the new speed: the loader is lost there, a reset brings it back at its own.
    link_.setBaudRate(romBaudRate);
    connect(8s);
    return false;
}

void RomLoader::forgetInput()
{
    heardBoard_ = heardBoard_ || decoder_.sawBytes();
    link_.discardInput();
    decoder_ = SlipDecoder();
    frames_.clear();
}

std::optional<RomResponse> RomLoader::awaitResponse(std::uint8_t opcode, SerialLink::Clock::time_point until)
{
    while (true) {
        while (!frames_.empty()) {
            const Data frame = std::move(frames_.front());
            frames_.pop_front();
            auto response = decodeRomResponse(frame);
            if (response && response->command == opcode) {
                return response;
            }
        }
        const auto current = link_.now();
        if (current >= until) {
            return std::nullopt;
        }
        const Data bytes = link_.read(std::chrono::duration_cast<std::chrono::milliseconds>(until - current) + 1ms);
        for (Data& frame : decoder_.feed(bytes)) {
            frames_.push_back(std::move(frame));
        }
    }
}

void RomLoader::send(RomOpcode opcode, const Data& body, std::uint32_t checksum)
{
    link_.write(slipEncode(makeRomRequest(opcode, body, checksum)));
}

RomResponse RomLoader::exchange(
    RomOpcode opcode, const Data& body, std::uint32_t checksum, std::chrono::milliseconds timeout)
{
    send(opcode, body, checksum);
    auto response = awaitResponse(static_cast<std::uint8_t>(opcode), link_.now() + timeout);
    if (!response) {
        throw std::runtime_error("The board on " + link_.name() + " stopped answering the ROM loader (request "
            + hexByte(static_cast<std::uint8_t>(opcode)) + ").");
    }
    return *response;
}

Data RomLoader::command(RomOpcode opcode, const Data& body, std::chrono::milliseconds timeout,
    std::size_t payloadLength, std::uint32_t checksum)
{
    return romResponsePayload(exchange(opcode, body, checksum, timeout), payloadLength);
}

std::uint32_t RomLoader::readRegister(std::uint32_t address)
{
    Data body;
    appendLittleEndian32(body, address);
    const RomResponse response = exchange(RomOpcode::readReg, body, 0, defaultTimeout);
    romResponsePayload(response, 0);
    return response.value;
}

void RomLoader::writeRegister(std::uint32_t address, std::uint32_t value)
{
    Data body;
    appendLittleEndian32(body, address);
    appendLittleEndian32(body, value);
    appendLittleEndian32(body, 0xFFFFFFFF);
    appendLittleEndian32(body, 0);
    command(RomOpcode::writeReg, body, defaultTimeout);
}

EspChip RomLoader::detectChip()
{
    std::optional<std::uint32_t> magic;
    std::string readFailure;
    try {
        magic = readRegister(chipMagicAddress);
    } catch (const ESPBootloaderResponseValidationError& error) {
        // Secure download mode refuses READ_REG; the security info still names the chip.
        readFailure = error.what();
    }
    if (magic == esp32Magic) {
        return EspChip::esp32;
    }
    if (magic == esp32s3Magic) {
        return EspChip::esp32s3;
    }
    try {
        const Data info = command(RomOpcode::getSecurityInfo, {}, defaultTimeout, 20);
        if (readLittleEndian32(info.data() + 12) == 9) {
            return EspChip::esp32s3;
        }
    } catch (const ESPBootloaderResponseValidationError&) {
    }
    if (!magic) {
        throw std::runtime_error("The board did not answer the chip-id read. " + readFailure);
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", *magic);
    throw std::runtime_error(
        "The board on " + link_.name() + " is neither an ESP32 nor an ESP32-S3 (chip magic " + text + ").");
}

void RomLoader::prepareFlash(EspChip chip, std::uint32_t flashSize)
{
    if (chip == EspChip::esp32s3 && (readRegister(0x3FCEF14C) & 0xFF) == 4) {
        // On USB-Serial/JTAG the RTC and super watchdogs keep running in download mode.
        writeRegister(0x600080B0, 0x50D83AA1);
        writeRegister(0x60008098, 0);
        writeRegister(0x600080B0, 0);
        writeRegister(0x600080B8, 0x8F1D312A);
        writeRegister(0x600080B4, readRegister(0x600080B4) | 0x80000000U);
        writeRegister(0x600080B8, 0);
    }
    command(RomOpcode::spiAttach, Data(8, 0), defaultTimeout);
    Data parameters;
    for (const std::uint32_t value : { 0U, flashSize, 0x10000U, 0x1000U, 0x100U, 0xFFFFU }) {
        appendLittleEndian32(parameters, value);
    }
    command(RomOpcode::spiSetParams, parameters, defaultTimeout);
}

void RomLoader::sendData(RomOpcode opcode, const std::uint8_t* bytes, std::size_t length, std::uint32_t sequence,
    std::chrono::milliseconds timeout)
{
    // The whole frame is built once and goes out in one write, the data escaped in place.
    const Data header = makeRomDataHeader(opcode, length, sequence, romDataChecksum(bytes, length));
    frame_.clear();
    frame_.push_back(0xC0);
    appendSlipEscaped(frame_, header.data(), header.size());
    appendSlipEscaped(frame_, bytes, length);
    frame_.push_back(0xC0);
    const auto code = static_cast<std::uint8_t>(opcode);
    // A failed block is sent again with the same sequence number, as the vendor tools do.
    for (int attempt = 1;; ++attempt) {
        link_.write(frame_);
        const auto response = awaitResponse(code, link_.now() + timeout);
        if (!response) {
            if (attempt >= 3) {
                throw std::runtime_error("The board on " + link_.name() + " stopped answering the ROM loader (request "
                    + hexByte(code) + ").");
            }
            continue;
        }
        try {
            romResponsePayload(*response, 0);
            return;
        } catch (const ESPBootloaderResponseValidationError&) {
            if (attempt >= 3) {
                throw;
            }
        }
    }
}

void RomLoader::writeCompressed(
    EspChip chip, const Data& paddedImage, std::uint32_t offset, std::uint64_t reportedTotal, const Progress& progress)
{
    const Data compressed = zlibCompressedData(paddedImage);
    const auto blockCount = static_cast<std::uint32_t>((compressed.size() + flashBlockSize - 1) / flashBlockSize);
    const auto eraseSize = static_cast<std::uint32_t>(paddedImage.size());
    const std::optional<bool> encrypted = chip == EspChip::esp32s3 ? std::optional<bool>(false) : std::nullopt;
    command(RomOpcode::flashDeflBegin, makeESPFlashBeginPayload(eraseSize, blockCount, flashBlockSize, offset, encrypted),
        scaledTimeout(eraseSize, 30000));
    progress(0, reportedTotal);

    // Inflating alongside tells how many image bytes each block carries: the ROM writes them
    // before it answers, so the block's time-out and the progress both follow that count.
    z_stream inflater {};
    if (inflateInit(&inflater) != Z_OK) {
        throw std::runtime_error("Cannot prepare the firmware image for transfer.");
    }
    Data scratch(std::size_t { 64 } * 1024);
    std::uint64_t inflatedTotal = 0;
    try {
        for (std::uint32_t sequence = 0; sequence < blockCount; ++sequence) {
            const std::size_t start = static_cast<std::size_t>(sequence) * flashBlockSize;
            const std::size_t length = std::min<std::size_t>(flashBlockSize, compressed.size() - start);
            inflater.next_in = const_cast<Bytef*>(compressed.data() + start);
            inflater.avail_in = static_cast<uInt>(length);
            std::uint64_t inflatedBlock = 0;
            do {
                inflater.next_out = scratch.data();
                inflater.avail_out = static_cast<uInt>(scratch.size());
                const int status = inflate(&inflater, Z_NO_FLUSH);
                if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                    throw std::runtime_error("Cannot prepare the firmware image for transfer.");
                }
                inflatedBlock += scratch.size() - inflater.avail_out;
            } while (inflater.avail_out == 0);
            sendData(RomOpcode::flashDeflData, compressed.data() + start, length, sequence,
                scaledTimeout(inflatedBlock, 40000));
            inflatedTotal += inflatedBlock;
            progress(std::min<std::uint64_t>(inflatedTotal, reportedTotal), reportedTotal);
        }
    } catch (...) {
        inflateEnd(&inflater);
        throw;
    }
    inflateEnd(&inflater);
    if (inflatedTotal < reportedTotal) {
        progress(reportedTotal, reportedTotal);
    }
}

std::string RomLoader::flashMd5(std::uint32_t offset, std::uint32_t length)
{
    Data body;
    appendLittleEndian32(body, offset);
    appendLittleEndian32(body, length);
    appendLittleEndian32(body, 0);
    appendLittleEndian32(body, 0);
    const Data digest = command(RomOpcode::spiFlashMd5, body, scaledTimeout(length, 8000), 32);
    return std::string(digest.begin(), digest.end());
}

void RomLoader::loadIntoRam(EspChip chip, const EspAppImage& image)
{
    for (const EspImageSegment& segment : image.segments) {
        if (!inRamOf(chip, segment.loadAddress, segment.data.size())) {
            throw std::runtime_error("The probe image is not a RAM image for the " + espChipName(chip) + ".");
        }
    }
    for (const EspImageSegment& segment : image.segments) {
        const auto size = static_cast<std::uint32_t>(segment.data.size());
        const std::uint32_t blocks = (size + ramBlockSize - 1) / ramBlockSize;
        command(RomOpcode::memBegin, makeESPFlashBeginPayload(size, blocks, ramBlockSize, segment.loadAddress),
            defaultTimeout);
        for (std::uint32_t sequence = 0; sequence < blocks; ++sequence) {
            const std::size_t start = static_cast<std::size_t>(sequence) * ramBlockSize;
            const std::size_t length = std::min<std::size_t>(ramBlockSize, segment.data.size() - start);
            sendData(RomOpcode::memData, segment.data.data() + start, length, sequence, defaultTimeout);
        }
    }
    Data end;
    appendLittleEndian32(end, 0);
    appendLittleEndian32(end, image.entry);
    send(RomOpcode::memEnd, end);
    // The loaded code may cut the reply short; it is not worth waiting for.
    awaitResponse(static_cast<std::uint8_t>(RomOpcode::memEnd), link_.now() + 200ms);
}

void RomLoader::hardReset()
{
    if (link_.setModemLines(false, true)) {
        link_.pause(100ms);
        link_.setModemLines(false, false);
    }
}

} // namespace tavrik
