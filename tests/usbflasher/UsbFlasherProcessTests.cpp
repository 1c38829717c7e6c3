#include "TavrikUSBFlasher/PosixSerialPort.hpp"
#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocol.hpp"
#include "tests/support/usbboard/SimulatedUsbBoard.hpp"
#include "tests/usbflasher/BoardImages.hpp"
#include "tests/usbflasher/HelperProcess.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace tavrik;
using namespace tavrik::test;
using namespace std::chrono_literals;

constexpr std::uint8_t opDeflBegin = 0x10;
constexpr std::uint8_t opReadReg = 0x0A;
constexpr std::uint8_t opSpiAttach = 0x0D;
constexpr std::uint8_t opSync = 0x08;

class UsbFlasherProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tavrik-usbflasher-XXXXXX";
        directory_ = ::mkdtemp(pattern);
    }

    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::string writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = directory_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static bool mentionsBootloaderContact(const std::string& text)
    {
        return text.find("Failed to synchronize with the ESP32 bootloader") != std::string::npos
            || text.find("Timed out waiting for the ESP32 bootloader") != std::string::npos;
    }

    std::string directory_;
};

struct FlashCase {
    const char* name;
    SimulatedChip chip;
    ImageChip imageChip;
    const char* target;
    std::size_t length;
};

TEST_F(UsbFlasherProcess, FlashesAndVerifiesTheFactoryImageOnBothChips)
{
    const FlashCase cases[] = {
        // Past the 2 MB the ROM assumes until it is told the flash size.
        { "ESP32, odd length past 2 MB", SimulatedChip::esp32, ImageChip::esp32, "m5stick-c", 2 * 1048576 + 4096 + 3 },
        { "ESP32-S3", SimulatedChip::esp32s3, ImageChip::esp32s3, "t-embed-cc1101", 256 * 1024 },
    };
    for (const FlashCase& flashCase : cases) {
        SCOPED_TRACE(flashCase.name);
        SimulatedUsbBoardOptions options;
        options.chip = flashCase.chip;
        options.target = flashCase.target;
        SimulatedUsbBoard board(options);
        const auto image = factoryImage(flashCase.imageChip, flashCase.length, 0x1234);
        const std::string path = writeFile("factory.bin", image);

        const HelperRun run
            = runHelper({ "flash", "--port", board.portPath(), "--image", path, "--verified-target", flashCase.target });

        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(board.flash(0, image.size()), image);
        // The padding to a multiple of four is written as erased bytes.
        EXPECT_EQ(board.flash(image.size(), 8), std::vector<std::uint8_t>(8, 0xFF));

        std::uint64_t previous = 0;
        std::size_t progressLines = 0;
        const auto lines = run.outLines();
        ASSERT_FALSE(lines.empty());
        for (const std::string& line : lines) {
            if (line.rfind("USB_FLASH_PROGRESS ", 0) == 0) {
                std::uint64_t done = 0, total = 0;
                ASSERT_EQ(std::sscanf(line.c_str(), "USB_FLASH_PROGRESS %lu %lu", &done, &total), 2) << line;
                EXPECT_EQ(total, image.size());
                EXPECT_GE(done, previous);
                EXPECT_LE(done, total);
                previous = done;
                ++progressLines;
            } else {
                EXPECT_TRUE(line.rfind("USB_FLASH_VERIFIED ", 0) == 0 || line == "Tavrik firmware installed over USB.")
                    << line;
            }
        }
        EXPECT_GT(progressLines, 2U);
        EXPECT_EQ(previous, image.size());
        EXPECT_EQ(lines.back(), "Tavrik firmware installed over USB.");
        EXPECT_TRUE(run.err.empty()) << run.err;
    }
}

