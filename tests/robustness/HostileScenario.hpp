#pragma once

#include "tests/robustness/HostileHost.hpp"
#include "tests/robustness/HostileInput.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace tavrik::test {

// Every action name the dispatch knows, and a few it does not.
const std::vector<std::string>& hostileActionNames();

// A well-formed example of each device message type, to be bent.
const std::vector<Json>& deviceMessageTemplates();

// A firmware image and a channel manifest that describes it truthfully for the first hardware target.
struct FirmwareRelease {
    Data image;
    Json channelManifest;
};
FirmwareRelease sampleFirmwareRelease(HostileInput& input);

// Drives one session through random moves: actions with hostile arguments and payloads, device
// messages of every type (well-formed, bent or broken), link events, stale callbacks, time jumps,
// Wi-Fi requests and answers, restores, firmware downloads and uploads, in any order. The host checks
// every response as it goes.
class HostileScenario {
public:
    HostileScenario(std::uint64_t seed, HostileHost& host);

    // Starts from a loaded physical link, a loaded simulator or no link, chosen by the seed.
    void begin();
    void run(int steps);

private:
    void hostileAction();
    void deviceMessage();
    void linkEvent();
    void timeJump();
    void firmwareStep();
    void wifiStep();
    void restoreStep();
    void answerDownload();
    void answerUpload();
    Json arguments();
    Json argumentValue(const std::string& key);
    Data payloadFor(const std::string& action);
    // Well-formed, bent, broken or empty.
    Data hostileBytes(const Json& document);

    HostileInput input;
    HostileHost& host;
    FirmwareRelease release;
    int hugeJumps = 0;
};

} // namespace tavrik::test
