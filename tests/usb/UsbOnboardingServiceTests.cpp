#include "TavrikCore/Model/WifiOrdering.hpp"
#include "TavrikLink/Usb/UsbOnboardingService.hpp"
#include "tests/usb/FakeUsbEnvironment.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

using namespace tavrik;
using Phase = UsbFlashStatus::Phase;
using Check = UsbOnboardingCheckState;
using Call = test::FakeUsbEnvironment::Call;

namespace {

const std::string port = "/dev/ttyUSB0";
const std::string passLine = R"(USB_PROBE_RESULT {"type":"result","result":"pass","target":"m5stick-c"})";
const std::string passLineEmbed = R"(USB_PROBE_RESULT {"type":"result","result":"pass","target":"t-embed-cc1101"})";

FirmwareAsset makeAsset()
{
    FirmwareAsset asset;
    asset.version = "1.4.0";
    for (const auto target : allUsbOnboardingTargets) {
        asset.factoryAssets[rawValue(target)]
            = FirmwareFactoryAsset { *Url::parse("https://example.com/" + rawValue(target) + ".bin"),
                  "../../escape/" + rawValue(target) + "-factory.bin", 2048, "ab12" };
    }
    return asset;
}

class UsbOnboardingServiceTest : public ::testing::Test {
public:
    struct DownloadRequest {
        Url url;
        std::int64_t size = 0;
        std::string sha256;
        std::function<void(UsbOnboardingService::DownloadResult)> completion;
        bool cancelled = false;
    };

    test::FakeUsbEnvironment world;
    std::vector<std::string> logs;
    std::optional<FirmwareAsset> asset = makeAsset();
    std::vector<std::shared_ptr<DownloadRequest>> downloads;
    std::unique_ptr<UsbOnboardingService> service;
    int changes = 0;

    void SetUp() override
    {
        world.clock.zone = "Europe/Amsterdam";
        service = std::make_unique<UsbOnboardingService>([this] { return asset; },
            [this](const Url& url, std::int64_t size, const std::string& sha,
                std::function<void(UsbOnboardingService::DownloadResult)> done) {
                auto request = std::make_shared<DownloadRequest>(DownloadRequest { url, size, sha, std::move(done) });
                downloads.push_back(request);
                return [request] { request->cancelled = true; };
            },
            [this](const std::string& line) { logs.push_back(line); }, world.environment());
        QObject::connect(service.get(), &UsbOnboardingService::changed, [this] { ++changes; });
    }

    std::shared_ptr<Call> pendingRun(const std::string& subcommand)
    {
        const auto call = world.onlyPending();
        EXPECT_TRUE(call != nullptr && call->subcommand() == subcommand) << subcommand;
        return call;
    }

    // One board without device firmware, classified.
    void beginWithBoard()
    {
        world.ports = { port };
        service->beginUsbOnboarding();
        world.succeed(pendingRun("probe"), R"({"state":"other"})");
        ASSERT_EQ(service->usbOnboardingCheckState(), Check::readyForTargetSelection);
    }

    void verify(UsbOnboardingTarget target)
    {
        beginWithBoard();
        service->setUsbOnboardingTarget(target);
        world.succeed(pendingRun("probe"), R"({"state":"other"})");
        world.succeed(
            pendingRun("hardware-probe"), target == UsbOnboardingTarget::m5StickCPlus2 ? passLine : passLineEmbed);
        ASSERT_TRUE(service->hasVerifiedUsbOnboardingDevice());
    }

    void verifyEmbedWithWifi()
    {
        verify(UsbOnboardingTarget::lilyGoTEmbedCc1101);
        service->verifyUsbWifiCredentials("Home", "secret");
        world.succeed(
            pendingRun("wifi-test"), R"(USB_WIFI_TEST {"type":"wifi-test","result":"pass","rssi":-50,"channel":6})");
        ASSERT_EQ(service->usbWifiVerificationState(), UsbWifiVerificationState::verified());
    }

    void answerDownload(const std::string& bytes = std::string(2048, 'x'))
    {
        ASSERT_FALSE(downloads.empty());
        downloads.back()->completion(UsbOnboardingService::DownloadResult { Data(bytes.begin(), bytes.end()), "" });
    }

    bool logged(const std::string& line) const { return std::find(logs.begin(), logs.end(), line) != logs.end(); }
};

// While it lives, no file this process writes grows past `bytes`: the kernel cuts a write short and
// then refuses the rest ("File too large"), as a disk that fills up does.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        previous = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limited { bytes, saved.rlim_max };
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved {};
    void (*previous)(int) = SIG_DFL;
};

// While it lives, the process's temporary folder is a fresh one of its own, so a test can see every
// folder the service leaves behind without counting those of tests running beside it.
class PrivateTempFolder {
public:
    PrivateTempFolder()
        : saved(qgetenv("TMPDIR"))
        , hadSaved(qEnvironmentVariableIsSet("TMPDIR"))
    {
        qputenv("TMPDIR", folder.path().toLocal8Bit());
    }
    ~PrivateTempFolder()
    {
        if (hadSaved) {
            qputenv("TMPDIR", saved);
        } else {
            qunsetenv("TMPDIR");
        }
    }
    PrivateTempFolder(const PrivateTempFolder&) = delete;
    PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;

    QStringList leftovers() const { return QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

private:
    QTemporaryDir folder;
    QByteArray saved;
    bool hadSaved;
};

TEST_F(UsbOnboardingServiceTest, ANewServiceWaitsAndRunsNothing)
{
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::waitingForDevice);
    EXPECT_EQ(
        service->usbFlashStatus(), (UsbFlashStatus { Phase::idle, "Checking for connected Tavrik hardware...", 0, 0 }));
    EXPECT_FALSE(service->usbOnboardingDevice());
    EXPECT_FALSE(service->usbOnboardingTarget());
    EXPECT_TRUE(service->usbWifiNetworks().empty());
    EXPECT_EQ(service->usbWifiVerificationState(), UsbWifiVerificationState::idle());
    world.ports = { port };
    world.scheduler.advance(std::chrono::seconds(5));
    EXPECT_TRUE(world.calls.empty());
    EXPECT_EQ(world.watchesStarted, 0);
}

