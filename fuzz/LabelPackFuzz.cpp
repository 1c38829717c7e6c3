// A label pack handed to the probe: accepted frames must describe exactly the bytes they came from,
// everything else is refused with the label error.
#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocol.hpp"
#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocolError.hpp"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tavrik;
    const Data pack(data, data + size);
    std::vector<OnboardingLabelFrame> frames;
    try {
        frames = OnboardingLabelProtocol::validatePack(pack);
    } catch (const OnboardingLabelProtocolError&) {
        return 0;
    }
    Data rebuilt;
    for (const OnboardingLabelFrame& frame : frames) {
        const Data bytes = OnboardingLabelProtocol::makeFrame(frame.stage, frame.payload);
        rebuilt.insert(rebuilt.end(), bytes.begin(), bytes.end());
    }
    if (rebuilt != pack) {
        std::abort();
    }
    return 0;
}
