#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Model/LocalIds.hpp"
#include "TavrikCore/Model/TagReference.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/LocalizedOrder.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <algorithm>
#include <limits>
#include <set>

namespace tavrik {

namespace {

constexpr std::chrono::milliseconds tagScanKeepaliveInterval { 3000 };

// A name equal to another tag's, both trimmed, without regard to case. A blank name is never a duplicate.
bool nameTaken(const std::vector<TagInfo>& tags, std::string_view name, std::optional<std::uint32_t> exceptId)
{
    const std::string wanted = text::trimmed(name);
    if (wanted.empty()) {
        return false;
    }
    return std::any_of(tags.begin(), tags.end(), [&](const TagInfo& tag) {
        return tag.id != exceptId && text::equalIgnoringCase(text::trimmed(tag.name), wanted);
    });
}

std::vector<std::uint32_t> tagIds(const std::vector<TagInfo>& tags)
{
    std::vector<std::uint32_t> ids;
    ids.reserve(tags.size());
    for (const TagInfo& tag : tags) {
        ids.push_back(tag.id);
    }
    return ids;
}

bool routineUsesTag(const RoutineDetailModel& routine, std::uint32_t id)
{
    if (std::find(routine.startTagIds.begin(), routine.startTagIds.end(), id) != routine.startTagIds.end()) {
        return true;
    }
    return std::any_of(routine.steps.begin(), routine.steps.end(), [id](const RoutineStepModel& step) {
        const std::string reference = text::trimmed(step.tagId);
        if (reference.empty() || reference.front() == '-') {
            return false;
        }
        return tagIdFromReference(reference) == id;
    });
}

} // namespace

void TavrikBleCentral::createTag(const std::string& name, const std::string& uid)
{
    takeInArrivedData();
    if (nameTaken(tags_, name, std::nullopt)) {
        setTagError("Tag name already exists");
        return;
    }
    if (tagUidTaken(tags_, uid, std::nullopt)) {
        setTagError("Tag UID already exists");
        return;
    }
    std::vector<std::uint32_t> ids = tagIds(tags_);
    std::uint32_t id = nextLocalTagId_;
    if (id == 0 || std::find(ids.begin(), ids.end(), id) != ids.end()) {
        // Past the largest id the counter wraps; the lowest free id keeps ids unique and never 0.
        const std::optional<std::uint32_t> free = nextUnusedId(ids);
        if (!free) {
            return;
        }
        id = *free;
    }
    ids.push_back(id);
    nextLocalTagId_ = id == std::numeric_limits<std::uint32_t>::max() ? nextUnusedId(ids).value_or(0) : id + 1;

    std::vector<TagInfo> tags = tags_;
    tags.push_back({ id, uid, name });
    publish(tags_, std::move(tags), &TavrikBleCentral::tagsChanged);
    recordUserInteraction();
    baselineSnapshot_ = currentSnapshot();
    persist(AtomicCommandChannel::tag, id,
        { "create id=" + std::to_string(id) + " uid=" + quotedCommandValue(uid) + " name=" + quotedCommandValue(name) },
        false, std::nullopt);
}

void TavrikBleCentral::updateTag(std::uint32_t id, const std::string& name)
{
    takeInArrivedData();
    if (nameTaken(tags_, name, id)) {
        if (std::any_of(tags_.begin(), tags_.end(), [id](const TagInfo& tag) { return tag.id == id; })) {
            setTagError("Tag name already exists");
        }
        return;
    }
    editTag(id, "name", name, [&name](TagInfo& tag) { tag.name = name; });
}

void TavrikBleCentral::updateTagUid(std::uint32_t id, const std::string& uid)
{
    takeInArrivedData();
    if (tagUidTaken(tags_, uid, id)) {
        if (std::any_of(tags_.begin(), tags_.end(), [id](const TagInfo& tag) { return tag.id == id; })) {
            setTagError("Tag UID already exists");
        }
        return;
    }
    editTag(id, "uid", uid, [&uid](TagInfo& tag) { tag.uid = uid; });
}

void TavrikBleCentral::editTag(
    std::uint32_t id, std::string_view attribute, const std::string& value, const std::function<void(TagInfo&)>& mutate)
{
    const auto stored = std::find_if(tags_.begin(), tags_.end(), [id](const TagInfo& tag) { return tag.id == id; });
    if (stored == tags_.end()) {
        return;
    }
    TagInfo edited = *stored;
    mutate(edited);
    if (!hasSyncedChange(*stored, edited)) {
        return;
    }
    std::vector<TagInfo> tags = tags_;
    tags[static_cast<std::size_t>(stored - tags_.begin())] = std::move(edited);
    publish(tags_, std::move(tags), &TavrikBleCentral::tagsChanged);
    setTagError(std::nullopt);
    recordUserInteraction();
    baselineSnapshot_ = currentSnapshot();
    update(AtomicCommandChannel::tag, id, attribute, quotedCommandValue(value));
}

bool TavrikBleCentral::deleteTag(std::uint32_t id)
{
    takeInArrivedData();
    const auto tag = std::find_if(tags_.begin(), tags_.end(), [id](const TagInfo& item) { return item.id == id; });
    if (tag == tags_.end()) {
        return false;
    }
    std::vector<const RoutineDetailModel*> users;
    for (const auto& [routineId, routine] : routineDetails_) {
        if (routineUsesTag(routine, id)) {
            users.push_back(&routine);
        }
    }
    if (!users.empty()) {
        const LocalizedCaseInsensitiveOrder order(clock.localeId());
        std::stable_sort(
            users.begin(), users.end(), [&order](const RoutineDetailModel* lhs, const RoutineDetailModel* rhs) {
                return order(lhs->label, rhs->label);
            });
        const std::string word = users.size() == 1 ? "routine" : "routines";
        std::string labels;
        for (const RoutineDetailModel* routine : users) {
            if (!labels.empty()) {
                labels += ", ";
            }
            labels += "\u201c" + routine->label + "\u201d";
        }
        setTagError("Can't delete " + tag->name + ": it is used by " + word + " " + labels + ". Remove it from the "
            + word + " first.");
        return false;
    }
    std::vector<TagInfo> tags = tags_;
    std::erase_if(tags, [id](const TagInfo& item) { return item.id == id; });
    publish(tags_, std::move(tags), &TavrikBleCentral::tagsChanged);
    setTagError(std::nullopt);
    recordUserInteraction();
    baselineSnapshot_ = currentSnapshot();
    persist(AtomicCommandChannel::tag, id, { "delete id=" + std::to_string(id) }, false, std::nullopt);
    return true;
}

std::optional<TagInfo> TavrikBleCentral::tagForIdReference(std::string_view reference) const
{
    const std::string trimmed = text::trimmed(reference);
    if (trimmed.empty()) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> id = tagIdFromReference(trimmed);
    if (!id) {
        return std::nullopt;
    }
    const auto tag = std::find_if(tags_.begin(), tags_.end(), [&](const TagInfo& item) { return item.id == *id; });
    if (tag == tags_.end()) {
        return std::nullopt;
    }
    return *tag;
}

std::vector<TagInfo> TavrikBleCentral::normalizedTags(const std::vector<TagInfo>& tags)
{
    // Only a missing or repeated id is replaced: the device and the routines' steps know a tag by
    // its id, so a tag whose UID merely repeats another's keeps it. Ids that tags keep are reserved
    // before any fresh id is handed out, so a renumbered tag never takes the id a later tag has.
    std::vector<bool> keeps(tags.size(), false);
    std::set<std::uint32_t> usedIds;
    for (std::size_t index = 0; index < tags.size(); ++index) {
        keeps[index] = tags[index].id != 0 && usedIds.insert(tags[index].id).second;
    }

    std::vector<TagInfo> normalized = tags;
    std::uint32_t candidate = nextLocalTagId_;
    for (std::size_t index = 0; index < normalized.size(); ++index) {
        if (keeps[index]) {
            continue;
        }
        // Never 0; past the largest id the count goes on at 1, skipping every id in use.
        while (candidate == 0 || usedIds.contains(candidate)) {
            ++candidate;
        }
        normalized[index].id = candidate;
        usedIds.insert(candidate);
        ++candidate;
    }
    return normalized;
}

void TavrikBleCentral::handleTagPayload(const Data& payload)
{
    TagEnvelope envelope;
    try {
        envelope = tagEnvelopeFromJson(parseJson(payload));
    } catch (const std::exception&) {
        setTagError("Invalid tag payload");
        setTagScanState(TagScanState::failed("Invalid tag payload"));
        if (tagScanPurpose_ == TagScanPurpose::killSwitch) {
            deactivateTagScanSession();
        }
        return;
    }

    const auto fail = [this](const std::string& message) {
        setTagError(message);
        setTagScanState(TagScanState::failed(message));
        if (tagScanPurpose_ == TagScanPurpose::killSwitch) {
            deactivateTagScanSession();
        }
    };

    if (envelope.type == "tags_state") {
        if (envelope.tags) {
            std::vector<TagInfo> tags = normalizedTags(*envelope.tags);
            keepUnansweredEdits(AtomicCommandChannel::tag, tags, tags_);
            publish(tags_, std::move(tags), &TavrikBleCentral::tagsChanged);
            updateNextLocalIds();
        } else {
            commandPath_.answered(AtomicCommandChannel::tag);
        }
        setTagError(std::nullopt);
        renewBaseline();
    } else if (envelope.type == "scan_pending") {
        setTagScanState(TagScanState::pending());
        setTagError(std::nullopt);
    } else if (envelope.type == "scan_result") {
        if (!envelope.uid) {
            setTagScanState(TagScanState::failed("Scan result missing UID"));
            if (tagScanPurpose_ == TagScanPurpose::killSwitch) {
                deactivateTagScanSession();
            }
            return;
        }
        publish(tagScanResult_,
            std::optional<TagScanResult>(TagScanResult { *envelope.uid, envelope.tagType, envelope.name }),
            &TavrikBleCentral::tagScanResultChanged);
        setTagScanState(TagScanState::received());
        setTagError(std::nullopt);
    } else if (envelope.type == "scan_timeout") {
        fail(envelope.message.value_or("Kill switch scan timed out"));
    } else if (envelope.type == "error") {
        if (commandPath_.lastChannel() == AtomicCommandChannel::tag) {
            commandPath_.answered(AtomicCommandChannel::tag);
            reloadAfterRefusedChange();
        }
        fail(envelope.message.value_or("Tag error"));
    } else {
        appendLog("[ble:data] unhandled tag payload " + envelope.type, true);
    }
}

void TavrikBleCentral::beginTagScan(TagScanPurpose purpose)
{
    if (isReviewDemo_) {
        setTagScanState(TagScanState::failed("Scanning tags requires a connected Tavrik."));
        return;
    }
    const SyncStage::Kind stage = syncStage_.kind();
    if (sessionMode_ || (stage != SyncStage::Kind::idle && stage != SyncStage::Kind::completed)) {
        setTagError("Finish connecting before scanning tags");
        return;
    }
    setTagError(std::nullopt);
    publish(tagScanResult_, std::nullopt, &TavrikBleCentral::tagScanResultChanged);
    tagScanCommandPending_ = true;
    claims_.take(LinkClaim::tagScan);
    tagScanPurpose_ = purpose;
    startTagScanKeepalive();

    if (isDeviceAttached()) {
        // Sent now, so nothing is left to send when a connection comes up later.
        tagScanCommandPending_ = false;
        setTagScanState(TagScanState::requesting());
        sendTagCommand(std::string(command(purpose)));
        return;
    }
    setTagScanState(TagScanState::waitingForDevice());
    resetConnectionState();
    startScanningIfPossible();
}

void TavrikBleCentral::endTagScanSession()
{
    deactivateTagScanSession();
    setTagScanState(TagScanState::idle());
    publish(tagScanResult_, std::nullopt, &TavrikBleCentral::tagScanResultChanged);
    // A connection made only for the scan is dropped.
    if (!sessionMode_ && !hasLoadedData_ && targetPeripheral_) {
        central.cancelPeripheralConnection(targetPeripheral_);
    }
}

void TavrikBleCentral::deactivateTagScanSession()
{
    claims_.release(LinkClaim::tagScan);
    tagScanCommandPending_ = false;
    tagScanPurpose_ = TagScanPurpose::generic;
    tagScanKeepaliveTask_.cancel();
}

void TavrikBleCentral::startTagScanKeepalive()
{
    tagScanKeepaliveTask_.schedule(tagScanKeepaliveInterval, [this] {
        if (claims_.taken(LinkClaim::tagScan) && isDeviceAttached()) {
            const bool accepted = link().sendCommand("tag", "keepalive");
            if (!accepted) {
                setTagScanState(TagScanState::failed("Failed to send tag command"));
                if (tagScanPurpose_ == TagScanPurpose::killSwitch) {
                    deactivateTagScanSession();
                    return;
                }
            }
        }
        startTagScanKeepalive();
    });
}

void TavrikBleCentral::resetTagState()
{
    publish(tags_, std::vector<TagInfo> {}, &TavrikBleCentral::tagsChanged);
    setTagError(std::nullopt);
    setTagScanState(TagScanState::idle());
    publish(tagScanResult_, std::nullopt, &TavrikBleCentral::tagScanResultChanged);
}

} // namespace tavrik
