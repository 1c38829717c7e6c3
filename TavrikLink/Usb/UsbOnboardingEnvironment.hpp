#pragma once

#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Scheduler.hpp"
#include "TavrikLink/Usb/ProcessRunner.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QObject;

namespace tavrik {

// Everything the onboarding service needs of the outside world, so tests can replace it.
struct UsbOnboardingEnvironment {
    using Run = std::function<UsbCancel(const std::string& executable, const std::vector<std::string>& arguments,
        std::optional<Data> standardInput, UsbRunCompletion completion)>;
    using RunStreaming = std::function<UsbCancel(const std::string& executable,
        const std::vector<std::string>& arguments, UsbLineCallback onLine, UsbRunCompletion completion)>;

    // The helper executable's path; throws UsbError when it cannot be found.
    std::function<std::string()> helperPath;
    // The current candidate serial ports as full paths.
    std::function<std::vector<std::string>()> serialPorts;
    // Whether monitoring watches for port changes at all.
    bool monitorDeviceChanges = true;
    // Watches the device directory and calls back on a change; nothing when it cannot be watched.
    std::function<std::unique_ptr<QObject>(std::function<void()> onChange)> watchDeviceChanges;
    Run run;
    RunStreaming runStreaming;
    // The probe image of a hardware target id, when the program has one.
    std::function<std::optional<std::string>(const std::string& targetId)> probeImagePath;
    // The onboarding display font.
    std::function<std::string()> labelFontPath;
    // Polling and the pauses after a flash.
    Scheduler* scheduler = nullptr;
    // Local time and zone for the board's clock.
    const Clock* clock = &systemClock();

    // The helper beside the executable, "/dev", the process runner and the installed resources.
    static UsbOnboardingEnvironment live(Scheduler& scheduler, const Clock& clock = systemClock());
};

} // namespace tavrik
