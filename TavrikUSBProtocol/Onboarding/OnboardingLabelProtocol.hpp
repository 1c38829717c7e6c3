#pragma once

#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocolError.hpp"
#include "TavrikUSBProtocol/Onboarding/OnboardingLabelStage.hpp"
#include "TavrikUSBProtocol/Support/Data.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace tavrik {

// One stage's label rows as they stand in a pack.
struct OnboardingLabelFrame {
    OnboardingLabelStage stage = OnboardingLabelStage::pressButton;
    Data payload;

    friend bool operator==(const OnboardingLabelFrame&, const OnboardingLabelFrame&) = default;
};

// The label pack the application hands to the USB helper: one frame per stage, each "TLM1", the
// stage byte and the stage's rows of a 1-bit label mask, concatenated with nothing in between.
// Mask bytes are copied as they are; their bit layout is the renderer's business.
// Every operation throws OnboardingLabelProtocolError.
class OnboardingLabelProtocol {
public:
    OnboardingLabelProtocol() = delete;

    static constexpr int width = 160;
    static constexpr int height = 34;
    static constexpr std::size_t rowBytes = 20;
    static constexpr std::size_t fullMaskBytes = 680;
    static constexpr std::array<std::uint8_t, 4> frameMagic { 'T', 'L', 'M', '1' };

    // `payload`: the stage's rows already cut from the mask (280 or 680 bytes).
    static Data makeFrame(OnboardingLabelStage stage, const Data& payload);
    // `fullMask`: all 34 rows of the label; the stage's rows are cut out of it.
    static Data makeFrameFromFullMask(OnboardingLabelStage stage, const Data& fullMask);
    // Frames of all eight stages in raw-value order. The first stage in that order without a mask
    // or with a mask of the wrong size decides the error.
    static Data makePack(const std::map<OnboardingLabelStage, Data>& fullMasks);
    // Reads frames in any order; each stage must occur exactly once. The frames come back in the
    // order they stood in the pack.
    static std::vector<OnboardingLabelFrame> validatePack(const Data& pack);
};

} // namespace tavrik