TEST_F(UsbOnboardingServiceTest, PluggingABoardInIsNoticedByThePollAndTheWatch)
{
    service->beginUsbOnboarding();
    EXPECT_EQ(service->usbFlashStatus(), (UsbFlashStatus { Phase::idle, "Connect a supported device over USB.", 0, 0 }));
    EXPECT_TRUE(world.calls.empty());

    world.ports = { port };
    world.scheduler.advance(std::chrono::milliseconds(499));
    EXPECT_TRUE(world.calls.empty());
    world.scheduler.advance(std::chrono::milliseconds(1));
    auto probe = pendingRun("probe");
    EXPECT_EQ(probe->arguments, (std::vector<std::string> { "probe", "--port", port, "--json" }));
    EXPECT_FALSE(probe->input);
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::checkingCompatibility);
    EXPECT_EQ(service->usbFlashStatus().phase, Phase::probing);
    world.succeed(probe, "  {\"state\":\"other\"}\n");
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::readyForTargetSelection);
    EXPECT_EQ(service->usbFlashStatus().message, "Compatible USB device detected. Select its model to continue.");
    EXPECT_EQ(service->usbOnboardingDevice(), (UsbOnboardingDevice { port, port, port, false, {}, {}, {} }));
    EXPECT_TRUE(logged("USB device classification completed"));

    // Unplugging through the watch; the same set seen again by the poll changes nothing.
    world.ports = {};
    world.fireWatch();
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::waitingForDevice);
    const Uuid generation = service->currentGeneration();
    world.scheduler.advance(std::chrono::seconds(2));
    EXPECT_EQ(service->currentGeneration(), generation);
    EXPECT_EQ(world.calls.size(), 1u);
}

TEST_F(UsbOnboardingServiceTest, WithoutChangeMonitoringOnlyBeginAndRetryLookAtThePorts)
{
    auto environment = world.environment();
    environment.monitorDeviceChanges = false;
    UsbOnboardingService quiet(
        {}, {}, [](const std::string&) {}, environment);
    world.ports = {};
    quiet.beginUsbOnboarding();
    EXPECT_FALSE(quiet.isMonitoring());
    world.ports = { port };
    world.scheduler.advance(std::chrono::seconds(5));
    EXPECT_TRUE(world.calls.empty());
    quiet.retryUsbOnboarding();
    world.succeed(pendingRun("probe"), R"({"state":"other"})");
    EXPECT_EQ(quiet.usbOnboardingCheckState(), Check::readyForTargetSelection);
}

TEST_F(UsbOnboardingServiceTest, WhenTheDirectoryCannotBeWatchedThePollStillNotices)
{
    auto environment = world.environment();
    environment.watchDeviceChanges = [](std::function<void()>) { return std::unique_ptr<QObject>(); };
    UsbOnboardingService polled(
        {}, {}, [](const std::string&) {}, environment);
    polled.beginUsbOnboarding();
    world.ports = { port };
    world.scheduler.advance(std::chrono::milliseconds(500));
    EXPECT_EQ(pendingRun("probe")->arguments[2], port);
}

TEST_F(UsbOnboardingServiceTest, SeveralPortsAskTheUserToLeaveOne)
{
    world.ports = { "/dev/ttyACM0", port };
    service->beginUsbOnboarding();
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::multipleDevices);
    EXPECT_EQ(service->usbFlashStatus(), (UsbFlashStatus { Phase::idle, "Multiple USB devices detected.", 0, 0 }));
    EXPECT_TRUE(world.calls.empty());
    world.ports = { port };
    world.scheduler.advance(std::chrono::milliseconds(500));
    EXPECT_EQ(pendingRun("probe")->arguments[2], port);
}

TEST_F(UsbOnboardingServiceTest, ProbeAnswersClassifyTheBoard)
{
    const struct {
        std::string answer;
        Check state;
        std::string message;
    } cases[] = {
        { R"({"state":"tavrik","bleProtocolVersion":2,"hardwareTarget":"m5stick-c"})", Check::tavrikAlreadyInstalled,
            "Tavrik firmware is already installed." },
        { R"({"state":"tavrik","bleProtocolVersion":1,"firmwareVersion":"1.2.0"})", Check::tavrikAlreadyInstalled,
            "Tavrik firmware 1.2.0 is installed. This version is no longer supported. Flash the latest firmware using "
            "the Tavrik development tools." },
        { R"({"state":"tavrik"})", Check::tavrikAlreadyInstalled,
            "Tavrik firmware unknown is installed. This version is no longer supported. Flash the latest firmware "
            "using the Tavrik development tools." },
        { R"({"state":"Other"})", Check::unsupportedDevice,
            "No USB onboarding device detected. Unexpected USB probe response from /dev/ttyUSB0: Other" },
        { R"({"firmwareVersion":"1.0"})", Check::unsupportedDevice,
            "No USB onboarding device detected. Unexpected USB probe response from /dev/ttyUSB0." },
    };
    world.ports = { port };
    for (const auto& entry : cases) {
        service->beginUsbOnboarding();
        world.succeed(pendingRun("probe"), entry.answer);
        EXPECT_EQ(service->usbOnboardingCheckState(), entry.state) << entry.answer;
        EXPECT_EQ(service->usbFlashStatus().message, entry.message);
        EXPECT_EQ(service->hasDetectedInstalledTavrik(), entry.state == Check::tavrikAlreadyInstalled);
    }
    service->beginUsbOnboarding();
    world.succeed(pendingRun("probe"), R"({"state":"tavrik","hardwareTarget":"m5stick-s3","bleProtocolVersion":3})");
    EXPECT_FALSE(service->usbOnboardingDevice()->target);
}

