// The simulated board names a member `emit`: it comes before any Qt header.
#include "tests/support/usbboard/SimulatedUsbBoard.hpp"

#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"
#include "TavrikLink/Firmware/FirmwareManifestLoader.hpp"
#include "TavrikLink/Usb/UsbOnboardingService.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/qt/LoopbackHttpServer.hpp"
#include "tests/support/qt/QtTestSupport.hpp"
#include "tests/usbflasher/BoardImages.hpp"

#include <QByteArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace tavrik::test {
namespace {

using Phase = UsbFlashStatus::Phase;
using Check = UsbOnboardingCheckState;

// The onboarding service with the live process runner and the real helper, pointed at a simulated
// board instead of /dev, and the controller's kind of download from a loopback server. Virtual
// time moves only while no helper or download runs, so the pauses between helper runs pass at
// once and nothing real is ever timed out by the test.
class UsbOnboardingEndToEnd : public ::testing::Test {
protected:
    ManualScheduler scheduler;
    ManualClock clock;
    LoopbackHttpServer server;
    FirmwareManifestLoader loader { scheduler };
    QTemporaryDir files;
    std::vector<std::string> ports;
    std::vector<std::vector<std::string>> helperRuns;
    int running = 0;
    std::vector<std::string> logs;
    std::optional<FirmwareAsset> asset;
    std::unique_ptr<UsbOnboardingService> service;

    void SetUp() override
    {
        ASSERT_TRUE(files.isValid());
        clock.zone = "Europe/Amsterdam";
        UsbOnboardingEnvironment environment = UsbOnboardingEnvironment::live(scheduler, clock);
        environment.helperPath = [] { return std::string(TAVRIK_USB_FLASHER); };
        environment.serialPorts = [this] { return ports; };
        environment.monitorDeviceChanges = false;
        environment.labelFontPath = [] { return std::string(TAVRIK_LINK_RESOURCES) + "/Fonts/OpenGorton-Regular.otf"; };
        const auto run = environment.run;
        environment.run = [this, run](const std::string& executable, const std::vector<std::string>& arguments,
                              std::optional<Data> input, UsbRunCompletion completion) {
            started(arguments);
            return run(executable, arguments, std::move(input), [this, completion](UsbRunOutcome outcome) {
                --running;
                completion(std::move(outcome));
            });
        };
        const auto runStreaming = environment.runStreaming;
        environment.runStreaming = [this, runStreaming](const std::string& executable,
                                       const std::vector<std::string>& arguments, UsbLineCallback onLine,
                                       UsbRunCompletion completion) {
            started(arguments);
            return runStreaming(executable, arguments, std::move(onLine), [this, completion](UsbRunOutcome outcome) {
                --running;
                completion(std::move(outcome));
            });
        };
        environment.probeImagePath = [this](const std::string& target) -> std::optional<std::string> {
            return write("probe-" + target + ".bin",
                probeImage(target == "t-embed-cc1101" ? ImageChip::esp32s3 : ImageChip::esp32));
        };
        service = std::make_unique<UsbOnboardingService>([this] { return asset; },
            [this](const Url& url, std::int64_t size, const std::string& sha256,
                std::function<void(UsbOnboardingService::DownloadResult)> completion) -> UsbCancel {
                // A download counts as running work: its time-out must not fire on virtual time.
                ++running;
                const auto handle = loader.validatedData(url, size, sha256, [this, completion = std::move(completion)](FirmwareManifestLoader::DataResult result) {
                    --running;
                    completion({ std::move(result.data), result.error ? result.error->description : std::string() });
                });
                return [this, handle] { loader.cancel(handle); };
            },
            [this](const std::string& line) { logs.push_back(line); }, std::move(environment));
    }

