#include "TavrikUSBFlasher/UsbPortIdentity.hpp"
#include "tests/support/usbboard/SimulatedBoardLink.hpp"
#include "tests/usbflasher/BoardImages.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

// The helper's own units run in this process against a simulated board whose reset wiring gets the
// modem lines, with a made-up sysfs tree telling the port's USB ids.
namespace {

using namespace tavrik;
using namespace tavrik::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::uint8_t opChangeBaudRate = 0x0F;

struct UsbDevice {
    std::uint16_t vendorId;
    std::uint16_t productId;
    // usb-serial drivers (ttyUSB) put the tty one level below the USB interface; cdc_acm (ttyACM)
    // on the interface itself.
    bool usbSerialDriver = false;
};

class UsbFlasherOnAWiredBoard : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tavrik-usbreset-XXXXXX";
        directory_ = ::mkdtemp(pattern);
        fs::create_directories(sysfs() + "/class/tty");
    }

    void TearDown() override { fs::remove_all(directory_); }

    std::string sysfs() const { return directory_ + "/sys"; }

    // What a kernel shows for the board behind `port` (a link to the terminal).
    void plugIn(const std::string& port, const UsbDevice& device)
    {
        const fs::path usbDevice = sysfs() + "/devices/pci0000:00/usb1/1-2";
        const fs::path interface = usbDevice / "1-2:1.0";
        const std::string name = fs::canonical(port).filename();
        const fs::path tty = device.usbSerialDriver ? interface / name : interface;
        fs::create_directories(tty);
        char text[8];
        std::snprintf(text, sizeof text, "%04x\n", device.vendorId);
        std::ofstream(usbDevice / "idVendor") << text;
        std::snprintf(text, sizeof text, "%04x\n", device.productId);
        std::ofstream(usbDevice / "idProduct") << text;
        fs::create_directories(sysfs() + "/class/tty/" + name);
        fs::create_directory_symlink(tty, sysfs() + "/class/tty/" + name + "/device");
    }

    void unplugAll()
    {
        fs::remove_all(sysfs() + "/class/tty");
        fs::remove_all(sysfs() + "/devices");
    }

    std::string writeImage(const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = directory_ + "/factory.bin";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Runs "flash"; the failure text, or empty on success.
    std::string flash(SimulatedUsbBoard& board, const std::string& target, const std::vector<std::uint8_t>& image,
        bool modemLines = true)
    {
        std::ostringstream output;
        const FlasherEnvironment environment = simulatedBoardEnvironment(board, output, sysfs(), modemLines);
        try {
            const auto arguments = FlasherArguments::parse(
                { "flash", "--port", board.portPath(), "--image", writeImage(image), "--verified-target", target });
            EXPECT_EQ(runFlasherCommand(arguments, environment), 0);
        } catch (const std::exception& error) {
            return error.what();
        }
        EXPECT_NE(output.str().find("Tavrik firmware installed over USB."), std::string::npos) << output.str();
        return {};
    }

    std::string directory_;
};

struct Board {
    SimulatedChip chip;
    ImageChip imageChip;
    const char* target;
};

const Board esp32 { SimulatedChip::esp32, ImageChip::esp32, "m5stick-c" };
const Board esp32s3 { SimulatedChip::esp32s3, ImageChip::esp32s3, "t-embed-cc1101" };

SimulatedUsbBoardOptions wiredBoard(const Board& board, SimulatedResetWiring wiring, const std::string& alias)
{
    SimulatedUsbBoardOptions options;
    options.chip = board.chip;
    options.target = board.target;
    // Running some application: only a reset brings up the loader.
    options.mode = SimulatedBoardMode::application;
    options.resetWiring = wiring;
    options.portAlias = alias;
    options.reenumerates = wiring == SimulatedResetWiring::usbSerialJtag;
    return options;
}

