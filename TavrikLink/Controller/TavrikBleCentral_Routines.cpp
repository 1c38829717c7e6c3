#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Model/RoutineTagReferences.hpp"
#include "TavrikCore/Model/ScheduleCalendar.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Routine/RoutineConversions.hpp"
#include "TavrikCore/Routine/RoutineMutationPlanner.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/LocalizedOrder.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <algorithm>
#include <limits>
#include <unordered_map>

namespace tavrik {

namespace {

std::string joinedIds(const std::vector<std::uint32_t>& ids)
{
    std::string joined;
    for (const std::uint32_t id : ids) {
        if (!joined.empty()) {
            joined += ',';
        }
        joined += std::to_string(id);
    }
    return joined;
}

std::string trimmed(std::string_view value)
{
    return text::trimmed(value, text::TrimSet::whitespacesAndNewlines);
}

} // namespace

void TavrikBleCentral::persistNodeCommands(const std::vector<RoutineMutationPlanner::RoutineNodePersistCommand>& commands)
{
    for (const auto& command : commands) {
        persist(command.channel, command.key, { command.command }, command.debounce, command.attribute);
    }
}

void TavrikBleCentral::handleRoutinePayload(const Data& payload)
{
    RoutineEnvelope envelope;
    try {
        envelope = routineEnvelopeFromJson(parseJson(payload));
    } catch (const std::exception&) {
        setRoutineError("Invalid routine payload");
        claims_.release(LinkClaim::commandConnection);
        endRoutineExchange();
        return;
    }

    if (envelope.type == "routines_state") {
        if (envelope.routines) {
            std::vector<RoutineSummary> summaries = *envelope.routines;
            // A routine saved here keeps the local summary until the device confirms the save.
            for (RoutineSummary& summary : summaries) {
                if (!pendingRoutineDetailSignatures_.contains(summary.id)) {
                    continue;
                }
                const auto local = std::find_if(routineSummaries_.begin(), routineSummaries_.end(),
                    [&](const RoutineSummary& entry) { return entry.id == summary.id; });
                if (local != routineSummaries_.end()) {
                    summary = *local;
                }
            }
            setRoutineSummaries(std::move(summaries));
        }
        std::optional<ActiveRoutineContext> context;
        if (envelope.active) {
            context = makeActiveRoutineContext(envelope.active->id, envelope.active->step, true);
        }
        publish(activeRoutineContext_, std::move(context), &TavrikBleCentral::activeRoutineContextChanged);
        setRoutineError(std::nullopt);
        refreshRoutineDefinitions();
        renewBaseline();
    } else if (envelope.type == "routine_detail") {
        if (!envelope.id || !envelope.label) {
            setRoutineError(std::nullopt);
            return;
        }
        RoutineDetailModel detail;
        detail.id = *envelope.id;
        detail.label = *envelope.label;
        detail.steps = routineStepModels(envelope.steps.value_or(std::vector<RoutineStepPayload> {}));
        detail.groups = routineGroupModels(envelope.groups.value_or(std::vector<RoutineGroupPayload> {}));
        detail.expectedStepCount = envelope.stepCount.value_or(static_cast<std::int64_t>(detail.steps.size()));
        detail.expectedGroupCount = envelope.groupCount.value_or(static_cast<std::int64_t>(detail.groups.size()));
        detail.startTagIds = envelope.startTagIds.value_or(std::vector<std::uint32_t> {});
        detail.hasReceivedAllSteps = true;

        if (const auto pending = pendingRoutineDetailSignatures_.find(detail.id);
            pending != pendingRoutineDetailSignatures_.end()) {
            if (pending->second != detail.syncSignature()) {
                // The device's state from before the local save: the save stands.
                setRoutineError(std::nullopt);
                return;
            }
            pendingRoutineDetailSignatures_.erase(pending);
        }
        storeRoutineDetail(detail);

        const RoutineSummary summary { detail.id, detail.label,
            envelope.stepCount.value_or(static_cast<std::int64_t>(detail.steps.size())),
            envelope.groupCount.value_or(static_cast<std::int64_t>(detail.groups.size())),
            envelope.startTagCount.value_or(
                envelope.startTagIds ? static_cast<std::int64_t>(envelope.startTagIds->size()) : 0) };
        std::vector<RoutineSummary> summaries = routineSummaries_;
        const auto existing = std::find_if(
            summaries.begin(), summaries.end(), [&](const RoutineSummary& entry) { return entry.id == detail.id; });
        if (existing != summaries.end()) {
            *existing = summary;
        } else {
            summaries.push_back(summary);
        }
        setRoutineSummaries(std::move(summaries));
        refreshRoutineDefinitions();
        renewBaseline();
        setRoutineError(std::nullopt);
    } else if (envelope.type == "routine_steps_state") {
        // Details arrive whole; a step page only confirms that the device is fine.
        setRoutineError(std::nullopt);
    } else if (envelope.type == "routine_event") {
        if (!envelope.event || !envelope.id) {
            return;
        }
        const std::string& event = *envelope.event;
        if (event == "trigger" || event == "resume") {
            publish(activeRoutineContext_,
                std::optional(makeActiveRoutineContext(*envelope.id, envelope.step.value_or(0), true)),
                &TavrikBleCentral::activeRoutineContextChanged);
            setRoutineError(std::nullopt);
        } else if (event == "stop" || event == "complete") {
            publish(activeRoutineContext_, std::nullopt, &TavrikBleCentral::activeRoutineContextChanged);
            setRoutineError(std::nullopt);
        } else if (event == "escape_required") {
            setRoutineError("Strict escape armed on Tavrik. Hold the A button to begin.");
        }
        // The event ends the routine-control exchange only: a load, a restore or a Wi-Fi request
        // beside it goes on and keeps the link.
        endRoutineExchange();
        finishControlSessionIfIdle();
    } else if (envelope.type == "error") {
        reloadAfterRefusedChange();
        const std::string message = envelope.message.value_or("Routine error");
        setRoutineError(message);
        endRoutineExchange();
        // A refused edit does not end a load or restore (such as the one that brings back the
        // device's values after a refusal): those report their own failures. With data loaded the
        // refusal shows where the edit was made, and the link stays free for other work.
        const bool syncing = sessionMode_ == SyncMode::load || sessionMode_ == SyncMode::restore;
        if (!syncing && !hasLoadedData_) {
            setSyncStage(SyncStage::failed(message));
            clearSessionFields();
            claims_.release(LinkClaim::commandConnection);
        } else {
            finishControlSessionIfIdle();
        }
    }
}

void TavrikBleCentral::storeRoutineDetail(const RoutineDetailModel& detail)
{
    const auto stored = routineDetails_.find(detail.id);
    if (stored == routineDetails_.end() || !(stored->second == detail)) {
        baselineSnapshot_.beforeDataChange();
        routineReferencesCheckedWith_.reset();
        routineDetails_[detail.id] = detail;
        emit routineDetailsChanged();
    }
    if (activeRoutineContext_ && activeRoutineContext_->routineId == detail.id) {
        publish(activeRoutineContext_,
            std::optional(
                makeActiveRoutineContext(detail.id, activeRoutineContext_->stepIndex, activeRoutineContext_->isRunning)),
            &TavrikBleCentral::activeRoutineContextChanged);
    }
}

ActiveRoutineContext TavrikBleCentral::makeActiveRoutineContext(
    std::uint32_t routineId, std::int64_t stepIndex, bool isRunning) const
{
    ActiveRoutineContext context;
    context.routineId = routineId;
    context.stepIndex = stepIndex;
    context.isRunning = isRunning;

    const auto detail = routineDetails_.find(routineId);
    const auto summary = std::find_if(routineSummaries_.begin(), routineSummaries_.end(),
        [&](const RoutineSummary& entry) { return entry.id == routineId; });
    if (detail != routineDetails_.end()) {
        context.routineName = detail->second.label;
    } else if (summary != routineSummaries_.end()) {
        context.routineName = summary->label;
    } else {
        context.routineName = "Routine " + std::to_string(routineId);
    }

    if (detail != routineDetails_.end()) {
        const std::vector<RoutineStepModel>& steps = detail->second.steps;
        const auto step = std::find_if(
            steps.begin(), steps.end(), [&](const RoutineStepModel& entry) { return entry.position == stepIndex; });
        if (step != steps.end()) {
            if (!step->instruction.empty()) {
                context.stepInstruction = step->instruction;
            }
            if (!step->tagId.empty()) {
                const std::optional<TagInfo> tag = tagForIdReference(step->tagId);
                context.stepTag = tag ? tag->name : std::string("Unlinked tag");
            }
        }
        if (detail->second.expectedStepCount > 0) {
            context.stepCount = detail->second.expectedStepCount;
        } else if (!steps.empty()) {
            context.stepCount = static_cast<std::int64_t>(steps.size());
        }
    } else if (summary != routineSummaries_.end()) {
        context.stepCount = summary->stepCount;
    }
    return context;
}

void TavrikBleCentral::refreshActiveRoutineContextIfNeeded(std::optional<std::uint32_t> routineId)
{
    if (!routineId || !activeRoutineContext_ || activeRoutineContext_->routineId != *routineId) {
        return;
    }
    publish(activeRoutineContext_,
        std::optional(
            makeActiveRoutineContext(*routineId, activeRoutineContext_->stepIndex, activeRoutineContext_->isRunning)),
        &TavrikBleCentral::activeRoutineContextChanged);
}

void TavrikBleCentral::refreshRoutineDefinitions(std::optional<std::uint32_t> relabelledOnly)
{
    if (!relabelledOnly || !moveRoutineDefinition(*relabelledOnly)) {
        publish(routines_, sortedRoutineDefinitions(routineSummaries_, clock), &TavrikBleCentral::routinesChanged);
    }

    // Only the routines that have schedules are looked up: a pass over the summaries, nothing copied.
    std::unordered_map<std::uint32_t, const std::string*> labels;
    for (const ScheduledRoutine& schedule : schedules_) {
        labels.emplace(schedule.routineId, nullptr);
    }
    for (const RoutineSummary& summary : routineSummaries_) {
        if (const auto label = labels.find(summary.id); label != labels.end() && !label->second) {
            label->second = &summary.label;
        }
    }
    std::vector<ScheduledRoutine> schedules = schedules_;
    for (ScheduledRoutine& schedule : schedules) {
        if (const auto label = labels.find(schedule.routineId); label != labels.end() && label->second) {
            schedule.label = *label->second;
        }
    }
    sortIntoScheduleOrder(schedules, clock);
    publish(schedules_, std::move(schedules), &TavrikBleCentral::schedulesChanged);
    updateNextLocalIds();
}

bool TavrikBleCentral::moveRoutineDefinition(std::uint32_t id)
{
    // The list was in label order before this routine's label changed: the routine alone moves, so
    // a key press in a title does not sort every routine again.
    const auto summary = std::find_if(routineSummaries_.begin(), routineSummaries_.end(),
        [&](const RoutineSummary& entry) { return entry.id == id; });
    const auto entry = std::find_if(
        routines_.begin(), routines_.end(), [&](const ScheduleDefinition& definition) { return definition.id == id; });
    if (summary == routineSummaries_.end() || entry == routines_.end() || routines_.size() != routineSummaries_.size()) {
        return false;
    }
    std::vector<ScheduleDefinition> routines = routines_;
    const auto oldIndex = entry - routines_.begin();
    routines.erase(routines.begin() + oldIndex);
    const LocalizedCaseInsensitiveOrder order(clock.localeId());
    const std::string& label = summary->label;
    const auto lower = std::lower_bound(routines.begin(), routines.end(), label,
        [&](const ScheduleDefinition& definition, const std::string& value) { return order(definition.label, value); });
    const auto upper = std::upper_bound(lower, routines.end(), label,
        [&](const std::string& value, const ScheduleDefinition& definition) { return order(value, definition.label); });
    auto place = upper;
    if (lower != upper) {
        // Routines of the same label stay in the summaries' order, as the stable sort leaves them.
        const auto position = [&](std::uint32_t routineId) {
            return std::find_if(routineSummaries_.begin(), routineSummaries_.end(), [&](const RoutineSummary& candidate) {
                return candidate.id == routineId;
            }) - routineSummaries_.begin();
        };
        const auto own = summary - routineSummaries_.begin();
        place = std::find_if(
            lower, upper, [&](const ScheduleDefinition& definition) { return position(definition.id) > own; });
    }
    routines.insert(place, ScheduleDefinition { id, label });
    publish(routines_, std::move(routines), &TavrikBleCentral::routinesChanged);
    return true;
}

std::vector<RoutineStepModel> TavrikBleCentral::routineStepModels(const std::vector<RoutineStepPayload>& steps) const
{
    return receivedRoutineStepModels(steps, random);
}

std::vector<RoutineGroupModel> TavrikBleCentral::routineGroupModels(const std::vector<RoutineGroupPayload>& groups) const
{
    return tavrik::routineGroupModels(groups, random);
}

std::vector<RoutinePayload> TavrikBleCentral::buildRoutinePayloads() const
{
    return routinePayloads(routineSummaries_, routineDetails_);
}

void TavrikBleCentral::resetRoutineState()
{
    setRoutineSummaries({});
    publish(routineDetails_, std::map<std::uint32_t, RoutineDetailModel> {}, &TavrikBleCentral::routineDetailsChanged);
    setRoutineError(std::nullopt);
    publish(activeRoutineContext_, std::nullopt, &TavrikBleCentral::activeRoutineContextChanged);
}

void TavrikBleCentral::validateRoutineTagReferences(const std::vector<RoutineDetailModel>& details) const
{
    // Stored routines already checked against these tags can only break together with the one in
    // question: only it is looked at, not every step of every routine again.
    if (details.size() == 1 && routineReferencesCheckedWith_ && *routineReferencesCheckedWith_ == savedTagIds()) {
        checkRoutineTagReferencesWithOneReplaced(tags_, routineDetails_, details.front());
        return;
    }
    std::map<std::uint32_t, RoutineDetailModel> routines = routineDetails_;
    for (const RoutineDetailModel& detail : details) {
        routines.insert_or_assign(detail.id, detail);
    }
    checkRoutineTagReferences(tags_, routines);
}

std::vector<std::uint32_t> TavrikBleCentral::savedTagIds() const
{
    std::vector<std::uint32_t> ids;
    ids.reserve(tags_.size());
    for (const TagInfo& tag : tags_) {
        ids.push_back(tag.id);
    }
    return ids;
}

RoutineDetailModel TavrikBleCentral::routineDetail(std::uint32_t id, const std::string& label, const RoutineDraft& draft)
{
    return savedRoutineDetail(id, label, draft, random);
}

std::optional<std::string> TavrikBleCentral::routineSaveRefusal(
    const RoutineDraft& draft, std::optional<std::uint32_t> updatingId) const
{
    if (deviceSyncDataVersion_ && *deviceSyncDataVersion_ >= routineGroupsSyncDataVersion) {
        for (const RoutineGroupDraft& group : draft.groups) {
            if (!validTimeLimit(group.mode, group.timeLimitSeconds)) {
                return "Invalid group time limit";
            }
        }
    } else if (!updatingId) {
        if (!draft.groups.empty()) {
            return "Update Tavrik firmware before editing groups.";
        }
    } else {
        const auto stored = routineDetails_.find(*updatingId);
        if (!draft.groups.empty() || (stored != routineDetails_.end() && !stored->second.groups.empty())) {
            return "Update Tavrik firmware before editing routines containing groups.";
        }
    }

    if (draft.label.empty()) {
        return "Label required";
    }
    const std::string title = trimmed(draft.label);
    if (!title.empty()) {
        for (const RoutineSummary& summary : routineSummaries_) {
            if (updatingId && summary.id == *updatingId) {
                continue;
            }
            if (text::equalIgnoringCase(trimmed(summary.label), title)) {
                return "Routine title already exists";
            }
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> TavrikBleCentral::createRoutine(const RoutineDraft& draft)
{
    takeInArrivedData();
    if (const std::optional<std::string> refusal = routineSaveRefusal(draft, std::nullopt)) {
        setRoutineError(*refusal);
        return std::nullopt;
    }
    const std::uint32_t id = nextLocalRoutineId_;
    const RoutineDetailModel detail = routineDetail(id, draft.label, draft);
    try {
        validateRoutineTagReferences({ detail });
    } catch (const SyncImportError& error) {
        setRoutineError(error.message());
        return std::nullopt;
    }
    // Never 0: past the largest id the next load or refresh finds the lowest unused one.
    nextLocalRoutineId_ = id == std::numeric_limits<std::uint32_t>::max() ? 1 : id + 1;

    std::vector<RoutineSummary> summaries = routineSummaries_;
    summaries.push_back({ id, draft.label, static_cast<std::int64_t>(draft.steps.size()),
        static_cast<std::int64_t>(draft.groups.size()), static_cast<std::int64_t>(draft.startTagIds.size()) });
    setRoutineSummaries(std::move(summaries));
    storeRoutineDetail(detail);
    routineReferencesCheckedWith_ = savedTagIds();
    refreshRoutineDefinitions();
    recordUserInteraction();
    baselineSnapshot_ = currentSnapshot();

    if (!detail.steps.empty() || !detail.groups.empty() || !detail.startTagIds.empty()) {
        pendingRoutineDetailSignatures_[id] = detail.syncSignature();
    }
    std::string command = "create id=" + std::to_string(id) + " label=" + quotedCommandValue(draft.label);
    if (!detail.startTagIds.empty()) {
        command += " startTagIds=" + quotedCommandValue(joinedIds(detail.startTagIds));
    }
    persist(AtomicCommandChannel::routine, id, { command }, false, std::nullopt);
    persistNodeCommands(RoutineMutationPlanner::routineNodeMutationCommands(id, std::nullopt, detail));
    setRoutineError(std::nullopt);
    return id;
}

bool TavrikBleCentral::updateRoutine(std::uint32_t id, const RoutineDraft& draft)
{
    takeInArrivedData();
    if (const std::optional<std::string> refusal = routineSaveRefusal(draft, id)) {
        setRoutineError(*refusal);
        return false;
    }
    std::optional<RoutineDetailModel> old;
    if (const auto stored = routineDetails_.find(id); stored != routineDetails_.end()) {
        old = stored->second;
    }
    const auto summary = std::find_if(routineSummaries_.begin(), routineSummaries_.end(),
        [&](const RoutineSummary& entry) { return entry.id == id; });
    const RoutineDetailModel detail = routineDetail(id, draft.label, draft);
    try {
        validateRoutineTagReferences({ detail });
    } catch (const SyncImportError& error) {
        setRoutineError(error.message());
        return false;
    }

    const bool labelChanged = summary == routineSummaries_.end() || summary->label != draft.label;
    const bool startTagsChanged = (old ? old->startTagIds : std::vector<std::uint32_t> {}) != detail.startTagIds;
    // A rename or start-tag change alone must not resend a move for every step and group.
    std::vector<RoutineMutationPlanner::RoutineNodePersistCommand> commands;
    if (!old || !RoutineMutationPlanner::stepsAndGroupsUnchanged(*old, detail)) {
        commands = RoutineMutationPlanner::routineNodeMutationCommands(id, old, detail);
    }
    if (!labelChanged && !startTagsChanged && commands.empty() && old && old->syncSignature() == detail.syncSignature()) {
        setRoutineError(std::nullopt);
        return false;
    }

    // This edit changes the routine and its schedules' labels alone: the baseline follows the data
    // instead of copying every routine on each key press.
    {
        const BaselineSnapshot::Hold hold(baselineSnapshot_);
        if (summary != routineSummaries_.end()) {
            replaceRoutineSummary(static_cast<std::size_t>(summary - routineSummaries_.begin()),
                { id, draft.label, static_cast<std::int64_t>(draft.steps.size()),
                    static_cast<std::int64_t>(draft.groups.size()), static_cast<std::int64_t>(draft.startTagIds.size()) });
        }
        storeRoutineDetail(detail);
        routineReferencesCheckedWith_ = savedTagIds();
        if (labelChanged) {
            std::vector<ScheduledRoutine> schedules = schedules_;
            for (ScheduledRoutine& schedule : schedules) {
                if (schedule.routineId == id) {
                    schedule.label = draft.label;
                }
            }
            publish(schedules_, std::move(schedules), &TavrikBleCentral::schedulesChanged);
        }
        refreshRoutineDefinitions(labelChanged && summary != routineSummaries_.end() ? std::optional(id) : std::nullopt);
        recordUserInteraction();
        baselineSnapshot_.followCurrent();
    }

    if (labelChanged || startTagsChanged || !commands.empty()) {
        pendingRoutineDetailSignatures_[id] = detail.syncSignature();
        if (labelChanged || startTagsChanged) {
            std::string command = "update id=" + std::to_string(id);
            if (labelChanged) {
                command += " label=" + quotedCommandValue(draft.label);
            }
            if (startTagsChanged) {
                command += " startTagIds=" + quotedCommandValue(joinedIds(detail.startTagIds));
            }
            persist(AtomicCommandChannel::routine, id, { command }, false, std::string("metadata"));
        }
        persistNodeCommands(commands);
    }
    setRoutineError(std::nullopt);
    return true;
}

void TavrikBleCentral::deleteRoutine(std::uint32_t id)
{
    takeInArrivedData();
    pendingRoutineDetailSignatures_.erase(id);
    std::vector<RoutineSummary> summaries = routineSummaries_;
    std::erase_if(summaries, [&](const RoutineSummary& summary) { return summary.id == id; });
    setRoutineSummaries(std::move(summaries));
    if (routineDetails_.contains(id)) {
        baselineSnapshot_.beforeDataChange();
        routineDetails_.erase(id);
        emit routineDetailsChanged();
    }
    std::vector<ScheduledRoutine> schedules = schedules_;
    std::erase_if(schedules, [&](const ScheduledRoutine& schedule) { return schedule.routineId == id; });
    publish(schedules_, std::move(schedules), &TavrikBleCentral::schedulesChanged);
    refreshRoutineDefinitions();
    recordUserInteraction();
    baselineSnapshot_ = currentSnapshot();
    persist(AtomicCommandChannel::routine, id, { "delete id=" + std::to_string(id) }, false, std::nullopt);
}

void TavrikBleCentral::triggerRoutine(std::uint32_t id)
{
    if (isReviewDemo_) {
        setRoutineError("Starting routines requires a connected Tavrik.");
        return;
    }
    startRoutineControl("trigger id=" + std::to_string(id));
}

} // namespace tavrik
