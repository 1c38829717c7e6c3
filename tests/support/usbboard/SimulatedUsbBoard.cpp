#include "tests/support/usbboard/SimulatedUsbBoard.hpp"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

namespace tavrik {

namespace {

constexpr std::uint8_t opFlashBegin = 0x02;
constexpr std::uint8_t opMemBegin = 0x05;
constexpr std::uint8_t opMemEnd = 0x06;
constexpr std::uint8_t opMemData = 0x07;
constexpr std::uint8_t opSync = 0x08;
constexpr std::uint8_t opWriteReg = 0x09;
constexpr std::uint8_t opReadReg = 0x0A;
constexpr std::uint8_t opSpiSetParams = 0x0B;
constexpr std::uint8_t opSpiAttach = 0x0D;
constexpr std::uint8_t opChangeBaudRate = 0x0F;
constexpr std::uint8_t opDeflBegin = 0x10;
constexpr std::uint8_t opDeflData = 0x11;
constexpr std::uint8_t opDeflEnd = 0x12;
constexpr std::uint8_t opMd5 = 0x13;
constexpr std::uint8_t opSecurityInfo = 0x14;

constexpr std::uint8_t errInvalidFormat = 0x05;
constexpr std::uint8_t errChecksum = 0x07;
constexpr std::uint8_t errInflate = 0x0B;
constexpr std::uint8_t errRamAddress = 0x0F;

std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(bytes[offset]) | (static_cast<std::uint32_t>(bytes[offset + 1]) << 8)
        | (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) | (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::vector<std::uint8_t> base64Decode(const std::string& text)
{
    std::vector<std::uint8_t> out;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (const char current : text) {
        int value;
        if (current >= 'A' && current <= 'Z')
            value = current - 'A';
        else if (current >= 'a' && current <= 'z')
            value = current - 'a' + 26;
        else if (current >= '0' && current <= '9')
            value = current - '0' + 52;
        else if (current == '+')
            value = 62;
        else if (current == '/')
            value = 63;
        else
            continue;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(buffer >> bits));
        }
    }
    return out;
}

bool inRam(SimulatedChip chip, std::uint64_t begin, std::uint64_t end)
{
    if (chip == SimulatedChip::esp32) {
        return (begin >= 0x3FFAE000 && end <= 0x40000000) || (begin >= 0x40080000 && end <= 0x400A0000);
    }
    return (begin >= 0x3FC88000 && end <= 0x3FD00000) || (begin >= 0x40370000 && end <= 0x403E0000);
}

// A flat object as a board's firmware would print it: the bytes of its strings go out as they are,
// valid UTF-8 or not (a Latin-1 network name, say), where the library would refuse them.
std::string bytesAsSent(const nlohmann::ordered_json& body)
{
    std::string text = "{";
    for (const auto& [key, value] : body.items()) {
        if (text.size() > 1) {
            text += ',';
        }
        text += nlohmann::json(key).dump() + ':';
        if (!value.is_string()) {
            text += value.dump();
            continue;
        }
        text += '"';
        for (const char byte : value.get_ref<const std::string&>()) {
            if (byte == '"' || byte == '\\') {
                text += '\\';
                text += byte;
            } else if (static_cast<unsigned char>(byte) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(byte));
                text += escaped;
            } else {
                text += byte;
            }
        }
        text += '"';
    }
    return text + "}";
}

constexpr int romBaudRate = 115200;
// The ESP32 ROM times its UART from an RC clock that runs 1 % fast on this board: it believes its
// crystal runs at 40.4 MHz, and a host that sends the plain speed gets one 1 % off.
constexpr std::uint32_t esp32CalibrationRegister = 0x3FF5F06C;
constexpr std::uint32_t esp32ClockRegister = 0x3FF5A010;
constexpr std::uint32_t esp32Calibration = 1024;
constexpr std::uint32_t esp32Clock = 101;
constexpr double esp32BelievedCrystal = 40.4e6;

int speedOf(speed_t speed)
{
    static const std::pair<speed_t, int> speeds[] = { { B9600, 9600 }, { B19200, 19200 }, { B38400, 38400 },
        { B57600, 57600 }, { B115200, 115200 }, { B230400, 230400 }, { B460800, 460800 }, { B921600, 921600 },
        { B1500000, 1500000 }, { B2000000, 2000000 } };
    for (const auto& [constant, value] : speeds) {
        if (constant == speed) {
            return value;
        }
    }
    return 0;
}