TEST_F(UsbOnboardingServiceTest, ABootloaderFailureAsksForAManualWakeOnce)
{
    const std::string failure = "Timed out waiting for the ESP32 bootloader";
    const std::string advice
        = "No USB onboarding device detected. If the device was just flashed, wait for it to finish "
          "rebooting or unplug and reconnect it, then try again.";
    world.ports = { port };
    service->beginUsbOnboarding();
    world.fail(pendingRun("probe"), 2, failure);
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::needsManualWake);
    EXPECT_TRUE(service->usbOnboardingNeedsWake());
    EXPECT_EQ(service->usbFlashStatus(), (UsbFlashStatus { Phase::failed, advice, 0, 0 }));

    service->retryUsbOnboarding();
    world.fail(pendingRun("probe"), 2, failure);
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::unsupportedDevice);
    EXPECT_FALSE(service->usbOnboardingNeedsWake());
    EXPECT_EQ(service->usbFlashStatus().message, advice);

    // A new board (unplug, plug in) is offered the manual wake again.
    world.ports = {};
    world.scheduler.advance(std::chrono::milliseconds(500));
    world.ports = { port };
    world.scheduler.advance(std::chrono::milliseconds(500));
    world.fail(pendingRun("probe"), 2, failure);
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::needsManualWake);
}

TEST_F(UsbOnboardingServiceTest, APortAddedDuringAProbeIsHandledWhenItEnds)
{
    world.ports = { port };
    service->beginUsbOnboarding();
    auto probe = pendingRun("probe");
    world.ports = { port, "/dev/ttyUSB1" };
    world.scheduler.advance(std::chrono::seconds(2));
    EXPECT_EQ(world.calls.size(), 1u);
    world.succeed(probe, R"({"state":"other"})");
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::multipleDevices);
    EXPECT_FALSE(service->usbOnboardingDevice());
}

TEST_F(UsbOnboardingServiceTest, VerifyingTheEmbedHandsOverLabelsAndKeepsTheProbeRunning)
{
    beginWithBoard();
    service->setUsbOnboardingTarget(UsbOnboardingTarget::lilyGoTEmbedCc1101);
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::targetSetup);
    world.succeed(pendingRun("probe"), R"({"state":"other"})");
    auto probe = pendingRun("hardware-probe");
    ASSERT_TRUE(probe->streaming);
    const auto& arguments = probe->arguments;
    ASSERT_EQ(arguments.size(), 11u);
    EXPECT_EQ(std::vector<std::string>(arguments.begin(), arguments.begin() + 9),
        (std::vector<std::string> { "hardware-probe", "--port", port, "--image", *world.probeImage, "--expected-target",
            "t-embed-cc1101", "--timeout", "90" }));
    EXPECT_EQ(arguments[9], "--labels");
    const QFileInfo labels(QString::fromStdString(arguments[10]));
    EXPECT_EQ(labels.size(), 3480);
    EXPECT_TRUE(labels.fileName().startsWith("tavrik-onboarding-labels-"));
    EXPECT_EQ(QFileInfo(labels.path()).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::ExeOther), 0);
    EXPECT_TRUE(service->isPersistentProbeRunning());

    probe->onLine(R"(USB_PROBE_STATUS {"type":"status","stage":"button","instruction":"ignored"})");
    EXPECT_EQ(service->usbFlashStatus().message,
        "You should see an animation on the device. Press its main button once to confirm.");
    probe->onLine(R"(USB_PROBE_STATUS {"type":"status","instruction":"  Hold still \n"})");
    EXPECT_EQ(service->usbFlashStatus().message, "Hold still");
    probe->onLine(R"(USB_PROBE_STATUS {"type":"status"})");
    EXPECT_EQ(service->usbFlashStatus().message, "Checking LILYGO T-Embed CC1101...");

    world.succeed(probe,
        "USB_PROBE_RESULT {\"type\":\"result\",\"result\":\"fail\"}\n" + passLineEmbed + "\nUSB_PROBE_RESULT {broken");
    EXPECT_FALSE(QFileInfo::exists(labels.filePath()) || QFileInfo::exists(labels.path()));
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::targetSetup);
    EXPECT_EQ(service->usbFlashStatus(), (UsbFlashStatus { Phase::idle, "", 0, 0 }));
    EXPECT_EQ(service->usbOnboardingDevice()->displayName, "LILYGO T-Embed CC1101 (" + port + ")");
    EXPECT_TRUE(service->isMonitoringSuspended());
    EXPECT_FALSE(service->isMonitoring());
    EXPECT_TRUE(logged("USB hardware verification passed for t-embed-cc1101; automatic probing suspended"));

    // Closing the flow stops the probe on the board once the cancelled scan has ended.
    service->startUsbWifiScan();
    auto scan = pendingRun("wifi-scan");
    service->cancelUsbOnboarding();
    EXPECT_EQ(world.count("stop-probe"), 0);
    world.scheduler.runDue();
    EXPECT_TRUE(scan->cancelled);
    auto stop = pendingRun("stop-probe");
    EXPECT_EQ(stop->arguments, (std::vector<std::string> { "stop-probe", "--port", port }));
    world.succeed(stop, "");
    EXPECT_TRUE(logged("Persistent RAM onboarding probe stopped"));
    EXPECT_FALSE(service->usbWifiScanInProgress());
}

