#include "TavrikCore/Firmware/FirmwareOtaMessages.hpp"

#include <iterator>
#include <string_view>
#include <utility>

namespace tavrik {

FirmwareBeginEnvelope::FirmwareBeginEnvelope(
    std::string version, std::string fileName, std::int64_t size, std::string hardwareTarget)
    : version(std::move(version))
    , fileName(std::move(fileName))
    , size(size)
    , hardwareTarget(std::move(hardwareTarget))
{
}

Json toJson(const FirmwareBeginEnvelope& envelope)
{
    Json object = Json::object();
    object["type"] = envelope.type;
    object["version"] = envelope.version;
    object["fileName"] = envelope.fileName;
    object["size"] = envelope.size;
    object["hardwareTarget"] = envelope.hardwareTarget;
    return object;
}

Json toJson(const FirmwareCommitEnvelope& envelope)
{
    Json object = Json::object();
    object["type"] = envelope.type;
    return object;
}

Json toJson(const FirmwareAbortEnvelope& envelope)
{
    Json object = Json::object();
    object["type"] = envelope.type;
    return object;
}

Json toJson(const FirmwareStatusEnvelope& envelope)
{
    Json object = Json::object();
    object["type"] = envelope.type;
    object["state"] = envelope.state;
    json::putOptional(object, "version", envelope.version);
    json::putOptional(object, "fileName", envelope.fileName);
    json::putOptional(object, "expectedBytes", envelope.expectedBytes);
    json::putOptional(object, "receivedBytes", envelope.receivedBytes);
    json::putOptional(object, "nextChunkIndex", envelope.nextChunkIndex);
    json::putOptional(object, "chunksReceived", envelope.chunksReceived);
    json::putOptional(object, "ackIntervalChunks", envelope.ackIntervalChunks);
    json::putOptional(object, "elapsedMs", envelope.elapsedMs);
    json::putOptional(object, "message", envelope.message);
    json::putOptional(object, "hardwareTarget", envelope.hardwareTarget);
    return object;
}

FirmwareStatusEnvelope firmwareStatusEnvelopeFromJson(const Json& value)
{
    json::requireObject(value, "firmware status");
    return FirmwareStatusEnvelope {
        .type = json::requiredString(value, "type"),
        .state = json::requiredString(value, "state"),
        .version = json::optionalString(value, "version"),
        .fileName = json::optionalString(value, "fileName"),
        .expectedBytes = json::optionalInt(value, "expectedBytes"),
        .receivedBytes = json::optionalInt(value, "receivedBytes"),
        .nextChunkIndex = json::optionalInt(value, "nextChunkIndex"),
        .chunksReceived = json::optionalInt(value, "chunksReceived"),
        .ackIntervalChunks = json::optionalInt(value, "ackIntervalChunks"),
        .elapsedMs = json::optionalInt(value, "elapsedMs"),
        .message = json::optionalString(value, "message"),
        .hardwareTarget = json::optionalString(value, "hardwareTarget"),
    };
}

void buildFirmwareChunkPayload(
    std::uint32_t index, std::uint32_t offset, std::span<const std::uint8_t> chunk, Data& payload)
{
    payload.clear();
    payload.reserve(firmwareChunkHeaderLength + chunk.size());
    for (const std::uint32_t field : { index, offset }) {
        for (int shift = 0; shift < 32; shift += 8) {
            payload.push_back(static_cast<std::uint8_t>(field >> shift));
        }
    }
    payload.insert(payload.end(), chunk.begin(), chunk.end());
}

namespace {

// Reads an object whose values are all plain strings (printable ASCII, no escapes), integers without
// fraction or exponent, or null, with no key of the envelope repeated. Anything else gives nothing and
// is left to the document reader, so the two never disagree.
class FlatStatusReader {
public:
    explicit FlatStatusReader(std::string_view text)
        : text(text)
    {
    }

    std::optional<FirmwareStatusEnvelope> read()
    {
        skipBlanks();
        if (!take('{')) {
            return std::nullopt;
        }
        skipBlanks();
        if (peek() == '}') {
            return std::nullopt;
        }
        while (true) {
            const auto key = plainString();
            skipBlanks();
            if (!key || !take(':')) {
                return std::nullopt;
            }
            skipBlanks();
            if (!readValue(*key)) {
                return std::nullopt;
            }
            skipBlanks();
            if (take(',')) {
                skipBlanks();
                continue;
            }
            if (!take('}')) {
                return std::nullopt;
            }
            break;
        }
        skipBlanks();
        if (position != text.size() || !(seen & 1U) || !(seen & 2U)) {
            return std::nullopt;
        }
        return envelope;
    }

private:
    struct Value {
        enum class Kind { string, integer, null };
        Kind kind = Kind::null;
        std::string_view string {};
        std::int64_t integer = 0;
    };

    char peek() const { return position < text.size() ? text[position] : '\0'; }

    bool take(char character)
    {
        if (peek() != character) {
            return false;
        }
        ++position;
        return true;
    }

