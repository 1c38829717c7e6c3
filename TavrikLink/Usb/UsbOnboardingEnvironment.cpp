#include "TavrikLink/Usb/UsbOnboardingEnvironment.hpp"

#include "TavrikLink/Usb/UsbResources.hpp"
#include "TavrikLink/Usb/UsbSerialPorts.hpp"

#include <QObject>

namespace tavrik {

UsbOnboardingEnvironment UsbOnboardingEnvironment::live(Scheduler& scheduler, const Clock& clock)
{
    UsbOnboardingEnvironment environment;
    environment.helperPath = [] { return UsbResources::bundledUsbFlasher(); };
    environment.serialPorts = [] { return UsbSerialPorts::list("/dev"); };
    environment.monitorDeviceChanges = true;
    environment.watchDeviceChanges
        = [](std::function<void()> onChange) { return UsbSerialPorts::watch("/dev", std::move(onChange)); };
    environment.run = &ProcessRunner::run;
    environment.runStreaming = &ProcessRunner::runStreaming;
    environment.probeImagePath = [](const std::string& targetId) { return UsbResources::probeImagePath(targetId); };
    environment.labelFontPath = [] { return UsbResources::labelFontPath(); };
    environment.scheduler = &scheduler;
    environment.clock = &clock;
    return environment;
}

} // namespace tavrik
