#include "TavrikUSBFlasher/FlasherCommands.hpp"

#include "TavrikUSBFlasher/EspImage.hpp"
#include "TavrikUSBFlasher/JsonText.hpp"
#include "TavrikUSBFlasher/LineChannel.hpp"
#include "TavrikUSBFlasher/RomLoader.hpp"
#include "TavrikUSBFlasher/UsbPortIdentity.hpp"
#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocol.hpp"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrik {

using namespace std::chrono_literals;

namespace {

using Clock = SerialLink::Clock;
using Json = nlohmann::ordered_json;

// Far above what either file can hold (the chips' RAM; a pack of eight small frames), so a wrong
// file is refused before it is read.
constexpr std::uint64_t probeImageLimit = std::uint64_t { 1 } << 20;
constexpr std::uint64_t labelPackLimit = std::uint64_t { 64 } << 10;
// How long "probe" asks a board that may be running Tavrik before it looks for the ROM loader.
constexpr auto probeReadiness = 5s;
// How long a freshly flashed firmware gets to come up and answer.
constexpr auto firmwareReadiness = 10s;

void printLine(const FlasherEnvironment& environment, const std::string& line)
{
    *environment.output << line << '\n' << std::flush;
}

std::string base64(const std::string& bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t index = 0;
    for (; index + 2 < bytes.size(); index += 3) {
        const std::uint32_t group = (static_cast<std::uint8_t>(bytes[index]) << 16)
            | (static_cast<std::uint8_t>(bytes[index + 1]) << 8) | static_cast<std::uint8_t>(bytes[index + 2]);
        out.push_back(alphabet[(group >> 18) & 63]);
        out.push_back(alphabet[(group >> 12) & 63]);
        out.push_back(alphabet[(group >> 6) & 63]);
        out.push_back(alphabet[group & 63]);
    }
    if (index < bytes.size()) {
        std::uint32_t group = static_cast<std::uint8_t>(bytes[index]) << 16;
        if (index + 1 < bytes.size()) {
            group |= static_cast<std::uint8_t>(bytes[index + 1]) << 8;
        }
        out.push_back(alphabet[(group >> 18) & 63]);
        out.push_back(alphabet[(group >> 12) & 63]);
        out.push_back(index + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::optional<std::string> stringField(const Json& object, const char* key)
{
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

// MD5 as 32 lowercase hex digits, the form the ROM reports for a flash region.
std::string md5Hex(const Data& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) {
        throw std::runtime_error("Cannot compute the MD5 of the firmware image.");
    }
    std::string text;
    for (unsigned int index = 0; index < length; ++index) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[index]);
        text += pair;
    }
    return text;
}

// "yyyy-MM-dd HH:mm:ss" naming a day that exists and a time of that day.
bool isLocalTime(const std::string& text)
{
    static const std::regex shape(R"((\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2}))");
    std::smatch parts;
    if (!std::regex_match(text, parts, shape)) {
        return false;
    }
    const auto number = [&](std::size_t index) { return std::stoi(parts[index].str()); };
    const std::chrono::year_month_day day { std::chrono::year(number(1)),
        std::chrono::month(static_cast<unsigned>(number(2))), std::chrono::day(static_cast<unsigned>(number(3))) };
    return day.ok() && number(4) < 24 && number(5) < 60 && number(6) < 60;
}

ResetCircuit resetCircuitOf(const std::string& port, const FlasherEnvironment& environment)
{
    return resetCircuitFor(readUsbPortIds(port, environment.sysfsRoot));
}

BoardModel requireModel(const std::string& targetId)
{
    auto model = boardModelFor(targetId);
    if (!model) {
        throw UsageError("Unknown target: " + targetId + ". Use m5stick-c or t-embed-cc1101.");
    }
    return *model;
}

// Sends a request and waits for its answer (`answerVerb`) or "error", whose message is thrown.
LineMessage request(LineChannel& channel, const std::string& verb, const Json& body, const std::string& answerVerb,
    Clock::time_point until, const std::string& silenceText)
{
    channel.send(verb, body);
    while (auto message = channel.receive(until)) {
        if (message->verb == answerVerb) {
            return *message;
        }
        if (message->verb == "error") {
            throw std::runtime_error(stringField(message->body, "message").value_or("The board refused the request."));
        }
    }
    throw std::runtime_error(silenceText);
}

std::string noAnswerText(const std::string& port)
{
    return "The device on " + port + " did not answer. Make sure Tavrik or the onboarding probe is running on it.";
}

Json probeResultLine(const std::string& result, const std::string& message)
{
    return Json { { "type", "result" }, { "stage", result == "pass" ? "passed" : "failed" }, { "result", result },
        { "message", message } };
}

// The board's object under our "type", the first key as the application's records expect.
Json relayed(const Json& body, const std::string& type)
{
    Json object { { "type", type } };
    for (const auto& [key, value] : body.items()) {
        if (key != "type") {
            object[key] = value;
        }
    }
    return object;
}

// Waits until the firmware reads the line: just after its reset it may still be starting, and the
// one request must not go to nobody.
void awaitFirmware(LineChannel& channel, SerialLink& link, const std::string& port)
{
    for (int attempt = 0; attempt < firmwareReadiness / 500ms; ++attempt) {
        channel.send("hello");
        const auto until = link.now() + 500ms;
        while (auto message = channel.receive(until)) {
            if (message->verb == "hello") {
                return;
            }
        }
    }
    // Only the firmware can be meant here: the probe image is gone after a flash.
    throw std::runtime_error("Tavrik did not answer on " + port + " within "
        + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(firmwareReadiness).count())
        + " seconds of starting.");
}

// What a board prints that no starting Tavrik would: the boot loop of an empty flash, or a ROM
// loader already waiting for a download.
bool plainlyNotTavrik(const std::string& boardText)
{
    for (const char* sign : { "invalid header: 0x", "flash read err", "waiting for download" }) {
        if (boardText.find(sign) != std::string::npos) {
            return true;
        }
    }
    return false;
}

int runProbe(const FlasherArguments& arguments, const FlasherEnvironment& environment)
{
    const std::string port = arguments.required("--port");
    auto link = environment.openPort(port, 20s, "The probe of " + port + " did not finish within 20 seconds.", 2s);
    LineChannel channel(*link);
    // A Tavrik that was just plugged in may take seconds to start reading the line; taking its
    // silence for an empty board would reset it into the loader and offer to wipe it.
    const auto readyBy = link->now() + probeReadiness;
    while (link->now() < readyBy && !plainlyNotTavrik(channel.otherText())) {
        channel.send("hello");
        const auto until = std::min(readyBy, link->now() + 500ms);
        while (auto message = channel.receive(until)) {
            if (message->verb != "hello") {
                continue;
            }
            Json result;
            if (stringField(message->body, "role") == "tavrik") {
                result["state"] = "tavrik";
                for (const char* key : { "firmwareVersion", "hardwareTarget" }) {
                    if (auto text = stringField(message->body, key)) {
                        result[key] = *text;
                    }
                }
                const auto protocol = message->body.find("bleProtocolVersion");
                if (protocol != message->body.end() && protocol->is_number_integer()) {
                    result["bleProtocolVersion"] = *protocol;
                }
            } else {
                result["state"] = "other";
            }
            printLine(environment, jsonText(result));
            return 0;
        }
    }
    // Nothing of ours answers: an empty board, if its ROM loader can be reached.
    RomLoader loader(*link, resetCircuitOf(port, environment));
    loader.connect(5s);
    loader.detectChip();
    loader.hardReset();
    printLine(environment, jsonText(Json { { "state", "other" } }));
    return 0;
}

int runHardwareProbe(const FlasherArguments& arguments, const FlasherEnvironment& environment)
{
    const std::string port = arguments.required("--port");
    const BoardModel model = requireModel(arguments.required("--expected-target"));
    const int timeout = arguments.seconds("--timeout", 90);
    const std::string imagePath = arguments.required("--image");
    const EspAppImage image = parseEspAppImage(
        environment.readFile(imagePath, probeImageLimit, "The probe image " + imagePath + " is too large for RAM."), 0,
        true);
    if (image.chipId != espImageChipId(model.chip)) {
        throw std::runtime_error(
            "The probe image is not built for the " + espChipName(model.chip) + " of " + model.displayName + ".");
    }
    std::optional<std::string> labels;
    if (auto path = arguments.optional("--labels")) {
        const Data bytes = environment.readFile(
            *path, labelPackLimit, "The onboarding label pack " + *path + " cannot be used: it is too large.");
        try {
            OnboardingLabelProtocol::validatePack(bytes);
        } catch (const OnboardingLabelProtocolError& error) {
            throw std::runtime_error("The onboarding label pack " + *path + " cannot be used: " + error.what());
        }
        labels = std::string(bytes.begin(), bytes.end());
    }

    auto link = environment.openPort(
        port, std::chrono::seconds(timeout + 60), "The hardware probe on " + port + " did not finish in time.", 2s);
    RomLoader loader(*link, resetCircuitOf(port, environment));
    loader.connect(8s);
    const EspChip chip = loader.detectChip();
    if (chip != model.chip) {
        printLine(environment,
            "USB_PROBE_RESULT "
                + jsonText(probeResultLine("fail",
                    "Connected hardware has an " + espChipName(chip) + ", not the " + espChipName(model.chip) + " of "
                        + model.displayName + ".")));
        loader.hardReset();
        return 0;
    }
    printLine(environment,
        "USB_PROBE_STATUS "
            + jsonText(Json { { "type", "status" }, { "target", model.targetId }, { "board", model.displayName },
                { "stage", "loading" } }));
    loader.loadIntoRam(chip, image);

    LineChannel channel(*link);
    auto fail = [&](const std::string& message) {
        printLine(environment, "USB_PROBE_RESULT " + jsonText(probeResultLine("fail", message)));
        return 0;
    };
    bool started = false;
    const auto startLimit = link->now() + 10s;
    while (!started && link->now() < startLimit) {
        channel.send("hello");
        const auto until = std::min(startLimit, link->now() + 500ms);
        while (auto message = channel.receive(until)) {
            if (message->verb == "hello" && stringField(message->body, "role") == "probe") {
                started = true;
                break;
            }
        }
    }
    if (!started) {
        return fail("The probe image did not start on the board. Unplug the device and try again.");
    }
    try {
        if (labels) {
            request(channel, "labels", Json { { "data", base64(*labels) } }, "ok", link->now() + 10s,
                "The probe did not take the onboarding labels.");
        }
        request(channel, "start", Json { { "target", model.targetId } }, "ok", link->now() + 5s,
            "The probe did not start the hardware check.");
    } catch (const InterruptedError&) {
        throw;
    } catch (const DeadlineError&) {
        throw;
    } catch (const std::runtime_error& error) {
        return fail(error.what());
    }

    const auto until = link->now() + std::chrono::seconds(timeout);
    std::optional<Json> result;
    while (!result) {
        auto message = channel.receive(until);
        if (!message) {
            break;
        }
        if (message->verb == "status") {
            printLine(environment, "USB_PROBE_STATUS " + jsonText(relayed(message->body, "status")));
        } else if (message->verb == "result") {
            result = relayed(message->body, "result");
        }
    }
    if (!result) {
        return fail("The hardware check did not finish within " + std::to_string(timeout) + " seconds.");
    }
    printLine(environment, "USB_PROBE_RESULT " + jsonText(*result));
    // Only the T-Embed keeps its probe for the Wi-Fi steps; any other board goes back to idle.
    if (model.targetId != "t-embed-cc1101") {
        channel.send("stop");
        loader.hardReset();
    }
    return 0;
}

int runFlash(const FlasherArguments& arguments, const FlasherEnvironment& environment)
{
    const std::string port = arguments.required("--port");
    const BoardModel model = requireModel(arguments.required("--verified-target"));
    Data padded = environment.readFile(arguments.required("--image"), model.flashSize,
        "The firmware image is larger than the flash of " + model.displayName + ". Nothing was written.");
    if (auto problem = factoryImageProblem(padded, model)) {
        throw std::runtime_error(*problem + " Nothing was written.");
    }
    const std::uint64_t total = padded.size();
    padded.resize((padded.size() + 3) / 4 * 4, 0xFF);
    const std::string expectedMd5 = md5Hex(padded);

    const auto limit = std::chrono::seconds(90 + 120 * (padded.size() / 1048576 + 1));
    auto link = environment.openPort(
        port, limit, "Flashing " + port + " did not finish within " + std::to_string(limit.count()) + " seconds.", 2s);
    RomLoader loader(*link, resetCircuitOf(port, environment));
    loader.connect(8s);
    const auto attach = [&] {
        const EspChip chip = loader.detectChip();
        if (chip != model.chip) {
            throw std::runtime_error("The board on " + port + " has an " + espChipName(chip) + ", but "
                + model.displayName + " has an " + espChipName(model.chip) + ". Nothing was written.");
        }
        loader.prepareFlash(chip, model.flashSize);
    };
    attach();
    if (loader.canChangeBaudRate()) {
        // Each speed the line does not carry costs a reset, after which the set-up is redone.
        for (const int baudRate : { 921600, 460800 }) {
            if (loader.changeBaudRate(model.chip, baudRate)) {
                break;
            }
            attach();
        }
    }
    // A line a percent of the image: as fine as the application shows it, without a write per block.
    std::uint64_t lastDone = 0;
    std::optional<std::uint64_t> printed;
    loader.writeCompressed(model.chip, padded, 0, total, [&](std::uint64_t done, std::uint64_t all) {
        done = std::max(done, lastDone);
        lastDone = done;
        const auto percent = [all](std::uint64_t bytes) { return all == 0 ? 100 : bytes * 100 / all; };
        if (!printed || percent(done) != percent(*printed) || (done == all && *printed != all)) {
            printed = done;
            printLine(environment, "USB_FLASH_PROGRESS " + std::to_string(done) + " " + std::to_string(all));
        }
    });
    const std::string boardMd5 = loader.flashMd5(0, static_cast<std::uint32_t>(padded.size()));
    if (boardMd5 != expectedMd5) {
        // What was read back differs from what was sent: usually the line, not the board.
        throw std::runtime_error("The firmware did not verify; try again or use another cable.");
    }
    printLine(
        environment, "USB_FLASH_VERIFIED md5 " + expectedMd5 + " bytes " + std::to_string(padded.size()) + " at 0x0");
    loader.hardReset();
    printLine(environment, "Tavrik firmware installed over USB.");
    return 0;
}

int runLineRequest(const FlasherArguments& arguments, const FlasherEnvironment& environment)
{
    const std::string port = arguments.required("--port");
    const std::string& subcommand = arguments.subcommand;
    const int timeout = arguments.seconds("--timeout", subcommand == "configure-wifi-time" ? 30 : 15);
    std::optional<std::string> password;
    if (subcommand == "wifi-test" || subcommand == "configure-wifi-time") {
        if (!arguments.hasFlag("--password-stdin")) {
            throw UsageError(subcommand + " needs --password-stdin.");
        }
        password = passwordFromStandardInput(environment.readStandardInput());
    }
    Json body = Json::object();
    std::string answer = "ok";
    if (subcommand == "probe-stage") {
        body["stage"] = arguments.required("--stage");
    } else if (subcommand == "wifi-scan") {
        answer = "done";
    } else if (subcommand == "wifi-test") {
        body = Json { { "ssid", arguments.required("--ssid") }, { "password", *password } };
        answer = "wifi-test";
    } else if (subcommand == "configure-wifi-time") {
        body = Json { { "ssid", arguments.required("--ssid") }, { "password", *password },
            { "timezone", arguments.required("--timezone") } };
    } else if (subcommand == "set-time") {
        const std::string time = arguments.required("--time");
        if (!isLocalTime(time)) {
            throw UsageError("--time must be a real local time of the form yyyy-MM-dd HH:mm:ss.");
        }
        body["time"] = time;
    }
    const std::string verb = subcommand == "configure-wifi-time" ? "configure"
        : subcommand == "stop-probe"                             ? "stop"
        : subcommand == "probe-stage"                            ? "stage"
                                                                 : subcommand;

    // Right after a flash the new firmware may bring its USB port up only seconds later: the port
    // is waited for as long as the firmware itself.
    const bool followsFlash = subcommand == "configure-wifi-time" || subcommand == "set-time";
    auto link = environment.openPort(port, std::chrono::seconds(timeout),
        subcommand + " on " + port + " did not finish within " + std::to_string(timeout) + " seconds.",
        followsFlash ? std::chrono::duration_cast<std::chrono::seconds>(firmwareReadiness) : 2s);
    LineChannel channel(*link);
    if (followsFlash) {
        awaitFirmware(channel, *link, port);
    }
    channel.send(verb, body);
    const auto until = link->now() + std::chrono::seconds(timeout) + 1s;
    while (auto message = channel.receive(until)) {
        if (message->verb == "error") {
            throw std::runtime_error(
                stringField(message->body, "message").value_or("The device refused " + subcommand + "."));
        }
        if (subcommand == "wifi-scan" && message->verb == "network") {
            printLine(environment, "USB_WIFI_SCAN " + jsonText(relayed(message->body, "network")));
            continue;
        }
        if (message->verb != answer) {
            continue;
        }
        if (subcommand == "wifi-test") {
            printLine(environment, "USB_WIFI_TEST " + jsonText(relayed(message->body, "wifi-test")));
        } else if (subcommand == "configure-wifi-time") {
            printLine(environment, "Tavrik Wi-Fi time configured over USB.");
        } else if (subcommand == "set-time") {
            printLine(environment, "Tavrik time synced over USB.");
        }
        return 0;
    }
    throw std::runtime_error(noAnswerText(port));
}

} // namespace

