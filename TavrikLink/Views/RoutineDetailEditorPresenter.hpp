#pragma once

#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikCore/Routine/RoutineDraft.hpp"
#include "TavrikLink/Views/GroupEditorSheetPresenter.hpp"
#include "TavrikLink/Views/RoutineHierarchyModel.hpp"
#include "TavrikLink/Views/StepEditorSheetPresenter.hpp"

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {

// The editor of one routine: title, summary line, Start and Delete, adding steps and groups, the
// hierarchy list and the step and group sheets. It never talks to the controller: the host hands it
// the draft, a few values and what to do on each action.
class RoutineDetailEditorPresenter : public QObject {
    Q_OBJECT
public:
    struct Host {
        std::function<const RoutineDraft&()> draft;
        std::function<void(RoutineDraft)> setDraft;
        std::function<RoutineStepDraft()> onAddStep;
        std::function<RoutineGroupDraft()> onAddGroup;
        std::function<void(const RoutineStepDraft&)> onDeleteStep;
        std::function<void(const RoutineGroupDraft&)> onDeleteGroup;
        std::function<void()> onCommitHierarchyChange;
        std::function<void()> onCommitStepEdit;
        std::function<void()> onTrigger;
        std::function<void()> onDeleteRoutine;
        // Runs work on the next turn of the event loop.
        std::function<void(std::function<void()>)> defer;
        // The user left the title field.
        std::function<void()> onFinishTitleEditing;
    };

    struct Inputs {
        std::vector<TagInfo> tags;
        bool groupEditingEnabled = false;
        std::optional<std::string> titleValidationMessage;
        std::optional<std::string> uploadStatus;
        std::optional<std::string> stepLoadStatus;

        bool operator==(const Inputs&) const = default;
    };

    explicit RoutineDetailEditorPresenter(Host host, QObject* parent = nullptr);
    ~RoutineDetailEditorPresenter() override;

    static QString titlePlaceholder() { return QStringLiteral("Routine title"); }
    static QString firmwareNotice() { return QStringLiteral("Update Tavrik firmware to create or edit groups."); }
    // "3 steps • 1 groups • 1:02:30".
    static std::string summaryLine(const RoutineDraft& draft);

    // The host's values changed, or its draft did: the list follows.
    void setInputs(Inputs inputs);
    void refresh();
    const Inputs& inputs() const { return m_inputs; }
    const RoutineDraft& draft() const { return m_host.draft(); }
    std::string summaryLine() const { return summaryLine(draft()); }

    // A routine with groups is read-only while the firmware cannot edit groups.
    bool isReadOnly() const;
    bool titleEnabled() const { return !isReadOnly(); }
    bool hierarchyEnabled() const { return !isReadOnly(); }
    bool canAddStep() const { return !isReadOnly(); }
    bool canAddGroup() const { return m_inputs.groupEditingEnabled; }
    bool showsFirmwareNotice() const { return !m_inputs.groupEditingEnabled; }

    RoutineHierarchyModel& hierarchy() { return m_hierarchy; }

    void setTitle(const std::string& title);
    void finishTitleEditing();
    void trigger();
    void deleteRoutine();
    void addStep();
    void addGroup();
    void beginEditingStep(const RoutineStepDraft& step);
    void beginEditingGroup(const RoutineGroupDraft& group);
    // From the list's delete buttons.
    void deleteStep(const RoutineStepDraft& step);
    void deleteGroup(const RoutineGroupDraft& group);

    // The open sheets, or null.
    StepEditorSheetPresenter* stepEditor() const { return m_stepEditor; }
    GroupEditorSheetPresenter* groupEditor() const { return m_groupEditor; }
    std::optional<Uuid> editingStepId() const { return m_editingStepId; }
    std::optional<Uuid> editingGroupId() const { return m_editingGroupId; }

    void commitStepEditAndClose();
    void commitGroupEditAndClose();
    void deleteEditedStep();
    void deleteEditedGroup();

signals:
    // The step or group sheet opened or closed.
    void stepEditorChanged();
    void groupEditorChanged();
    void changed();

private:
    void closeStepEditor();
    void closeGroupEditor();
    void later(std::function<void()> work);

    Host m_host;
    Inputs m_inputs;
    RoutineHierarchyModel m_hierarchy;
    std::optional<Uuid> m_editingStepId;
    QPointer<StepEditorSheetPresenter> m_stepEditor;
    std::optional<Uuid> m_editingGroupId;
    QPointer<GroupEditorSheetPresenter> m_groupEditor;
};

} // namespace tavrik
