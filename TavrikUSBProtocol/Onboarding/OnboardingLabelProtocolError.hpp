#pragma once

#include "TavrikUSBProtocol/Onboarding/OnboardingLabelStage.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace tavrik {

// Why a label frame or pack could not be built or read. `what()` is the user text.
class OnboardingLabelProtocolError : public std::runtime_error {
public:
    enum class Kind {
        invalidMaskSize,
        unknownStage,
        invalidPayloadSize,
        duplicateStage,
        missingStage,
        truncatedFrame,
        invalidMagic,
    };

    static OnboardingLabelProtocolError invalidMaskSize(std::size_t expected, std::size_t actual);
    static OnboardingLabelProtocolError unknownStage(std::uint8_t value);
    static OnboardingLabelProtocolError invalidPayloadSize(
        OnboardingLabelStage stage, std::size_t expected, std::size_t actual);
    static OnboardingLabelProtocolError duplicateStage(OnboardingLabelStage stage);
    static OnboardingLabelProtocolError missingStage(OnboardingLabelStage stage);
    static OnboardingLabelProtocolError truncatedFrame();
    static OnboardingLabelProtocolError invalidMagic();

    Kind kind() const { return kind_; }
    // The stage of `invalidPayloadSize`, `duplicateStage` and `missingStage`.
    std::optional<OnboardingLabelStage> stage() const { return stage_; }
    // The stage byte of `unknownStage`; 0 otherwise.
    std::uint8_t unknownStageValue() const { return unknownStageValue_; }
    // The sizes of `invalidMaskSize` and `invalidPayloadSize`; 0 otherwise.
    std::size_t expected() const { return expected_; }
    std::size_t actual() const { return actual_; }

    friend bool operator==(const OnboardingLabelProtocolError& left, const OnboardingLabelProtocolError& right)
    {
        return left.kind_ == right.kind_ && left.stage_ == right.stage_
            && left.unknownStageValue_ == right.unknownStageValue_ && left.expected_ == right.expected_
            && left.actual_ == right.actual_;
    }

private:
    OnboardingLabelProtocolError(Kind kind, const std::string& description);

    Kind kind_;
    std::optional<OnboardingLabelStage> stage_;
    std::uint8_t unknownStageValue_ = 0;
    std::size_t expected_ = 0;
    std::size_t actual_ = 0;
};

} // namespace tavrik