TEST_F(UsbFlasherProcess, FlashFailuresCarryTheirOwnTexts)
{
    struct FaultCase {
        const char* name;
        SimulatedFault fault;
        std::uint8_t command;
        const char* expected;
    };
    const FaultCase cases[] = {
        { "silent port", SimulatedFault::silence, 0, "Timed out waiting for the ESP32 bootloader" },
        { "board printing text", SimulatedFault::noise, 0, "Failed to synchronize with the ESP32 bootloader" },
        { "refused erase", SimulatedFault::refuseCommand, opDeflBegin,
            "ESP32 bootloader command 0x10 failed with status 1 reason 5." },
        { "short status packet", SimulatedFault::shortReply, opSpiAttach,
            "ESP32 bootloader returned a short status packet: expected at least 2 bytes, got 1." },
        { "flash reads back wrong", SimulatedFault::corruptFlash, 0,
            "The firmware did not verify; try again or use another cable." },
        { "short chip-id reply", SimulatedFault::shortReply, opReadReg, "The board did not answer the chip-id read" },
        { "refused chip-id read", SimulatedFault::refuseCommand, opReadReg, "The board did not answer the chip-id read" },
        { "unplugged mid-write", SimulatedFault::unplugAfterBlock, 0, "The board was disconnected" },
    };
    const auto image = factoryImage(ImageChip::esp32, 64 * 1024, 7);
    const std::string path = writeFile("factory.bin", image);
    for (const FaultCase& faultCase : cases) {
        SCOPED_TRACE(faultCase.name);
        SimulatedUsbBoardOptions options;
        options.fault = faultCase.fault;
        options.faultCommand = faultCase.command;
        SimulatedUsbBoard board(options);

        const HelperRun run
            = runHelper({ "flash", "--port", board.portPath(), "--image", path, "--verified-target", "m5stick-c" });

        EXPECT_NE(run.status, 0);
        const std::string output = run.out + run.err;
        EXPECT_NE(output.find(faultCase.expected), std::string::npos) << output;
        const bool contactFault = faultCase.fault == SimulatedFault::silence || faultCase.fault == SimulatedFault::noise;
        EXPECT_EQ(mentionsBootloaderContact(output), contactFault) << output;
        EXPECT_EQ(run.out.find("Tavrik firmware installed"), std::string::npos);
    }
}

TEST_F(UsbFlasherProcess, ASlowBoardIsWaitedFor)
{
    for (const std::uint8_t command : { opSync, opDeflBegin }) {
        SimulatedUsbBoardOptions options;
        options.fault = SimulatedFault::slowReply;
        options.faultCommand = command;
        options.slowDelay = 600ms;
        SimulatedUsbBoard board(options);
        const auto image = factoryImage(ImageChip::esp32, 32 * 1024, 9);

        const HelperRun run = runHelper({ "flash", "--port", board.portPath(), "--image",
            writeFile("factory.bin", image), "--verified-target", "m5stick-c" });

        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(board.flash(0, image.size()), image);
    }
}

TEST_F(UsbFlasherProcess, AChipMismatchIsRefusedBeforeAnythingIsWritten)
{
    // The board is an S3 but the verified target and image are for the ESP32 model.
    {
        SimulatedUsbBoardOptions options;
        options.chip = SimulatedChip::esp32s3;
        SimulatedUsbBoard board(options);
        const HelperRun run = runHelper({ "flash", "--port", board.portPath(), "--image",
            writeFile("esp32.bin", factoryImage(ImageChip::esp32, 16 * 1024, 3)), "--verified-target", "m5stick-c" });
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.err.find("Nothing was written."), std::string::npos) << run.err;
        EXPECT_FALSE(mentionsBootloaderContact(run.err));
        const auto requests = board.romRequests();
        EXPECT_EQ(std::count(requests.begin(), requests.end(), opDeflBegin), 0);
        EXPECT_EQ(board.programmedBytes(), 0U);
    }
    // The image's own header names the other chip: refused before the port is touched.
    {
        SimulatedUsbBoard board(SimulatedUsbBoardOptions {});
        const HelperRun run = runHelper({ "flash", "--port", board.portPath(), "--image",
            writeFile("s3.bin", factoryImage(ImageChip::esp32s3, 16 * 1024, 3)), "--verified-target", "m5stick-c" });
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.err.find("built for ESP32-S3"), std::string::npos) << run.err;
        EXPECT_TRUE(board.romRequests().empty());
    }
}