std::chrono::steady_clock::duration lineTime(std::size_t bytes, int baudRate)
{
    return std::chrono::nanoseconds(static_cast<std::int64_t>(bytes) * 10 * 1000000000 / baudRate);
}

std::vector<std::uint8_t> bytesOf(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

z_stream* asStream(void* pointer)
{
    return static_cast<z_stream*>(pointer);
}

} // namespace

SimulatedUsbBoard::SimulatedUsbBoard(SimulatedUsbBoardOptions options)
    : options_(std::move(options))
    , mode_(options_.mode)
    , flash_(options_.chip == SimulatedChip::esp32 ? 8U * 1024 * 1024 : 16U * 1024 * 1024, 0xFF)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    portPath_ = ::ptsname(master_);
    // Holding the far end open keeps the terminal alive between runs of the program under test,
    // and raw mode keeps the line discipline from echoing or translating.
    slave_ = ::open(portPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings {};
    ::tcgetattr(slave_, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave_, TCSANOW, &settings);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot create a pipe");
    }
    // Tells when the host opens the port again after the board came back on the bus.
    openWatch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (openWatch_ < 0 || ::inotify_add_watch(openWatch_, portPath_.c_str(), IN_OPEN) < 0) {
        throw std::runtime_error("cannot watch the pseudo-terminal");
    }
    currentAlias_ = options_.portAlias;
    if (!options_.portAlias.empty()) {
        ::unlink(options_.portAlias.c_str());
        if (options_.aliasAppearsAfter.count() > 0) {
            returnsAt_ = std::chrono::steady_clock::now() + options_.aliasAppearsAfter;
        } else if (::symlink(portPath_.c_str(), options_.portAlias.c_str()) != 0) {
            throw std::runtime_error("cannot link " + options_.portAlias);
        }
    }
    firmwareReadyAt_ = std::chrono::steady_clock::now() + options_.firmwareStartDelay;
    auto* stream = new z_stream {};
    inflater_ = stream;
    thread_ = std::thread([this] { run(); });
}

SimulatedUsbBoard::~SimulatedUsbBoard()
{
    const char stop = 'x';
    (void)!::write(wake_[1], &stop, 1);
    thread_.join();
    if (inflating_) {
        inflateEnd(asStream(inflater_));
    }
    delete asStream(inflater_);
    ::close(wake_[0]);
    ::close(wake_[1]);
    ::close(openWatch_);
    ::close(slave_);
    if (master_ >= 0) {
        ::close(master_);
    }
    for (const std::string& alias : { options_.portAlias, options_.returnAlias }) {
        if (!alias.empty()) {
            ::unlink(alias.c_str());
        }
    }
}

void SimulatedUsbBoard::run()
{
    while (true) {
        auto now = std::chrono::steady_clock::now();
        while (!pending_.empty() && pending_.front().due <= now) {
            deliver(pending_.front());
            pending_.pop_front();
        }
        if (returnsAt_ && *returnsAt_ <= now) {
            returnsAt_.reset();
            (void)!::symlink(portPath_.c_str(), currentAlias_.c_str());
            awaitingOpen_ = true;
        }
        std::optional<std::chrono::steady_clock::time_point> wake;
        auto wakeBy = [&](std::chrono::steady_clock::time_point at) { wake = wake ? std::min(*wake, at) : at; };
        if (!options_.bootLoopText.empty() && mode() == SimulatedBoardMode::application) {
            if (nextBootLoop_ <= now) {
                emit(bytesOf(options_.bootLoopText));
                nextBootLoop_ = now + std::chrono::milliseconds(100);
            }
            wakeBy(nextBootLoop_);
        }
        if (!pending_.empty()) {
            wakeBy(pending_.front().due);
        }
        if (returnsAt_) {
            wakeBy(*returnsAt_);
        }
        // A paced line takes the host's bytes no faster than the speed allows.
        const bool hostMayWrite = inputFreeAt_ <= now;
        if (!hostMayWrite) {
            wakeBy(inputFreeAt_);
        }
        const int timeout
            = wake ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count()) : -1;
        pollfd entries[3] = { { master_, static_cast<short>(hostMayWrite ? POLLIN : 0), 0 }, { wake_[0], POLLIN, 0 },
            { openWatch_, POLLIN, 0 } };
        if (::poll(entries, 3, std::max(timeout, 0)) < 0 && errno != EINTR) {
            return;
        }
        if (entries[1].revents != 0) {
            char commands[64];
            const ssize_t count = ::read(wake_[0], commands, sizeof commands);
            if (count > 0 && std::memchr(commands, 'x', static_cast<std::size_t>(count)) != nullptr) {
                return;
            }
            while (true) {
                std::pair<bool, bool> lines;
                {
                    std::lock_guard lock(mutex_);
                    if (lineStates_.empty()) {
                        break;
                    }
                    lines = lineStates_.front();
                    lineStates_.pop_front();
                }
                applyModemLines(lines.first, lines.second);
                {
                    std::lock_guard lock(mutex_);
                    ++lineStatesApplied_;
                }
                changed_.notify_all();
            }
        }
        if (entries[2].revents != 0) {
            alignas(inotify_event) char events[4096];
            if (::read(openWatch_, events, sizeof events) > 0 && awaitingOpen_) {
                awaitingOpen_ = false;
                detached_ = false;
            }
        }
        if ((entries[0].revents & POLLIN) != 0) {
            readHost(std::chrono::steady_clock::now());
        }
    }
}