std::string passwordFromStandardInput(std::string input)
{
    if (!input.empty() && input.back() == '\n') {
        input.pop_back();
    }
    return input;
}

Data readFileBytes(const std::string& path, std::uint64_t limit, const std::string& tooLarge)
{
    // Without O_NONBLOCK the open of a named pipe would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        throw std::runtime_error("Cannot read " + path + ".");
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer { fd };
    struct stat node { };
    if (::fstat(fd, &node) != 0) {
        throw std::runtime_error("Cannot read " + path + ".");
    }
    if (S_ISDIR(node.st_mode)) {
        throw std::runtime_error(path + " is a directory.");
    }
    // A pipe or a device has no size to check and may never end.
    if (!S_ISREG(node.st_mode)) {
        throw std::runtime_error(path + " is not a regular file.");
    }
    if (static_cast<std::uint64_t>(node.st_size) > limit) {
        throw std::runtime_error(tooLarge);
    }
    // One byte more than the size, so a file that grew while it was read is noticed.
    Data bytes(static_cast<std::size_t>(node.st_size) + 1);
    std::size_t length = 0;
    while (length < bytes.size()) {
        const ssize_t count = ::read(fd, bytes.data() + length, bytes.size() - length);
        if (count == 0) {
            break;
        }
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            throw std::runtime_error("Cannot read " + path + ".");
        }
        length += static_cast<std::size_t>(count);
    }
    if (length > limit) {
        throw std::runtime_error(tooLarge);
    }
    bytes.resize(length);
    return bytes;
}

int runFlasherCommand(const FlasherArguments& arguments, const FlasherEnvironment& environment)
{
    try {
        if (arguments.subcommand == "probe") {
            return runProbe(arguments, environment);
        }
        if (arguments.subcommand == "hardware-probe") {
            return runHardwareProbe(arguments, environment);
        }
        if (arguments.subcommand == "flash") {
            return runFlash(arguments, environment);
        }
        return runLineRequest(arguments, environment);
    } catch (const InterruptedError&) {
        throw;
    } catch (const PortUnavailableError&) {
        throw;
    } catch (const UsageError&) {
        throw;
    } catch (const std::runtime_error& error) {
        // A serial monitor left open on the port reads the board's answers away: say so rather
        // than blame the board.
        const std::string port = arguments.optional("--port").value_or("");
        const std::string note = port.empty() ? std::string() : holdersNote(port);
        if (note.empty()) {
            throw;
        }
        throw std::runtime_error(std::string(error.what()) + " Another program has " + port + " open" + note
            + " and takes the board's answers; close it, then try again.");
    }
}

} // namespace tavrik