TEST_F(UsbFlasherProcess, TerminationMidFlashReleasesThePortPromptly)
{
    SimulatedUsbBoardOptions options;
    options.fault = SimulatedFault::stallAfterBlock;
    SimulatedUsbBoard board(options);
    const std::string path = writeFile("factory.bin", factoryImage(ImageChip::esp32, 128 * 1024, 5));

    const HelperRun run
        = runHelper({ "flash", "--port", board.portPath(), "--image", path, "--verified-target", "m5stick-c" },
            std::nullopt, [&](pid_t child) {
                ASSERT_TRUE(board.waitForDataBlocks(1, 60s));
                ::kill(child, SIGTERM);
            });

    // 143, not the failure status its own block time-outs would give many seconds later.
    EXPECT_EQ(run.status, 143) << run.err;
    const int fd = ::open(board.portPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

TEST_F(UsbFlasherProcess, ProbeTellsTavrikFromAnEmptyBoard)
{
    {
        SimulatedUsbBoardOptions options;
        options.mode = SimulatedBoardMode::tavrikFirmware;
        options.target = "t-embed-cc1101";
        SimulatedUsbBoard board(options);
        const HelperRun run = runHelper({ "probe", "--port", board.portPath(), "--json" });
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out,
            "{\"state\":\"tavrik\",\"firmwareVersion\":\"1.4.0\",\"hardwareTarget\":\"t-embed-cc1101\","
            "\"bleProtocolVersion\":2}\n");
    }
    {
        SimulatedUsbBoard board(SimulatedUsbBoardOptions {});
        const HelperRun run = runHelper({ "probe", "--port", board.portPath(), "--json" });
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "{\"state\":\"other\"}\n");
    }
    {
        SimulatedUsbBoardOptions options;
        options.fault = SimulatedFault::silence;
        SimulatedUsbBoard board(options);
        const HelperRun run = runHelper({ "probe", "--port", board.portPath(), "--json" });
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.empty());
        EXPECT_NE(run.err.find("Timed out waiting for the ESP32 bootloader on " + board.portPath()), std::string::npos);
    }
}

TEST_F(UsbFlasherProcess, HardwareProbeLoadsTheImageAndRelaysTheBoard)
{
    SimulatedUsbBoardOptions options;
    options.chip = SimulatedChip::esp32s3;
    options.target = "t-embed-cc1101";
    SimulatedUsbBoard board(options);
    std::map<OnboardingLabelStage, Data> masks;
    for (const auto stage : allOnboardingLabelStages) {
        masks[stage] = Data(OnboardingLabelProtocol::fullMaskBytes, static_cast<std::uint8_t>(rawValue(stage) * 31));
    }
    const Data labels = OnboardingLabelProtocol::makePack(masks);

    const HelperRun run = runHelper({ "hardware-probe", "--port", board.portPath(), "--image",
        writeFile("probe.bin", probeImage(ImageChip::esp32s3)), "--expected-target", "t-embed-cc1101", "--timeout",
        "90", "--labels", writeFile("labels.bin", labels) });

    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = run.outLines();
    ASSERT_GE(lines.size(), 2U);
    for (const auto& line : lines) {
        EXPECT_TRUE(line.rfind("USB_PROBE_STATUS {\"type\":\"status\"", 0) == 0
            || line.rfind("USB_PROBE_RESULT {\"type\":\"result\"", 0) == 0)
            << line;
    }
    EXPECT_NE(run.out.find("\"stage\":\"button\""), std::string::npos);
    EXPECT_EQ(lines.back(),
        "USB_PROBE_RESULT {\"type\":\"result\",\"target\":\"t-embed-cc1101\",\"board\":\"LILYGO "
        "T-Embed CC1101\",\"stage\":\"passed\",\"result\":\"pass\",\"button\":\"pressed\"}");
    EXPECT_EQ(board.labels(), labels);
    // The T-Embed's probe stays running for the Wi-Fi steps.
    EXPECT_EQ(board.mode(), SimulatedBoardMode::probeImage);
}

TEST_F(UsbFlasherProcess, HardwareProbeOnTheWrongChipIsAFailedResultNotAFailedRun)
{
    SimulatedUsbBoard board(SimulatedUsbBoardOptions {});
    const HelperRun run = runHelper({ "hardware-probe", "--port", board.portPath(), "--image",
        writeFile("probe.bin", probeImage(ImageChip::esp32s3)), "--expected-target", "t-embed-cc1101", "--timeout",
        "90" });
    EXPECT_EQ(run.status, 0) << run.err;
    const auto lines = run.outLines();
    ASSERT_EQ(lines.size(), 1U) << run.out;
    EXPECT_EQ(lines[0].rfind("USB_PROBE_RESULT {\"type\":\"result\",\"stage\":\"failed\",\"result\":\"fail\",", 0), 0U)
        << lines[0];
    EXPECT_NE(lines[0].find("ESP32-S3 of LILYGO T-Embed CC1101"), std::string::npos);
    EXPECT_EQ(board.mode(), SimulatedBoardMode::romLoader);
}

