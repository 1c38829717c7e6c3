#pragma once

#include "TavrikCore/Support/Data.hpp"
#include "TavrikUSBProtocol/Onboarding/OnboardingLabelStage.hpp"

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrik {

// The eight texts the board shows during setup, one per stage.
struct OnboardingLabelCopy {
    std::map<OnboardingLabelStage, std::string> labels;

    // The English texts ("PRESS BUTTON", "READY TO\nINSTALL", ...).
    static OnboardingLabelCopy localized();
};

class OnboardingLabelRendererError : public std::runtime_error {
public:
    enum class Kind { invalidLabel, missingFont, bitmapCreationFailed };

    OnboardingLabelRendererError(Kind kind, OnboardingLabelStage stage = OnboardingLabelStage::pressButton);

    Kind kind() const { return errorKind; }
    OnboardingLabelStage stage() const { return errorStage; }

private:
    Kind errorKind;
    OnboardingLabelStage errorStage;
};

// Draws the texts white on black into 160 x 34 gray labels with FreeType (one point is one pixel),
// each at the largest size from 18 down to 7 that fits, and packs them as 1-bit masks turned by
// 180 degrees for the board's display.
class OnboardingLabelRenderer {
public:
    OnboardingLabelRenderer() = delete;

    static constexpr double maximumFontSize = 18.0;
    static constexpr double minimumFontSize = 7.0;
    static constexpr double horizontalInset = 2.0;
    static constexpr int width = 160;
    static constexpr int height = 34;

    // The onboarding label pack. Throws OnboardingLabelRendererError or OnboardingLabelProtocolError.
    static Data makePack(const OnboardingLabelCopy& copy, const std::string& fontPath);
    // One label as 5,440 gray bytes, top row first, before turning and thresholding.
    static std::vector<std::uint8_t> renderGray(
        const std::string& label, OnboardingLabelStage stage, const std::string& fontPath);
    // Gray pixels (5,440) to a 680-byte mask: turned by 180 degrees, a value of 64 or more sets the
    // bit, the most significant bit of a byte is its leftmost pixel.
    static Data packForDisplay(const std::vector<std::uint8_t>& pixels);
};

} // namespace tavrik
