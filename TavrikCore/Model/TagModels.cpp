#include "TavrikCore/Model/TagModels.hpp"

#include "TavrikCore/Model/SyncSignature.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

std::int64_t TagInfo::syncSignature() const
{
    return makeSyncSignature([&](SyncHasher& hasher) {
        hasher.combine(id);
        hasher.combine(uid);
        hasher.combine(name);
    });
}

Json toJson(const TagInfo& tag)
{
    Json object = Json::object();
    object["id"] = tag.id;
    object["uid"] = tag.uid;
    object["name"] = tag.name;
    return object;
}

TagInfo tagInfoFromJson(const Json& value)
{
    const Json& object = json::requireObject(value, "tag");
    TagInfo tag;
    tag.id = json::optionalUInt32(object, "id").value_or(0);
    tag.uid = json::requiredString(object, "uid");
    tag.name = json::requiredString(object, "name");
    return tag;
}

std::string tagUidKey(std::string_view uid)
{
    return text::uppercased(text::trimmed(uid));
}

bool tagUidTaken(const std::vector<TagInfo>& tags, std::string_view uid, std::optional<std::uint32_t> exceptId)
{
    const std::string wanted = tagUidKey(uid);
    if (wanted.empty()) {
        return false;
    }
    return std::any_of(tags.begin(), tags.end(),
        [&](const TagInfo& tag) { return tag.id != exceptId && tagUidKey(tag.uid) == wanted; });
}

Json toJson(const TagEnvelope& envelope)
{
    Json object = Json::object();
    object["type"] = envelope.type;
    json::putOptional(object, "message", envelope.message);
    json::putOptionalArray(object, "tags", envelope.tags);
    json::putOptional(object, "uid", envelope.uid);
    json::putOptional(object, "tagType", envelope.tagType);
    json::putOptional(object, "name", envelope.name);
    return object;
}

TagEnvelope tagEnvelopeFromJson(const Json& value)
{
    const Json& object = json::requireObject(value, "tag message");
    TagEnvelope envelope;
    envelope.type = json::requiredString(object, "type");
    envelope.message = json::optionalString(object, "message");
    envelope.tags = json::optionalArray(object, "tags", [](const Json& element) { return tagInfoFromJson(element); });
    envelope.uid = json::optionalString(object, "uid");
    envelope.tagType = json::optionalString(object, "tagType");
    envelope.name = json::optionalString(object, "name");
    return envelope;
}

TagScanState TagScanState::failed(std::string message)
{
    TagScanState state(Kind::failed);
    state.message = std::move(message);
    return state;
}

std::string_view command(TagScanPurpose purpose)
{
    switch (purpose) {
    case TagScanPurpose::generic:
        return "scan";
    case TagScanPurpose::killSwitch:
        return "scan purpose=kill_switch";
    }
    return "scan";
}

} // namespace tavrik
