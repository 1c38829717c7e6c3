#pragma once

#include "TavrikCore/Support/Json.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace tavrik {

// The only store snapshot schema this application reads and writes.
inline constexpr int currentStoreSnapshotSchemaVersion = 1;

// One value of the device's typed key/value store, written as text.
struct StoreEntryPayload {
    std::string key;
    std::string type;
    std::string value;

    friend bool operator==(const StoreEntryPayload&, const StoreEntryPayload&) = default;
};

// A copy of the device's key/value store, carried by sync data, backups and restores.
struct StoreSnapshotPayload {
    std::int64_t schemaVersion = currentStoreSnapshotSchemaVersion;
    std::vector<StoreEntryPayload> entries;

    // Throws SyncImportError at the first problem that would make the snapshot unsafe to write to the
    // device: unknown schema, too many entries, bad or repeated key, unknown type, or a value that
    // does not parse as its type.
    void validateForImport() const;

    friend bool operator==(const StoreSnapshotPayload&, const StoreSnapshotPayload&) = default;
};

Json toJson(const StoreEntryPayload& value);
Json toJson(const StoreSnapshotPayload& value);
StoreEntryPayload storeEntryPayloadFromJson(const Json& json);
StoreSnapshotPayload storeSnapshotPayloadFromJson(const Json& json);

} // namespace tavrik