TEST_F(UsbOnboardingServiceTest, VerificationFailuresKeepTheUserOnTargetSetup)
{
    const struct {
        std::optional<std::string> image;
        std::string output;
        std::string message;
    } cases[] = {
        { std::nullopt,
            "", "No USB onboarding device detected. Tavrik Link does not include the USB probe image for M5 StickC Plus2." },
        { "fixture", R"(USB_PROBE_RESULT {"type":"result","result":"pass","target":"t-embed-cc1101"})",
            "No USB onboarding device detected. Connected hardware does not match M5 StickC Plus2." },
        { "fixture", R"(USB_PROBE_RESULT {"type":"result","result":"fail","message":"No display answer"})",
            "No USB onboarding device detected. No display answer" },
        { "fixture", "USB_PROBE_STATUS {\"type\":\"status\"}",
            "No USB onboarding device detected. USB hardware probe did not return a result." },
    };
    const auto fixture = world.probeImage;
    for (const auto& entry : cases) {
        world.calls.clear();
        world.probeImage = entry.image ? fixture : std::nullopt;
        beginWithBoard();
        service->setUsbOnboardingTarget(UsbOnboardingTarget::m5StickCPlus2);
        world.succeed(pendingRun("probe"), R"({"state":"other"})");
        if (entry.image) {
            world.succeed(pendingRun("hardware-probe"), entry.output);
        }
        EXPECT_EQ(service->usbOnboardingCheckState(), Check::targetSetup);
        EXPECT_EQ(service->usbFlashStatus(), (UsbFlashStatus { Phase::failed, entry.message, 0, 0 }));
        EXPECT_FALSE(service->hasVerifiedUsbOnboardingDevice());
        EXPECT_FALSE(service->isMonitoringSuspended());
    }
}

TEST_F(UsbOnboardingServiceTest, ChoosingTheSameTargetAgainChangesNothing)
{
    verify(UsbOnboardingTarget::m5StickCPlus2);
    EXPECT_FALSE(service->isPersistentProbeRunning());
    const Uuid generation = service->currentGeneration();
    const auto calls = world.calls.size();
    service->setUsbOnboardingTarget(UsbOnboardingTarget::m5StickCPlus2);
    EXPECT_EQ(service->currentGeneration(), generation);
    EXPECT_EQ(world.calls.size(), calls);
}

TEST_F(UsbOnboardingServiceTest, InstallationRefusalsStillStopTheProbe)
{
    const struct {
        std::function<void(UsbOnboardingServiceTest&)> arrange;
        std::optional<std::string> ssid;
        std::string message;
    } cases[] = {
        { [](UsbOnboardingServiceTest&) {}, {}, "No USB device is ready for USB installation." },
        { [](UsbOnboardingServiceTest& test) {
             test.world.ports = { port };
             test.service->beginUsbOnboarding();
             test.world.succeed(test.pendingRun("probe"), R"({"state":"tavrik","bleProtocolVersion":2})");
         },
            {}, "USB onboarding only flashes an empty USB device selected in the setup flow." },
        { [](UsbOnboardingServiceTest& test) { test.beginWithBoard(); }, {},
            "Choose which Tavrik device to initialize before installing firmware." },
        { [](UsbOnboardingServiceTest& test) { test.verify(UsbOnboardingTarget::lilyGoTEmbedCc1101); },
            std::string(" \n"), "Select a Wi-Fi network before setting up LILYGO T-Embed CC1101." },
        { [](UsbOnboardingServiceTest& test) { test.verify(UsbOnboardingTarget::lilyGoTEmbedCc1101); },
            std::string("Home"), "Save and verify the Wi-Fi configuration before setting up LILYGO T-Embed CC1101." },
        { [](UsbOnboardingServiceTest& test) {
             test.verify(UsbOnboardingTarget::m5StickCPlus2);
             test.asset.reset();
         },
            {}, "No published firmware is available." },
        { [](UsbOnboardingServiceTest& test) {
             test.verify(UsbOnboardingTarget::m5StickCPlus2);
             test.asset->factoryAssets.erase("m5stick-c");
         },
            {}, "The published firmware does not include a USB onboarding image for M5 StickC Plus2." },
    };
    for (const auto& entry : cases) {
        SetUp();
        asset = makeAsset();
        entry.arrange(*this);
        service->startUsbOnboardingFlash(entry.ssid, std::string("pw"));
        EXPECT_EQ(service->usbFlashStatus(), (UsbFlashStatus { Phase::failed, entry.message, 0, 0 }));
        EXPECT_FALSE(service->isFlashRunning());
        EXPECT_TRUE(downloads.empty());
    }

    // A refused request still cancels a running probe.
    SetUp();
    world.calls.clear();
    world.ports = { port };
    service->beginUsbOnboarding();
    auto probe = pendingRun("probe");
    service->startUsbOnboardingFlash(std::nullopt, std::nullopt);
    EXPECT_TRUE(probe->cancelled);
}

