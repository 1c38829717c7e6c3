#pragma once

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "tests/controller/ControllerProbe.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/qt/FakeBleCentral.hpp"
#include "tests/support/qt/FakeTavrik.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavrik::test {

// Where the errors of each edit channel show; the settings channel's go to the log.
struct ChannelErrorCase {
    AtomicCommandChannel channel;
    std::function<std::optional<std::string>(const TavrikBleCentral&)> error;
};
inline std::vector<ChannelErrorCase> channelErrorCases()
{
    return {
        { AtomicCommandChannel::schedule, [](const TavrikBleCentral& c) { return c.scheduleError(); } },
        { AtomicCommandChannel::tag, [](const TavrikBleCentral& c) { return c.tagError(); } },
        { AtomicCommandChannel::routine, [](const TavrikBleCentral& c) { return c.routineError(); } },
        { AtomicCommandChannel::steps, [](const TavrikBleCentral& c) { return c.routineError(); } },
        { AtomicCommandChannel::groups, [](const TavrikBleCentral& c) { return c.routineError(); } },
    };
}

// A controller on virtual time, a fake adapter and, when asked, a fake Tavrik in range.
class ControllerTest : public ::testing::Test {
protected:
    ManualScheduler scheduler;
    FakeBleCentral central { scheduler };
    ManualClock clock;
    SequenceRandomSource random;
    InMemoryKeyValueStore defaults;
    std::unique_ptr<FakeTavrik> device;
    std::unique_ptr<TavrikBleCentral> controller;

    ~ControllerTest() override
    {
        controller.reset();
        device.reset();
    }

    FakeTavrik& addDevice(TavrikBleProtocolProfile profile = TavrikBleProtocolProfile::secureV2)
    {
        if (device) {
            central.removePeripheral(device->peripheral());
        }
        device = std::make_unique<FakeTavrik>(scheduler, central, profile);
        return *device;
    }

    TavrikBleCentral& makeController()
    {
        controller = std::make_unique<TavrikBleCentral>(TavrikBleCentral::Environment {
            central, scheduler, clock, random, defaults, "/nonexistent/local-link", false, {} });
        return *controller;
    }

    ControllerProbe probe() { return ControllerProbe(*controller); }

    // Runs every callback that is due now, including those they schedule.
    void settle() { scheduler.runDue(); }

    // Start-up, a load session and the whole sync exchange with the fake device.
    void loadFromDevice()
    {
        if (!controller) {
            makeController();
        }
        controller->beginSession(SyncMode::load);
        settle();
    }

    bool logContains(const std::string& text) const
    {
        const auto& items = controller->logItems();
        return std::any_of(items.begin(), items.end(), [&](const TavrikLogEntry& entry) { return entry.text == text; });
    }

    // How often the device was told "system:disconnect".
    std::size_t disconnectsSent() const
    {
        const std::vector<std::string> all = device->receivedCommands();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), std::string("system:disconnect")));
    }

    // Runs the idle minute out from a fresh start; true when it ended the link. Work that still
    // holds the command connection keeps the link up. The minute must really be counting, so a
    // link it never watches cannot pass for one that is held; its countdown is shown exactly when
    // it ends the link.
    bool idleMinuteEndsLink()
    {
        const std::size_t before = disconnectsSent();
        controller->recordUserInteraction();
        scheduler.advance(std::chrono::seconds(TavrikBleCentral::idleDisconnectTimeoutSeconds - 1));
        EXPECT_TRUE(ControllerProbe(*controller).idleMinuteRunning()) << "the idle minute is not counting";
        const std::optional<int> shown = controller->idleDisconnectSecondsRemaining();
        scheduler.advance(std::chrono::seconds(1));
        const bool ended = disconnectsSent() > before;
        EXPECT_EQ(shown, ended ? std::optional<int>(1) : std::nullopt) << "the countdown promised otherwise";
        return ended;
    }

    // Switches Bluetooth off and on again; true when the controller then looks for the device, as it
    // does while some work still wants the link.
    bool bluetoothReturningLooksForTheDevice()
    {
        central.changeState(BleManagerState::poweredOff);
        settle();
        const int scans = central.scanCount;
        central.changeState(BleManagerState::poweredOn);
        settle();
        return central.scanCount > scans;
    }

    std::vector<std::string> logTexts() const
    {
        std::vector<std::string> texts;
        for (const TavrikLogEntry& entry : controller->logItems()) {
            texts.push_back(entry.text);
        }
        return texts;
    }
};

} // namespace tavrik::test
