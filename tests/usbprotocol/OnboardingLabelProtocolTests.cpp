#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocol.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {
namespace {

using Stage = OnboardingLabelStage;
using Error = OnboardingLabelProtocolError;

// A mask whose every byte differs from its neighbours and from the other stages' masks, so any
// shifted, reordered or swapped rows show.
Data patternedMask(Stage stage)
{
    Data mask(OnboardingLabelProtocol::fullMaskBytes);
    for (std::size_t index = 0; index < mask.size(); ++index) {
        mask[index] = static_cast<std::uint8_t>(index * 7 + rawValue(stage) * 31 + 1);
    }
    return mask;
}

std::map<Stage, Data> patternedMasks()
{
    std::map<Stage, Data> masks;
    for (const Stage stage : allOnboardingLabelStages) {
        masks[stage] = patternedMask(stage);
    }
    return masks;
}

Data bytes(std::initializer_list<Data> parts)
{
    Data joined;
    for (const Data& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

Data text(const std::string& value)
{
    return Data(value.begin(), value.end());
}

template <typename Operation>
Error errorOf(Operation operation)
{
    try {
        operation();
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "no OnboardingLabelProtocolError thrown";
    return Error::invalidMagic();
}

TEST(OnboardingLabelStage, RawValuesNamesAndLayouts)
{
    struct Row {
        Stage stage;
        std::uint8_t raw;
        const char* name;
        OnboardingLabelLayout layout;
        std::size_t frameBytes;
    };
    const Row rows[] = {
        { Stage::pressButton, 0, "pressButton", { 10, 14 }, 285 },
        { Stage::startingWifi, 1, "startingWifi", { 10, 14 }, 285 },
        { Stage::scanningWifi, 2, "scanningWifi", { 10, 14 }, 285 },
        { Stage::selectWifi, 3, "selectWifi", { 10, 14 }, 285 },
        { Stage::checkingWifi, 4, "checkingWifi", { 10, 14 }, 285 },
        { Stage::readyToInstall, 5, "readyToInstall", { 0, 34 }, 685 },
        { Stage::installingTavrik, 6, "installingTavrik", { 0, 34 }, 685 },
        { Stage::holdToAbort, 7, "holdToAbort", { 0, 34 }, 685 },
    };
    ASSERT_EQ(std::size(rows), allOnboardingLabelStages.size());
    for (std::size_t index = 0; index < std::size(rows); ++index) {
        const Row& row = rows[index];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(allOnboardingLabelStages[index], row.stage);
        EXPECT_EQ(rawValue(row.stage), row.raw);
        EXPECT_EQ(onboardingLabelStageFromRawValue(row.raw), row.stage);
        EXPECT_EQ(caseName(row.stage), row.name);
        EXPECT_EQ(layout(row.stage), row.layout);
        EXPECT_EQ(
            OnboardingLabelProtocol::makeFrameFromFullMask(row.stage, patternedMask(row.stage)).size(), row.frameBytes);
    }
    for (unsigned value = 8; value <= 255; ++value) {
        EXPECT_EQ(onboardingLabelStageFromRawValue(static_cast<std::uint8_t>(value)), std::nullopt) << value;
    }
}

TEST(OnboardingLabelProtocol, FrameIsMarkerStageByteAndTheStageRows)
{
    for (const Stage stage : allOnboardingLabelStages) {
        SCOPED_TRACE(std::string(caseName(stage)));
        const Data mask = patternedMask(stage);
        const Data frame = OnboardingLabelProtocol::makeFrameFromFullMask(stage, mask);
        const auto [firstRow, rowCount] = layout(stage);
        const Data rows(mask.begin() + firstRow * 20, mask.begin() + (firstRow + rowCount) * 20);
        EXPECT_EQ(frame, bytes({ text("TLM1"), { rawValue(stage) }, rows }));
        EXPECT_EQ(OnboardingLabelProtocol::makeFrame(stage, rows), frame);
    }
    // The band stages carry mask bytes 200 to 479 exactly.
    const Data mask = patternedMask(Stage::checkingWifi);
    const Data frame = OnboardingLabelProtocol::makeFrameFromFullMask(Stage::checkingWifi, mask);
    EXPECT_EQ(frame[5], mask[200]);
    EXPECT_EQ(frame.back(), mask[479]);
}

// The mask is the label image turned by 180 degrees, 20 bytes a row, the most significant bit the
// leftmost pixel of its eight. The pack must carry those bytes untouched, so a pixel of the image
// arrives at a predictable byte and bit of the frame.
TEST(OnboardingLabelProtocol, ImagePixelsLandAtTheirTurnedBitInTheFrame)
{
    struct Pixel {
        const char* name;
        Stage stage;
        int imageX;
        int imageY;
        std::optional<std::size_t> payloadByte;
        std::uint8_t bit;
    };
    const Pixel pixels[] = {
        { "bottom-right of the label", Stage::holdToAbort, 159, 33, 0, 0x80 },
        { "top-left of the label", Stage::holdToAbort, 0, 0, 679, 0x01 },
        { "eighth pixel from the right, bottom row", Stage::readyToInstall, 152, 33, 0, 0x01 },
        { "ninth pixel from the right, bottom row", Stage::readyToInstall, 151, 33, 1, 0x80 },
        { "top-left of the band", Stage::pressButton, 0, 10, 279, 0x01 },
        { "bottom-right of the band", Stage::pressButton, 159, 23, 0, 0x80 },
        { "bottom-left of the band", Stage::selectWifi, 0, 23, 19, 0x01 },
        { "just above the band", Stage::checkingWifi, 40, 9, std::nullopt, 0 },
        { "just below the band", Stage::scanningWifi, 40, 24, std::nullopt, 0 },
    };
    for (const Pixel& pixel : pixels) {
        SCOPED_TRACE(pixel.name);
        const int maskRow = 33 - pixel.imageY;
        const int maskColumn = 159 - pixel.imageX;
        Data mask(680);
        mask[static_cast<std::size_t>(maskRow * 20 + maskColumn / 8)]
            = static_cast<std::uint8_t>(0x80 >> (maskColumn % 8));

        const Data frame = OnboardingLabelProtocol::makeFrameFromFullMask(pixel.stage, mask);
        Data expectedPayload(frame.size() - 5);
        if (pixel.payloadByte) {
            expectedPayload[*pixel.payloadByte] = pixel.bit;
        }
        EXPECT_EQ(Data(frame.begin() + 5, frame.end()), expectedPayload);
    }
}

TEST(OnboardingLabelProtocol, PackRoundTrip)
{
    const auto masks = patternedMasks();
    const Data pack = OnboardingLabelProtocol::makePack(masks);
    ASSERT_EQ(pack.size(), 3480u);

    Data expected;
    std::vector<OnboardingLabelFrame> expectedFrames;
    for (const Stage stage : allOnboardingLabelStages) {
        const Data frame = OnboardingLabelProtocol::makeFrameFromFullMask(stage, masks.at(stage));
        expected.insert(expected.end(), frame.begin(), frame.end());
        expectedFrames.push_back({ stage, Data(frame.begin() + 5, frame.end()) });
    }
    EXPECT_EQ(pack, expected);
    EXPECT_EQ(text("TLM1\x05"), Data(pack.begin() + 5 * 285, pack.begin() + 5 * 285 + 5));
    EXPECT_EQ(text("TLM1\x07"), Data(pack.end() - 685, pack.end() - 680));

    const auto frames = OnboardingLabelProtocol::validatePack(pack);
    EXPECT_EQ(frames, expectedFrames);
    for (const OnboardingLabelFrame& frame : frames) {
        const Data& mask = masks.at(frame.stage);
        const auto [firstRow, rowCount] = layout(frame.stage);
        EXPECT_EQ(frame.payload, Data(mask.begin() + firstRow * 20, mask.begin() + (firstRow + rowCount) * 20))
            << caseName(frame.stage);
    }
}

TEST(OnboardingLabelProtocol, ReadsFramesInAnyOrder)
{
    const auto masks = patternedMasks();
    Data pack;
    std::vector<OnboardingLabelFrame> expected;
    for (auto stage = allOnboardingLabelStages.rbegin(); stage != allOnboardingLabelStages.rend(); ++stage) {
        const Data frame = OnboardingLabelProtocol::makeFrameFromFullMask(*stage, masks.at(*stage));
        pack.insert(pack.end(), frame.begin(), frame.end());
        expected.push_back({ *stage, Data(frame.begin() + 5, frame.end()) });
    }
    EXPECT_EQ(OnboardingLabelProtocol::validatePack(pack), expected);
}

TEST(OnboardingLabelProtocol, ErrorDescriptions)
{
    const std::pair<Error, std::string> cases[] = {
        { Error::invalidMaskSize(680, 679), "Onboarding label mask must contain 680 bytes, got 679." },
        { Error::unknownStage(200), "Onboarding label data contains unknown stage 200." },
        { Error::invalidPayloadSize(Stage::holdToAbort, 680, 280),
            "Onboarding label holdToAbort must contain 680 bytes, got 280." },
        { Error::duplicateStage(Stage::selectWifi), "Onboarding label data contains stage selectWifi more than once." },
        { Error::missingStage(Stage::readyToInstall), "Onboarding label data is missing stage readyToInstall." },
        { Error::truncatedFrame(), "Onboarding label data contains a truncated frame." },
        { Error::invalidMagic(), "Onboarding label data has an invalid frame marker." },
    };
    for (const auto& [error, description] : cases) {
        EXPECT_EQ(std::string(error.what()), description);
    }
    EXPECT_EQ(Error::missingStage(Stage::pressButton), Error::missingStage(Stage::pressButton));
    EXPECT_FALSE(Error::missingStage(Stage::pressButton) == Error::duplicateStage(Stage::pressButton));
    EXPECT_FALSE(Error::invalidMaskSize(680, 679) == Error::invalidMaskSize(680, 681));
}

// Callers read the stage and sizes off a refusal, so the values must be the ones of the fault
// itself, each in its own field.
TEST(OnboardingLabelProtocol, RefusalsCarryTheirValues)
{
    const Data pressButtonFrame = OnboardingLabelProtocol::makeFrameFromFullMask(Stage::pressButton, Data(680));
    struct Case {
        const char* name;
        std::function<void()> operation;
        Error::Kind kind;
        std::optional<Stage> stage;
        std::uint8_t unknownStageValue;
        std::size_t expected;
        std::size_t actual;
    };
    const Case cases[] = {
        { "short mask", [] { OnboardingLabelProtocol::makeFrameFromFullMask(Stage::pressButton, Data(679)); },
            Error::Kind::invalidMaskSize, std::nullopt, 0, 680, 679 },
        { "band payload for a full stage", [] { OnboardingLabelProtocol::makeFrame(Stage::holdToAbort, Data(280)); },
            Error::Kind::invalidPayloadSize, Stage::holdToAbort, 0, 680, 280 },
        { "stage byte 8", [] { OnboardingLabelProtocol::validatePack(text("TLM1\x08")); }, Error::Kind::unknownStage,
            std::nullopt, 8, 0, 0 },
        { "stage twice",
            [&] {
                OnboardingLabelProtocol::validatePack(bytes({ pressButtonFrame, pressButtonFrame }));
            },
            Error::Kind::duplicateStage, Stage::pressButton, 0, 0, 0 },
        { "only the first frame", [&] { OnboardingLabelProtocol::validatePack(pressButtonFrame); },
            Error::Kind::missingStage, Stage::startingWifi, 0, 0, 0 },
        { "marker alone", [] { OnboardingLabelProtocol::validatePack(text("TLM1")); }, Error::Kind::truncatedFrame,
            std::nullopt, 0, 0, 0 },
        { "wrong marker",
            [] {
                OnboardingLabelProtocol::validatePack(bytes({ text("TLM2"), { 0 } }));
            },
            Error::Kind::invalidMagic, std::nullopt, 0, 0, 0 },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const Error error = errorOf(testCase.operation);
        EXPECT_EQ(error.kind(), testCase.kind);
        EXPECT_EQ(error.stage(), testCase.stage);
        EXPECT_EQ(error.unknownStageValue(), testCase.unknownStageValue);
        EXPECT_EQ(error.expected(), testCase.expected);
        EXPECT_EQ(error.actual(), testCase.actual);
    }
}

TEST(OnboardingLabelProtocol, RefusesFramesOfTheWrongSize)
{
    struct Case {
        const char* name;
        std::function<void()> operation;
        Error expected;
    };
    const Case cases[] = {
        { "band payload for a full stage", [] { OnboardingLabelProtocol::makeFrame(Stage::holdToAbort, Data(280)); },
            Error::invalidPayloadSize(Stage::holdToAbort, 680, 280) },
        { "full payload for a band stage", [] { OnboardingLabelProtocol::makeFrame(Stage::pressButton, Data(680)); },
            Error::invalidPayloadSize(Stage::pressButton, 280, 680) },
        { "empty payload", [] { OnboardingLabelProtocol::makeFrame(Stage::checkingWifi, Data()); },
            Error::invalidPayloadSize(Stage::checkingWifi, 280, 0) },
        { "mask one byte short", [] { OnboardingLabelProtocol::makeFrameFromFullMask(Stage::pressButton, Data(679)); },
            Error::invalidMaskSize(680, 679) },
        { "mask one byte long", [] { OnboardingLabelProtocol::makeFrameFromFullMask(Stage::readyToInstall, Data(681)); },
            Error::invalidMaskSize(680, 681) },
        { "band-sized mask", [] { OnboardingLabelProtocol::makeFrameFromFullMask(Stage::selectWifi, Data(280)); },
            Error::invalidMaskSize(680, 280) },
    };
    for (const Case& testCase : cases) {
        EXPECT_EQ(errorOf(testCase.operation), testCase.expected) << testCase.name;
    }
}

TEST(OnboardingLabelProtocol, PackRefusesMissingOrMisSizedMasksInStageOrder)
{
    struct Case {
        const char* name;
        std::function<void(std::map<Stage, Data>&)> change;
        Error expected;
    };
    const Case cases[] = {
        { "no masks at all", [](auto& masks) { masks.clear(); }, Error::missingStage(Stage::pressButton) },
        { "last stage missing", [](auto& masks) { masks.erase(Stage::holdToAbort); },
            Error::missingStage(Stage::holdToAbort) },
        { "short mask", [](auto& masks) { masks[Stage::installingTavrik].pop_back(); }, Error::invalidMaskSize(680, 679) },
        { "earlier missing stage wins over a later short mask",
            [](auto& masks) {
                masks[Stage::installingTavrik].pop_back();
                masks.erase(Stage::readyToInstall);
            },
            Error::missingStage(Stage::readyToInstall) },
        { "earlier short mask wins over a later missing stage",
            [](auto& masks) {
                masks[Stage::startingWifi].push_back(0);
                masks.erase(Stage::scanningWifi);
            },
            Error::invalidMaskSize(680, 681) },
    };
    for (const Case& testCase : cases) {
        auto masks = patternedMasks();
        testCase.change(masks);
        EXPECT_EQ(errorOf([&] { OnboardingLabelProtocol::makePack(masks); }), testCase.expected) << testCase.name;
    }
}

TEST(OnboardingLabelProtocol, ValidationRefusals)
{
    const Data pack = OnboardingLabelProtocol::makePack(patternedMasks());
    const auto frameOf
        = [&](Stage stage) { return OnboardingLabelProtocol::makeFrameFromFullMask(stage, patternedMask(stage)); };
    const auto withByte = [&](std::size_t index, std::uint8_t value) {
        Data changed = pack;
        changed[index] = value;
        return changed;
    };
    // Frames 0 to 4 are 285 bytes each, so frame 4 starts at 1140.
    Data selectWifiTwice(pack.begin(), pack.begin() + 1140);
    selectWifiTwice = bytes({ selectWifiTwice, frameOf(Stage::selectWifi), Data(pack.begin() + 1425, pack.end()) });

    struct Case {
        const char* name;
        Data input;
        Error expected;
    };
    const Case cases[] = {
        { "empty input", {}, Error::missingStage(Stage::pressButton) },
        { "marker alone", text("TLM1"), Error::truncatedFrame() },
        { "short header with a wrong marker", text("XYZ"), Error::truncatedFrame() },
        { "stage byte 8", text("TLM1\x08"), Error::unknownStage(8) },
        { "stage byte 255 with a whole payload", bytes({ text("TLM1\xff"), Data(680) }), Error::unknownStage(255) },
        { "payload one byte short", bytes({ text("TLM1"), { 0 }, Data(279) }), Error::truncatedFrame() },
        { "full stage with a band payload", bytes({ text("TLM1\x05"), Data(280) }), Error::truncatedFrame() },
        { "one frame only", frameOf(Stage::pressButton), Error::missingStage(Stage::startingWifi) },
        { "wrong marker on a complete pack", withByte(3, '2'), Error::invalidMagic() },
        { "lower-case marker", withByte(0, 't'), Error::invalidMagic() },
        { "wrong marker on a later frame", withByte(285, 0), Error::invalidMagic() },
        { "stage byte 8 in a complete pack", withByte(4, 8), Error::unknownStage(8) },
        { "stage 3 twice", selectWifiTwice, Error::duplicateStage(Stage::selectWifi) },
        { "last stage missing", Data(pack.begin(), pack.end() - 685), Error::missingStage(Stage::holdToAbort) },
        { "last frame cut short", Data(pack.begin(), pack.end() - 1), Error::truncatedFrame() },
        { "four extra bytes", bytes({ pack, text("TLM1") }), Error::truncatedFrame() },
        { "five extra bytes", bytes({ pack, text("ABCDE") }), Error::invalidMagic() },
        { "extra frame header with unknown stage", bytes({ pack, text("TLM1\x09") }), Error::unknownStage(9) },
        { "extra short frame", bytes({ pack, text("TLM1"), { 0 } }), Error::truncatedFrame() },
        { "extra repeated frame", bytes({ pack, frameOf(Stage::pressButton) }),
            Error::duplicateStage(Stage::pressButton) },
    };
    for (const Case& testCase : cases) {
        EXPECT_EQ(errorOf([&] { OnboardingLabelProtocol::validatePack(testCase.input); }), testCase.expected)
            << testCase.name;
    }
}

} // namespace
} // namespace tavrik
