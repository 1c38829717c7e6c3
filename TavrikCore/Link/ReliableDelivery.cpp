#include "TavrikCore/Link/ReliableDelivery.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>
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

int requiredSmallInt(const Json& object, std::string_view key)
{
    const std::int64_t value = json::requiredInt(object, key);
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        throw JsonDecodeError("Number for \"" + std::string(key) + "\" is out of range");
    }
    return static_cast<int>(value);
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

ReliableDeliveryOffer reliableDeliveryOfferFromJson(const Json& object)
{
    json::requireObject(object, "delivery");
    ReliableDeliveryOffer offer;
    offer.version = requiredSmallInt(object, "version");
    offer.session = json::requiredUInt32(object, "session");
    offer.window = requiredSmallInt(object, "window");
    return offer;
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
