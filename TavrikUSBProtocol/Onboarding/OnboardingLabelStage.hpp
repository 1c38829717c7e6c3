#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tavrik {

// The rows of the label that a stage's frame carries, top row first.
struct OnboardingLabelLayout {
    int firstRow = 0;
    int rowCount = 0;

    friend bool operator==(const OnboardingLabelLayout&, const OnboardingLabelLayout&) = default;
};

// One setup instruction the board can show. The raw value is the stage byte of its frame.
enum class OnboardingLabelStage : std::uint8_t {
    pressButton = 0,
    startingWifi = 1,
    scanningWifi = 2,
    selectWifi = 3,
    checkingWifi = 4,
    readyToInstall = 5,
    installingTavrik = 6,
    holdToAbort = 7,
};

// Raw-value order, which is also the order of the frames in a pack.
inline constexpr std::array<OnboardingLabelStage, 8> allOnboardingLabelStages {
    OnboardingLabelStage::pressButton,
    OnboardingLabelStage::startingWifi,
    OnboardingLabelStage::scanningWifi,
    OnboardingLabelStage::selectWifi,
    OnboardingLabelStage::checkingWifi,
    OnboardingLabelStage::readyToInstall,
    OnboardingLabelStage::installingTavrik,
    OnboardingLabelStage::holdToAbort,
};

constexpr std::uint8_t rawValue(OnboardingLabelStage stage)
{
    return static_cast<std::uint8_t>(stage);
}

// The stage for 0 to 7; nothing for 8 and above.
std::optional<OnboardingLabelStage> onboardingLabelStageFromRawValue(std::uint8_t rawValue);

// "pressButton", "startingWifi", ...: how messages name the stage.
std::string_view caseName(OnboardingLabelStage stage);

// The one-line stages 0 to 4 carry only the middle band, rows 10 to 23; the others the whole label.
OnboardingLabelLayout layout(OnboardingLabelStage stage);

} // namespace tavrik