    void skipBlanks()
    {
        while (position < text.size()
            && (text[position] == ' ' || text[position] == '\t' || text[position] == '\n' || text[position] == '\r')) {
            ++position;
        }
    }

    std::optional<std::string_view> plainString()
    {
        if (!take('"')) {
            return std::nullopt;
        }
        const std::size_t start = position;
        while (position < text.size()) {
            const auto byte = static_cast<unsigned char>(text[position]);
            if (byte == '"') {
                return text.substr(start, position++ - start);
            }
            if (byte == '\\' || byte < 0x20 || byte >= 0x80) {
                return std::nullopt;
            }
            ++position;
        }
        return std::nullopt;
    }

    std::optional<std::int64_t> plainInteger()
    {
        const bool negative = take('-');
        const std::size_t start = position;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
            ++position;
        }
        const std::size_t digits = position - start;
        // JSON has no leading zeros; 18 digits always fit in 64 bits.
        if (digits == 0 || digits > 18 || (digits > 1 && text[start] == '0')) {
            return std::nullopt;
        }
        const char next = peek();
        if (next == '.' || next == 'e' || next == 'E') {
            return std::nullopt;
        }
        std::int64_t number = 0;
        for (std::size_t index = start; index < position; ++index) {
            number = number * 10 + (text[index] - '0');
        }
        return negative ? -number : number;
    }

    std::optional<Value> value()
    {
        const char first = peek();
        if (first == '"') {
            const auto string = plainString();
            return string ? std::optional<Value>(Value { .kind = Value::Kind::string, .string = *string }) : std::nullopt;
        }
        if (first == '-' || (first >= '0' && first <= '9')) {
            const auto integer = plainInteger();
            return integer ? std::optional<Value>(Value { .kind = Value::Kind::integer, .integer = *integer })
                           : std::nullopt;
        }
        if (text.substr(position, 4) == "null") {
            position += 4;
            return Value { .kind = Value::Kind::null };
        }
        return std::nullopt;
    }

    // Marks the key as read; false when it was read before.
    bool firstTime(unsigned bit)
    {
        if (seen & (1U << bit)) {
            return false;
        }
        seen |= 1U << bit;
        return true;
    }

    bool assignString(std::optional<std::string>& field, const Value& read)
    {
        if (read.kind == Value::Kind::integer) {
            return false;
        }
        if (read.kind == Value::Kind::string) {
            field = std::string(read.string);
        }
        return true;
    }

    bool assignInteger(std::optional<std::int64_t>& field, const Value& read)
    {
        if (read.kind == Value::Kind::string) {
            return false;
        }
        if (read.kind == Value::Kind::integer) {
            field = read.integer;
        }
        return true;
    }

    bool readValue(std::string_view key)
    {
        const auto read = value();
        if (!read) {
            return false;
        }
        static constexpr std::string_view keys[]
            = { "type", "state", "version", "fileName", "expectedBytes", "receivedBytes", "nextChunkIndex",
                  "chunksReceived", "ackIntervalChunks", "elapsedMs", "message", "hardwareTarget" };
        unsigned bit = 0;
        while (bit < std::size(keys) && keys[bit] != key) {
            ++bit;
        }
        if (bit == std::size(keys)) {
            return true;
        }
        if (!firstTime(bit)) {
            return false;
        }
        switch (bit) {
        case 0:
        case 1: {
            if (read->kind != Value::Kind::string) {
                return false;
            }
            (bit == 0 ? envelope.type : envelope.state) = std::string(read->string);
            return true;
        }
        case 2:
            return assignString(envelope.version, *read);
        case 3:
            return assignString(envelope.fileName, *read);
        case 4:
            return assignInteger(envelope.expectedBytes, *read);
        case 5:
            return assignInteger(envelope.receivedBytes, *read);
        case 6:
            return assignInteger(envelope.nextChunkIndex, *read);
        case 7:
            return assignInteger(envelope.chunksReceived, *read);
        case 8:
            return assignInteger(envelope.ackIntervalChunks, *read);
        case 9:
            return assignInteger(envelope.elapsedMs, *read);
        case 10:
            return assignString(envelope.message, *read);
        default:
            return assignString(envelope.hardwareTarget, *read);
        }
    }

    std::string_view text;
    std::size_t position = 0;
    unsigned seen = 0;
    FirmwareStatusEnvelope envelope;
};

} // namespace

FirmwareStatusEnvelope firmwareStatusEnvelopeFromData(const Data& payload)
{
    const std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
    if (auto envelope = FlatStatusReader(text).read()) {
        return std::move(*envelope);
    }
    return firmwareStatusEnvelopeFromJson(parseJson(text));
}

bool firmwareImageFitsChunkFormat(std::int64_t byteCount)
{
    return byteCount >= 0 && byteCount <= maximumFirmwareImageSize;
}

Data buildFirmwareChunkPayload(std::uint32_t index, std::uint32_t offset, std::span<const std::uint8_t> chunk)
{
    Data payload;
    buildFirmwareChunkPayload(index, offset, chunk, payload);
    return payload;
}

} // namespace tavrik