void SimulatedUsbBoard::readHost(std::chrono::steady_clock::time_point now)
{
    std::vector<std::uint8_t> buffer(options_.pacesLine ? 256 : 4096);
    const ssize_t count = ::read(master_, buffer.data(), buffer.size());
    if (count <= 0) {
        return;
    }
    buffer.resize(static_cast<std::size_t>(count));
    if (options_.pacesLine) {
        inputFreeAt_ = std::max(now, inputFreeAt_) + lineTime(buffer.size(), baudRate());
    }
    if (detached_) {
        return;
    }
    if (!hostSpeedMatches(baudRate())) {
        // Bytes at the wrong speed are noise to the UART: whatever frame or line was under way is lost.
        frame_.clear();
        inFrame_ = false;
        escaping_ = false;
        line_.clear();
        return;
    }
    receive(buffer);
}

bool SimulatedUsbBoard::hostSpeedMatches(int baudRate) const
{
    if (options_.resetWiring == SimulatedResetWiring::usbSerialJtag) {
        return true; // no UART on the S3's own USB port: the speed setting is ignored
    }
    if (options_.maximumBaudRate > 0 && baudRate > options_.maximumBaudRate) {
        return false;
    }
    termios settings {};
    ::tcgetattr(slave_, &settings);
    const int host = speedOf(::cfgetospeed(&settings));
    return std::abs(host - baudRate) * 200 <= baudRate;
}

void SimulatedUsbBoard::deliver(const Pending& pending)
{
    if (master_ < 0 || detached_ || !hostSpeedMatches(pending.baudRate)) {
        return;
    }
    // A full terminal buffer drops bytes, as a UART would overrun.
    (void)!::write(master_, pending.bytes.data(), pending.bytes.size());
}

void SimulatedUsbBoard::emit(std::vector<std::uint8_t> bytes, std::chrono::milliseconds delay)
{
    const int speed = baudRate();
    auto due = std::chrono::steady_clock::now() + delay;
    if (!pending_.empty() && pending_.back().due > due) {
        due = pending_.back().due;
    }
    if (options_.pacesLine) {
        due = std::max(due, outputFreeAt_) + lineTime(bytes.size(), speed);
        outputFreeAt_ = due;
    }
    pending_.push_back(Pending { due, std::move(bytes), speed });
}

void SimulatedUsbBoard::setModemLines(bool dtr, bool rts)
{
    std::unique_lock lock(mutex_);
    lineStates_.emplace_back(dtr, rts);
    const std::size_t ticket = ++lineStatesPosted_;
    const char command = 'm';
    (void)!::write(wake_[1], &command, 1);
    changed_.wait(lock, [&] { return lineStatesApplied_ >= ticket; });
}

void SimulatedUsbBoard::applyModemLines(bool dtr, bool rts)
{
    switch (options_.resetWiring) {
    case SimulatedResetWiring::none:
        return;
    case SimulatedResetWiring::classicAutoReset: {
        const bool enLow = rts && !dtr;
        const bool gpio0Low = dtr && !rts;
        if (enLow) {
            inReset_ = true;
        } else if (inReset_) {
            inReset_ = false;
            start(gpio0Low);
        }
        return;
    }
    case SimulatedResetWiring::usbSerialJtag: {
        const bool holdReset = rts && !dtr;
        if (dtr && rts) {
            armed_ = true;
        }
        if (holdReset) {
            inReset_ = true;
        } else if (inReset_) {
            inReset_ = false;
            start(armed_);
            armed_ = false;
        }
        if (!dtr && !rts) {
            armed_ = false;
        }
        return;
    }
    }
}