TEST_F(UsbOnboardingServiceTest, AnM5InstallationDownloadsFlashesAndSetsTheClock)
{
    verify(UsbOnboardingTarget::m5StickCPlus2);
    service->startUsbOnboardingFlash(std::nullopt, std::nullopt);
    EXPECT_EQ(service->usbFlashStatus(),
        (UsbFlashStatus { Phase::flashing, "Flashing Tavrik firmware 1.4.0 for M5 StickC Plus2 over USB...", 0, 2048 }));
    EXPECT_TRUE(logged("Starting USB setup for m5stick-c; USB monitoring suspended"));
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(downloads[0]->url.absoluteString(), "https://example.com/m5stick-c.bin");
    EXPECT_EQ(downloads[0]->size, 2048);
    answerDownload();

    auto flash = pendingRun("flash");
    ASSERT_TRUE(flash->streaming);
    const std::string image = flash->arguments.at(4);
    EXPECT_EQ(flash->arguments,
        (std::vector<std::string> { "flash", "--port", port, "--image", image, "--verified-target", "m5stick-c" }));
    // The manifest's name is cut to its last component, inside a private folder.
    EXPECT_EQ(QFileInfo(QString::fromStdString(image)).fileName(), "m5stick-c-factory.bin");
    EXPECT_EQ(QFileInfo(QString::fromStdString(image)).size(), 2048);
    const QString folder = QFileInfo(QString::fromStdString(image)).path();
    EXPECT_EQ(
        QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::ExeGroup | QFile::ExeOther), 0);

    const struct {
        std::string line;
        UsbFlashStatus status;
    } progress[] = {
        { "USB_FLASH_PROGRESS 512 2048", { Phase::flashing, "25%", 512, 2048 } },
        { "USB_FLASH_PROGRESS  5  0", { Phase::flashing, "0%", 5, 0 } },
        { "USB_FLASH_PROGRESS 1 2 3", { Phase::flashing, "0%", 5, 0 } },
        { "USB_FLASH_PROGRESS x 2", { Phase::flashing, "0%", 5, 0 } },
        { "USB_FLASH_PROGRESS 2047 2048", { Phase::flashing, "99%", 2047, 2048 } },
    };
    for (const auto& entry : progress) {
        flash->onLine(entry.line);
        EXPECT_EQ(service->usbFlashStatus(), entry.status) << entry.line;
    }
    world.succeed(flash, "Tavrik firmware installed over USB");
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(world.pending().empty());
    world.scheduler.advance(std::chrono::milliseconds(999));
    EXPECT_TRUE(world.pending().empty());
    world.scheduler.advance(std::chrono::milliseconds(1));
    auto clock = pendingRun("set-time");
    // 1,750,000,000 s is 15:06:40 UTC, 17:06:40 in Amsterdam in June.
    EXPECT_EQ(
        clock->arguments, (std::vector<std::string> { "set-time", "--port", port, "--time", "2025-06-15 17:06:40" }));
    EXPECT_FALSE(clock->input);
    world.succeed(clock, "");
    EXPECT_EQ(service->usbFlashStatus(), (UsbFlashStatus { Phase::completed, "Time updated.", 2048, 2048 }));
    EXPECT_FALSE(service->isFlashRunning());
    EXPECT_TRUE(service->isMonitoringSuspended());
    EXPECT_TRUE(logged("USB firmware install completed; automatic USB probing remains suspended"));
    // After the run, a progress line changes nothing.
    flash->onLine("USB_FLASH_PROGRESS 1 2");
    EXPECT_EQ(service->usbFlashStatus().phase, Phase::completed);
}

TEST_F(UsbOnboardingServiceTest, AnEmbedInstallationHandsOverWifiAndZoneOnStandardInput)
{
    verifyEmbedWithWifi();
    service->startUsbOnboardingFlash(std::string("  Home "), std::string("pa ss\\word"));
    answerDownload();
    world.succeed(pendingRun("flash"), "USB_FLASH_VERIFIED done\nWrote 2048 bytes");
    world.scheduler.advance(std::chrono::seconds(1));
    auto wifi = pendingRun("configure-wifi-time");
    EXPECT_EQ(wifi->arguments,
        (std::vector<std::string> { "configure-wifi-time", "--port", port, "--ssid", "Home", "--password-stdin",
            "--timezone", "CET-1CEST,M3.5.0,M10.5.0/3" }));
    const std::string input(wifi->input->begin(), wifi->input->end());
    EXPECT_EQ(input, "pa ss\\word\n");
    world.fail(wifi, 5, "Board did not answer");
    world.scheduler.advance(std::chrono::seconds(1));
    world.succeed(pendingRun("set-time"), "Tavrik time synced over USB.\n");
    EXPECT_EQ(service->usbFlashStatus().message,
        "USB_FLASH_VERIFIED done\nWrote 2048 bytes Wi-Fi time sync setup failed: Board did not answer Time updated.");
}

TEST_F(UsbOnboardingServiceTest, AFailedFlashReportsKeepsItsBytesAndFreesTheNextAttempt)
{
    verify(UsbOnboardingTarget::m5StickCPlus2);
    service->startUsbOnboardingFlash(std::nullopt, std::nullopt);
    answerDownload();
    auto flash = pendingRun("flash");
    const QString folder = QFileInfo(QString::fromStdString(flash->arguments.at(4))).path();
    flash->onLine("USB_FLASH_PROGRESS 1024 2048");
    world.fail(flash, 2, "Failed to write flash");
    EXPECT_EQ(service->usbFlashStatus(),
        (UsbFlashStatus { Phase::failed,
            "USB flashing stopped: Failed to write flash Reconnect the device and choose Try Again; Tavrik Link "
            "will not probe it automatically.",
            1024, 2048 }));
    EXPECT_TRUE(logged("USB firmware install failed; automatic USB probing remains suspended: Failed to write flash"));
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_FALSE(service->isFlashRunning());

    // A failed download, and a missing helper, end the same way.
    service->startUsbOnboardingFlash(std::nullopt, std::nullopt);
    downloads.back()->completion(
        UsbOnboardingService::DownloadResult { std::nullopt, "Firmware checksum does not match the manifest" });
    EXPECT_EQ(service->usbFlashStatus().phase, Phase::failed);
    EXPECT_FALSE(service->isFlashRunning());
    world.helperMissing = true;
    service->startUsbOnboardingFlash(std::nullopt, std::nullopt);
    world.scheduler.runDue();
    EXPECT_EQ(service->usbFlashStatus().message,
        "USB flashing stopped: Tavrik Link could not locate the bundled USB flasher helper. Reconnect the device and "
        "choose "
        "Try Again; Tavrik Link will not probe it automatically.");
    EXPECT_FALSE(service->isFlashRunning());
}