TEST_F(UsbFlasherOnAWiredBoard, SysfsTellsTheUsbIdsBehindAPort)
{
    for (const bool usbSerialDriver : { false, true }) {
        SCOPED_TRACE(usbSerialDriver ? "usb-serial" : "cdc_acm");
        const std::string port = directory_ + (usbSerialDriver ? "/ttyUSB3" : "/ttyACM3");
        std::ofstream(port).put('x');
        plugIn(port, { 0x1A86, 0x55D4, usbSerialDriver });
        // Through a stable link to the port, as /dev/serial/by-id gives.
        const std::string byId = directory_ + "/usb-1a86_USB_Single_Serial-if00";
        fs::create_symlink(port, byId);

        EXPECT_EQ(readUsbPortIds(port, sysfs()), (UsbPortIds { 0x1A86, 0x55D4 }));
        EXPECT_EQ(readUsbPortIds(byId, sysfs()), (UsbPortIds { 0x1A86, 0x55D4 }));
        EXPECT_FALSE(readUsbPortIds(directory_ + "/ttyS0", sysfs()));
        fs::remove(byId);
        unplugAll();
    }
    EXPECT_EQ(resetCircuitFor(UsbPortIds { 0x303A, 0x1001 }), ResetCircuit::usbSerialJtag);
    EXPECT_EQ(resetCircuitFor(UsbPortIds { 0x303A, 0x0002 }), ResetCircuit::classicAutoReset);
    EXPECT_EQ(resetCircuitFor(std::nullopt), ResetCircuit::classicAutoReset);
}

TEST_F(UsbFlasherOnAWiredBoard, TheResetFollowsTheUsbIdsAndTheOtherOneCatchesAWrongGuess)
{
    const struct {
        const char* name;
        Board board;
        SimulatedResetWiring wiring;
        const char* portName;
        std::optional<UsbDevice> device;
        bool firstResetMisses;
    } cases[] = {
        { "CH9102 bridge driven by cdc_acm", esp32, SimulatedResetWiring::classicAutoReset, "ttyACM0",
            UsbDevice { 0x1A86, 0x55D4 }, false },
        { "CP2102 bridge", esp32, SimulatedResetWiring::classicAutoReset, "ttyUSB0", UsbDevice { 0x10C4, 0xEA60, true },
            false },
        { "ESP32-S3 on its own USB port", esp32s3, SimulatedResetWiring::usbSerialJtag, "ttyACM1",
            UsbDevice { 0x303A, 0x1001 }, false },
        // Nothing in sysfs says what it is: taken for a bridge first.
        { "S3's own port with unknown ids", esp32s3, SimulatedResetWiring::usbSerialJtag, "ttyACM0", std::nullopt, true },
        { "a bridge that claims the S3's ids", esp32, SimulatedResetWiring::classicAutoReset, "ttyACM0",
            UsbDevice { 0x303A, 0x1001 }, true },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        const std::string port = directory_ + "/" + entry.portName;
        SimulatedUsbBoard board(wiredBoard(entry.board, entry.wiring, port));
        if (entry.device) {
            plugIn(port, *entry.device);
        }
        const auto image = factoryImage(entry.board.imageChip, 48 * 1024, 0x77);

        EXPECT_EQ(flash(board, entry.board.target, image), "");
        EXPECT_TRUE(board.flash(0, image.size()) == image);
        EXPECT_EQ(board.startsIntoLoader(), 1U);
        // Besides the reset that starts the new firmware, a wrong guess starts the application.
        if (entry.firstResetMisses) {
            EXPECT_GE(board.startsIntoApplication(), 2U);
        } else {
            EXPECT_EQ(board.startsIntoApplication(), 1U);
        }
        unplugAll();
    }
}

TEST_F(UsbFlasherOnAWiredBoard, ABridgeGetsTheFastestSpeedItsLineCarries)
{
    const struct {
        const char* name;
        Board board;
        int lineLimit;
        int expected;
    } cases[] = {
        // The ESP32 ROM times its UART from a drifting clock: the number sent must make up for it.
        { "ESP32", esp32, 0, 921600 },
        { "ESP32-S3 behind a bridge", esp32s3, 0, 921600 },
        { "a line that carries 460800", esp32, 460800, 460800 },
        { "a line that carries only 115200", esp32s3, 115200, 115200 },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        const std::string port = directory_ + "/ttyUSB0";
        SimulatedUsbBoardOptions options = wiredBoard(entry.board, SimulatedResetWiring::classicAutoReset, port);
        options.maximumBaudRate = entry.lineLimit;
        SimulatedUsbBoard board(options);
        const auto image = factoryImage(entry.board.imageChip, 64 * 1024, 0x79);

        EXPECT_EQ(flash(board, entry.board.target, image), "");
        EXPECT_TRUE(board.flash(0, image.size()) == image);
        EXPECT_EQ(board.flashBaudRate(), entry.expected);
    }
}

