#pragma once

#include "TavrikLink/Usb/UsbOnboardingEnvironment.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/ManualScheduler.hpp"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

namespace tavrik::test {

// A scripted USB world: the ports present, the helper's runs as they were asked for (each answered
// by the test), a device-directory watch the test can fire, and virtual time.
class FakeUsbEnvironment {
public:
    struct Call {
        std::string executable;
        std::vector<std::string> arguments;
        std::optional<Data> input;
        bool streaming = false;
        UsbLineCallback onLine;
        UsbRunCompletion completion;
        bool cancelled = false;
        bool answered = false;
        // Requests to stop: the first is SIGTERM, a further one SIGKILL.
        int stopRequests = 0;

        const std::string& subcommand() const { return arguments.front(); }
    };

    ManualScheduler scheduler;
    ManualClock clock;
    std::vector<std::string> ports;
    bool helperMissing = false;
    std::optional<std::string> probeImage = std::string(TAVRIK_TEST_FIXTURES) + "/usb/probe-image.bin";
    std::vector<std::shared_ptr<Call>> calls;
    std::function<void()> fireWatch;
    int watchesStarted = 0;
    // Helpers that hang: they ignore SIGTERM and end only when killed.
    bool helpersIgnoreTerminate = false;

    UsbOnboardingEnvironment environment()
    {
        UsbOnboardingEnvironment environment;
        environment.helperPath = [this] {
            if (helperMissing) {
                throw UsbError(
                    UsbError::firmwareDomain, 11, "Tavrik Link could not locate the bundled USB flasher helper.");
            }
            return std::string("/opt/tavrik/TavrikUSBFlasher");
        };
        environment.serialPorts = [this] { return ports; };
        environment.watchDeviceChanges = [this](std::function<void()> onChange) {
            ++watchesStarted;
            fireWatch = onChange;
            return std::make_unique<QObject>();
        };
        environment.run = [this](const std::string& executable, const std::vector<std::string>& arguments,
                              std::optional<Data> input, UsbRunCompletion completion) {
            return record(std::make_shared<Call>(
                Call { executable, arguments, std::move(input), false, {}, std::move(completion) }));
        };
        environment.runStreaming = [this](const std::string& executable, const std::vector<std::string>& arguments,
                                       UsbLineCallback onLine, UsbRunCompletion completion) {
            return record(std::make_shared<Call>(
                Call { executable, arguments, std::nullopt, true, std::move(onLine), std::move(completion) }));
        };
        environment.probeImagePath = [this](const std::string&) { return probeImage; };
        environment.labelFontPath = [] { return std::string(TAVRIK_LINK_RESOURCES) + "/Fonts/OpenGorton-Regular.otf"; };
        environment.scheduler = &scheduler;
        environment.clock = &clock;
        return environment;
    }

    // Runs not answered yet.
    std::vector<std::shared_ptr<Call>> pending() const
    {
        std::vector<std::shared_ptr<Call>> open;
        for (const auto& call : calls) {
            if (!call->answered) {
                open.push_back(call);
            }
        }
        return open;
    }

    std::shared_ptr<Call> onlyPending() const
    {
        const auto open = pending();
        return open.size() == 1 ? open.front() : nullptr;
    }

    // Lines first (as the helper prints them), then the exit.
    void succeed(const std::shared_ptr<Call>& call, const std::string& output, const std::vector<std::string>& lines = {})
    {
        for (const auto& line : lines) {
            if (call->onLine) {
                call->onLine(line);
            }
        }
        answer(call, UsbRunOutcome::success(output));
    }

    void fail(const std::shared_ptr<Call>& call, int code, const std::string& text)
    {
        answer(call, UsbRunOutcome::failure(UsbError(UsbError::processDomain, code, text)));
    }

    int count(const std::string& subcommand) const
    {
        int found = 0;
        for (const auto& call : calls) {
            found += call->subcommand() == subcommand ? 1 : 0;
        }
        return found;
    }

private:
    UsbCancel record(std::shared_ptr<Call> call)
    {
        calls.push_back(call);
        std::weak_ptr<Call> weak = call;
        // Like the real runner: a terminated helper still ends, as a failed run.
        return [this, weak] {
            const auto call = weak.lock();
            if (!call || call->answered) {
                return;
            }
            const bool kill = ++call->stopRequests > 1;
            if (call->cancelled || (helpersIgnoreTerminate && !kill)) {
                return;
            }
            call->cancelled = true;
            scheduler.schedule(std::chrono::milliseconds(0), [this, call, kill] {
                fail(call, kill ? 128 + 9 : 143, kill ? "" : "Stopped; the serial port was released.");
            });
        };
    }

    void answer(const std::shared_ptr<Call>& call, UsbRunOutcome outcome)
    {
        if (call->answered) {
            return;
        }
        call->answered = true;
        auto completion = std::move(call->completion);
        completion(std::move(outcome));
    }
};

} // namespace tavrik::test
