#include "TavrikLink/Usb/UsbOnboardingEnvironment.hpp"

#include "TavrikLink/Support/TavrikLinkFirmwareError.hpp"
#include "TavrikLink/Support/TavrikResources.hpp"
#include "TavrikLink/Usb/UsbError.hpp"
#include "TavrikLink/Usb/UsbSerialPorts.hpp"

#include <QObject>

namespace tavrik {

UsbOnboardingEnvironment UsbOnboardingEnvironment::live(Scheduler& scheduler, const Clock& clock)
{
    UsbOnboardingEnvironment environment;
    environment.helperPath = [] {
        try {
            return TavrikResources::forApplication().bundledUSBFlasher().toStdString();
        } catch (const TavrikLinkFirmwareError& error) {
            // The USB service tells its failures apart by UsbError's domain and code.
            throw UsbError(UsbError::firmwareDomain, error.code(), error.what());
        }
    };
    environment.serialPorts = [] { return UsbSerialPorts::list("/dev"); };
    environment.monitorDeviceChanges = true;
    environment.watchDeviceChanges
        = [](std::function<void()> onChange) { return UsbSerialPorts::watch("/dev", std::move(onChange)); };
    environment.run = &ProcessRunner::run;
    environment.runStreaming = &ProcessRunner::runStreaming;
    environment.probeImagePath = [](const std::string& targetId) -> std::optional<std::string> {
        if (const auto image = TavrikResources::forApplication().probeImagePath(QString::fromStdString(targetId))) {
            return image->toStdString();
        }
        return std::nullopt;
    };
    environment.labelFontPath = [] { return TavrikResources::forApplication().labelFontPath().toStdString(); };
    environment.scheduler = &scheduler;
    environment.clock = &clock;
    return environment;
}

} // namespace tavrik