// The helper must never flash an image, or show labels, that the disk cut short.
TEST_F(UsbOnboardingServiceTest, AnImageOrLabelPackThatCannotBeWrittenWholeStopsTheSetup)
{
    const PrivateTempFolder temp;
    verify(UsbOnboardingTarget::m5StickCPlus2);
    service->startUsbOnboardingFlash(std::nullopt, std::nullopt);
    {
        FileSizeLimit limit(1024);
        answerDownload();
    }
    EXPECT_TRUE(world.pending().empty());
    EXPECT_EQ(service->usbFlashStatus(),
        (UsbFlashStatus { Phase::failed,
            "USB flashing stopped: Tavrik Link could not write m5stick-c-factory.bin: File too large Reconnect the "
            "device and choose Try Again; Tavrik Link will not probe it automatically.",
            0, 2048 }));
    EXPECT_FALSE(service->isFlashRunning());

    // The display labels of the Embed's probe.
    service->reset();
    beginWithBoard();
    {
        FileSizeLimit limit(1024);
        service->setUsbOnboardingTarget(UsbOnboardingTarget::lilyGoTEmbedCc1101);
        world.succeed(pendingRun("probe"), R"({"state":"other"})");
    }
    for (const auto& call : world.pending()) {
        EXPECT_NE(call->subcommand(), "hardware-probe");
    }
    EXPECT_FALSE(service->hasVerifiedUsbOnboardingDevice());
    EXPECT_EQ(service->usbFlashStatus().phase, Phase::failed);
    EXPECT_TRUE(service->usbFlashStatus().message.ends_with(": File too large")) << service->usbFlashStatus().message;
    EXPECT_EQ(temp.leftovers(), QStringList());
}

TEST_F(UsbOnboardingServiceTest, ChoosingABoardDuringAFlashLeavesTheFlashAlone)
{
    verify(UsbOnboardingTarget::m5StickCPlus2);
    service->startUsbOnboardingFlash(std::nullopt, std::nullopt);
    answerDownload();
    auto flash = pendingRun("flash");
    // A second request while one runs changes nothing.
    const auto status = service->usbFlashStatus();
    service->startUsbOnboardingFlash(std::nullopt, std::nullopt);
    EXPECT_EQ(downloads.size(), 1u);
    EXPECT_EQ(service->usbFlashStatus(), status);

    service->setUsbOnboardingTarget(UsbOnboardingTarget::lilyGoTEmbedCc1101);
    service->beginUsbOnboarding();
    service->selectUnsupportedUsbOnboardingTarget();
    EXPECT_EQ(service->usbFlashStatus(), status);
    EXPECT_EQ(world.onlyPending(), flash);
    flash->onLine("USB_FLASH_PROGRESS 1024 2048");
    EXPECT_EQ(service->usbFlashStatus().message, "50%");
    world.succeed(flash, "");
    world.scheduler.advance(std::chrono::seconds(1));
    world.succeed(pendingRun("set-time"), "");
    EXPECT_EQ(service->usbFlashStatus().phase, Phase::completed);
    EXPECT_FALSE(service->isFlashRunning());
}

TEST_F(UsbOnboardingServiceTest, ResetDuringAFlashTerminatesItSilentlyAndFreesTheService)
{
    verify(UsbOnboardingTarget::m5StickCPlus2);
    service->startUsbOnboardingFlash(std::nullopt, std::nullopt);
    answerDownload();
    auto flash = pendingRun("flash");
    const QString folder = QFileInfo(QString::fromStdString(flash->arguments.at(4))).path();
    service->reset();
    EXPECT_TRUE(flash->cancelled);
    world.scheduler.runDue();
    EXPECT_EQ(
        service->usbFlashStatus(), (UsbFlashStatus { Phase::idle, "Checking for connected Tavrik hardware...", 0, 0 }));
    EXPECT_FALSE(service->isFlashRunning());
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(world.pending().empty());

    // Cancelled while downloading: the download is stopped and nothing is published.
    verify(UsbOnboardingTarget::m5StickCPlus2);
    service->startUsbOnboardingFlash(std::nullopt, std::nullopt);
    service->reset();
    EXPECT_TRUE(downloads.back()->cancelled);
    world.scheduler.runDue();
    answerDownload();
    EXPECT_EQ(world.count("flash"), 1);
    EXPECT_EQ(service->usbFlashStatus().phase, Phase::idle);
}