TEST_F(UsbFlasherOnAWiredBoard, TheSpeedStaysWhereAFailedChangeCouldNotBeUndone)
{
    const struct {
        const char* name;
        Board board;
        SimulatedResetWiring wiring;
        bool modemLines;
        std::optional<UsbDevice> device;
    } cases[] = {
        // Without modem lines the board was put in download mode by hand; a speed it cannot take
        // would need the user again.
        { "no modem lines", esp32, SimulatedResetWiring::none, false, std::nullopt },
        // The S3's own port has no UART: its speed setting means nothing.
        { "S3 on its own USB port", esp32s3, SimulatedResetWiring::usbSerialJtag, true, UsbDevice { 0x303A, 0x1001 } },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        const std::string port = directory_ + "/ttyACM0";
        SimulatedUsbBoardOptions options = wiredBoard(entry.board, entry.wiring, port);
        if (!entry.modemLines) {
            options.mode = SimulatedBoardMode::romLoader;
        }
        SimulatedUsbBoard board(options);
        if (entry.device) {
            plugIn(port, *entry.device);
        }
        const auto image = factoryImage(entry.board.imageChip, 32 * 1024, 0x7A);

        EXPECT_EQ(flash(board, entry.board.target, image, entry.modemLines), "");
        EXPECT_TRUE(board.flash(0, image.size()) == image);
        const auto requests = board.romRequests();
        EXPECT_EQ(std::count(requests.begin(), requests.end(), opChangeBaudRate), 0);
        unplugAll();
    }
}

TEST_F(UsbFlasherOnAWiredBoard, ANativeUsbBoardIsFollowedWhenItComesBackUnderAnotherName)
{
    const std::string port = directory_ + "/ttyACM0";
    SimulatedUsbBoardOptions options = wiredBoard(esp32s3, SimulatedResetWiring::usbSerialJtag, port);
    options.returnAlias = directory_ + "/ttyACM1";
    SimulatedUsbBoard board(options);
    plugIn(port, { 0x303A, 0x1001 });
    const auto image = factoryImage(esp32s3.imageChip, 48 * 1024, 0x7B);

    EXPECT_EQ(flash(board, esp32s3.target, image), "");
    EXPECT_TRUE(board.flash(0, image.size()) == image);
    EXPECT_EQ(board.startsIntoLoader(), 1U);
}

TEST_F(UsbFlasherOnAWiredBoard, ATavrikThatStartsSlowlyIsNotResetIntoTheLoader)
{
    // The window probes soon after the port appears; the firmware reads the line only later.
    for (const auto startDelay : { 1000ms, 3000ms }) {
        SCOPED_TRACE(startDelay.count());
        const std::string port = directory_ + "/ttyUSB0";
        SimulatedUsbBoardOptions options = wiredBoard(esp32, SimulatedResetWiring::classicAutoReset, port);
        options.mode = SimulatedBoardMode::tavrikFirmware;
        options.firmwareStartDelay = startDelay;
        SimulatedUsbBoard board(options);
        std::ostringstream output;
        const FlasherEnvironment environment = simulatedBoardEnvironment(board, output, sysfs());

        EXPECT_EQ(runFlasherCommand(FlasherArguments::parse({ "probe", "--port", port, "--json" }), environment), 0);
        EXPECT_EQ(output.str(),
            "{\"state\":\"tavrik\",\"firmwareVersion\":\"1.4.0\",\"hardwareTarget\":\"m5stick-c\","
            "\"bleProtocolVersion\":2}\n");
        EXPECT_EQ(board.startsIntoLoader(), 0U);
        EXPECT_EQ(board.mode(), SimulatedBoardMode::tavrikFirmware);
    }
}

TEST_F(UsbFlasherOnAWiredBoard, AnEmptyBoardsBootLoopIsNotWaitedOutAsAStartingTavrik)
{
    const std::string port = directory_ + "/ttyUSB0";
    SimulatedUsbBoardOptions options = wiredBoard(esp32, SimulatedResetWiring::classicAutoReset, port);
    options.bootLoopText = "invalid header: 0xffffffff\r\n";
    SimulatedUsbBoard board(options);
    std::ostringstream output;
    const FlasherEnvironment environment = simulatedBoardEnvironment(board, output, sysfs());

    EXPECT_EQ(runFlasherCommand(FlasherArguments::parse({ "probe", "--port", port, "--json" }), environment), 0);
    EXPECT_EQ(output.str(), "{\"state\":\"other\"}\n");
    EXPECT_EQ(board.startsIntoLoader(), 1U);
    // Asked once or twice, not through the whole time a starting Tavrik gets.
    EXPECT_LE(board.linesIgnored(), 2U);
}

} // namespace
