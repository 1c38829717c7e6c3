// Bytes a board sends the USB helper: the ROM loader's SLIP frames and responses, and the text lines
// of the probe and the firmware. The first byte picks how the bytes are cut into reads; every
// decoded frame and line goes through the same checks the helper makes.
#include "TavrikUSBFlasher/JsonText.hpp"
#include "TavrikUSBFlasher/LineChannel.hpp"
#include "TavrikUSBFlasher/RomPacket.hpp"
#include "TavrikUSBFlasher/Slip.hpp"
#include "TavrikUSBProtocol/Bootloader/ESPBootloaderResponse.hpp"

#include <cstdlib>
#include <exception>
#include <string>

namespace {

void checkFrame(const tavrik::Data& frame)
{
    using namespace tavrik;
    const std::optional<RomResponse> response = decodeRomResponse(frame);
    if (!response) {
        return;
    }
    for (std::size_t payloadLength : { std::size_t { 0 }, std::size_t { 4 }, std::size_t { 16 }, response->body.size() }) {
        try {
            (void)romResponsePayload(*response, payloadLength);
        } catch (const ESPBootloaderResponseValidationError&) {
        }
    }
    for (std::int64_t statusBytes : { 2, 4 }) {
        try {
            (void)validateESPBootloaderResponseBody(response->body, response->command, statusBytes);
        } catch (const ESPBootloaderResponseValidationError&) {
        }
    }
}

void checkLine(const std::string& line)
{
    using namespace tavrik;
    const std::optional<LineMessage> message = LineChannel::parseLine(line);
    if (message) {
        // A parsed body written out is valid UTF-8 JSON, whatever bytes the line held, and reads
        // back to the same text.
        const std::string text = jsonText(message->body);
        const auto again = nlohmann::ordered_json::parse(text, nullptr, false);
        if (again.is_discarded() || jsonText(again) != text) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tavrik;
    if (size == 0) {
        return 0;
    }
    const std::size_t readSize = 1 + data[0] % 64;
    SlipDecoder decoder;
    for (std::size_t offset = 1; offset < size; offset += readSize) {
        const std::size_t end = std::min(size, offset + readSize);
        for (const Data& frame : decoder.feed(Data(data + offset, data + end))) {
            checkFrame(frame);
        }
    }
    // Every decoded frame, encoded again, decodes to itself.
    SlipDecoder whole;
    for (const Data& frame : whole.feed(Data(data + 1, data + size))) {
        SlipDecoder again;
        const std::vector<Data> frames = again.feed(slipEncode(frame));
        if (frames.size() != 1 || frames.front() != frame) {
            std::abort();
        }
    }
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t newline = text.find('\n', start);
        const std::size_t end = newline == std::string::npos ? text.size() : newline;
        checkLine(text.substr(start, end - start));
        if (newline == std::string::npos) {
            break;
        }
        start = newline + 1;
    }
    return 0;
}