TEST_F(UsbOnboardingServiceTest, TerminationStopsAProbeLeftOnTheBoardAfterEverythingEnded)
{
    verify(UsbOnboardingTarget::lilyGoTEmbedCc1101);
    service->startUsbWifiScan();
    auto scan = pendingRun("wifi-scan");
    bool done = false;
    service->prepareForAppTermination([&] { done = true; });
    EXPECT_EQ(world.count("stop-probe"), 0);
    world.scheduler.runDue();
    EXPECT_TRUE(scan->cancelled);
    auto stop = pendingRun("stop-probe");
    EXPECT_EQ(stop->arguments, (std::vector<std::string> { "stop-probe", "--port", port }));
    EXPECT_FALSE(done);
    const auto logCount = logs.size();
    world.fail(stop, 1, "port busy");
    EXPECT_TRUE(done);
    EXPECT_EQ(logs.size(), logCount);

    // Nothing on the board: nothing to stop.
    SetUp();
    world.calls.clear();
    verify(UsbOnboardingTarget::m5StickCPlus2);
    done = false;
    service->prepareForAppTermination([&] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_EQ(world.count("stop-probe"), 0);

    // A reset leaves the probe on the board alone.
    SetUp();
    world.calls.clear();
    verify(UsbOnboardingTarget::lilyGoTEmbedCc1101);
    service->reset();
    world.scheduler.runDue();
    EXPECT_EQ(world.count("stop-probe"), 0);
    EXPECT_FALSE(service->isPersistentProbeRunning());
}

TEST_F(UsbOnboardingServiceTest, WifiScanAndCredentialTestThroughTheProbe)
{
    verify(UsbOnboardingTarget::lilyGoTEmbedCc1101);
    service->startUsbWifiScan();
    auto scan = pendingRun("wifi-scan");
    EXPECT_EQ(scan->arguments, (std::vector<std::string> { "wifi-scan", "--port", port, "--timeout", "30" }));
    EXPECT_TRUE(service->usbWifiScanInProgress());
    service->verifyUsbWifiCredentials("Home", "pw");
    EXPECT_EQ(world.count("wifi-test"), 0);
    world.succeed(scan,
        "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\" Home \",\"rssi\":-70,\"channel\":1,\"auth\":\"wpa2\"}\r\n"
        "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"Home\",\"rssi\":-60,\"channel\":6,\"auth\":\"wpa3\"}\n"
        "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"b\",\"rssi\":-40,\"channel\":3,\"auth\":\"open\"}\n"
        "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"B2\",\"rssi\":-70,\"channel\":3,\"auth\":\"open\"}\n"
        "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"a\",\"rssi\":-70,\"channel\":3,\"auth\":\"open\"}\n"
        "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"   \",\"rssi\":-10,\"channel\":3,\"auth\":\"open\"}\n"
        "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"NoAuth\",\"rssi\":-10,\"channel\":3}\n"
        "USB_WIFI_SCAN {\"type\":\"done\"}\nUSB_WIFI_SCAN {oops\n");
    const std::vector<UsbWifiNetwork> expected { { "b", -40, 3, "open" }, { "Home", -60, 6, "wpa3" },
        { "a", -70, 3, "open" }, { "B2", -70, 3, "open" } };
    EXPECT_EQ(service->usbWifiNetworks(), expected);
    EXPECT_FALSE(service->usbWifiScanInProgress());
    EXPECT_FALSE(service->usbWifiScanMessage());
    EXPECT_TRUE(logged("RAM-only Wi-Fi scan found 4 network(s)"));

    service->verifyUsbWifiCredentials("  Home ", "pa ss");
    auto test = pendingRun("wifi-test");
    EXPECT_EQ(test->arguments, UsbOnboardingService::usbWifiTestArguments(port, "Home"));
    EXPECT_EQ(std::string(test->input->begin(), test->input->end()), "pa ss\n");
    EXPECT_EQ(service->usbWifiVerificationState(), UsbWifiVerificationState::testing());
    service->invalidateUsbWifiVerification();
    EXPECT_EQ(service->usbWifiVerificationState(), UsbWifiVerificationState::testing());
    world.succeed(test,
        "USB_WIFI_TEST {\"type\":\"wifi-test\",\"result\":\"pass\",\"rssi\":-61,\"channel\":11}\n"
        "USB_WIFI_TEST {\"type\":\"other\",\"result\":\"fail\"}\n");
    EXPECT_EQ(service->usbWifiVerificationState(), UsbWifiVerificationState::verified());
    EXPECT_TRUE(logged("RAM Wi-Fi verification passed on channel 11 at RSSI -61"));

    // Changing the entry sends the board back to network selection.
    service->invalidateUsbWifiVerification();
    EXPECT_EQ(service->usbWifiVerificationState(), UsbWifiVerificationState::idle());
    auto stage = pendingRun("probe-stage");
    EXPECT_EQ(stage->arguments,
        (std::vector<std::string> { "probe-stage", "--port", port, "--stage", "select-wifi", "--timeout", "3" }));
    world.succeed(stage, "");
    EXPECT_TRUE(logged("RAM onboarding probe returned to Wi-Fi selection"));

    const struct {
        std::string output;
        bool passes;
    } results[] = {
        { "USB_WIFI_TEST {\"type\":\"wifi-test\",\"result\":\"pass\"}\nUSB_WIFI_TEST "
          "{\"type\":\"wifi-test\",\"result\":\"fail\"}",
            false },
        { "USB_WIFI_TEST {\"type\":\"wifi-test\",\"result\":\"PASS\"}", false },
        { "nothing", false },
    };
    for (const auto& entry : results) {
        service->verifyUsbWifiCredentials("Home", "pw");
        world.succeed(pendingRun("wifi-test"), entry.output);
        EXPECT_EQ(service->usbWifiVerificationState(),
            UsbWifiVerificationState::failed("The device could not authenticate to the selected Wi-Fi network."));
    }
    service->verifyUsbWifiCredentials("Home", "pw");
    world.fail(pendingRun("wifi-test"), 4, "Serial port vanished");
    EXPECT_EQ(service->usbWifiVerificationState(), UsbWifiVerificationState::failed("Serial port vanished"));
    EXPECT_TRUE(logged("RAM Wi-Fi verification failed: Serial port vanished"));

    service->startUsbWifiScan();
    world.fail(pendingRun("wifi-scan"), 1, "timeout");
    EXPECT_EQ(service->usbWifiScanMessage(), "Could not scan Wi-Fi networks. Activate the device and scan again.");
    EXPECT_TRUE(logged("RAM-only Wi-Fi scan failed: timeout"));
}

// Every run of the helper reports a helper that cannot be found as its failure, on the next turn,
// and the work it belonged to ends.
TEST_F(UsbOnboardingServiceTest, AMissingHelperIsAFailedRunWhereverTheHelperIsUsed)
{
    const std::string missing = "Tavrik Link could not locate the bundled USB flasher helper.";
    const struct {
        const char* what;
        std::function<void(UsbOnboardingService&)> start;
        std::function<void(UsbOnboardingServiceTest&)> check;
    } runs[] = {
        { "Wi-Fi scan", [](UsbOnboardingService& s) { s.startUsbWifiScan(); },
            [&](UsbOnboardingServiceTest& t) {
                EXPECT_FALSE(t.service->usbWifiScanInProgress());
                EXPECT_EQ(t.service->usbWifiScanMessage(),
                    "Could not scan Wi-Fi networks. Activate the device and scan again.");
                EXPECT_TRUE(t.logged("RAM-only Wi-Fi scan failed: " + missing));
            } },
        { "Wi-Fi test", [](UsbOnboardingService& s) { s.verifyUsbWifiCredentials("Home", "pw"); },
            [&](UsbOnboardingServiceTest& t) {
                EXPECT_EQ(t.service->usbWifiVerificationState(), UsbWifiVerificationState::failed(missing));
                EXPECT_TRUE(t.logged("RAM Wi-Fi verification failed: " + missing));
            } },
        { "stopping the probe", [](UsbOnboardingService& s) { s.cancelUsbOnboarding(); },
            [&](UsbOnboardingServiceTest& t) {
                EXPECT_TRUE(t.logged("Could not stop persistent RAM onboarding probe: " + missing));
            } },
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.what);
        SetUp();
        world.calls.clear();
        verify(UsbOnboardingTarget::lilyGoTEmbedCc1101);
        world.helperMissing = true;
        run.start(*service);
        EXPECT_TRUE(world.pending().empty());
        world.scheduler.runDue();
        run.check(*this);
        world.helperMissing = false;
        // Nothing is left waiting: the same work starts again.
        run.start(*service);
        if (std::string(run.what) != "stopping the probe") {
            EXPECT_FALSE(world.pending().empty());
        }
    }
}

