#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocolError.hpp"

namespace tavrik {

OnboardingLabelProtocolError::OnboardingLabelProtocolError(Kind kind, const std::string& description)
    : std::runtime_error(description)
    , kind_(kind)
{
}

OnboardingLabelProtocolError OnboardingLabelProtocolError::invalidMaskSize(std::size_t expected, std::size_t actual)
{
    OnboardingLabelProtocolError error(Kind::invalidMaskSize,
        "Onboarding label mask must contain " + std::to_string(expected) + " bytes, got " + std::to_string(actual) + ".");
    error.expected_ = expected;
    error.actual_ = actual;
    return error;
}

OnboardingLabelProtocolError OnboardingLabelProtocolError::unknownStage(std::uint8_t value)
{
    OnboardingLabelProtocolError error(Kind::unknownStage,
        "Onboarding label data contains unknown stage " + std::to_string(static_cast<unsigned>(value)) + ".");
    error.unknownStageValue_ = value;
    return error;
}

OnboardingLabelProtocolError OnboardingLabelProtocolError::invalidPayloadSize(
    OnboardingLabelStage stage, std::size_t expected, std::size_t actual)
{
    OnboardingLabelProtocolError error(Kind::invalidPayloadSize,
        "Onboarding label " + std::string(caseName(stage)) + " must contain " + std::to_string(expected)
            + " bytes, got " + std::to_string(actual) + ".");
    error.stage_ = stage;
    error.expected_ = expected;
    error.actual_ = actual;
    return error;
}

OnboardingLabelProtocolError OnboardingLabelProtocolError::duplicateStage(OnboardingLabelStage stage)
{
    OnboardingLabelProtocolError error(Kind::duplicateStage,
        "Onboarding label data contains stage " + std::string(caseName(stage)) + " more than once.");
    error.stage_ = stage;
    return error;
}

OnboardingLabelProtocolError OnboardingLabelProtocolError::missingStage(OnboardingLabelStage stage)
{
    OnboardingLabelProtocolError error(
        Kind::missingStage, "Onboarding label data is missing stage " + std::string(caseName(stage)) + ".");
    error.stage_ = stage;
    return error;
}

OnboardingLabelProtocolError OnboardingLabelProtocolError::truncatedFrame()
{
    return OnboardingLabelProtocolError(Kind::truncatedFrame, "Onboarding label data contains a truncated frame.");
}

OnboardingLabelProtocolError OnboardingLabelProtocolError::invalidMagic()
{
    return OnboardingLabelProtocolError(Kind::invalidMagic, "Onboarding label data has an invalid frame marker.");
}

} // namespace tavrik
