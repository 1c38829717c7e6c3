// Notifications from a device: the data channel reassembles whatever arrives, answers reliable
// messages and hands over whole messages, which the program then parses as JSON. The input is a
// series of notifications, each a length byte and that many bytes; a zero length stands for the
// link reporting a completed write.
#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/RandomSource.hpp"

#include <cstdlib>

namespace {

class CountingRandom final : public tavrik::RandomSource {
public:
    std::uint64_t nextUInt64() override { return next++; }

private:
    std::uint64_t next = 1;
};

class SinkTransport final : public tavrik::BleDataTransport {
public:
    bool supportsWriteWithoutResponse() const override { return true; }
    bool canSendWriteWithoutResponse() const override { return true; }
    int maximumWriteValueLength(tavrik::BleWriteType) const override { return 182; }
    void write(const tavrik::Data& data, tavrik::BleWriteType) override { written += data.size(); }

    std::size_t written = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tavrik;
    CountingRandom random;
    BleDataChannel channel([](const std::string&) {}, random);
    auto transport = std::make_shared<SinkTransport>();
    channel.configure(transport);
    channel.onMessage = [](std::uint16_t, const Data& payload) {
        if (payload.size() > BleDataChannel::maximumMessageLength) {
            std::abort();
        }
        try {
            (void)parseJson(payload);
        } catch (const std::exception&) {
        }
    };
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t length = data[offset++];
        if (length == 0) {
            channel.handleWriteResponse();
            channel.handleReadyToSendWriteWithoutResponse();
            continue;
        }
        const std::size_t end = std::min(size, offset + length);
        channel.handleIncoming(std::span<const std::uint8_t>(data + offset, end - offset));
        offset = end;
    }
    return 0;
}
