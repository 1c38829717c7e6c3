#include "TavrikCore/Model/StoreSnapshot.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"

#include <algorithm>
#include <limits>
#include <string_view>
#include <unordered_set>

namespace tavrik {

namespace {

constexpr std::size_t maximumEntryCount = 128;
constexpr std::size_t maximumKeyLength = 15;

bool isValidKey(std::string_view key)
{
    if (key.empty() || key.size() > maximumKeyLength) {
        return false;
    }
    return std::all_of(key.begin(), key.end(), [](char character) {
        return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z')
            || (character >= '0' && character <= '9') || character == '_';
    });
}

// An optional sign, then decimal digits only, within [-negativeLimit, positiveLimit]. Leading zeros
// are fine; for unsigned types the negative limit is 0, so "-0" still passes.
bool isIntegerText(std::string_view text, std::uint64_t positiveLimit, std::uint64_t negativeLimit)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    const std::uint64_t limit = negative ? negativeLimit : positiveLimit;
    std::uint64_t magnitude = 0;
    for (const char character : text) {
        if (character < '0' || character > '9') {
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(character - '0');
        if (digit > limit || magnitude > (limit - digit) / 10) {
            return false;
        }
        magnitude = magnitude * 10 + digit;
    }
    return true;
}

bool isBase64Character(char character)
{
    return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z')
        || (character >= '0' && character <= '9') || character == '+' || character == '/';
}

// Standard alphabet, padded to a multiple of four, at most two "=" and only at the end.
bool isBase64Text(std::string_view text)
{
    if (text.size() % 4 != 0) {
        return false;
    }
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    const std::string_view body = text.substr(0, text.size() - padding);
    return std::all_of(body.begin(), body.end(), isBase64Character);
}

// A type name and the check its value text must pass.
struct TypeCheck {
    std::string_view name;
    bool (*accepts)(std::string_view);
};

template <class Integer>
bool acceptsInteger(std::string_view text)
{
    const auto maximum = static_cast<std::uint64_t>(std::numeric_limits<Integer>::max());
    std::uint64_t negativeLimit = 0;
    if constexpr (std::numeric_limits<Integer>::is_signed) {
        negativeLimit = maximum + 1;
    }
    return isIntegerText(text, maximum, negativeLimit);
}

bool acceptsAnything(std::string_view)
{
    return true;
}

constexpr TypeCheck typeChecks[] = {
    { "u8", acceptsInteger<std::uint8_t> },
    { "i8", acceptsInteger<std::int8_t> },
    { "u16", acceptsInteger<std::uint16_t> },
    { "i16", acceptsInteger<std::int16_t> },
    { "u32", acceptsInteger<std::uint32_t> },
    { "i32", acceptsInteger<std::int32_t> },
    { "u64", acceptsInteger<std::uint64_t> },
    { "i64", acceptsInteger<std::int64_t> },
    { "string", acceptsAnything },
    { "blob", isBase64Text },
};

const TypeCheck* typeCheck(std::string_view type)
{
    for (const TypeCheck& check : typeChecks) {
        if (check.name == type) {
            return &check;
        }
    }
    return nullptr;
}

} // namespace

void StoreSnapshotPayload::validateForImport() const
{
    if (schemaVersion != currentStoreSnapshotSchemaVersion) {
        throw SyncImportError("Unsupported device-store snapshot version " + std::to_string(schemaVersion));
    }
    if (entries.size() > maximumEntryCount) {
        throw SyncImportError("Device-store snapshot contains too many entries");
    }
    std::unordered_set<std::string_view> seenKeys;
    for (const StoreEntryPayload& entry : entries) {
        if (!isValidKey(entry.key)) {
            throw SyncImportError("Device-store snapshot contains an invalid key");
        }
        if (!seenKeys.insert(entry.key).second) {
            throw SyncImportError("Device-store snapshot repeats key " + entry.key);
        }
        const TypeCheck* check = typeCheck(entry.type);
        if (check == nullptr) {
            throw SyncImportError("Device-store snapshot uses unsupported type " + entry.type);
        }
        if (!check->accepts(entry.value)) {
            throw SyncImportError("Device-store snapshot contains invalid data for " + entry.key);
        }
    }
}

Json toJson(const StoreEntryPayload& value)
{
    Json json = Json::object();
    json["key"] = value.key;
    json["type"] = value.type;
    json["value"] = value.value;
    return json;
}

Json toJson(const StoreSnapshotPayload& value)
{
    Json json = Json::object();
    json["schemaVersion"] = value.schemaVersion;
    json["entries"] = json::arrayOf(value.entries);
    return json;
}

StoreEntryPayload storeEntryPayloadFromJson(const Json& json)
{
    return {
        json::requiredString(json, "key"),
        json::requiredString(json, "type"),
        json::requiredString(json, "value"),
    };
}

StoreSnapshotPayload storeSnapshotPayloadFromJson(const Json& json)
{
    return {
        json::requiredInt(json, "schemaVersion"),
        json::requiredArray(json, "entries", storeEntryPayloadFromJson),
    };
}

} // namespace tavrik
