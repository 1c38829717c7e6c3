#include "TavrikLink/Views/DeviceArtworkGeometry.hpp"
#include "TavrikLink/Views/UsbSetupPresenter.hpp"
#include "tests/views/UsbSetupTestWorld.hpp"

#include <gtest/gtest.h>

namespace tavrik::test {
namespace {

using Phase = UsbFlashStatus::Phase;
using Check = UsbOnboardingCheckState;
using Kind = UsbSetupScreen::Kind;
using Target = UsbOnboardingTarget;
using Style = UsbWifiNotification::Style;

FirmwareAsset releaseWith(std::initializer_list<Target> targets)
{
    FirmwareAsset asset;
    asset.version = "1.4.0";
    for (Target target : targets) {
        asset.factoryAssets[rawValue(target)]
            = FirmwareFactoryAsset { *Url::parse("https://example.com/f.bin"), "f.bin", 10, "ab" };
    }
    return asset;
}

UsbOnboardingDevice board(std::optional<Target> target, bool tavrik = false)
{
    return UsbOnboardingDevice { "/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0", tavrik, target, {}, {} };
}

// A verified board of that model, a release with both install builds, nothing else under way.
UsbSetupInputs verified(Target target)
{
    UsbSetupInputs inputs;
    inputs.target = target;
    inputs.device = board(target);
    inputs.checkState = Check::targetSetup;
    inputs.hasVerifiedDevice = true;
    inputs.hasDetectedFlashCandidate = true;
    inputs.firmware = { releaseWith({ Target::m5StickCPlus2, Target::lilyGoTEmbedCc1101 }), "Published HTTPS",
        FirmwareUploadStatus::Phase::idle };
    return inputs;
}

UsbSetupInputs verifiedEmbedWithNetworks()
{
    UsbSetupInputs inputs = verified(Target::lilyGoTEmbedCc1101);
    inputs.wifiNetworks = { { "Home", -50, 6, "wpa2" }, { "Cafe", -70, 1, "open" } };
    inputs.wifiSsid = "Home";
    return inputs;
}

TEST(UsbSetupScreens, EachCheckStateHasItsScreenAndAFlashReplacesThemAll)
{
    const struct {
        Check check;
        UsbFlashStatus status;
        Kind kind;
        std::string message;
    } cases[] = {
        { Check::waitingForDevice, {}, Kind::message, "Connect and activate the device you want to set up" },
        { Check::checkingCompatibility, { Phase::probing, "x" }, Kind::checking, "Checking if Tavrik can be installed" },
        { Check::multipleDevices, {}, Kind::message,
            "Multiple devices detected, please only connect the device you want to set up" },
        { Check::tavrikAlreadyInstalled, { Phase::idle, "Tavrik 1.4.0 is installed." }, Kind::message,
            "Tavrik 1.4.0 is installed." },
        { Check::tavrikAlreadyInstalled, { Phase::idle, "" }, Kind::message,
            "Tavrik is already installed on this device" },
        { Check::unsupportedDevice, {}, Kind::message, "It seems Tavrik cannot be installed on the connected device" },
        { Check::needsManualWake, {}, Kind::manualWake, "Wake the connected device, then check again" },
        { Check::hostProblem, { Phase::failed, "Cannot open /dev/ttyACM0: the port is in use by another program." },
            Kind::hostProblem, "Cannot open /dev/ttyACM0: the port is in use by another program." },
        { Check::readyForTargetSelection, {}, Kind::picker, "" },
        { Check::targetSetup, {}, Kind::picker, "" },
        { Check::waitingForDevice, { Phase::flashing, "", 10, 100 }, Kind::installationProgress, "" },
        { Check::targetSetup, { Phase::flashing, "", 0, 0 }, Kind::installationProgress, "" },
        { Check::multipleDevices, { Phase::completed, "Time updated." }, Kind::installationSuccess, "Time updated." },
        { Check::targetSetup, { Phase::failed, "USB install failed" }, Kind::picker, "" },
    };
    for (const auto& entry : cases) {
        UsbSetupInputs inputs;
        inputs.checkState = entry.check;
        inputs.flashStatus = entry.status;
        const UsbSetupScreen screen = UsbSetupPresenter::screen(inputs);
        EXPECT_EQ(screen.kind, entry.kind) << static_cast<int>(entry.check) << " " << entry.message;
        EXPECT_EQ(screen.message, entry.message);
        EXPECT_EQ(screen.picker.has_value(), entry.kind == Kind::picker);
        EXPECT_EQ(screen.targetSetup.has_value(), entry.kind == Kind::picker && entry.check == Check::targetSetup);
    }
}

TEST(UsbSetupScreens, ProgressShowsASpinnerUntilTheSizeIsKnown)
{
    const struct {
        std::int64_t done;
        std::int64_t total;
        bool indeterminate;
    } cases[] = { { 0, 0, true }, { 5, 0, true }, { 0, -1, true }, { 0, 1, false }, { 512, 2048, false } };
    for (const auto& entry : cases) {
        UsbSetupInputs inputs;
        inputs.flashStatus = { Phase::flashing, "25%", entry.done, entry.total };
        const auto screen = UsbSetupPresenter::screen(inputs);
        EXPECT_EQ(screen.progressIndeterminate, entry.indeterminate) << entry.done << "/" << entry.total;
        EXPECT_EQ(screen.bytesTransferred, entry.done);
        EXPECT_EQ(screen.totalBytes, entry.total);
    }
}

TEST(UsbSetupScreens, PickerSelectionHeadlineAndUnsupportedNote)
{
    const struct {
        std::optional<Target> target;
        bool other;
        std::vector<bool> selected;
        bool headline;
    } cases[] = {
        { std::nullopt, false, { false, false, false }, true },
        { Target::m5StickCPlus2, false, { true, false, false }, false },
        { Target::lilyGoTEmbedCc1101, false, { false, true, false }, false },
        { std::nullopt, true, { false, false, true }, false },
        // "Other" wins over a target the service still holds.
        { Target::m5StickCPlus2, true, { false, false, true }, false },
    };
    for (const auto& entry : cases) {
        UsbSetupInputs inputs;
        inputs.checkState = Check::readyForTargetSelection;
        inputs.target = entry.target;
        inputs.otherDeviceSelected = entry.other;
        const auto picker = *UsbSetupPresenter::screen(inputs).picker;
        ASSERT_EQ(picker.cards.size(), 3u);
        EXPECT_EQ(picker.cards[0].target, Target::m5StickCPlus2);
        EXPECT_EQ(picker.cards[0].title, "M5 StickC Plus2");
        EXPECT_EQ(picker.cards[1].target, Target::lilyGoTEmbedCc1101);
        EXPECT_EQ(picker.cards[1].title, "LILYGO T-Embed CC1101");
        EXPECT_EQ(picker.cards[2].target, std::nullopt);
        EXPECT_EQ(picker.cards[2].title, "Other");
        for (std::size_t index = 0; index < 3; ++index) {
            EXPECT_EQ(picker.cards[index].selected, entry.selected[index]) << index;
        }
        EXPECT_EQ(picker.showsHeadline, entry.headline);
        EXPECT_EQ(picker.showsUnsupportedNote, entry.other);
    }
}

TEST(UsbSetupScreens, StatusLineNamesTheFirstThingMissing)
{
    const auto with = [](UsbSetupInputs inputs, const std::function<void(UsbSetupInputs&)>& change) {
        change(inputs);
        return inputs;
    };
    const UsbSetupInputs m5 = verified(Target::m5StickCPlus2);
    const UsbSetupInputs embed = verifiedEmbedWithNetworks();
    const struct {
        std::string name;
        UsbSetupInputs inputs;
        std::optional<std::string> message;
    } cases[] = {
        { "probing wins",
            with(embed,
                [](auto& in) {
                    in.flashStatus = { Phase::probing, "Checking the board...", 0, 0 };
                    in.hasDetectedInstalledTavrik = true;
                }),
            "Checking the board..." },
        { "installed",
            with(m5,
                [](auto& in) {
                    in.device = board(Target::m5StickCPlus2, true);
                    in.hasDetectedInstalledTavrik = true;
                    in.target.reset();
                }),
            "Tavrik firmware is already installed on the connected device." },
        { "candidate, no model",
            with(m5,
                [](auto& in) {
                    in.target.reset();
                    in.hasVerifiedDevice = false;
                }),
            "Compatible device detected. Select its model to continue." },
        { "nothing", UsbSetupInputs {}, "Connect a supported USB device to continue." },
        { "not verified", with(embed, [](auto& in) { in.hasVerifiedDevice = false; }),
            "Connect LILYGO T-Embed CC1101 with USB to set it up" },
        { "release loading",
            with(m5,
                [](auto& in) {
                    in.firmware.availableFirmwareAsset.reset();
                    in.firmware.uploadPhase = FirmwareUploadStatus::Phase::checking;
                }),
            "Loading the install build..." },
        { "no release",
            with(m5,
                [](auto& in) {
                    in.firmware.availableFirmwareAsset.reset();
                    in.firmware.firmwareSourceDescription = "Local builds";
                }),
            "No install build is available from Local builds." },
        { "no image for the model",
            with(embed, [](auto& in) { in.firmware.availableFirmwareAsset = releaseWith({ Target::m5StickCPlus2 }); }),
            "No LILYGO T-Embed CC1101 install build is available from Published HTTPS." },
        { "embed without network", with(embed, [](auto& in) { in.wifiSsid = " \n"; }),
            "Select its Wi-Fi network to continue." },
        { "embed ready", embed, std::nullopt },
        { "m5 needs no network", m5, std::nullopt },
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(UsbSetupPresenter::usbConnectionStatusMessage(entry.inputs), entry.message) << entry.name;
    }
}

TEST(UsbSetupScreens, InstallIsEnabledOnlyWhenEverythingIsInPlace)
{
    const auto with = [](UsbSetupInputs inputs, const std::function<void(UsbSetupInputs&)>& change) {
        change(inputs);
        return inputs;
    };
    const UsbSetupInputs m5 = verified(Target::m5StickCPlus2);
    const UsbSetupInputs embedVerified = with(
        verifiedEmbedWithNetworks(), [](auto& in) { in.wifiVerification = UsbWifiVerificationState::verified(); });
    const struct {
        std::string name;
        UsbSetupInputs inputs;
        bool shown;
        bool enabled;
    } cases[] = {
        { "m5 without Wi-Fi", m5, true, true },
        { "m5 not verified", with(m5, [](auto& in) { in.hasVerifiedDevice = false; }), false, false },
        { "m5 without release", with(m5, [](auto& in) { in.firmware.availableFirmwareAsset.reset(); }), true, false },
        { "m5 without its image",
            with(m5, [](auto& in) { in.firmware.availableFirmwareAsset = releaseWith({ Target::lilyGoTEmbedCc1101 }); }),
            true, false },
        { "embed verified network", embedVerified, true, true },
        { "embed network not checked", verifiedEmbedWithNetworks(), true, false },
        { "embed network testing",
            with(embedVerified, [](auto& in) { in.wifiVerification = UsbWifiVerificationState::testing(); }), true,
            false },
        { "embed network failed",
            with(embedVerified, [](auto& in) { in.wifiVerification = UsbWifiVerificationState::failed("x"); }), true,
            false },
        { "embed blank network", with(embedVerified, [](auto& in) { in.wifiSsid = "  "; }), true, false },
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(UsbSetupPresenter::usbInstallAvailable(entry.inputs), entry.enabled) << entry.name;
        EXPECT_EQ(UsbSetupPresenter::usbInstallDisabled(entry.inputs), !entry.enabled) << entry.name;
        const auto setup = *UsbSetupPresenter::screen(entry.inputs).targetSetup;
        EXPECT_EQ(setup.showsInstall, entry.shown) << entry.name;
        EXPECT_EQ(setup.installEnabled, entry.enabled) << entry.name;
    }
}

TEST(UsbSetupScreens, WifiFormOnlyForAVerifiedEmbedWithItsBusyRules)
{
    EXPECT_FALSE(UsbSetupPresenter::screen(verified(Target::m5StickCPlus2)).targetSetup->wifiForm);
    UsbSetupInputs unverified = verifiedEmbedWithNetworks();
    unverified.hasVerifiedDevice = false;
    EXPECT_FALSE(UsbSetupPresenter::screen(unverified).targetSetup->wifiForm);

    const auto with = [](UsbSetupInputs inputs, const std::function<void(UsbSetupInputs&)>& change) {
        change(inputs);
        return inputs;
    };
    const UsbSetupInputs ready = verifiedEmbedWithNetworks();
    const struct {
        std::string name;
        UsbSetupInputs inputs;
        std::vector<UsbWifiNetworkItem> items;
        bool picker, scan, password, save;
        std::vector<UsbWifiNotification> notes;
    } cases[] = {
        { "ready", ready, { { "Home", "Home" }, { "Cafe", "Cafe" } }, true, true, true, true, {} },
        { "no networks",
            with(ready,
                [](auto& in) {
                    in.wifiNetworks.clear();
                    in.wifiSsid.clear();
                    in.wifiScanMessage = "No networks found nearby.";
                }),
            { { "No networks found", "" } }, false, true, true, false, { { Style::plain, "No networks found nearby." } } },
        { "scanning", with(ready, [](auto& in) { in.wifiScanInProgress = true; }),
            { { "Home", "Home" }, { "Cafe", "Cafe" } }, false, false, false, false,
            { { Style::progress, "Checking available Wi-Fi networks" } } },
        { "testing", with(ready, [](auto& in) { in.wifiVerification = UsbWifiVerificationState::testing(); }),
            { { "Home", "Home" }, { "Cafe", "Cafe" } }, false, false, false, false,
            { { Style::progress, "Checking Wi-Fi connection" } } },
        { "verified", with(ready, [](auto& in) { in.wifiVerification = UsbWifiVerificationState::verified(); }),
            { { "Home", "Home" }, { "Cafe", "Cafe" } }, true, true, true, true,
            { { Style::verified, "Wi-Fi connection verified" } } },
        { "failed stays editable",
            with(ready, [](auto& in) { in.wifiVerification = UsbWifiVerificationState::failed("Wrong password"); }),
            { { "Home", "Home" }, { "Cafe", "Cafe" } }, true, true, true, true,
            { { Style::failed, "Wi-Fi connection failed: Wrong password" } } },
        // No trimming for the save button: a space is a name.
        { "space as name", with(ready, [](auto& in) { in.wifiSsid = " "; }), { { "Home", "Home" }, { "Cafe", "Cafe" } },
            true, true, true, true, {} },
        { "empty name", with(ready, [](auto& in) { in.wifiSsid.clear(); }), { { "Home", "Home" }, { "Cafe", "Cafe" } },
            true, true, true, false, {} },
        { "scan message after a scan",
            with(ready,
                [](auto& in) {
                    in.wifiScanInProgress = true;
                    in.wifiScanMessage = "Scan took long";
                    in.wifiVerification = UsbWifiVerificationState::failed("x");
                }),
            { { "Home", "Home" }, { "Cafe", "Cafe" } }, false, false, false, false,
            { { Style::progress, "Checking available Wi-Fi networks" }, { Style::plain, "Scan took long" },
                { Style::failed, "Wi-Fi connection failed: x" } } },
    };
    for (const auto& entry : cases) {
        const auto form = *UsbSetupPresenter::screen(entry.inputs).targetSetup->wifiForm;
        EXPECT_EQ(form.networks, entry.items) << entry.name;
        EXPECT_EQ(form.networkPickerEnabled, entry.picker) << entry.name;
        EXPECT_EQ(form.scanEnabled, entry.scan) << entry.name;
        EXPECT_EQ(form.passwordRowEnabled, entry.password) << entry.name;
        EXPECT_EQ(form.saveEnabled, entry.save) << entry.name;
        EXPECT_EQ(form.notifications, entry.notes) << entry.name;
    }

    UsbSetupInputs shown = ready;
    EXPECT_EQ(UsbSetupPresenter::screen(shown).targetSetup->wifiForm->visibilitySymbol, "eye");
    EXPECT_EQ(UsbSetupPresenter::screen(shown).targetSetup->wifiForm->visibilityLabel, "Show Wi-Fi password");
    EXPECT_EQ(UsbSetupPresenter::screen(shown).targetSetup->wifiForm->visibilityHelp, "Show password");
    shown.wifiPasswordVisible = true;
    EXPECT_EQ(UsbSetupPresenter::screen(shown).targetSetup->wifiForm->visibilitySymbol, "eye.slash");
    EXPECT_EQ(UsbSetupPresenter::screen(shown).targetSetup->wifiForm->visibilityLabel, "Hide Wi-Fi password");
    EXPECT_EQ(UsbSetupPresenter::screen(shown).targetSetup->wifiForm->visibilityHelp, "Hide password");
}

TEST(UsbSetupScreens, FailureKeepsTheFormAndReplacesStatusAndInstall)
{
    UsbSetupInputs inputs = verifiedEmbedWithNetworks();
    inputs.wifiVerification = UsbWifiVerificationState::verified();
    const struct {
        std::string message;
        std::string title;
    } cases[] = {
        { "No USB onboarding device detected. The board did not answer.", "USB device check failed." },
        { "No USB onboarding device detected", "USB device check failed." },
        { "no USB onboarding device detected.", "USB install failed." },
        { "Flash failed: MD5 mismatch", "USB install failed." },
        { "", "USB install failed." },
    };
    for (const auto& entry : cases) {
        inputs.flashStatus = { Phase::failed, entry.message, 0, 0 };
        EXPECT_EQ(UsbSetupPresenter::usbFailureTitle(inputs.flashStatus), entry.title) << entry.message;
        inputs.hostProblem = true;
        EXPECT_EQ(UsbSetupPresenter::screen(inputs).targetSetup->failure->title, "USB device check failed.");
        inputs.hostProblem = false;
        const auto setup = *UsbSetupPresenter::screen(inputs).targetSetup;
        ASSERT_TRUE(setup.failure);
        EXPECT_EQ(*setup.failure, (UsbSetupFailure { entry.title, entry.message }));
        EXPECT_TRUE(setup.wifiForm);
        EXPECT_FALSE(setup.statusMessage);
        EXPECT_FALSE(setup.showsInstall);
    }
    // The spinner only turns while probing.
    inputs.flashStatus = { Phase::probing, "Checking...", 0, 0 };
    EXPECT_TRUE(UsbSetupPresenter::screen(inputs).targetSetup->statusSpinner);
    inputs.flashStatus = { Phase::idle, "", 0, 0 };
    inputs.wifiSsid.clear();
    EXPECT_FALSE(UsbSetupPresenter::screen(inputs).targetSetup->statusSpinner);
    EXPECT_EQ(UsbSetupPresenter::screen(inputs).targetSetup->statusMessage, "Select its Wi-Fi network to continue.");
}

TEST(UsbSetupScreens, InstallWarningAndEntryPoint)
{
    const struct {
        std::optional<UsbOnboardingDevice> device;
        std::string message;
    } cases[] = {
        { board(Target::m5StickCPlus2), "Installing Tavrik for M5 StickC Plus2 over USB will wipe the device." },
        { board(Target::lilyGoTEmbedCc1101),
            "Installing Tavrik for LILYGO T-Embed CC1101 over USB will wipe the device." },
        { board(Target::m5StickCPlus2, true),
            "Installing over USB will wipe the device and erase its current Tavrik data." },
        { board(std::nullopt), "Installing over USB will wipe the device and erase its current Tavrik data." },
        { std::nullopt, "Installing over USB will wipe the device and erase its current Tavrik data." },
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(UsbSetupPresenter::usbInstallAlertMessage(entry.device), entry.message);
    }
    for (Phase phase : { Phase::idle, Phase::probing, Phase::completed, Phase::failed }) {
        EXPECT_TRUE(UsbSetupPresenter::setupNewDeviceEnabled(phase));
    }
    EXPECT_FALSE(UsbSetupPresenter::setupNewDeviceEnabled(Phase::flashing));
}

TEST(DeviceArtwork, QuestionMarkAndPictureNames)
{
    const auto stem = DeviceArtworkGeometry::questionMarkStem(30, 46);
    const auto near
        = [](QPointF a, QPointF b) { return std::abs(a.x() - b.x()) < 1e-9 && std::abs(a.y() - b.y()) < 1e-9; };
    EXPECT_TRUE(near(stem.start, QPointF(5.7, 13.8)));
    EXPECT_TRUE(near(stem.curves[0].end, QPointF(15, 3.68)));
    EXPECT_TRUE(near(stem.curves[1].end, QPointF(24.3, 13.8)));
    EXPECT_TRUE(near(stem.curves[3].end, QPointF(15, 32.2)));
    EXPECT_TRUE(near(DeviceArtworkGeometry::questionMarkDotCentre(30, 46), QPointF(15, 40.48)));
    // The box's own corner: the shape does not move with the frame.
    EXPECT_TRUE(near(DeviceArtworkGeometry::questionMarkStem(60, 92).start, QPointF(11.4, 27.6)));

    EXPECT_EQ(DeviceArtworkGeometry::artworkRelativePath(Target::m5StickCPlus2), "DeviceImages/m5-stickc-plus2.png");
    EXPECT_EQ(DeviceArtworkGeometry::artworkRelativePath(Target::lilyGoTEmbedCc1101),
        "DeviceImages/lilygo-t-embed-cc1101.png");
}

class UsbSetupFlow : public ::testing::Test, public UsbSetupWorld {
protected:
    std::unique_ptr<UsbSetupPresenter> model = makeModel();
    int changes = 0;

