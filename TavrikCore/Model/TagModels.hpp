#pragma once

#include "TavrikCore/Support/Json.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

// A saved tag, known to the device by its UID ("04 11 22 33 44 55 66") and named by the user.
struct TagInfo {
    std::uint32_t id = 0;
    std::string uid;
    std::string name;

    std::int64_t syncSignature() const;

    friend bool operator==(const TagInfo&, const TagInfo&) = default;
};

// `id` reads as 0 when absent; `uid` and `name` are required.
Json toJson(const TagInfo& tag);
TagInfo tagInfoFromJson(const Json& value);

// What makes two UIDs the same tag: the text trimmed of blanks and line breaks and upper-cased, so
// "04 aa" and "04 AA " name one tag. Every duplicate-UID check goes through it.
std::string tagUidKey(std::string_view uid);
// Whether a saved tag other than `exceptId` has the UID's key. A blank UID matches nothing.
bool tagUidTaken(const std::vector<TagInfo>& tags, std::string_view uid, std::optional<std::uint32_t> exceptId);

// Every tag message from the device ("tags_state", "scan_pending", "scan_result", "scan_timeout",
// "error"); only `type` is required.
struct TagEnvelope {
    std::string type;
    std::optional<std::string> message {};
    std::optional<std::vector<TagInfo>> tags {};
    std::optional<std::string> uid {};
    std::optional<std::string> tagType {};
    std::optional<std::string> name {};

    friend bool operator==(const TagEnvelope&, const TagEnvelope&) = default;
};

Json toJson(const TagEnvelope& envelope);
// One unreadable tag fails the whole envelope.
TagEnvelope tagEnvelopeFromJson(const Json& value);

// A tag just read by a scan; in memory only.
struct TagScanResult {
    std::string uid;
    std::optional<std::string> tagType {};
    std::optional<std::string> name {};

    friend bool operator==(const TagScanResult&, const TagScanResult&) = default;
};

// The scan as the tag views show it. Only `failed` carries a text (the message shown).
class TagScanState {
public:
    enum class Kind {
        idle,
        waitingForDevice,
        connecting,
        requesting,
        pending,
        received,
        failed,
    };

    TagScanState() = default;

    static TagScanState idle() { return TagScanState(Kind::idle); }
    static TagScanState waitingForDevice() { return TagScanState(Kind::waitingForDevice); }
    static TagScanState connecting() { return TagScanState(Kind::connecting); }
    static TagScanState requesting() { return TagScanState(Kind::requesting); }
    static TagScanState pending() { return TagScanState(Kind::pending); }
    static TagScanState received() { return TagScanState(Kind::received); }
    static TagScanState failed(std::string message);

    Kind kind() const { return caseKind; }
    bool isFailed() const { return caseKind == Kind::failed; }
    // The text of `failed`; empty for every other state.
    const std::string& failureMessage() const { return message; }

    friend bool operator==(const TagScanState&, const TagScanState&) = default;

private:
    explicit TagScanState(Kind kind)
        : caseKind(kind)
    {
    }

    Kind caseKind = Kind::idle;
    std::string message;
};

enum class TagScanPurpose {
    generic,
    killSwitch,
};

inline constexpr std::array<TagScanPurpose, 2> allTagScanPurposes {
    TagScanPurpose::generic,
    TagScanPurpose::killSwitch,
};

// The command text sent on the "tag" channel to start a scan of this purpose.
std::string_view command(TagScanPurpose purpose);

} // namespace tavrik