TEST_F(UsbOnboardingServiceTest, WifiActionsNeedTheEmbedAndItsRunningProbe)
{
    verify(UsbOnboardingTarget::m5StickCPlus2);
    service->startUsbWifiScan();
    service->verifyUsbWifiCredentials("Home", "pw");
    EXPECT_TRUE(world.pending().empty());
    EXPECT_FALSE(service->usbWifiScanInProgress());
}

TEST_F(UsbOnboardingServiceTest, AScanThatEndsAfterCancelPublishesNothing)
{
    verify(UsbOnboardingTarget::lilyGoTEmbedCc1101);
    service->startUsbWifiScan();
    auto scan = pendingRun("wifi-scan");
    scan->cancelled = true; // The helper ignores the termination and answers late.
    service->cancelUsbOnboarding();
    world.succeed(
        scan, "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"Late\",\"rssi\":-1,\"channel\":1,\"auth\":\"open\"}");
    EXPECT_TRUE(service->usbWifiNetworks().empty());
    EXPECT_FALSE(logged("RAM-only Wi-Fi scan found 1 network(s)"));
}

TEST(UsbOnboardingModels, DecodingAndNaming)
{
    EXPECT_FALSE(usbOnboardingTargetFromRawValue("T-Embed-CC1101"));
    EXPECT_EQ(usbOnboardingTargetFromRawValue("t-embed-cc1101"), UsbOnboardingTarget::lilyGoTEmbedCc1101);
    EXPECT_FALSE(UsbTavrikProbeResult::decode(R"({"firmwareVersion":"1"})"));
    EXPECT_FALSE(UsbTavrikProbeResult::decode(R"({"state":"tavrik","bleProtocolVersion":"2"})"));
    EXPECT_EQ(UsbTavrikProbeResult::decode(R"({"state":"other","extra":1})")->state, "other");
    EXPECT_NE(UsbWifiVerificationState::failed("a"), UsbWifiVerificationState::failed("b"));
    EXPECT_EQ(UsbOnboardingService::safeImageFileName("../../x/y.bin"), "y.bin");
    EXPECT_EQ(UsbOnboardingService::safeImageFileName("a\\..\\b.bin"), "b.bin");
    EXPECT_EQ(UsbOnboardingService::safeImageFileName(".."), "firmware.bin");
    EXPECT_EQ(UsbOnboardingService::cleanUsbFlashCompletionMessage(" Tavrik firmware installed over USB.\n"), "");
    EXPECT_EQ(UsbOnboardingService::cleanUsbFlashCompletionMessage("Done\n"), " Done");
}

} // namespace

TEST(UsbWifiNetworkOrder, EqualSignalsSortByNameInTheUsersLocaleAsTheBluetoothListDoes)
{
    const std::string scan
        = "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"Zeta\",\"rssi\":-60,\"channel\":1,\"auth\":\"open\"}\n"
          "USB_WIFI_SCAN "
          "{\"type\":\"network\",\"ssid\":\"\xC3\x84rger\",\"rssi\":-60,\"channel\":1,\"auth\":\"open\"}\n"
          "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"alpha\",\"rssi\":-60,\"channel\":1,\"auth\":\"open\"}\n"
          "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"weak\",\"rssi\":-90,\"channel\":1,\"auth\":\"open\"}\n";
    const struct {
        const char* locale;
        std::vector<std::string> names;
    } cases[] = {
        { "de_DE", { "alpha", "\xC3\x84rger", "Zeta", "weak" } },
        // Swedish sorts Ä after Z.
        { "sv_SE", { "alpha", "Zeta", "\xC3\x84rger", "weak" } },
    };
    for (const auto& each : cases) {
        std::vector<std::string> names;
        std::vector<WifiScannedNetwork> bluetooth;
        for (const auto& network : UsbOnboardingService::parseUsbWifiNetworks(scan, each.locale)) {
            names.push_back(network.ssid);
            WifiScannedNetwork scanned;
            scanned.ssid = network.ssid;
            scanned.rssi = network.rssi;
            bluetooth.push_back(scanned);
        }
        EXPECT_EQ(names, each.names) << each.locale;
        std::vector<std::string> bluetoothNames;
        for (const auto& network : sortedNearbyWifiNetworks(bluetooth, each.locale)) {
            bluetoothNames.push_back(network.ssid);
        }
        EXPECT_EQ(bluetoothNames, names) << each.locale;
    }
}
