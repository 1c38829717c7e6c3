#include "TavrikLink/Views/RoutinePanePresenter.hpp"

#include "TavrikCore/Support/LocalizedOrder.hpp"
#include "TavrikCore/Support/Text.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <QLocale>
#include <QString>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace tavrik {

namespace {

const char* const removeStartTagQuestionKey = "removeStartTag";

RoutineDraft emptyDraft()
{
    return RoutineDraft().normalizedHierarchy();
}

bool isAscii(const std::string& value)
{
    return std::all_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool equalIgnoringCase(const std::string& lhs, const std::string& rhs)
{
    return QString::fromStdString(lhs).compare(QString::fromStdString(rhs), Qt::CaseInsensitive) == 0;
}

bool asciiBlank(char c)
{
    return c == ' ' || c == '\t' || (c >= 0x0A && c <= 0x0D);
}

// A title compared with every other routine's on each key press: ASCII titles, which most are, are
// compared in place; anything else goes the full way (trimmed, folded as Qt folds case).
class TitleMatcher {
public:
    explicit TitleMatcher(std::string title)
        : title(std::move(title))
        , ascii(isAscii(this->title))
    {
    }

    bool matches(const std::string& label) const
    {
        const bool plain = !label.empty() && !asciiBlank(label.front()) && !asciiBlank(label.back());
        if (ascii && plain && isAscii(label)) {
            const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
            return label.size() == title.size()
                && std::equal(
                    label.begin(), label.end(), title.begin(), [&](char a, char b) { return lower(a) == lower(b); });
        }
        return equalIgnoringCase(text::trimmed(label), title);
    }

private:
    std::string title;
    bool ascii;
};

bool contains(const std::vector<std::uint32_t>& ids, std::uint32_t id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

void sortByName(std::vector<TagInfo>& tags, const std::string& localeId)
{
    // Opening a collator costs more than most lists here; one tag or none is already in order.
    if (tags.size() < 2) {
        return;
    }
    const LocalizedCaseInsensitiveOrder order(localeId);
    std::stable_sort(
        tags.begin(), tags.end(), [&](const TagInfo& lhs, const TagInfo& rhs) { return order(lhs.name, rhs.name); });
}

// The start tags of the draft and of every other routine.
std::unordered_set<std::uint32_t> takenStartTagIds(
    const RoutineDraft& draft, const std::map<std::uint32_t, RoutineDetailModel>& details)
{
    std::unordered_set<std::uint32_t> taken(draft.startTagIds.begin(), draft.startTagIds.end());
    for (const auto& [id, detail] : details) {
        if (draft.id && id == *draft.id) {
            continue;
        }
        taken.insert(detail.startTagIds.begin(), detail.startTagIds.end());
    }
    return taken;
}

} // namespace

const std::map<std::uint32_t, RoutineDetailModel> RoutinePanePresenter::noRoutineDetails;
const std::vector<RoutineSummary> RoutinePanePresenter::noRoutineSummaries;

RoutinePanePresenter::RoutinePanePresenter(ContentViewPresenter& window, Operations operations, QObject* parent)
    : QObject(parent)
    , m_window(window)
    , m_operations(std::move(operations))
    , m_observedDraft(window.state().routineDetailDraft)
    , m_shownPane(window.state().selectedPane)
    , m_questions(window.alerts())
{
    connect(&m_window, &ContentViewPresenter::changed, this, [this] {
        const ContentViewPresenter::SidebarPane pane = m_window.state().selectedPane;
        const bool leftRoutines = m_shownPane == ContentViewPresenter::SidebarPane::routines && pane != m_shownPane;
        m_shownPane = pane;
        if (leftRoutines) {
            finishTitleEditing();
        } else if (m_depth == 0) {
            runAction([] {});
        }
    });
    // A pane rebuilt while the removal was asked takes the question over once the old pane has
    // taken its own back.
    connect(&m_window.alerts(), &WindowAlertQueue::currentChanged, this, [this] { syncRemovalQuestion(); });
    syncRemovalQuestion();
}

RoutinePanePresenter::~RoutinePanePresenter()
{
    // Taking the questions back below changes the queue: this half-gone pane must not hear it.
    disconnect(&m_window.alerts(), nullptr, this, nullptr);
}

RoutinePanePresenter::Data RoutinePanePresenter::read(const TavrikBleCentral& controller)
{
    Data data;
    data.routineDetails = &controller.routineDetails();
    data.routineSummaries = &controller.routineSummaries();
    data.tags = controller.tags();
    data.schedules = controller.schedules();
    data.routineError = controller.routineError();
    data.deviceSyncDataVersion = controller.deviceSyncDataVersion();
    data.routineStartTagsSupported = controller.routineStartTagsSupported();
    data.hasLoadedData = controller.hasLoadedData();
    data.localeId = QLocale().name().toStdString();
    return data;
}

std::unique_ptr<RoutinePanePresenter> RoutinePanePresenter::following(
    TavrikBleCentral& controller, ContentViewPresenter& window)
{
    auto presenter = std::make_unique<RoutinePanePresenter>(window, operationsFor(controller));
    RoutinePanePresenter* p = presenter.get();
    using C = TavrikBleCentral;
    QObject::connect(&controller, &C::routineDetailsChanged, p, [p, &controller] { p->observe(read(controller)); });
    // Only a change of the details can concern the shown routine's steps and start tags.
    for (auto signal : { &C::routineSummariesChanged, &C::tagsChanged, &C::schedulesChanged, &C::routineErrorChanged,
             &C::deviceSyncDataVersionChanged, &C::routineStartTagsSupportedChanged, &C::hasLoadedDataChanged }) {
        QObject::connect(&controller, signal, p, [p, &controller] { p->observe(read(controller), Details::unchanged); });
    }
    p->observe(read(controller));
    return presenter;
}

RoutinePanePresenter::Operations RoutinePanePresenter::operationsFor(TavrikBleCentral& controller)
{
    TavrikBleCentral* c = &controller;
    Operations operations;
    operations.createRoutine = [c](const RoutineDraft& draft) { return c->createRoutine(draft); };
    operations.updateRoutine = [c](std::uint32_t id, const RoutineDraft& draft) { return c->updateRoutine(id, draft); };
    operations.deleteRoutine = [c](std::uint32_t id) { c->deleteRoutine(id); };
    operations.triggerRoutine = [c](std::uint32_t id) { c->triggerRoutine(id); };
    return operations;
}

void RoutinePanePresenter::connectWindowActions(ContentViewPresenter& window)
{
    ContentViewPresenter* w = &window;
    auto& actions = window.actions();
    actions.beginCreatingRoutine = [w] { beginCreatingRoutine(*w); };
    actions.showingNewRoutineDraft = [w] { return showingNewRoutineDraft(w->state()); };
    actions.activeStepLine = [](const ActiveRoutineContext& context) { return activeStepLine(context); };
}

bool RoutinePanePresenter::showingNewRoutineDraft(const ContentViewPresenter::State& state)
{
    const RoutineDraft& draft = state.routineDetailDraft;
    if (state.selectedRoutineId || draft.id) {
        return false;
    }
    return state.routineDetailSnapshotSignature == -1 || !draft.label.empty() || !draft.startTagIds.empty()
        || !draft.steps.empty() || !draft.groups.empty();
}

void RoutinePanePresenter::beginCreatingRoutine(ContentViewPresenter& window)
{
    window.modify([](ContentViewPresenter::State& state) {
        state.selectedPane = ContentViewPresenter::SidebarPane::routines;
        state.selectedRoutineId.reset();
        state.selectedScheduleId.reset();
        state.routineDetailDraft = emptyDraft();
        state.routineDetailSnapshotSignature = -1;
        state.routineDetailMetadataSnapshotSignature.reset();
    });
}

std::optional<std::string> RoutinePanePresenter::activeStepLine(const ActiveRoutineContext& context)
{
    std::vector<std::string> parts { context.formattedStepTitle() };
    const bool scanInstruction = context.stepInstruction && equalIgnoringCase(*context.stepInstruction, "scan");
    if (context.stepInstruction && !context.stepInstruction->empty() && !scanInstruction) {
        parts.push_back(*context.stepInstruction);
    }
    if (context.stepTag && !context.stepTag->empty()) {
        parts.push_back((scanInstruction ? "Scan " : "Tag: ") + *context.stepTag);
    }
    std::string line = parts.front();
    for (std::size_t index = 1; index < parts.size(); ++index) {
        line += " \u2022 " + parts[index];
    }
    return line;
}

std::optional<std::string> RoutinePanePresenter::routineTitleValidationMessage(
    const RoutineDraft& draft, const std::vector<RoutineSummary>& summaries)
{
    std::string title = text::trimmed(draft.label);
    if (title.empty()) {
        return std::nullopt;
    }
    const TitleMatcher matcher(std::move(title));
    for (const RoutineSummary& summary : summaries) {
        if (draft.id && summary.id == *draft.id) {
            continue;
        }
        if (matcher.matches(summary.label)) {
            return "A routine with this title already exists.";
        }
    }
    return std::nullopt;
}

std::vector<TagInfo> RoutinePanePresenter::assignedRoutineStartTags(
    const RoutineDraft& draft, const std::vector<TagInfo>& tags, const std::string& localeId)
{
    // A shared id must not break the lookup: the first tag with it wins.
    std::unordered_map<std::uint32_t, const TagInfo*> byId;
    for (const TagInfo& tag : tags) {
        byId.emplace(tag.id, &tag);
    }
    std::vector<TagInfo> assigned;
    for (std::uint32_t id : draft.startTagIds) {
        if (const auto found = byId.find(id); found != byId.end()) {
            assigned.push_back(*found->second);
        }
    }
    sortByName(assigned, localeId);
    return assigned;
}

std::vector<TagInfo> RoutinePanePresenter::availableRoutineStartTags(const RoutineDraft& draft,
    const std::vector<TagInfo>& tags, const std::map<std::uint32_t, RoutineDetailModel>& details,
    const std::string& localeId)
{
    const auto taken = takenStartTagIds(draft, details);
    std::vector<TagInfo> available;
    for (const TagInfo& tag : tags) {
        if (!taken.contains(tag.id)) {
            available.push_back(tag);
        }
    }
    sortByName(available, localeId);
    return available;
}

void RoutinePanePresenter::observe(Data next, Details details)
{
    if (details == Details::mayHaveChanged || next.routineDetails != m_data.routineDetails) {
        m_otherStartTags.reset();
    }
    m_data = std::move(next);
    runAction([] {});
}

RoutinePanePresenter::Content RoutinePanePresenter::content() const
{
    if (showingNewRoutineDraft(m_window.state())) {
        return Content::newRoutine;
    }
    return currentRoutineDetail() ? Content::storedRoutine : Content::emptyState;
}

std::string RoutinePanePresenter::emptyStateText() const
{
    return m_window.state().selectedRoutineId ? "Loading routine\u2026"
                                              : "Select a routine from the sidebar to view details.";
}

const RoutineDraft& RoutinePanePresenter::draft() const
{
    return m_window.state().routineDetailDraft;
}

const RoutineDetailModel* RoutinePanePresenter::currentRoutineDetail() const
{
    const auto& selected = m_window.state().selectedRoutineId;
    if (!selected) {
        return nullptr;
    }
    const auto found = m_data.routineDetails->find(*selected);
    return found == m_data.routineDetails->end() ? nullptr : &found->second;
}

std::vector<ScheduledRoutine> RoutinePanePresenter::selectedRoutineSchedules() const
{
    std::vector<ScheduledRoutine> schedules;
    if (const RoutineDetailModel* detail = currentRoutineDetail()) {
        std::copy_if(m_data.schedules.begin(), m_data.schedules.end(), std::back_inserter(schedules),
            [&](const ScheduledRoutine& schedule) { return schedule.routineId == detail->id; });
    }
    return schedules;
}

std::vector<TagInfo> RoutinePanePresenter::assignedRoutineStartTags() const
{
    return assignedRoutineStartTags(draft(), m_data.tags, m_data.localeId);
}

std::vector<TagInfo> RoutinePanePresenter::availableRoutineStartTags() const
{
    return availableRoutineStartTags(draft(), m_data.tags, *m_data.routineDetails, m_data.localeId);
}

bool RoutinePanePresenter::hasAvailableRoutineStartTag() const
{
    // The other routines' start tags are gathered once per change of the controller's data, not on
    // every refresh of the pane: a device may hold thousands of routines.
    if (!m_otherStartTags || m_otherStartTags->first != draft().id) {
        RoutineDraft owner;
        owner.id = draft().id;
        m_otherStartTags.emplace(draft().id, takenStartTagIds(owner, *m_data.routineDetails));
    }
    const std::unordered_set<std::uint32_t>& others = m_otherStartTags->second;
    return std::any_of(m_data.tags.begin(), m_data.tags.end(),
        [&](const TagInfo& tag) { return !others.contains(tag.id) && !contains(draft().startTagIds, tag.id); });
}

bool RoutinePanePresenter::canAddRoutineStartTag() const
{
    return m_data.routineStartTagsSupported && draft().id && draft().hasRootNodes() && hasAvailableRoutineStartTag();
}

std::string RoutinePanePresenter::addRoutineStartTagHelp() const
{
    if (!m_data.routineStartTagsSupported) {
        return "Upgrade Tavrik firmware to add routine start tags.";
    }
    if (!draft().hasRootNodes()) {
        return "Add a runnable step or group first.";
    }
    if (m_data.tags.empty()) {
        return "Create a saved tag first.";
    }
    if (hasAvailableRoutineStartTag()) {
        return "Choose a saved tag that will start this routine when scanned.";
    }
    return "Every saved tag is already assigned to this or another routine.";
}

std::optional<std::string> RoutinePanePresenter::titleValidationMessage() const
{
    return routineTitleValidationMessage(draft(), *m_data.routineSummaries);
}

bool RoutinePanePresenter::groupEditingEnabled() const
{
    return m_data.deviceSyncDataVersion && *m_data.deviceSyncDataVersion > 8;
}

std::optional<std::string> RoutinePanePresenter::stepLoadStatus() const
{
    const RoutineDetailModel* detail = content() == Content::storedRoutine ? currentRoutineDetail() : nullptr;
    if (detail && detail->expectedStepCount >= 1 && !detail->steps.empty() && !detail->hasReceivedAllSteps) {
        return detail->loadingProgressDescription();
    }
    return std::nullopt;
}

std::optional<std::uint32_t> RoutinePanePresenter::removingRoutineStartTagId() const
{
    return m_window.state().removingRoutineStartTagId;
}

template <class Change>
void RoutinePanePresenter::runAction(Change change)
{
    ++m_depth;
    change();
    if (m_depth == 1) {
        dropVanishedSelection();
        // A save may switch the pane to the stored routine, whose detail then replaces the draft.
        for (int round = 0; round < 2; ++round) {
            refreshShownRoutine();
            afterDraftChange();
        }
    }
    --m_depth;
    if (m_depth == 0) {
        syncRemovalQuestion();
        emit changed();
    }
}

void RoutinePanePresenter::syncRemovalQuestion()
{
    const std::string key = removeStartTagQuestionKey;
    if (!removingRoutineStartTagId()) {
        m_questions.withdraw(key);
        return;
    }
    if (m_window.alerts().contains(key)) {
        return;
    }
    m_questions.askCarefully(
        key, "Remove this start tag from the routine?", std::string(), "Remove", "Cancel",
        [this] { confirmRemoveRoutineStartTag(); }, [this] { cancelRemoveRoutineStartTag(); },
        WindowAlertQueue::Kind::question);
}

void RoutinePanePresenter::store(RoutineDraft next)
{
    m_window.modify([&](ContentViewPresenter::State& state) { state.routineDetailDraft = std::move(next); });
}

void RoutinePanePresenter::afterDraftChange()
{
    if (draft() == m_observedDraft) {
        return;
    }
    m_observedDraft = draft();
    const RoutineDraft& current = draft();
    const Content shown = content();
    if (shown == Content::newRoutine) {
        // A new routine is created the moment it becomes valid.
        if (!current.id && current.isValid() && !titleValidationMessage()) {
            saveRoutineDetailDraft();
        }
        return;
    }
    if (shown != Content::storedRoutine || !currentRoutineDetail()->hasReceivedAllSteps) {
        return;
    }
    if (!current.id || !current.isValid() || titleValidationMessage()) {
        return;
    }
    const auto& state = m_window.state();
    if (state.routineDetailMetadataSnapshotSignature == current.metadataSignature()) {
        return;
    }
    if (state.routineDetailSnapshotSignature == current.syncSignature()) {
        return;
    }
    saveRoutineDetailDraft();
}

void RoutinePanePresenter::refreshShownRoutine()
{
    if (content() != Content::storedRoutine) {
        m_shownRoutineId.reset();
        m_shownDetail.reset();
        return;
    }
    const RoutineDetailModel& detail = *currentRoutineDetail();
    // The editor appearing for a routine, or that routine's detail changing.
    if (m_shownRoutineId != detail.id || m_shownDetail != detail) {
        m_shownRoutineId = detail.id;
        m_shownDetail = detail;
        syncRoutineDetailDraft(detail);
    }
}

void RoutinePanePresenter::editDraft(RoutineDraft next)
{
    runAction([&] { store(std::move(next)); });
}

void RoutinePanePresenter::finishTitleEditing()
{
    runAction([&] {
        const RoutineDetailModel* saved = currentRoutineDetail();
        if (content() != Content::storedRoutine || draft().id != saved->id) {
            return;
        }
        if (!titleValidationMessage() && !draft().label.empty()) {
            return;
        }
        RoutineDraft next = draft();
        next.label = saved->label;
        store(std::move(next));
    });
}

RoutineStepDraft RoutinePanePresenter::addRoutineStep()
{
    RoutineStepDraft step;
    runAction([&] {
        RoutineDraft next = draft();
        step = next.appendRootStep();
        store(std::move(next));
    });
    return step;
}

RoutineGroupDraft RoutinePanePresenter::addRoutineGroup()
{
    RoutineGroupDraft group;
    runAction([&] {
        RoutineDraft next = draft();
        group = next.appendGroup();
        store(std::move(next));
    });
    return group;
}

void RoutinePanePresenter::removeRoutineStep(const RoutineStepDraft& step)
{
    runAction([&] {
        RoutineDraft next = draft();
        std::erase_if(next.steps, [&](const RoutineStepDraft& candidate) { return candidate.id == step.id; });
        next.normalizeHierarchy();
        store(std::move(next));
        saveExistingRoutineDraftIfReady();
    });
}

void RoutinePanePresenter::removeRoutineGroup(const RoutineGroupDraft& group)
{
    runAction([&] {
        RoutineDraft next = draft();
        next.removeGroup(group.groupId);
        store(std::move(next));
        saveExistingRoutineDraftIfReady();
    });
}

void RoutinePanePresenter::commitRoutineHierarchyChange()
{
    runAction([&] {
        store(draft().normalizedHierarchy());
        saveExistingRoutineDraftIfReady();
    });
}

void RoutinePanePresenter::saveExistingRoutineDraftIfReady()
{
    runAction([&] {
        if (draft().id && draft().isValid() && !titleValidationMessage()) {
            saveRoutineDetailDraft();
        }
    });
}

void RoutinePanePresenter::saveRoutineDetailDraft()
{
    if (titleValidationMessage() || !draft().isValid()) {
        return;
    }
    const RoutineDraft current = draft();
    if (current.id) {
        if (!m_operations.updateRoutine || !m_operations.updateRoutine(*current.id, current)) {
            return;
        }
        m_window.modify([&](ContentViewPresenter::State& state) {
            state.routineDetailSnapshotSignature = current.syncSignature();
            state.routineDetailMetadataSnapshotSignature = current.metadataSignature();
        });
        return;
    }
    const auto id = m_operations.createRoutine ? m_operations.createRoutine(current) : std::nullopt;
    if (!id) {
        return;
    }
    // The draft keeps no id: the device's detail of the new routine replaces it when it comes.
    m_window.modify([&](ContentViewPresenter::State& state) {
        state.selectedPane = ContentViewPresenter::SidebarPane::routines;
        state.selectedRoutineId = *id;
        state.routineDetailSnapshotSignature.reset();
        state.routineDetailMetadataSnapshotSignature.reset();
    });
}

void RoutinePanePresenter::addRoutineStartTag(std::uint32_t tagId)
{
    runAction([&] {
        if (!canAddRoutineStartTag() || contains(draft().startTagIds, tagId)) {
            return;
        }
        RoutineDraft next = draft();
        next.startTagIds.push_back(tagId);
        std::sort(next.startTagIds.begin(), next.startTagIds.end());
        store(std::move(next));
        saveExistingRoutineDraftIfReady();
    });
}

void RoutinePanePresenter::removeRoutineStartTag(std::uint32_t tagId)
{
    runAction([&] {
        RoutineDraft next = draft();
        std::erase(next.startTagIds, tagId);
        store(std::move(next));
        saveExistingRoutineDraftIfReady();
    });
}

void RoutinePanePresenter::requestRemoveRoutineStartTag(std::uint32_t tagId)
{
    runAction(
        [&] { m_window.modify([&](ContentViewPresenter::State& state) { state.removingRoutineStartTagId = tagId; }); });
}

void RoutinePanePresenter::confirmRemoveRoutineStartTag()
{
    runAction([&] {
        if (const auto id = removingRoutineStartTagId()) {
            removeRoutineStartTag(*id);
        }
        cancelRemoveRoutineStartTag();
    });
}

void RoutinePanePresenter::cancelRemoveRoutineStartTag()
{
    runAction(
        [&] { m_window.modify([](ContentViewPresenter::State& state) { state.removingRoutineStartTagId.reset(); }); });
}

void RoutinePanePresenter::syncRoutineDetailDraft(const RoutineDetailModel& detail)
{
    const auto& state = m_window.state();
    const RoutineDraft& current = state.routineDetailDraft;
    const std::int64_t deviceSignature = detail.syncSignature();
    const bool sameRoutine = current.id == detail.id;
    const auto& confirmed = state.routineDetailSnapshotSignature;
    if (sameRoutine && confirmed) {
        const std::int64_t draftSignature = current.syncSignature();
        if (draftSignature != *confirmed) {
            // Local edits the device has not confirmed win, until the device holds exactly them.
            if (draftSignature == deviceSignature) {
                const std::int64_t metadata = current.metadataSignature();
                m_window.modify([&](ContentViewPresenter::State& s) {
                    s.routineDetailSnapshotSignature = deviceSignature;
                    s.routineDetailMetadataSnapshotSignature = metadata;
                });
            }
            return;
        }
        if (*confirmed == deviceSignature) {
            return;
        }
    }
    RoutineDraft replacement = sameRoutine ? RoutineDraft(detail, current) : RoutineDraft(detail);
    const std::int64_t metadata = replacement.metadataSignature();
    m_window.modify([&](ContentViewPresenter::State& s) {
        s.routineDetailDraft = std::move(replacement);
        s.routineDetailSnapshotSignature = deviceSignature;
        s.routineDetailMetadataSnapshotSignature = metadata;
    });
}

void RoutinePanePresenter::triggerShownRoutine()
{
    if (content() == Content::storedRoutine && m_operations.triggerRoutine) {
        m_operations.triggerRoutine(currentRoutineDetail()->id);
    }
}

void RoutinePanePresenter::deleteShownRoutine()
{
    if (content() == Content::storedRoutine) {
        confirmDeleteRoutine(*currentRoutineDetail());
    }
}

void RoutinePanePresenter::confirmDeleteRoutine(const RoutineDetailModel& detail)
{
    m_questions.askCarefully("deleteRoutine:" + std::to_string(detail.id), "Delete Routine?",
        "Remove " + detail.label + ", its schedules, and its start-tag assignments?", "Delete", "Cancel",
        [this, target = detail] { deleteRoutine(target); });
}

void RoutinePanePresenter::deleteRoutine(const RoutineDetailModel& target)
{
    runAction([&] {
        if (m_operations.deleteRoutine) {
            m_operations.deleteRoutine(target.id);
        }
        if (m_window.state().selectedRoutineId == target.id) {
            clearSelection();
        }
        syncScheduleSelection();
    });
}

void RoutinePanePresenter::dropVanishedSelection()
{
    const auto& selected = m_window.state().selectedRoutineId;
    // The detail is looked up first: it is there on every key press, and the summaries are long.
    if (!selected || !m_data.hasLoadedData || m_data.routineDetails->contains(*selected)) {
        return;
    }
    const std::vector<RoutineSummary>& summaries = *m_data.routineSummaries;
    if (std::any_of(summaries.begin(), summaries.end(),
            [&](const RoutineSummary& summary) { return summary.id == *selected; })) {
        return;
    }
    clearSelection();
    syncScheduleSelection();
}

void RoutinePanePresenter::clearSelection()
{
    m_window.modify([](ContentViewPresenter::State& state) {
        state.selectedRoutineId.reset();
        state.selectedScheduleId.reset();
        state.routineDetailDraft = emptyDraft();
        state.routineDetailSnapshotSignature.reset();
        state.routineDetailMetadataSnapshotSignature.reset();
    });
}

void RoutinePanePresenter::syncScheduleSelection()
{
    if (m_operations.syncScheduleSelection) {
        m_operations.syncScheduleSelection();
    } else if (m_window.actions().syncScheduleSelection) {
        m_window.actions().syncScheduleSelection();
    }
}

} // namespace tavrik