TEST_F(UsbFlasherProcess, WifiStepsTalkToTheRunningProbe)
{
    SimulatedUsbBoardOptions options;
    options.chip = SimulatedChip::esp32s3;
    options.target = "t-embed-cc1101";
    options.mode = SimulatedBoardMode::probeImage;
    options.networks = { { "Home", -48, 6, "wpa2", "pass \\ word\n" }, { "Caf\xC3\xA9 \"Net\"", -70, 11, "open", "" } };
    SimulatedUsbBoard board(options);

    const HelperRun scan = runHelper({ "wifi-scan", "--port", board.portPath(), "--timeout", "30" });
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.out,
        "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"Home\",\"rssi\":-48,\"channel\":6,\"auth\":\"wpa2\"}\n"
        "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"Caf\xC3\xA9 \\\"Net\\\"\",\"rssi\":-70,"
        "\"channel\":11,\"auth\":\"open\"}\n");

    // Standard input loses exactly one trailing line feed: the password's own one stays.
    const HelperRun pass
        = runHelper({ "wifi-test", "--port", board.portPath(), "--ssid", "Home", "--password-stdin", "--timeout", "30" },
            std::string("pass \\ word\n\n"));
    EXPECT_EQ(pass.status, 0) << pass.err;
    EXPECT_EQ(pass.out,
        "USB_WIFI_TEST {\"type\":\"wifi-test\",\"result\":\"pass\",\"rssi\":-48,\"channel\":6,"
        "\"auth\":\"wpa2\"}\n");

    const HelperRun wrong
        = runHelper({ "wifi-test", "--port", board.portPath(), "--ssid", "Home", "--password-stdin", "--timeout", "30" },
            std::string("pass \\ word\n"));
    EXPECT_EQ(wrong.status, 0) << wrong.err;
    EXPECT_EQ(wrong.out, "USB_WIFI_TEST {\"type\":\"wifi-test\",\"result\":\"fail\"}\n");

    const HelperRun stage
        = runHelper({ "probe-stage", "--port", board.portPath(), "--stage", "select-wifi", "--timeout", "3" });
    EXPECT_EQ(stage.status, 0) << stage.err;

    const HelperRun stop = runHelper({ "stop-probe", "--port", board.portPath() });
    EXPECT_EQ(stop.status, 0) << stop.err;
    EXPECT_EQ(board.mode(), SimulatedBoardMode::romLoader);

    const auto requests = board.requests();
    ASSERT_GE(requests.size(), 5U);
    EXPECT_EQ(requests[1].body.value("password", ""), "pass \\ word\n");
    EXPECT_EQ(requests[3].verb, "stage");
    EXPECT_EQ(requests[3].body.value("stage", ""), "select-wifi");

    // With the probe gone nothing answers: a failed run that does not read as a bootloader problem.
    const HelperRun gone
        = runHelper({ "probe-stage", "--port", board.portPath(), "--stage", "select-wifi", "--timeout", "3" });
    EXPECT_NE(gone.status, 0);
    EXPECT_FALSE(mentionsBootloaderContact(gone.err)) << gone.err;
}

// The JSON after `prefix`, read strictly: a line that is not valid UTF-8 gives a null.
nlohmann::json strictJsonAfter(const std::string& line, const std::string& prefix)
{
    EXPECT_EQ(line.rfind(prefix, 0), 0U) << line;
    return nlohmann::json::parse(line.substr(std::min(prefix.size(), line.size())), nullptr, false);
}