void SimulatedUsbBoard::start(bool downloadMode)
{
    const bool s3 = options_.chip == SimulatedChip::esp32s3;
    {
        std::lock_guard lock(mutex_);
        if (downloadMode) {
            mode_ = SimulatedBoardMode::romLoader;
            ++startsIntoLoader_;
        } else {
            mode_ = options_.mode == SimulatedBoardMode::tavrikFirmware || programmed_ > 0
                ? SimulatedBoardMode::tavrikFirmware
                : SimulatedBoardMode::application;
            ++startsIntoApplication_;
        }
        baudRate_ = romBaudRate;
    }
    firmwareReadyAt_ = std::chrono::steady_clock::now() + options_.firmwareStartDelay;
    synced_ = false;
    attached_ = false;
    flashLimit_ = 2 * 1024 * 1024;
    memLoading_ = false;
    ramLoaded_ = 0;
    blockCount_ = 0;
    frame_.clear();
    inFrame_ = false;
    escaping_ = false;
    line_.clear();
    pending_.clear();
    if (options_.reenumerates && options_.resetWiring == SimulatedResetWiring::usbSerialJtag) {
        ::unlink(currentAlias_.c_str());
        if (!options_.returnAlias.empty()) {
            currentAlias_ = options_.returnAlias;
        }
        detached_ = true;
        returnsAt_ = std::chrono::steady_clock::now() + options_.reenumerationDelay;
        return;
    }
    const std::string banner
        = s3 ? "ESP-ROM:esp32s3-20210327\r\nBuild:Mar 27 2021\r\n" : "ets Jun  8 2016 00:22:57\r\n\r\n";
    if (downloadMode) {
        emit(bytesOf(banner
            + (s3 ? "rst:0x15 (USB_UART_CHIP_RESET),boot:0x0 (DOWNLOAD(USB/UART0))\r\nwaiting for download\r\n"
                  : "rst:0x1 (POWERON_RESET),boot:0x3 (DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\n"
                    "waiting for download\r\n")));
    } else {
        emit(bytesOf(banner
            + (s3 ? "rst:0x1 (POWERON),boot:0x8 (SPI_FAST_FLASH_BOOT)\r\n"
                  : "rst:0x1 (POWERON_RESET),boot:0x13 (SPI_FAST_FLASH_BOOT)\r\n")));
    }
}

void SimulatedUsbBoard::unplug()
{
    ::close(master_);
    master_ = -1;
    pending_.clear();
}

int SimulatedUsbBoard::flashBaudRate() const
{
    std::lock_guard lock(mutex_);
    return flashBaudRate_;
}

int SimulatedUsbBoard::baudRate() const
{
    std::lock_guard lock(mutex_);
    return baudRate_;
}

std::size_t SimulatedUsbBoard::startsIntoLoader() const
{
    std::lock_guard lock(mutex_);
    return startsIntoLoader_;
}

std::size_t SimulatedUsbBoard::startsIntoApplication() const
{
    std::lock_guard lock(mutex_);
    return startsIntoApplication_;
}

void SimulatedUsbBoard::receive(const std::vector<std::uint8_t>& bytes)
{
    if (options_.fault == SimulatedFault::silence || stalled_) {
        return;
    }
    SimulatedBoardMode mode;
    {
        std::lock_guard lock(mutex_);
        mode = mode_;
    }
    if (mode == SimulatedBoardMode::application) {
        std::lock_guard lock(mutex_);
        linesIgnored_ += static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        return;
    }
    for (const std::uint8_t byte : bytes) {
        if (options_.followsResets && mode == SimulatedBoardMode::probeImage && byte == 0xC0) {
            std::lock_guard lock(mutex_);
            mode_ = mode = SimulatedBoardMode::romLoader;
            synced_ = false;
            line_.clear();
        }
        if (mode != SimulatedBoardMode::romLoader) {
            if (byte == '\n') {
                std::string line;
                line.swap(line_);
                handleLine(line);
                std::lock_guard lock(mutex_);
                mode = mode_;
            } else if (line_.size() < 65536) {
                line_.push_back(static_cast<char>(byte));
            }
            continue;
        }
        if (byte == 0xC0) {
            if (inFrame_ && !frame_.empty()) {
                std::vector<std::uint8_t> frame;
                frame.swap(frame_);
                inFrame_ = false;
                handleFrame(frame);
                std::lock_guard lock(mutex_);
                mode = mode_;
            } else {
                inFrame_ = true;
            }
            escaping_ = false;
            continue;
        }
        if (!inFrame_) {
            continue;
        }
        if (escaping_) {
            frame_.push_back(byte == 0xDC ? 0xC0 : 0xDB);
            escaping_ = false;
        } else if (byte == 0xDB) {
            escaping_ = true;
        } else {
            frame_.push_back(byte);
        }
    }
}

