#include "TavrikUSBProtocol/Bootloader/ESPBootloaderResponse.hpp"
#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocol.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <random>
#include <typeinfo>
#include <vector>

namespace tavrik {
namespace {

using Stage = OnboardingLabelStage;

std::vector<Data> shuffledFrames(std::mt19937_64& random)
{
    std::vector<Data> frames;
    for (const Stage stage : allOnboardingLabelStages) {
        Data mask(OnboardingLabelProtocol::fullMaskBytes);
        std::generate(mask.begin(), mask.end(), [&] { return static_cast<std::uint8_t>(random()); });
        frames.push_back(OnboardingLabelProtocol::makeFrameFromFullMask(stage, mask));
    }
    std::shuffle(frames.begin(), frames.end(), random);
    return frames;
}

Data joined(const std::vector<Data>& frames)
{
    Data pack;
    for (const Data& frame : frames) {
        pack.insert(pack.end(), frame.begin(), frame.end());
    }
    return pack;
}

// A pack the USB helper might be handed: whole, or cut, bent, padded, short of a frame or with one twice.
Data damagedPack(std::mt19937_64& random)
{
    std::vector<Data> frames = shuffledFrames(random);
    const auto below = [&](std::size_t count) { return count == 0 ? 0 : static_cast<std::size_t>(random() % count); };
    switch (below(9)) {
    case 0:
        return joined(frames);
    case 1:
        frames.erase(frames.begin() + static_cast<std::ptrdiff_t>(below(frames.size())));
        return joined(frames);
    case 2:
        frames.push_back(frames[below(frames.size())]);
        return joined(frames);
    default:
        break;
    }
    Data pack = joined(frames);
    switch (below(6)) {
    case 0:
        pack.resize(below(pack.size()));
        break;
    case 1:
        pack[below(pack.size())] ^= static_cast<std::uint8_t>(1U << below(8));
        break;
    case 2: {
        // A stage byte replaced by any value, known or not.
        std::size_t offset = 0;
        for (std::size_t index = below(frames.size()); index > 0; --index) {
            offset += frames[index - 1].size();
        }
        pack[offset + OnboardingLabelProtocol::frameMagic.size()] = static_cast<std::uint8_t>(random());
        break;
    }
    case 3:
        pack.insert(
            pack.begin() + static_cast<std::ptrdiff_t>(below(pack.size() + 1)), static_cast<std::uint8_t>(random()));
        break;
    case 4:
        pack.resize(pack.size() + 1 + below(700), static_cast<std::uint8_t>(random()));
        break;
    default:
        pack.resize(below(40));
        std::generate(pack.begin(), pack.end(), [&] { return static_cast<std::uint8_t>(random()); });
        break;
    }
    return pack;
}

// Whatever the pack, the reader refuses with its own error only; what it accepts is exactly the pack:
// every stage once, and the frames written again give back the same bytes.
TEST(OnboardingLabelHostileInputTest, RefusesOnlyWithItsErrorAndAcceptsOnlyWholePacks)
{
    std::mt19937_64 random(31337);
    for (int round = 0; round < 1000; ++round) {
        const Data pack = damagedPack(random);
        try {
            const std::vector<OnboardingLabelFrame> frames = OnboardingLabelProtocol::validatePack(pack);
            ASSERT_EQ(frames.size(), allOnboardingLabelStages.size()) << "round " << round;
            Data written;
            std::vector<Stage> stages;
            for (const OnboardingLabelFrame& frame : frames) {
                const Data bytes = OnboardingLabelProtocol::makeFrame(frame.stage, frame.payload);
                written.insert(written.end(), bytes.begin(), bytes.end());
                stages.push_back(frame.stage);
            }
            EXPECT_EQ(written, pack) << "round " << round;
            std::sort(stages.begin(), stages.end());
            EXPECT_TRUE(std::equal(stages.begin(), stages.end(), allOnboardingLabelStages.begin())) << "round " << round;
        } catch (const OnboardingLabelProtocolError&) {
        } catch (const std::exception& failure) {
            FAIL() << typeid(failure).name() << " \"" << failure.what() << "\" escaped in round " << round;
        }
    }
}

// Status bytes of every count against bodies of every length: the body before the status comes back
// only for a zero status; refusals carry the bytes they judged.
TEST(ESPBootloaderHostileInputTest, ChecksEveryStatusCountAgainstEveryBodyLength)
{
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t smallest = std::numeric_limits<std::int64_t>::min();
    std::mt19937_64 random(2718);
    for (std::size_t length = 0; length <= 24; ++length) {
        Data body(length);
        std::generate(body.begin(), body.end(), [&] { return static_cast<std::uint8_t>(random() % 3); });
        const auto size = static_cast<std::int64_t>(length);
        for (const std::int64_t count : { smallest, std::int64_t { -1 }, std::int64_t { 0 }, std::int64_t { 1 },
                 std::int64_t { 2 }, std::int64_t { 4 }, size - 1, size, size + 1, largest }) {
            SCOPED_TRACE("length " + std::to_string(length) + ", status bytes " + std::to_string(count));
            try {
                const Data rest = validateESPBootloaderResponseBody(body, 0x02, count);
                ASSERT_GE(count, 2);
                ASSERT_LE(count, size);
                const auto statusAt = static_cast<std::size_t>(size - count);
                EXPECT_EQ(body[statusAt], 0);
                EXPECT_EQ(rest, Data(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(statusAt)));
            } catch (const ESPBootloaderResponseValidationError& error) {
                using Kind = ESPBootloaderResponseValidationError::Kind;
                if (count < 2) {
                    EXPECT_EQ(error.kind(), Kind::invalidStatusByteCount);
                } else if (count > size) {
                    EXPECT_EQ(error.kind(), Kind::shortStatusPacket);
                } else {
                    const auto statusAt = static_cast<std::size_t>(size - count);
                    EXPECT_EQ(error.kind(), Kind::commandFailed);
                    EXPECT_EQ(error.status(), body[statusAt]);
                    EXPECT_EQ(error.reason(), body[statusAt + 1]);
                    EXPECT_NE(error.status(), 0);
                }
            } catch (const std::exception& failure) {
                ADD_FAILURE() << typeid(failure).name() << " \"" << failure.what() << "\" escaped";
            }
        }
    }
}

} // namespace
} // namespace tavrik