TEST_F(UsbFlasherProcess, BoardTextThatIsNotUtf8IsReplacedAndSpoilsNothingElse)
{
    const std::string replacement = "\xEF\xBF\xBD";
    {
        SimulatedUsbBoardOptions options;
        options.chip = SimulatedChip::esp32s3;
        options.target = "t-embed-cc1101";
        options.mode = SimulatedBoardMode::probeImage;
        // A Latin-1 name and auth text among UTF-8 ones.
        // "\xC0" is a Latin-1 "À", the byte that also ends a SLIP frame.
        options.networks = { { "Home", -48, 6, "wpa2 \xC4", "secret" }, { "Caf\xE9", -60, 1, "wpa2", "pass" },
            { "\xC0 la plage", -65, 3, "wpa2", "sun" }, { "Office", -70, 11, "open", "" } };
        SimulatedUsbBoard board(options);

        const HelperRun scan = runHelper({ "wifi-scan", "--port", board.portPath(), "--timeout", "30" });
        ASSERT_EQ(scan.status, 0) << scan.err;
        std::vector<std::string> names;
        for (const std::string& line : scan.outLines()) {
            const auto network = strictJsonAfter(line, "USB_WIFI_SCAN ");
            ASSERT_TRUE(network.is_object()) << line;
            names.push_back(network.value("ssid", ""));
        }
        EXPECT_EQ(names, (std::vector<std::string> { "Home", "Caf" + replacement, replacement + " la plage", "Office" }));

        const HelperRun test = runHelper(
            { "wifi-test", "--port", board.portPath(), "--ssid", "Home", "--password-stdin", "--timeout", "30" },
            std::string("secret\n"));
        ASSERT_EQ(test.status, 0) << test.err;
        ASSERT_EQ(test.outLines().size(), 1U) << test.out;
        const auto result = strictJsonAfter(test.outLines()[0], "USB_WIFI_TEST ");
        ASSERT_TRUE(result.is_object()) << test.out;
        EXPECT_EQ(result.value("auth", ""), "wpa2 " + replacement);
    }
    {
        SimulatedUsbBoardOptions options;
        options.mode = SimulatedBoardMode::tavrikFirmware;
        options.firmwareVersion = "1.4.0-b\xEAta";
        SimulatedUsbBoard board(options);
        const HelperRun probe = runHelper({ "probe", "--port", board.portPath(), "--json" });
        ASSERT_EQ(probe.status, 0) << probe.err;
        const auto result = strictJsonAfter(probe.out, "");
        ASSERT_TRUE(result.is_object()) << probe.out;
        EXPECT_EQ(result.value("firmwareVersion", ""), "1.4.0-b" + replacement + "ta");
        EXPECT_EQ(result.value("hardwareTarget", ""), "m5stick-c");
    }
}

TEST_F(UsbFlasherProcess, FreshFirmwareTakesWifiTimeZoneAndClock)
{
    SimulatedUsbBoardOptions options;
    options.mode = SimulatedBoardMode::tavrikFirmware;
    SimulatedUsbBoard board(options);

    const HelperRun configure = runHelper({ "configure-wifi-time", "--port", board.portPath(), "--ssid", "Home",
                                              "--password-stdin", "--timezone", "CET-1CEST,M3.5.0,M10.5.0/3" },
        std::string(" spaced \"quoted\" \n"));
    EXPECT_EQ(configure.status, 0) << configure.err;
    EXPECT_EQ(configure.out, "Tavrik Wi-Fi time configured over USB.\n");

    const HelperRun clock = runHelper({ "set-time", "--port", board.portPath(), "--time", "2026-12-10 21:05:09" });
    EXPECT_EQ(clock.status, 0) << clock.err;
    EXPECT_EQ(clock.out, "Tavrik time synced over USB.\n");

    const HelperRun malformed = runHelper({ "set-time", "--port", board.portPath(), "--time", "2026-12-10T21:05:09" });
    EXPECT_EQ(malformed.status, 2);

    auto requests = board.requests();
    std::erase_if(requests, [](const auto& request) { return request.verb == "hello"; });
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].verb, "configure");
    EXPECT_EQ(requests[0].body,
        (nlohmann::json {
            { "ssid", "Home" }, { "password", " spaced \"quoted\" " }, { "timezone", "CET-1CEST,M3.5.0,M10.5.0/3" } }));
    EXPECT_EQ(requests[1].body.value("time", ""), "2026-12-10 21:05:09");
}