    void SetUp() override
    {
        QObject::connect(model.get(), &UsbSetupPresenter::changed, [this] { ++changes; });
    }

    void openFlow()
    {
        window->modify([](ContentViewPresenter::State& state) { state.showingUsbSetupFlow = true; });
    }
};

TEST_F(UsbSetupFlow, AnEmbedFromWaitingToInstalled)
{
    openFlow();
    EXPECT_EQ(model->screen().message, "Connect and activate the device you want to set up");
    EXPECT_TRUE(service->isMonitoring());

    usb.ports = { port };
    usb.scheduler.advance(std::chrono::milliseconds(500));
    EXPECT_EQ(model->screen().kind, Kind::checking);
    answer("probe", R"({"state":"other"})");
    auto screen = model->screen();
    ASSERT_EQ(screen.kind, Kind::picker);
    EXPECT_TRUE(screen.picker->showsHeadline);
    EXPECT_FALSE(screen.targetSetup);

    // "Other" first, then the real model: the note goes and the card is chosen.
    model->chooseOtherDevice();
    EXPECT_TRUE(window->state().usbOtherDeviceSelected);
    EXPECT_TRUE(model->screen().picker->showsUnsupportedNote);
    model->chooseTarget(Target::lilyGoTEmbedCc1101);
    EXPECT_FALSE(window->state().usbOtherDeviceSelected);
    EXPECT_FALSE(model->screen().picker->showsUnsupportedNote);
    EXPECT_TRUE(model->screen().picker->cards[1].selected);
    answer("probe", R"({"state":"other"})");
    EXPECT_EQ(model->screen().targetSetup->statusSpinner, true);
    answer("hardware-probe", probePass(Target::lilyGoTEmbedCc1101));

    // Verified: the window starts the scan, and the first network found is picked.
    screen = model->screen();
    ASSERT_TRUE(screen.targetSetup && screen.targetSetup->wifiForm);
    EXPECT_FALSE(screen.targetSetup->wifiForm->scanEnabled);
    EXPECT_FALSE(screen.targetSetup->installEnabled);
    answer("wifi-scan", scanOutput());
    EXPECT_EQ(window->state().usbWifiSsid, "Home");
    EXPECT_EQ(model->screen().targetSetup->wifiForm->selectedSsid, "Home");

    model->setWifiSsid("Cafe");
    model->setWifiPassword("secret");
    model->saveWifiConfig();
    const auto test = pending("wifi-test");
    ASSERT_TRUE(test);
    EXPECT_EQ(std::string(test->input->begin(), test->input->end()), "secret\n");
    EXPECT_EQ(test->arguments, UsbOnboardingService::usbWifiTestArguments(port, "Cafe"));
    usb.succeed(test, wifiPass());
    EXPECT_EQ(model->screen().targetSetup->wifiForm->notifications,
        (std::vector<UsbWifiNotification> { { Style::verified, "Wi-Fi connection verified" } }));
    ASSERT_TRUE(model->screen().targetSetup->installEnabled);

    model->install();
    EXPECT_EQ(window->state().selectedPane, ContentViewPresenter::SidebarPane::firmware);
    ASSERT_NE(window->alerts().current(), nullptr);
    EXPECT_EQ(window->alerts().current()->title, "Install Tavrik Firmware?");
    EXPECT_EQ(window->alerts().current()->message,
        "Installing Tavrik for LILYGO T-Embed CC1101 over USB will wipe the device.");
    answerAlert("Install over USB");
    EXPECT_EQ(model->screen().kind, Kind::installationProgress);
    finishDownload();
    const auto flash = pending("flash");
    ASSERT_TRUE(flash);
    flash->onLine("USB_FLASH_PROGRESS 1024 4096");
    screen = model->screen();
    EXPECT_EQ(screen.kind, Kind::installationProgress);
    EXPECT_FALSE(screen.progressIndeterminate);
    EXPECT_EQ(screen.bytesTransferred, 1024);
    usb.succeed(flash, "Tavrik firmware installed over USB");
    usb.scheduler.advance(std::chrono::seconds(1));
    const auto wifi = pending("configure-wifi-time");
    ASSERT_TRUE(wifi);
    EXPECT_EQ(wifi->arguments.at(4), "Cafe");
    EXPECT_EQ(std::string(wifi->input->begin(), wifi->input->end()), "secret\n");
    // The board is flashed, but its Wi-Fi set-up fails: the result screen says so.
    usb.fail(wifi, 1, "No route to the network");
    usb.scheduler.advance(std::chrono::seconds(1));
    answer("set-time", "");
    screen = model->screen();
    EXPECT_EQ(screen.kind, Kind::installationSuccess);
    EXPECT_NE(screen.message.find("Wi-Fi time sync setup failed: No route to the network"), std::string::npos)
        << screen.message;

    model->continueAfterInstall();
    EXPECT_FALSE(window->state().showingUsbSetupFlow);
    EXPECT_FALSE(service->isMonitoring());
}

TEST_F(UsbSetupFlow, EditingTheNetworkDropsItsVerificationAndTheM5NeedsNone)
{
    openFlow();
    usb.ports = { port };
    usb.scheduler.advance(std::chrono::milliseconds(500));
    answer("probe", R"({"state":"other"})");
    model->chooseTarget(Target::lilyGoTEmbedCc1101);
    answer("probe", R"({"state":"other"})");
    answer("hardware-probe", probePass(Target::lilyGoTEmbedCc1101));
    answer("wifi-scan", scanOutput());
    model->saveWifiConfig();
    answer("wifi-test", wifiPass());
    ASSERT_TRUE(model->screen().targetSetup->installEnabled);

    model->setWifiPassword("changed");
    EXPECT_EQ(service->usbWifiVerificationState(), UsbWifiVerificationState::idle());
    EXPECT_FALSE(model->screen().targetSetup->installEnabled);
    EXPECT_EQ(usb.count("wifi-scan"), 1);

    // A rescan that no longer sees the chosen network moves to the first one found.
    model->setWifiSsid("Cafe");
    answerOthersUntil("wifi-scan");
    model->scanAgain();
    answer("wifi-scan",
        "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"Attic\",\"rssi\":-40,\"channel\":3,\"auth\":\"wpa2\"}\n");
    EXPECT_EQ(window->state().usbWifiSsid, "Attic");

    // Another model: no form, no Wi-Fi, "Install" at once.
    model->chooseTarget(Target::m5StickCPlus2);
    answerOthersUntil("probe");
    answer("probe", R"({"state":"other"})");
    answer("hardware-probe", probePass(Target::m5StickCPlus2));
    const auto setup = *model->screen().targetSetup;
    EXPECT_FALSE(setup.wifiForm);
    EXPECT_FALSE(setup.statusMessage);
    EXPECT_TRUE(setup.installEnabled);
    EXPECT_EQ(usb.count("wifi-scan"), 2);
}

TEST_F(UsbSetupFlow, LeavingThePickerClearsOtherAndClosingStopsTheWatch)
{
    openFlow();
    usb.ports = { port };
    usb.scheduler.advance(std::chrono::milliseconds(500));
    answer("probe", R"({"state":"other"})");
    model->chooseOtherDevice();
    ASSERT_TRUE(window->state().usbOtherDeviceSelected);
    usb.ports.clear();
    usb.scheduler.advance(std::chrono::milliseconds(500));
    EXPECT_EQ(service->usbOnboardingCheckState(), Check::waitingForDevice);
    EXPECT_FALSE(window->state().usbOtherDeviceSelected);

    // Install refuses without a verified board, the entry refuses during a flash.
    model->install();
    EXPECT_FALSE(window->state().showingUsbInstallAlert);
    window->modify([](ContentViewPresenter::State& state) { state.showingUsbSetupFlow = false; });
    EXPECT_FALSE(service->isMonitoring());
    model->setUpNewDevice();
    EXPECT_TRUE(window->state().showingUsbSetupFlow);
    EXPECT_TRUE(service->isMonitoring());

    // The window's actions do not outlive the model.
    model.reset();
    window->modify([](ContentViewPresenter::State& state) { state.showingUsbSetupFlow = false; });
    EXPECT_TRUE(service->isMonitoring());
    EXPECT_EQ(window->actions().usbInstallAlertMessage(),
        "Installing over USB will wipe the device and erase its current Tavrik data.");
}

TEST_F(UsbSetupFlow, TheInstallBuildIsReadAgainWhenTheControllerSaysSo)
{
    openFlow();
    usb.ports = { port };
    usb.scheduler.advance(std::chrono::milliseconds(500));
    answer("probe", R"({"state":"other"})");
    firmware.availableFirmwareAsset.reset();
    firmware.uploadPhase = FirmwareUploadStatus::Phase::checking;
    model->firmwareChanged();
    model->chooseTarget(Target::m5StickCPlus2);
    answer("probe", R"({"state":"other"})");
    answer("hardware-probe", probePass(Target::m5StickCPlus2));
    EXPECT_EQ(model->screen().targetSetup->statusMessage, "Loading the install build...");
    EXPECT_FALSE(model->screen().targetSetup->installEnabled);
    const int before = changes;
    firmware = UsbSetupFirmware { asset, "Published HTTPS", FirmwareUploadStatus::Phase::idle };
    model->firmwareChanged();
    EXPECT_GT(changes, before);
    EXPECT_FALSE(model->screen().targetSetup->statusMessage);
    EXPECT_TRUE(model->screen().targetSetup->installEnabled);
}

} // namespace
} // namespace tavrik::test
