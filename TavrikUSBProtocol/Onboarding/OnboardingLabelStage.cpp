#include "TavrikUSBProtocol/Onboarding/OnboardingLabelStage.hpp"

namespace tavrik {

std::optional<OnboardingLabelStage> onboardingLabelStageFromRawValue(std::uint8_t rawValue)
{
    if (rawValue >= allOnboardingLabelStages.size()) {
        return std::nullopt;
    }
    return static_cast<OnboardingLabelStage>(rawValue);
}

std::string_view caseName(OnboardingLabelStage stage)
{
    switch (stage) {
    case OnboardingLabelStage::pressButton:
        return "pressButton";
    case OnboardingLabelStage::startingWifi:
        return "startingWifi";
    case OnboardingLabelStage::scanningWifi:
        return "scanningWifi";
    case OnboardingLabelStage::selectWifi:
        return "selectWifi";
    case OnboardingLabelStage::checkingWifi:
        return "checkingWifi";
    case OnboardingLabelStage::readyToInstall:
        return "readyToInstall";
    case OnboardingLabelStage::installingTavrik:
        return "installingTavrik";
    case OnboardingLabelStage::holdToAbort:
        return "holdToAbort";
    }
    return "unknown";
}

OnboardingLabelLayout layout(OnboardingLabelStage stage)
{
    if (rawValue(stage) < 5) {
        return { 10, 14 };
    }
    return { 0, 34 };
}

} // namespace tavrik
