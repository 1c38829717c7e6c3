#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Model/Json.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <set>

namespace tavrik {

void TavrikBleCentral::handleTagPayload(const Data& payload)
{
    // Completed with the tag operations; until then only the list and a refusal are taken in.
    try {
        const TagEnvelope envelope = tagEnvelopeFromJson(parseJson(payload));
        if (envelope.type == "error") {
            setTagError(envelope.message.value_or("Tag update failed"));
        } else if (envelope.type == "tags_state" && envelope.tags) {
            publish(tags_, normalizedTags(*envelope.tags), &TavrikBleCentral::tagsChanged);
        }
    } catch (const std::exception&) {
    }
}

std::vector<TagInfo> TavrikBleCentral::normalizedTags(const std::vector<TagInfo>& tags)
{
    std::set<std::uint32_t> usedIds;
    std::set<std::string> usedUids;
    std::vector<TagInfo> normalized;
    normalized.reserve(tags.size());
    for (const TagInfo& tag : tags) {
        const std::string uid = text::uppercased(text::trimmed(tag.uid));
        TagInfo kept = tag;
        if (tag.id == 0 || usedIds.contains(tag.id) || usedUids.contains(uid)) {
            // The lowest free id from the counter upward; 0 is never handed out.
            std::uint32_t candidate = nextLocalTagId_ == 0 ? 1 : nextLocalTagId_;
            while (usedIds.contains(candidate) || candidate == 0) {
                ++candidate;
            }
            kept.id = candidate;
            nextLocalTagId_ = candidate + 1 == 0 ? 1 : candidate + 1;
        }
        usedIds.insert(kept.id);
        usedUids.insert(uid);
        normalized.push_back(std::move(kept));
    }
    return normalized;
}

void TavrikBleCentral::deactivateTagScanSession()
{
    tagScanSessionActive_ = false;
    tagScanCommandPending_ = false;
    tagScanPurpose_ = TagScanPurpose::generic;
    cancelTask(tagScanKeepaliveTask_);
}

void TavrikBleCentral::resetTagState()
{
    publish(tags_, std::vector<TagInfo> {}, &TavrikBleCentral::tagsChanged);
    setTagError(std::nullopt);
    publish(tagScanResult_, std::nullopt, &TavrikBleCentral::tagScanResultChanged);
    setTagScanState(TagScanState::idle());
}

void TavrikBleCentral::createTag(const std::string&, const std::string&) { }

void TavrikBleCentral::updateTag(std::uint32_t, const std::string&) { }

void TavrikBleCentral::updateTagUid(std::uint32_t, const std::string&) { }

bool TavrikBleCentral::deleteTag(std::uint32_t)
{
    return false;
}

std::optional<TagInfo> TavrikBleCentral::tagForIdReference(std::string_view) const
{
    return std::nullopt;
}

void TavrikBleCentral::beginTagScan(TagScanPurpose) { }

void TavrikBleCentral::endTagScanSession() { }

void TavrikBleCentral::startTagScanKeepalive() { }

} // namespace tavrik
