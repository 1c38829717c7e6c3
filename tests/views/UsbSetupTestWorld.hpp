#pragma once

#include "TavrikLink/Usb/UsbOnboardingService.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/UsbSetupPresenter.hpp"
#include "TavrikLink/Views/WindowAlertQueue.hpp"
#include "tests/usb/FakeUsbEnvironment.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tavrik::test {

// The USB setup flow on a scripted USB world: a real onboarding service over the fake environment,
// the window's presenter fed with the service's state as the window's binding does, and the setup
// model between them. The install build is a value the test changes.
class UsbSetupWorld {
public:
    inline static const std::string port = "/dev/ttyUSB0";

    FakeUsbEnvironment usb;
    std::optional<FirmwareAsset> asset;
    UsbSetupFirmware firmware;
    std::vector<std::function<void(UsbOnboardingService::DownloadResult)>> downloads;
    std::unique_ptr<UsbOnboardingService> service;
    std::unique_ptr<ContentViewPresenter> window;

    UsbSetupWorld()
    {
        asset = FirmwareAsset {};
        asset->version = "1.4.0";
        for (const auto target : allUsbOnboardingTargets) {
            asset->factoryAssets[rawValue(target)]
                = FirmwareFactoryAsset { *Url::parse("https://example.com/" + rawValue(target) + ".bin"),
                      rawValue(target) + "-factory.bin", 4096, "ab12" };
        }
        firmware = UsbSetupFirmware { asset, "Published HTTPS", FirmwareUploadStatus::Phase::idle };
        service = std::make_unique<UsbOnboardingService>([this] { return firmware.availableFirmwareAsset; },
            [this](const Url&, std::int64_t, const std::string&,
                std::function<void(UsbOnboardingService::DownloadResult)> done) {
                downloads.push_back(std::move(done));
                return [] {};
            },
            [](const std::string&) {}, usb.environment());
        ContentViewPresenter::Actions actions;
        UsbOnboardingService* s = service.get();
        actions.beginUsbOnboarding = [s] { s->beginUsbOnboarding(); };
        actions.cancelUsbOnboarding = [s] { s->cancelUsbOnboarding(); };
        actions.stopUsbDeviceMonitoring = [s] { s->stopUsbDeviceMonitoring(); };
        actions.startUsbWifiScan = [s] { s->startUsbWifiScan(); };
        actions.invalidateUsbWifiVerification = [s] { s->invalidateUsbWifiVerification(); };
        actions.startUsbOnboardingFlash
            = [s](const std::string& ssid, const std::string& password) { s->startUsbOnboardingFlash(ssid, password); };
        actions.clearUsbOnboardingNotice = [s] { s->clearUsbOnboardingNotice(); };
        window = std::make_unique<ContentViewPresenter>(std::move(actions));
        QObject::connect(service.get(), &UsbOnboardingService::changed, window.get(), [this] { observe(); });
        observe();
    }

    std::unique_ptr<UsbSetupPresenter> makeModel()
    {
        return std::make_unique<UsbSetupPresenter>(*service, *window, [this] { return firmware; });
    }

    // What the window's binding reads of the service.
    void observe()
    {
        ContentViewPresenter::ControllerState state = window->controller();
        state.usbCheckState = service->usbOnboardingCheckState();
        state.hasVerifiedUsbOnboardingDevice = service->hasVerifiedUsbOnboardingDevice();
        state.usbOnboardingTarget = service->usbOnboardingTarget();
        state.usbWifiNetworks = service->usbWifiNetworks();
        state.usbFlashPhase = service->usbFlashStatus().phase;
        state.usbOnboardingNotice = service->usbOnboardingNotice();
        window->observe(state);
    }

    // The one helper run waiting for an answer, which must be `subcommand`.
    std::shared_ptr<FakeUsbEnvironment::Call> pending(const std::string& subcommand)
    {
        const auto call = usb.onlyPending();
        EXPECT_TRUE(call != nullptr) << "expected one run of " << subcommand << ", " << usb.pending().size()
                                     << " waiting";
        if (call) {
            EXPECT_EQ(call->subcommand(), subcommand);
        }
        return call;
    }

    void answer(const std::string& subcommand, const std::string& output, const std::vector<std::string>& lines = {})
    {
        if (const auto call = pending(subcommand)) {
            usb.succeed(call, output, lines);
        }
    }

    // Lets every other waiting run end quietly (a stopped probe, a stage change) until `subcommand`
    // is the only one left.
    void answerOthersUntil(const std::string& subcommand)
    {
        for (int round = 0; round < 16; ++round) {
            const auto open = usb.pending();
            bool others = false;
            for (const auto& call : open) {
                if (call->subcommand() != subcommand) {
                    others = true;
                    usb.succeed(call, "");
                }
            }
            if (!others) {
                return;
            }
        }
    }

    void finishDownload()
    {
        ASSERT_FALSE(downloads.empty());
        const std::string bytes(4096, 'x');
        downloads.back()(UsbOnboardingService::DownloadResult { Data(bytes.begin(), bytes.end()), "" });
    }

    // Presses the alert button with that text.
    void answerAlert(const std::string& button)
    {
        const auto* alert = window->alerts().current();
        ASSERT_NE(alert, nullptr);
        for (std::size_t index = 0; index < alert->buttons.size(); ++index) {
            if (alert->buttons[index].text == button) {
                window->alerts().answer(index);
                return;
            }
        }
        FAIL() << "no button " << button;
    }

    static std::string scanOutput()
    {
        return "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"Home\",\"rssi\":-50,\"channel\":6,\"auth\":\"wpa2\"}\n"
               "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"Cafe\",\"rssi\":-70,\"channel\":1,\"auth\":\"open\"}\n"
               "USB_WIFI_SCAN {\"type\":\"done\"}\n";
    }
    static std::string probePass(UsbOnboardingTarget target)
    {
        return R"(USB_PROBE_RESULT {"type":"result","result":"pass","target":")" + rawValue(target) + R"("})";
    }
    static std::string wifiPass()
    {
        return R"(USB_WIFI_TEST {"type":"wifi-test","result":"pass","rssi":-50,"channel":6})";
    }
};

} // namespace tavrik::test
