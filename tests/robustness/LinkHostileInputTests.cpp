#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/BleDataFrame.hpp"
#include "tests/robustness/HostileInput.hpp"
#include "tests/support/InMemoryBleTransport.hpp"
#include "tests/support/SequenceRandomSource.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace tavrik::test {
namespace {

struct SentMessage {
    Data payload;
    bool reliable = false;
};

// Frames of one message as a device cuts it, with the session prefix when it is sent reliably.
std::vector<Data> framesOf(std::uint16_t id, const SentMessage& message, std::size_t chunkSize, std::uint32_t session)
{
    std::vector<Data> frames;
    const std::size_t count = std::max<std::size_t>(1, (message.payload.size() + chunkSize - 1) / chunkSize);
    for (std::size_t index = 0; index < count; ++index) {
        Data payload;
        if (message.reliable) {
            for (int shift = 0; shift < 32; shift += 8) {
                payload.push_back(static_cast<std::uint8_t>(session >> shift));
            }
        }
        const std::size_t offset = std::min(index * chunkSize, message.payload.size());
        const std::size_t length = std::min(chunkSize, message.payload.size() - offset);
        payload.insert(payload.end(), message.payload.begin() + static_cast<std::ptrdiff_t>(offset),
            message.payload.begin() + static_cast<std::ptrdiff_t>(offset + length));
        frames.push_back(makeFrame(message.reliable ? BleDataChannel::reliableFlags : BleDataChannel::plainFlags, id,
            static_cast<std::uint16_t>(index), static_cast<std::uint16_t>(count), payload));
    }
    return frames;
}

// Frames of several messages arrive shuffled, repeated, and mixed with damaged frames and noise. The
// channel must deliver every message whose frames all arrived exactly as sent, a reliable one only once,
// and never a message that was not sent.
TEST(LinkHostileInputTest, DeliversExactlyTheMessagesSentWhateverArrivesAroundThem)
{
    HostileInput input(77);
    for (int round = 0; round < 100; ++round) {
        SequenceRandomSource random({ 1000 + static_cast<std::uint64_t>(round) });
        BleDataChannel channel([](const std::string&) {}, random);
        auto link = std::make_shared<InMemoryBleTransport>();
        link->bind(&channel);
        channel.configure(link);
        const std::uint32_t session = channel.reliableSession();
        std::vector<std::pair<std::uint16_t, Data>> delivered;
        channel.onMessage = [&](std::uint16_t id, const Data& payload) { delivered.emplace_back(id, payload); };

        std::map<std::uint16_t, SentMessage> sent;
        std::vector<Data> frames;
        const std::size_t messageCount = 1 + input.below(BleDataChannel::maximumPendingMessages);
        const std::size_t chunkSize = 5 + input.below(200);
        for (std::size_t index = 0; index < messageCount; ++index) {
            const auto id = static_cast<std::uint16_t>(input.below(65536));
            if (sent.contains(id)) {
                continue;
            }
            SentMessage message { input.noise(input.chance(20) ? 3000 : 400), input.chance(50) };
            if (message.reliable && message.payload.empty()) {
                message.payload.push_back(0x7B);
            }
            for (const Data& frame : framesOf(id, message, chunkSize, session)) {
                frames.push_back(frame);
                if (input.chance(15)) {
                    frames.push_back(frame);
                }
                if (input.chance(10)) {
                    // A damaged copy: any single flipped bit fails the checksum.
                    Data damaged = frame;
                    damaged[input.below(damaged.size())] ^= static_cast<std::uint8_t>(1U << input.below(8));
                    frames.push_back(std::move(damaged));
                }
            }
            sent.emplace(id, std::move(message));
        }
        for (int extra = static_cast<int>(input.below(4)); extra > 0; --extra) {
            frames.push_back(input.noise(30));
        }
        std::shuffle(frames.begin(), frames.end(), input.engine);
        for (const Data& frame : frames) {
            channel.handleIncoming(frame);
            link->completeAllWrites();
        }

        std::map<std::uint16_t, int> reliableDeliveries;
        for (const auto& [id, payload] : delivered) {
            const auto message = sent.find(id);
            ASSERT_NE(message, sent.end()) << "round " << round << ": message " << id << " was never sent";
            EXPECT_EQ(payload, message->second.payload) << "round " << round << ", message " << id;
            if (message->second.reliable) {
                EXPECT_EQ(++reliableDeliveries[id], 1) << "round " << round << ": reliable message " << id << " twice";
            }
        }
        for (const auto& [id, message] : sent) {
            const bool arrived
                = std::any_of(delivered.begin(), delivered.end(), [&](const auto& entry) { return entry.first == id; });
            EXPECT_TRUE(arrived) << "round " << round << ": message " << id << " was lost";
        }
        if (HasFailure()) {
            return;
        }
    }
}

} // namespace
} // namespace tavrik::test
