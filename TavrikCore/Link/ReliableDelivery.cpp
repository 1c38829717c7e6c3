#include "TavrikCore/Link/ReliableDelivery.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace tavrik {
namespace {

void appendText(Data& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void appendNumber(Data& out, std::uint64_t value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.insert(out.end(), digits, result.ptr);
}

bool needsEscaping(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char character) {
        const auto byte = static_cast<unsigned char>(character);
        return byte < 0x20 || byte >= 0x80 || character == '"' || character == '\\';
    });
}

} // namespace

Json toJson(const ReliableDeliveryOffer& offer)
{
    Json object = Json::object();
    object["version"] = offer.version;
    object["session"] = offer.session;
    object["window"] = offer.window;
    return object;
}

Json toJson(const ReliableDeliveryAcknowledgement& acknowledgement)
{
    Json object = Json::object();
    object["type"] = acknowledgement.type;
    object["session"] = acknowledgement.session;
    object["messageId"] = acknowledgement.messageId;
    object["nextChunk"] = acknowledgement.nextChunk;
    return object;
}

Data encodeAcknowledgement(const ReliableDeliveryAcknowledgement& acknowledgement)
{
    if (needsEscaping(acknowledgement.type)) {
        return dumpJsonData(toJson(acknowledgement));
    }
    Data out;
    out.reserve(96 + acknowledgement.type.size());
    appendText(out, "{\"type\":\"");
    appendText(out, acknowledgement.type);
    appendText(out, "\",\"session\":");
    appendNumber(out, acknowledgement.session);
    appendText(out, ",\"messageId\":");
    appendNumber(out, acknowledgement.messageId);
    appendText(out, ",\"nextChunk\":");
    appendNumber(out, acknowledgement.nextChunk);
    out.push_back('}');
    return out;
}

} // namespace tavrik