void SimulatedUsbBoard::sendFrame(std::uint8_t command, std::vector<std::uint8_t> frame)
{
    std::vector<std::uint8_t> out { 0xC0 };
    for (const std::uint8_t byte : frame) {
        if (byte == 0xC0) {
            out.push_back(0xDB);
            out.push_back(0xDC);
        } else if (byte == 0xDB) {
            out.push_back(0xDB);
            out.push_back(0xDD);
        } else {
            out.push_back(byte);
        }
    }
    out.push_back(0xC0);
    const bool slow = options_.fault == SimulatedFault::slowReply && command == options_.faultCommand;
    emit(std::move(out), slow ? options_.slowDelay : std::chrono::milliseconds(0));
}

void SimulatedUsbBoard::reply(std::uint8_t command, std::uint32_t value, const std::vector<std::uint8_t>& payload,
    std::uint8_t status, std::uint8_t reason)
{
    std::vector<std::uint8_t> body = payload;
    if (options_.fault == SimulatedFault::refuseCommand && command == options_.faultCommand) {
        body.clear();
        status = 1;
        reason = options_.faultReason;
    }
    // Both ROMs append four status bytes: status, reason and two reserved zeros.
    body.push_back(status);
    body.push_back(reason);
    body.push_back(0);
    body.push_back(0);
    if (options_.fault == SimulatedFault::shortReply && command == options_.faultCommand) {
        body.assign(1, 0);
    }
    std::vector<std::uint8_t> frame { 0x01, command, static_cast<std::uint8_t>(body.size()),
        static_cast<std::uint8_t>(body.size() >> 8) };
    put32(frame, value);
    frame.insert(frame.end(), body.begin(), body.end());
    sendFrame(command, std::move(frame));
}

void SimulatedUsbBoard::program(std::uint32_t address, const std::uint8_t* bytes, std::size_t length)
{
    std::lock_guard lock(mutex_);
    for (std::size_t index = 0; index < length; ++index) {
        // NOR flash: programming only clears bits.
        flash_[address + index] &= bytes[index];
    }
    programmed_ += length;
    if (options_.fault == SimulatedFault::corruptFlash && !corrupted_ && length > 0) {
        flash_[address] ^= 0x01;
        corrupted_ = true;
    }
}