    void started(const std::vector<std::string>& arguments)
    {
        ++running;
        helperRuns.push_back(arguments);
    }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = files.filePath(QString::fromStdString(name)).toStdString();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Publishes the factory image of `target` and makes it the release's only one.
    void publish(const std::string& target, const std::vector<std::uint8_t>& image)
    {
        const QString path = QString::fromStdString("/factory/" + target + ".bin");
        server.routeBody(
            path, QByteArray(reinterpret_cast<const char*>(image.data()), static_cast<qsizetype>(image.size())));
        FirmwareAsset release;
        release.version = "1.4.0";
        release.factoryAssets[target] = FirmwareFactoryAsset { *Url::parse(server.url(path).toStdString()),
            target + "-factory.bin", static_cast<std::int64_t>(image.size()), FirmwareIntegrity::sha256(image) };
        asset = release;
    }

    // Runs the event loop; virtual time moves only between helper runs.
    bool waitFor(const std::function<bool()>& condition, int limitMs = 60000)
    {
        return processEventsUntil(
            [&] {
                if (running == 0) {
                    scheduler.advance(std::chrono::milliseconds(100));
                } else {
                    scheduler.runDue();
                }
                return condition();
            },
            limitMs);
    }

    std::vector<std::string> subcommands() const
    {
        std::vector<std::string> names;
        for (const auto& run : helperRuns) {
            names.push_back(run.front());
        }
        return names;
    }
};

TEST_F(UsbOnboardingEndToEnd, AnEmptyBoardIsFoundVerifiedFlashedAndGivenItsClock)
{
    const struct {
        std::string name;
        SimulatedChip chip;
        ImageChip imageChip;
        UsbOnboardingTarget target;
        std::size_t length;
    } cases[] = {
        { "M5 StickC Plus2", SimulatedChip::esp32, ImageChip::esp32, UsbOnboardingTarget::m5StickCPlus2, 96 * 1024 + 3 },
        { "LILYGO T-Embed CC1101", SimulatedChip::esp32s3, ImageChip::esp32s3, UsbOnboardingTarget::lilyGoTEmbedCc1101,
            64 * 1024 },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        const bool embed = entry.target == UsbOnboardingTarget::lilyGoTEmbedCc1101;
        SimulatedUsbBoardOptions options;
        options.chip = entry.chip;
        options.target = rawValue(entry.target);
        options.followsResets = true;
        options.networks = { { "Home", -48, 6, "wpa2", "pass word" }, { "Cafe", -70, 11, "open", "" } };
        SimulatedUsbBoard board(options);
        const auto image = factoryImage(entry.imageChip, entry.length, 0x5eed);
        publish(rawValue(entry.target), image);
        helperRuns.clear();

        // Found on the only port and classified as an empty board.
        ports = { board.portPath() };
        service->beginUsbOnboarding();
        ASSERT_TRUE(waitFor([&] { return service->usbOnboardingCheckState() == Check::readyForTargetSelection; }))
            << service->usbFlashStatus().message;
        EXPECT_TRUE(service->hasDetectedUsbFlashCandidate());

        // The chosen model is verified by the probe image.
        service->setUsbOnboardingTarget(entry.target);
        ASSERT_TRUE(waitFor([&] { return service->hasVerifiedUsbOnboardingDevice() && running == 0; }))
            << service->usbFlashStatus().message;
        EXPECT_EQ(service->usbOnboardingCheckState(), Check::targetSetup);
        if (embed) {
            EXPECT_EQ(board.labels().size(), 3480u);
            service->startUsbWifiScan();
            ASSERT_TRUE(waitFor([&] { return !service->usbWifiScanInProgress(); }));
            ASSERT_EQ(service->usbWifiNetworks().size(), 2u) << service->usbWifiScanMessage().value_or("");
            EXPECT_EQ(service->usbWifiNetworks().front().ssid, "Home");
            service->verifyUsbWifiCredentials("Home", "wrong");
            ASSERT_TRUE(waitFor(
                [&] { return service->usbWifiVerificationState().kind == UsbWifiVerificationState::Kind::failed; }));
            service->verifyUsbWifiCredentials("Home", "pass word");
            ASSERT_TRUE(waitFor([&] {
                return service->usbWifiVerificationState() == UsbWifiVerificationState::verified();
            })) << service->usbWifiVerificationState().message;
        }

        // Downloaded, flashed and checked, then handed the network and the clock.
        service->startUsbOnboardingFlash(embed ? std::optional<std::string>("Home") : std::nullopt,
            embed ? std::optional<std::string>("pass word") : std::nullopt);
        ASSERT_TRUE(waitFor([&] { return service->usbFlashStatus().phase != Phase::flashing; }))
            << service->usbFlashStatus().message;
        EXPECT_EQ(service->usbFlashStatus().phase, Phase::completed) << service->usbFlashStatus().message;
        EXPECT_EQ(board.flash(0, image.size()), image);
        EXPECT_EQ(service->usbFlashStatus().bytesTransferred, service->usbFlashStatus().totalBytes);
        EXPECT_GE(service->usbFlashStatus().totalBytes, static_cast<std::int64_t>(image.size()));
        EXPECT_EQ(service->usbFlashStatus().message.find("failed"), std::string::npos)
            << service->usbFlashStatus().message;

        const auto names = subcommands();
        const auto flash = std::find(names.begin(), names.end(), "flash");
        ASSERT_NE(flash, names.end());
        std::vector<std::string> after(flash, names.end());
        const std::vector<std::string> expected = embed
            ? std::vector<std::string> { "flash", "configure-wifi-time", "set-time" }
            : std::vector<std::string> { "flash", "set-time" };
        EXPECT_EQ(after, expected);
        const auto requests = board.requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.back().verb, "set-time");
        // 1,750,000,000 s is 17:06:40 in Amsterdam.
        EXPECT_EQ(requests.back().body.value("time", ""), "2025-06-15 17:06:40");
        if (embed) {
            const auto configure
                = std::find_if(requests.begin(), requests.end(), [](const auto& r) { return r.verb == "configure"; });
            ASSERT_NE(configure, requests.end());
            EXPECT_EQ(configure->body.value("ssid", ""), "Home");
            EXPECT_EQ(configure->body.value("password", ""), "pass word");
            EXPECT_EQ(configure->body.value("timezone", ""), "CET-1CEST,M3.5.0,M10.5.0/3");
        }
        EXPECT_FALSE(service->isFlashRunning());

        service->cancelUsbOnboarding();
        ASSERT_TRUE(waitFor([&] { return running == 0; }));
    }
}

