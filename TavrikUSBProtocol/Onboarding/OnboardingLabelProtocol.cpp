#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocol.hpp"

#include <algorithm>
#include <bitset>

namespace tavrik {
namespace {

constexpr std::size_t frameHeaderBytes = 5;

std::size_t payloadBytes(OnboardingLabelStage stage)
{
    return static_cast<std::size_t>(layout(stage).rowCount) * OnboardingLabelProtocol::rowBytes;
}

Data cutRows(OnboardingLabelStage stage, const Data& fullMask)
{
    const auto begin = fullMask.begin()
        + static_cast<std::ptrdiff_t>(
            static_cast<std::size_t>(layout(stage).firstRow) * OnboardingLabelProtocol::rowBytes);
    return Data(begin, begin + static_cast<std::ptrdiff_t>(payloadBytes(stage)));
}

void checkMaskSize(const Data& fullMask)
{
    if (fullMask.size() != OnboardingLabelProtocol::fullMaskBytes) {
        throw OnboardingLabelProtocolError::invalidMaskSize(OnboardingLabelProtocol::fullMaskBytes, fullMask.size());
    }
}

} // namespace

Data OnboardingLabelProtocol::makeFrame(OnboardingLabelStage stage, const Data& payload)
{
    const std::size_t expected = payloadBytes(stage);
    if (payload.size() != expected) {
        throw OnboardingLabelProtocolError::invalidPayloadSize(stage, expected, payload.size());
    }
    // Sized up front and filled in place: GCC 12 misreads insert-after-reserve as an overflow.
    Data frame(frameHeaderBytes + payload.size());
    auto out = std::copy(frameMagic.begin(), frameMagic.end(), frame.begin());
    *out++ = rawValue(stage);
    std::copy(payload.begin(), payload.end(), out);
    return frame;
}

Data OnboardingLabelProtocol::makeFrameFromFullMask(OnboardingLabelStage stage, const Data& fullMask)
{
    checkMaskSize(fullMask);
    return makeFrame(stage, cutRows(stage, fullMask));
}

Data OnboardingLabelProtocol::makePack(const std::map<OnboardingLabelStage, Data>& fullMasks)
{
    Data pack;
    for (const OnboardingLabelStage stage : allOnboardingLabelStages) {
        const auto mask = fullMasks.find(stage);
        if (mask == fullMasks.end()) {
            throw OnboardingLabelProtocolError::missingStage(stage);
        }
        const Data frame = makeFrameFromFullMask(stage, mask->second);
        pack.insert(pack.end(), frame.begin(), frame.end());
    }
    return pack;
}

std::vector<OnboardingLabelFrame> OnboardingLabelProtocol::validatePack(const Data& pack)
{
    std::vector<OnboardingLabelFrame> frames;
    std::bitset<allOnboardingLabelStages.size()> seen;
    std::size_t position = 0;
    // The checks run in this order on purpose: a short header is reported before a wrong marker,
    // and a wrong stage byte before a short payload.
    while (position < pack.size()) {
        const std::size_t remaining = pack.size() - position;
        if (remaining < frameHeaderBytes) {
            throw OnboardingLabelProtocolError::truncatedFrame();
        }
        const auto header = pack.begin() + static_cast<std::ptrdiff_t>(position);
        if (!std::equal(frameMagic.begin(), frameMagic.end(), header)) {
            throw OnboardingLabelProtocolError::invalidMagic();
        }
        const std::uint8_t stageByte = pack[position + frameMagic.size()];
        const auto stage = onboardingLabelStageFromRawValue(stageByte);
        if (!stage) {
            throw OnboardingLabelProtocolError::unknownStage(stageByte);
        }
        const std::size_t size = payloadBytes(*stage);
        if (remaining - frameHeaderBytes < size) {
            throw OnboardingLabelProtocolError::truncatedFrame();
        }
        if (seen.test(stageByte)) {
            throw OnboardingLabelProtocolError::duplicateStage(*stage);
        }
        seen.set(stageByte);
        const auto payload = header + static_cast<std::ptrdiff_t>(frameHeaderBytes);
        frames.push_back({ *stage, Data(payload, payload + static_cast<std::ptrdiff_t>(size)) });
        position += frameHeaderBytes + size;
    }
    for (const OnboardingLabelStage stage : allOnboardingLabelStages) {
        if (!seen.test(rawValue(stage))) {
            throw OnboardingLabelProtocolError::missingStage(stage);
        }
    }
    return frames;
}

} // namespace tavrik