void SimulatedUsbBoard::handleFrame(const std::vector<std::uint8_t>& frame)
{
    if (frame.size() < 8 || frame[0] != 0x00) {
        return;
    }
    const std::uint8_t command = frame[1];
    const std::size_t size = frame[2] | (frame[3] << 8);
    const std::uint32_t checksum = le32(frame, 4);
    const std::vector<std::uint8_t> body(frame.begin() + 8, frame.end());
    {
        std::lock_guard lock(mutex_);
        romRequests_.push_back(command);
    }
    if (options_.fault == SimulatedFault::noise) {
        const std::string text
            = "ets Jun  8 2016 00:22:57\r\nrst:0x1 (POWERON_RESET),boot:0x13 (SPI_FAST_FLASH_BOOT)\r\n";
        emit(std::vector<std::uint8_t>(text.begin(), text.end()));
        return;
    }
    if (body.size() != size) {
        reply(command, 0, {}, 1, errInvalidFormat);
        return;
    }
    if (command == opSync) {
        const bool valid = body.size() == 36 && body[0] == 0x07 && body[1] == 0x07 && body[2] == 0x12 && body[3] == 0x20
            && std::all_of(body.begin() + 4, body.end(), [](std::uint8_t byte) { return byte == 0x55; });
        if (valid) {
            synced_ = true;
            for (int copy = 0; copy < 8; ++copy) {
                reply(opSync, 0x20120707, {});
            }
        }
        return;
    }
    if (!synced_) {
        return;
    }
    const bool s3 = options_.chip == SimulatedChip::esp32s3;
    auto refuse = [&](std::uint8_t reason) { reply(command, 0, {}, 1, reason); };
    switch (command) {
    case opReadReg: {
        if (body.size() != 4) {
            return refuse(errInvalidFormat);
        }
        const std::uint32_t address = le32(body, 0);
        std::uint32_t value = 0;
        if (address == 0x40001000) {
            value = s3 ? 0x00000009 : 0x00F01D83;
        } else if (!s3 && address == esp32CalibrationRegister) {
            value = esp32Calibration << 7;
        } else if (!s3 && address == esp32ClockRegister) {
            value = esp32Clock;
        }
        return reply(command, value, {});
    }
    case opChangeBaudRate: {
        if (body.size() != 8 || le32(body, 0) == 0 || le32(body, 4) != 0) {
            return refuse(errInvalidFormat);
        }
        // Answered at the old speed; the new one holds from the next byte. The ESP32 ROM sets its
        // divider from the crystal it believes in, so a host must scale the number it sends.
        reply(command, 0, {});
        const double requested = le32(body, 0);
        const double speed = s3 ? requested : requested * 40e6 / esp32BelievedCrystal;
        std::lock_guard lock(mutex_);
        baudRate_ = static_cast<int>(std::lround(speed));
        return;
    }
    case opWriteReg:
        return body.size() % 16 == 0 && !body.empty() ? reply(command, 0, {}) : refuse(errInvalidFormat);
    case opSecurityInfo: {
        if (!s3) {
            return refuse(errInvalidFormat);
        }
        std::vector<std::uint8_t> info(12, 0);
        put32(info, 9);
        put32(info, 0);
        return reply(command, 0, info);
    }
    case opSpiAttach:
        if (body.size() != 8) {
            return refuse(errInvalidFormat);
        }
        attached_ = true;
        return reply(command, 0, {});
    case opSpiSetParams:
        if (body.size() != 24 || le32(body, 4) > flash_.size()) {
            return refuse(0x01);
        }
        flashLimit_ = le32(body, 4);
        return reply(command, 0, {});
    case opDeflBegin: {
        // What the vendor flashers never send to a ROM is refused: flash work before SPI_ATTACH,
        // the 16-byte form on an S3, a region past the flash size the ROM knows.
        if (!attached_ || body.size() != (s3 ? 20U : 16U)) {
            return refuse(errInvalidFormat);
        }
        const std::uint32_t eraseSize = le32(body, 0);
        const std::uint32_t offset = le32(body, 12);
        if (static_cast<std::uint64_t>(offset) + eraseSize > flashLimit_ || le32(body, 8) != 0x400) {
            return refuse(0x01);
        }
        {
            std::lock_guard lock(mutex_);
            const std::uint32_t first = offset / 0x1000 * 0x1000;
            const std::uint32_t last = std::min<std::uint32_t>(
                (offset + eraseSize + 0xFFF) / 0x1000 * 0x1000, static_cast<std::uint32_t>(flash_.size()));
            std::fill(flash_.begin() + first, flash_.begin() + last, 0xFF);
        }
        if (inflating_) {
            inflateEnd(asStream(inflater_));
        }
        *asStream(inflater_) = z_stream {};
        inflating_ = inflateInit(asStream(inflater_)) == Z_OK;
        blockCount_ = le32(body, 4);
        nextSequence_ = 0;
        writeAddress_ = offset;
        writeEnd_ = offset + eraseSize;
        return reply(command, 0, {});
    }
    case opDeflData:
    case opMemData: {
        if (body.size() < 16) {
            return refuse(errInvalidFormat);
        }
        const std::uint32_t length = le32(body, 0);
        const std::uint32_t sequence = le32(body, 4);
        const std::uint32_t limit = command == opDeflData ? 0x400 : 0x1800;
        if (length != body.size() - 16 || length > limit || sequence != nextSequence_) {
            return refuse(errInvalidFormat);
        }
        std::uint8_t sum = 0xEF;
        for (std::size_t index = 16; index < body.size(); ++index) {
            sum ^= body[index];
        }
        if (sum != checksum) {
            return refuse(errChecksum);
        }
        ++nextSequence_;
        if (command == opMemData) {
            if (!memLoading_ || memAddress_ + length > memEnd_) {
                return refuse(errRamAddress);
            }
            memAddress_ += length;
            ramLoaded_ += length;
            return reply(command, 0, {});
        }
        if (blockCount_ == 0) {
            return refuse(errInvalidFormat);
        }
        z_stream* stream = asStream(inflater_);
        stream->next_in = const_cast<Bytef*>(body.data() + 16);
        stream->avail_in = length;
        std::vector<std::uint8_t> out(64 * 1024);
        do {
            stream->next_out = out.data();
            stream->avail_out = static_cast<uInt>(out.size());
            const int status = inflate(stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                return refuse(errInflate);
            }
            const std::size_t produced = out.size() - stream->avail_out;
            if (writeAddress_ + produced > writeEnd_) {
                return refuse(errInflate);
            }
            program(writeAddress_, out.data(), produced);
            writeAddress_ += static_cast<std::uint32_t>(produced);
        } while (stream->avail_out == 0);
        {
            std::lock_guard lock(mutex_);
            ++dataBlocks_;
            flashBaudRate_ = baudRate_;
        }
        changed_.notify_all();
        if (options_.fault == SimulatedFault::stallAfterBlock) {
            stalled_ = true;
            return;
        }
        if (options_.fault == SimulatedFault::unplugAfterBlock) {
            return unplug();
        }
        return reply(command, 0, {});
    }
    case opMd5: {
        if (body.size() != 16) {
            return refuse(errInvalidFormat);
        }
        const std::uint32_t address = le32(body, 0);
        const std::uint32_t length = le32(body, 4);
        if (static_cast<std::uint64_t>(address) + length > flash_.size()) {
            return refuse(0x01);
        }
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        {
            std::lock_guard lock(mutex_);
            EVP_Digest(flash_.data() + address, length, digest, &digestLength, EVP_md5(), nullptr);
        }
        std::vector<std::uint8_t> text;
        for (unsigned int index = 0; index < digestLength; ++index) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", digest[index]);
            text.push_back(static_cast<std::uint8_t>(pair[0]));
            text.push_back(static_cast<std::uint8_t>(pair[1]));
        }
        reply(command, 0, text);
        // The check of a written image stands in for the reset that starts it.
        if (options_.followsResets) {
            std::lock_guard lock(mutex_);
            if (programmed_ > 0) {
                mode_ = SimulatedBoardMode::tavrikFirmware;
                firmwareReadyAt_ = std::chrono::steady_clock::now() + options_.firmwareStartDelay;
            }
        }
        return;
    }
    case opMemBegin: {
        if (body.size() != 16) {
            return refuse(errInvalidFormat);
        }
        const std::uint32_t total = le32(body, 0);
        const std::uint32_t address = le32(body, 12);
        if (!inRam(options_.chip, address, static_cast<std::uint64_t>(address) + total) || le32(body, 8) > 0x1800) {
            return refuse(errRamAddress);
        }
        memLoading_ = true;
        memAddress_ = address;
        memEnd_ = address + total;
        nextSequence_ = 0;
        return reply(command, 0, {});
    }
    case opMemEnd: {
        if (body.size() != 8 || !memLoading_ || ramLoaded_ == 0) {
            return refuse(errInvalidFormat);
        }
        reply(command, 0, {});
        if (le32(body, 0) == 0) {
            std::lock_guard lock(mutex_);
            mode_ = SimulatedBoardMode::probeImage;
        }
        return;
    }
    case opFlashBegin:
    case opDeflEnd:
        return reply(command, 0, {});
    default:
        return refuse(errInvalidFormat);
    }
}