TEST_F(UsbOnboardingEndToEnd, ABoardWithTheFirmwareIsRecognisedAndASilentOneFailsWithItsReason)
{
    {
        SimulatedUsbBoardOptions options;
        options.mode = SimulatedBoardMode::tavrikFirmware;
        SimulatedUsbBoard board(options);
        ports = { board.portPath() };
        service->beginUsbOnboarding();
        ASSERT_TRUE(waitFor([&] { return service->usbOnboardingCheckState() == Check::tavrikAlreadyInstalled; }))
            << service->usbFlashStatus().message;
        ASSERT_TRUE(service->usbOnboardingDevice());
        EXPECT_TRUE(service->usbOnboardingDevice()->hasTavrikFirmware);
        EXPECT_EQ(service->usbOnboardingDevice()->firmwareVersion, "1.4.0");
        EXPECT_EQ(service->usbOnboardingDevice()->target, UsbOnboardingTarget::m5StickCPlus2);
        service->cancelUsbOnboarding();
    }
    {
        SimulatedUsbBoardOptions options;
        options.fault = SimulatedFault::noise;
        SimulatedUsbBoard board(options);
        ports = { board.portPath() };
        service->beginUsbOnboarding();
        ASSERT_TRUE(waitFor([&] {
            const Check state = service->usbOnboardingCheckState();
            return running == 0 && (state == Check::unsupportedDevice || state == Check::needsManualWake);
        })) << service->usbFlashStatus().message;
        EXPECT_EQ(service->usbFlashStatus().message.rfind("No USB onboarding device detected. ", 0), 0u)
            << service->usbFlashStatus().message;
    }
}

} // namespace
} // namespace tavrik::test