TEST_F(UsbFlasherProcess, TheFirmwareIsWaitedForBeforeItsOneRequest)
{
    // Just flashed and reset, the firmware takes a while before it reads the line.
    SimulatedUsbBoardOptions options;
    options.mode = SimulatedBoardMode::tavrikFirmware;
    options.firmwareStartDelay = 1500ms;
    SimulatedUsbBoard board(options);

    const HelperRun configure = runHelper({ "configure-wifi-time", "--port", board.portPath(), "--ssid", "Home",
                                              "--password-stdin", "--timezone", "UTC0" },
        std::string("secret\n"));
    EXPECT_EQ(configure.status, 0) << configure.err;
    const HelperRun clock = runHelper({ "set-time", "--port", board.portPath(), "--time", "2028-02-29 23:59:59" });
    EXPECT_EQ(clock.status, 0) << clock.err;

    // Each run asks whether the firmware is there, then sends its request once. A slow machine may
    // see a question asked again before the answer arrives: repeated questions count as one.
    std::vector<std::string> verbs;
    for (const auto& request : board.requests()) {
        if (request.verb != "hello" || verbs.empty() || verbs.back() != "hello") {
            verbs.push_back(request.verb);
        }
    }
    EXPECT_EQ(verbs, (std::vector<std::string> { "hello", "configure", "hello", "set-time" }));

    // A board that never answers is told as a Tavrik that did not start, not as a missing probe.
    SimulatedUsbBoardOptions silentOptions;
    silentOptions.mode = SimulatedBoardMode::tavrikFirmware;
    silentOptions.fault = SimulatedFault::silence;
    SimulatedUsbBoard silent(silentOptions);
    const HelperRun unanswered = runHelper({ "set-time", "--port", silent.portPath(), "--time", "2028-02-29 23:59:59" });
    EXPECT_EQ(unanswered.status, 1);
    EXPECT_EQ(unanswered.err, "Tavrik did not answer on " + silent.portPath() + " within 10 seconds of starting.\n");
}

TEST_F(UsbFlasherProcess, InputsThatCannotBeUsedAreRefusedBeforeTheBoardIsTouched)
{
    SimulatedUsbBoardOptions options;
    options.chip = SimulatedChip::esp32s3;
    options.target = "t-embed-cc1101";
    SimulatedUsbBoard board(options);
    const std::string probe = writeFile("probe.bin", probeImage(ImageChip::esp32s3));
    std::vector<std::uint8_t> notAPack(3480, 0x55);
    const std::string labels = writeFile("labels.bin", notAPack);

    const HelperRun directoryImage = runHelper(
        { "flash", "--port", board.portPath(), "--image", directory_, "--verified-target", "t-embed-cc1101" });
    EXPECT_EQ(directoryImage.status, 1);
    EXPECT_EQ(directoryImage.err, directory_ + " is a directory.\n");

    const HelperRun directoryLabels = runHelper({ "hardware-probe", "--port", board.portPath(), "--image", probe,
        "--expected-target", "t-embed-cc1101", "--timeout", "90", "--labels", directory_ });
    EXPECT_EQ(directoryLabels.status, 1);
    EXPECT_EQ(directoryLabels.err, directory_ + " is a directory.\n");

    const HelperRun badPack = runHelper({ "hardware-probe", "--port", board.portPath(), "--image", probe,
        "--expected-target", "t-embed-cc1101", "--timeout", "90", "--labels", labels });
    EXPECT_EQ(badPack.status, 1);
    EXPECT_NE(badPack.err.find("onboarding label"), std::string::npos) << badPack.err;

    EXPECT_TRUE(board.romRequests().empty());
    EXPECT_TRUE(board.labels().empty());
}

TEST_F(UsbFlasherProcess, AFirmwareThatBringsItsPortUpLateStillGetsItsSettings)
{
    for (const bool wifi : { true, false }) {
        SCOPED_TRACE(wifi ? "configure-wifi-time" : "set-time");
        SimulatedUsbBoardOptions options;
        options.mode = SimulatedBoardMode::tavrikFirmware;
        options.portAlias = directory_ + "/ttyACM0";
        options.aliasAppearsAfter = 4000ms;
        SimulatedUsbBoard board(options);

        const HelperRun run = wifi
            ? runHelper({ "configure-wifi-time", "--port", board.portPath(), "--ssid", "Home", "--password-stdin",
                            "--timezone", "UTC0" },
                std::string("secret\n"))
            : runHelper({ "set-time", "--port", board.portPath(), "--time", "2028-02-29 23:59:59" });
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, wifi ? "Tavrik Wi-Fi time configured over USB.\n" : "Tavrik time synced over USB.\n");
    }
}