void SimulatedUsbBoard::sendLine(const std::string& verb, const nlohmann::ordered_json& body)
{
    const std::string line = "TVK " + verb + " " + bytesAsSent(body) + "\r\n";
    emit(std::vector<std::uint8_t>(line.begin(), line.end()));
}

void SimulatedUsbBoard::handleLine(const std::string& rawLine)
{
    std::string line = rawLine;
    while (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    const auto start = line.find("TVK ");
    if (start != 0) {
        return;
    }
    const auto space = line.find(' ', 4);
    const std::string verb = line.substr(4, space == std::string::npos ? std::string::npos : space - 4);
    nlohmann::json body = nlohmann::json::object();
    if (space != std::string::npos) {
        body = nlohmann::json::parse(line.substr(space + 1), nullptr, false);
        if (body.is_discarded() || !body.is_object()) {
            sendLine("error", { { "message", "Malformed request." } });
            return;
        }
    }
    SimulatedBoardMode mode;
    {
        std::lock_guard lock(mutex_);
        mode = mode_;
        if (mode == SimulatedBoardMode::tavrikFirmware && std::chrono::steady_clock::now() < firmwareReadyAt_) {
            return; // still starting: nothing reads the line yet
        }
        requests_.push_back(Request { verb, body });
    }
    const std::string board = options_.target == "m5stick-c" ? "M5 StickC Plus2" : "LILYGO T-Embed CC1101";
    if (verb == "hello") {
        if (mode == SimulatedBoardMode::tavrikFirmware) {
            sendLine("hello",
                { { "role", "tavrik" }, { "firmwareVersion", options_.firmwareVersion },
                    { "hardwareTarget", options_.target }, { "bleProtocolVersion", options_.bleProtocolVersion } });
        } else {
            sendLine("hello", { { "role", "probe" }, { "target", options_.target } });
        }
        return;
    }
    if (mode == SimulatedBoardMode::tavrikFirmware) {
        if (verb == "configure" || verb == "set-time") {
            sendLine("ok", nlohmann::ordered_json::object());
        } else {
            sendLine("error", { { "message", "Unknown request " + verb + "." } });
        }
        return;
    }
    if (verb == "labels") {
        const auto data = base64Decode(body.value("data", std::string()));
        {
            std::lock_guard lock(mutex_);
            labels_ = data;
        }
        if (data.size() != 3480) {
            sendLine("error", { { "message", "The label pack has the wrong size." } });
        } else {
            sendLine("ok", nlohmann::ordered_json::object());
        }
    } else if (verb == "start") {
        sendLine("ok", nlohmann::ordered_json::object());
        sendLine("status",
            { { "type", "status" }, { "target", options_.target }, { "board", board }, { "stage", "button" },
                { "instruction", "Press the main button." } });
        if (options_.probePasses) {
            sendLine("result",
                { { "type", "result" }, { "target", options_.target }, { "board", board }, { "stage", "passed" },
                    { "result", "pass" }, { "button", "pressed" } });
        } else {
            sendLine("result",
                { { "type", "result" }, { "target", options_.target }, { "board", board }, { "stage", "failed" },
                    { "result", "fail" }, { "message", "The display did not respond." } });
        }
    } else if (verb == "stage" || verb == "stop") {
        sendLine("ok", nlohmann::ordered_json::object());
        if (verb == "stop") {
            std::lock_guard lock(mutex_);
            mode_ = SimulatedBoardMode::romLoader;
            synced_ = false;
        }
    } else if (verb == "wifi-scan") {
        for (const auto& network : options_.networks) {
            sendLine("network",
                { { "ssid", network.ssid }, { "rssi", network.rssi }, { "channel", network.channel },
                    { "auth", network.auth } });
        }
        sendLine("done", nlohmann::ordered_json::object());
    } else if (verb == "wifi-test") {
        const std::string ssid = body.value("ssid", std::string());
        const std::string password = body.value("password", std::string());
        const auto found = std::find_if(options_.networks.begin(), options_.networks.end(),
            [&](const SimulatedNetwork& network) { return network.ssid == ssid; });
        if (found != options_.networks.end() && found->password == password) {
            sendLine("wifi-test",
                { { "result", "pass" }, { "rssi", found->rssi }, { "channel", found->channel }, { "auth", found->auth } });
        } else {
            sendLine("wifi-test", { { "result", "fail" } });
        }
    } else {
        sendLine("error", { { "message", "Unknown request " + verb + "." } });
    }
}

std::vector<std::uint8_t> SimulatedUsbBoard::flash(std::size_t offset, std::size_t length) const
{
    std::lock_guard lock(mutex_);
    return std::vector<std::uint8_t>(flash_.begin() + static_cast<std::ptrdiff_t>(offset),
        flash_.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

std::size_t SimulatedUsbBoard::programmedBytes() const
{
    std::lock_guard lock(mutex_);
    return programmed_;
}

std::size_t SimulatedUsbBoard::flashDataBlocks() const
{
    std::lock_guard lock(mutex_);
    return dataBlocks_;
}

std::vector<std::uint8_t> SimulatedUsbBoard::romRequests() const
{
    std::lock_guard lock(mutex_);
    return romRequests_;
}

std::vector<SimulatedUsbBoard::Request> SimulatedUsbBoard::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::uint8_t> SimulatedUsbBoard::labels() const
{
    std::lock_guard lock(mutex_);
    return labels_;
}

std::size_t SimulatedUsbBoard::linesIgnored() const
{
    std::lock_guard lock(mutex_);
    return linesIgnored_;
}

SimulatedBoardMode SimulatedUsbBoard::mode() const
{
    std::lock_guard lock(mutex_);
    return mode_;
}

bool SimulatedUsbBoard::waitForDataBlocks(std::size_t count, std::chrono::milliseconds limit) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return dataBlocks_ >= count; });
}

} // namespace tavrik
