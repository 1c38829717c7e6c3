#pragma once

#include "TavrikCore/Model/RoutineModels.hpp"
#include "TavrikCore/Model/RoutinePayloads.hpp"
#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikCore/Routine/RoutineDraft.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/PaneQuestions.hpp"

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tavrik {

class TavrikBleCentral;

// The routine pane: keeps the window's draft of the routine on screen in step with the device's
// data, saves every accepted change without a Save button, and owns the title and start-tag rules.
// The draft and its confirmed signatures live in the window's state; the pane edits them there.
class RoutinePanePresenter : public QObject {
    Q_OBJECT
public:
    // What the pane reads of the controller.
    struct Data {
        // The routine tables are read where they are kept (the controller's): copying them on
        // every change of one routine would cost as much as all the routines. Never null.
        const std::map<std::uint32_t, RoutineDetailModel>* routineDetails = &noRoutineDetails;
        const std::vector<RoutineSummary>* routineSummaries = &noRoutineSummaries;
        std::vector<TagInfo> tags;
        std::vector<ScheduledRoutine> schedules;
        std::optional<std::string> routineError;
        std::optional<std::int64_t> deviceSyncDataVersion;
        bool routineStartTagsSupported = false;
        // Loaded data lacking the selected routine means it is gone, not still to come.
        bool hasLoadedData = false;
        // Tag lists are sorted for this locale.
        std::string localeId = "en_US";

        bool operator==(const Data&) const = default;
    };

    // The controller operations the pane calls.
    struct Operations {
        std::function<std::optional<std::uint32_t>(const RoutineDraft&)> createRoutine;
        std::function<bool(std::uint32_t, const RoutineDraft&)> updateRoutine;
        std::function<void(std::uint32_t)> deleteRoutine;
        std::function<void(std::uint32_t)> triggerRoutine;
        std::function<void()> syncScheduleSelection;
    };

    static const std::map<std::uint32_t, RoutineDetailModel> noRoutineDetails;
    static const std::vector<RoutineSummary> noRoutineSummaries;

    enum class Content { newRoutine, storedRoutine, emptyState };

    RoutinePanePresenter(ContentViewPresenter& window, Operations operations, QObject* parent = nullptr);
    ~RoutinePanePresenter() override;

    static Data read(const TavrikBleCentral& controller);
    static Operations operationsFor(TavrikBleCentral& controller);
    // A presenter that follows the controller: it calls the controller's operations and reads in
    // every published change the pane shows.
    static std::unique_ptr<RoutinePanePresenter> following(TavrikBleCentral& controller, ContentViewPresenter& window);
    // The window's own routine actions (new routine, the sidebar's draft row, the title bar's step line).
    static void connectWindowActions(ContentViewPresenter& window);

    static bool showingNewRoutineDraft(const ContentViewPresenter::State& state);
    static void beginCreatingRoutine(ContentViewPresenter& window);
    static std::optional<std::string> activeStepLine(const ActiveRoutineContext& context);
    static std::optional<std::string> routineTitleValidationMessage(
        const RoutineDraft& draft, const std::vector<RoutineSummary>& summaries);
    static std::vector<TagInfo> assignedRoutineStartTags(
        const RoutineDraft& draft, const std::vector<TagInfo>& tags, const std::string& localeId);
    static std::vector<TagInfo> availableRoutineStartTags(const RoutineDraft& draft, const std::vector<TagInfo>& tags,
        const std::map<std::uint32_t, RoutineDetailModel>& details, const std::string& localeId);

    // Whether an observed change may concern the routines' details (steps, start tags), or only
    // other data: what is gathered from every routine is then kept.
    enum class Details { mayHaveChanged, unchanged };
    // The controller published: the shown routine is brought into line with its detail. The
    // tables may have changed in place, so every call counts as a change.
    void observe(Data next, Details details = Details::mayHaveChanged);
    const Data& data() const { return m_data; }

    Content content() const;
    std::string emptyStateText() const;
    const RoutineDraft& draft() const;
    const RoutineDetailModel* currentRoutineDetail() const;
    std::vector<ScheduledRoutine> selectedRoutineSchedules() const;
    std::vector<TagInfo> assignedRoutineStartTags() const;
    std::vector<TagInfo> availableRoutineStartTags() const;
    // Whether availableRoutineStartTags() has any, without building the list.
    bool hasAvailableRoutineStartTag() const;
    bool canAddRoutineStartTag() const;
    std::string addRoutineStartTagHelp() const;
    std::optional<std::string> titleValidationMessage() const;
    bool groupEditingEnabled() const;
    std::optional<std::string> stepLoadStatus() const;
    std::optional<std::uint32_t> removingRoutineStartTagId() const;

    // The editor wrote the draft (title typed, a drag preview): the new-routine and autosave rules run.
    void editDraft(RoutineDraft next);
    // The user left the title field, or the pane: a stored routine's title that cannot be saved (a
    // duplicate, or empty) gives way to the saved one, so the field never shows what is not saved
    // once the user has moved on. While typing the text and its message stay.
    void finishTitleEditing();
    RoutineStepDraft addRoutineStep();
    RoutineGroupDraft addRoutineGroup();
    void removeRoutineStep(const RoutineStepDraft& step);
    void removeRoutineGroup(const RoutineGroupDraft& group);
    void commitRoutineHierarchyChange();
    void saveExistingRoutineDraftIfReady();
    void saveRoutineDetailDraft();
    void addRoutineStartTag(std::uint32_t tagId);
    void removeRoutineStartTag(std::uint32_t tagId);
    // A start-tag chip asks for its removal; the confirmation answers.
    void requestRemoveRoutineStartTag(std::uint32_t tagId);
    void confirmRemoveRoutineStartTag();
    void cancelRemoveRoutineStartTag();
    void syncRoutineDetailDraft(const RoutineDetailModel& detail);
    // Start and Delete of the editor; nothing for a new routine.
    void triggerShownRoutine();
    void deleteShownRoutine();
    // Asks "Delete Routine?" in the window's alert queue; only "Delete" deletes.
    void confirmDeleteRoutine(const RoutineDetailModel& detail);

signals:
    void changed();

private:
    template <class Change>
    void runAction(Change change);
    void store(RoutineDraft next);
    void afterDraftChange();
    void refreshShownRoutine();
    // A selected routine the loaded data no longer holds (the device refused it, or it went
    // elsewhere) is never waited for: the selection is cleared as after a delete.
    void dropVanishedSelection();
    void clearSelection();
    void syncScheduleSelection();
    void deleteRoutine(const RoutineDetailModel& target);
    // The start-tag removal question stays in the queue exactly while the window asks it.
    void syncRemovalQuestion();

    ContentViewPresenter& m_window;
    Operations m_operations;
    Data m_data;
    // The detail the editor shows, as last reconciled.
    std::optional<std::uint32_t> m_shownRoutineId;
    std::optional<RoutineDetailModel> m_shownDetail;
    // The draft as the change rules last saw it.
    RoutineDraft m_observedDraft;
    // The start tags of the routines other than the draft's (by the draft's id), until data change.
    mutable std::optional<std::pair<std::optional<std::uint32_t>, std::unordered_set<std::uint32_t>>> m_otherStartTags;
    int m_depth = 0;
    ContentViewPresenter::SidebarPane m_shownPane;
    PaneQuestions m_questions;
};

} // namespace tavrik