// Another program with the port open, as a serial monitor left running; ends with the test.
class OtherProgram {
public:
    OtherProgram(std::vector<std::string> command, const std::string& port)
    {
        std::vector<char*> argv;
        for (auto& word : command) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        EXPECT_EQ(::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        const auto node = std::filesystem::canonical(port);
        const auto giveUp = std::chrono::steady_clock::now() + 20s;
        while (!holds(node) && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::yield();
        }
    }
    ~OtherProgram()
    {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    pid_t pid = 0;

private:
    bool holds(const std::filesystem::path& node) const
    {
        std::error_code error;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
            std::error_code linkError;
            if (std::filesystem::read_symlink(fd.path(), linkError) == node) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(UsbFlasherProcess, AnotherProgramOnThePortIsNamed)
{
    SimulatedUsbBoard board(SimulatedUsbBoardOptions {});
    {
        // A program that locked the port: it cannot be opened at all, a problem of this computer.
        OtherProgram holder({ "flock", "--close", board.portPath(), "sleep", "60" }, board.portPath());
        const HelperRun run = runHelper({ "probe", "--port", board.portPath(), "--json" });
        EXPECT_EQ(run.status, 3);
        EXPECT_EQ(run.err.rfind("Cannot open " + board.portPath() + ": the port is in use by another program (", 0), 0U)
            << run.err;
        EXPECT_NE(run.err.find("flock (process " + std::to_string(holder.pid) + ")"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Close that program, then try again."), std::string::npos) << run.err;
    }
    {
        // A monitor left open without a lock: the port opens, but answers it takes never reach the
        // helper (here the board stops answering mid-flash, as it then seems to).
        SimulatedUsbBoardOptions options;
        options.fault = SimulatedFault::stallAfterBlock;
        SimulatedUsbBoard stalling(options);
        OtherProgram monitor({ "sh", "-c", "exec sleep 60 < " + stalling.portPath() }, stalling.portPath());
        const HelperRun run = runHelper({ "flash", "--port", stalling.portPath(), "--image",
            writeFile("factory.bin", factoryImage(ImageChip::esp32, 16 * 1024, 9)), "--verified-target", "m5stick-c" });
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("stopped answering the ROM loader"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Another program has " + stalling.portPath() + " open (sleep (process "
                      + std::to_string(monitor.pid) + ")) and takes the board's answers; close it, then try again."),
            std::string::npos)
            << run.err;
    }
}

TEST(UsbFlasherPortTexts, APortThisUserMayNotOpenNamesItsGroupTheCommandAndTheNewLogin)
{
    char pattern[] = "/tmp/tavrik-usbport-XXXXXX";
    const std::string directory = ::mkdtemp(pattern);
    const std::string port = directory + "/ttyACM0";
    std::ofstream(port).put('x');
    const struct group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    ASSERT_EQ(::chown(port.c_str(), ::getuid(), dialout->gr_gid), 0);
    EXPECT_EQ(PosixSerialPort::openFailureText(port, EACCES),
        "Cannot open " + port
            + ": permission denied. Your user is not in the \"dialout\" group that may use serial ports. Join it "
              "with \"sudo usermod -aG dialout $USER\", log out and log in again (the group counts only from a new "
              "login), then try again.");
    std::filesystem::remove_all(directory);
}

TEST_F(UsbFlasherProcess, AFileThatIsNoImageOrTooLargeIsRefusedBeforeItIsRead)
{
    SimulatedUsbBoard board(SimulatedUsbBoardOptions {});
    const std::string pipe = directory_ + "/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // Sparse: five gigabytes that take no room.
    const std::string huge = directory_ + "/huge.bin";
    std::ofstream(huge).close();
    std::filesystem::resize_file(huge, std::uintmax_t { 5 } << 30);
    const std::string probe = writeFile("probe.bin", probeImage(ImageChip::esp32));
    const auto flash = [&](const std::string& image) {
        return std::vector<std::string> { "flash", "--port", board.portPath(), "--image", image, "--verified-target",
            "m5stick-c" };
    };
    const auto hardwareProbe = [&](const std::string& image, const std::string& labels) {
        return std::vector<std::string> { "hardware-probe", "--port", board.portPath(), "--image", image,
            "--expected-target", "m5stick-c", "--labels", labels };
    };
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::string expected;
    } cases[] = {
        { "image from a named pipe", flash(pipe), pipe + " is not a regular file." },
        { "image from a device", flash("/dev/zero"), "/dev/zero is not a regular file." },
        { "labels from a named pipe", hardwareProbe(probe, pipe), pipe + " is not a regular file." },
        { "probe image from a device", hardwareProbe("/dev/zero", pipe), "/dev/zero is not a regular file." },
        { "image larger than the flash", flash(huge),
            "The firmware image is larger than the flash of M5 StickC Plus2. Nothing was written." },
        { "probe image larger than RAM", hardwareProbe(huge, pipe), "The probe image " + huge + " is too large for RAM." },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        const HelperRun run = runHelper(entry.arguments, std::nullopt, {}, false, 20s);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, entry.expected + "\n");
    }
    EXPECT_TRUE(board.romRequests().empty());
}

TEST_F(UsbFlasherProcess, TerminationEndsTheHelperWhileItWaitsForThePassword)
{
    SimulatedUsbBoardOptions options;
    options.mode = SimulatedBoardMode::probeImage;
    SimulatedUsbBoard board(options);
    for (const int signal : { SIGTERM, SIGINT }) {
        SCOPED_TRACE(signal);
        const HelperRun run = runHelper(
            { "wifi-test", "--port", board.portPath(), "--ssid", "Home", "--password-stdin" }, std::nullopt,
            [signal](pid_t child) {
                const auto giveUp = std::chrono::steady_clock::now() + 20s;
                while (!isReadingStandardInput(child) && std::chrono::steady_clock::now() < giveUp) {
                    std::this_thread::yield();
                }
                ::kill(child, signal);
            },
            true, 20s);
        EXPECT_EQ(run.status, 143) << run.err;
        EXPECT_EQ(run.err, "Stopped; the serial port was released.\n");
    }
    EXPECT_TRUE(board.requests().empty());
}

TEST_F(UsbFlasherProcess, OnlyARealLocalTimeIsAccepted)
{
    // A time that passes goes on to open the port, which does not exist here.
    const std::string port = directory_ + "/ttyUSB9";
    const struct {
        const char* time;
        int status;
    } cases[] = {
        { "2028-02-29 23:59:59", 3 },
        { "2027-02-29 12:00:00", 2 },
        { "2026-13-01 12:00:00", 2 },
        { "2026-04-31 12:00:00", 2 },
        { "2026-00-10 12:00:00", 2 },
        { "2026-12-10 24:00:00", 2 },
        { "2026-12-10 21:60:00", 2 },
        { "2026-12-10 21:05:60", 2 },
        { "2026-12-10 21:05", 2 },
        { "2026-12-10T21:05:09", 2 },
    };
    for (const auto& entry : cases) {
        const HelperRun run = runHelper({ "set-time", "--port", port, "--time", entry.time });
        EXPECT_EQ(run.status, entry.status) << entry.time << ": " << run.err;
    }
}

TEST_F(UsbFlasherProcess, AMissingPortIsNamedAndIsNoBootloaderProblem)
{
    const std::string port = directory_ + "/ttyUSB9";
    const HelperRun run = runHelper({ "probe", "--port", port, "--json" });
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "Cannot open " + port + ": the port does not exist. Reconnect the device, then try again.\n");
}

TEST_F(UsbFlasherProcess, CommandLinesOutsideTheContractAreUsageErrors)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        { "erase", "--port", "/dev/null" },
        { "flash", "--image", "x.bin", "--verified-target", "m5stick-c" },
        { "flash", "--port", "/dev/null", "--image", "x.bin", "--verified-target", "esp8266" },
        { "wifi-scan", "--port", "/dev/null", "--timeout", "0" },
        { "wifi-test", "--port", "/dev/null", "--ssid", "Home", "--password", "secret" },
    };
    for (const auto& arguments : cases) {
        const HelperRun run = runHelper(arguments);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_FALSE(run.err.empty());
    }
}

} // namespace
