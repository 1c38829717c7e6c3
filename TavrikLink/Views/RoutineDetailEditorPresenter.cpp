#include "TavrikLink/Views/RoutineDetailEditorPresenter.hpp"

#include "TavrikLink/Views/DurationText.hpp"

#include <utility>

namespace tavrik {

RoutineDetailEditorPresenter::RoutineDetailEditorPresenter(Host host, QObject* parent)
    : QObject(parent)
    , m_host(std::move(host))
{
    m_hierarchy.setDraft(m_host.draft());
    m_hierarchy.setCommitHandler([this] {
        if (m_host.onCommitHierarchyChange) {
            m_host.onCommitHierarchyChange();
        }
    });
    // A drag preview moves the step in the list's draft; the host keeps it.
    connect(&m_hierarchy, &RoutineHierarchyModel::draftChanged, this, [this] {
        if (m_host.setDraft && !(m_hierarchy.draft() == m_host.draft())) {
            m_host.setDraft(m_hierarchy.draft());
        }
    });
}

RoutineDetailEditorPresenter::~RoutineDetailEditorPresenter()
{
    delete m_stepEditor;
    delete m_groupEditor;
}

std::string RoutineDetailEditorPresenter::summaryLine(const RoutineDraft& draft)
{
    std::int64_t totalSeconds = 0;
    for (const RoutineStepDraft& step : draft.steps) {
        totalSeconds += step.seconds;
    }
    return std::to_string(draft.steps.size()) + " steps \u2022 " + std::to_string(draft.groups.size())
        + " groups \u2022 " + formattedDuration(totalSeconds);
}

void RoutineDetailEditorPresenter::setInputs(Inputs inputs)
{
    if (inputs == m_inputs) {
        refresh();
        return;
    }
    const bool tagsChanged = inputs.tags != m_inputs.tags;
    m_inputs = std::move(inputs);
    if (tagsChanged) {
        m_hierarchy.setTags(m_inputs.tags);
    }
    refresh();
    emit changed();
}

void RoutineDetailEditorPresenter::refresh()
{
    // The host's draft changed elsewhere (device data, a deleted step): the list shows it.
    if (!(m_hierarchy.draft() == m_host.draft())) {
        m_hierarchy.setDraft(m_host.draft());
        emit changed();
    }
}

bool RoutineDetailEditorPresenter::isReadOnly() const
{
    return !m_inputs.groupEditingEnabled && !draft().groups.empty();
}

void RoutineDetailEditorPresenter::setTitle(const std::string& title)
{
    if (title == draft().label || !m_host.setDraft) {
        return;
    }
    RoutineDraft next = draft();
    next.label = title;
    m_host.setDraft(std::move(next));
}

void RoutineDetailEditorPresenter::finishTitleEditing()
{
    if (m_host.onFinishTitleEditing) {
        m_host.onFinishTitleEditing();
    }
}

void RoutineDetailEditorPresenter::trigger()
{
    if (m_host.onTrigger) {
        m_host.onTrigger();
    }
}

void RoutineDetailEditorPresenter::deleteRoutine()
{
    if (m_host.onDeleteRoutine) {
        m_host.onDeleteRoutine();
    }
}

void RoutineDetailEditorPresenter::addStep()
{
    if (!canAddStep() || !m_host.onAddStep) {
        return;
    }
    const RoutineStepDraft step = m_host.onAddStep();
    refresh();
    beginEditingStep(step);
}

void RoutineDetailEditorPresenter::addGroup()
{
    if (!canAddGroup() || !m_host.onAddGroup) {
        return;
    }
    const RoutineGroupDraft group = m_host.onAddGroup();
    refresh();
    beginEditingGroup(group);
}

void RoutineDetailEditorPresenter::beginEditingStep(const RoutineStepDraft& step)
{
    closeStepEditor();
    m_editingStepId = step.id;
    m_stepEditor = new StepEditorSheetPresenter(
        step, m_inputs.tags, [this] { commitStepEditAndClose(); }, [this] { deleteEditedStep(); }, true, this);
    emit stepEditorChanged();
}

void RoutineDetailEditorPresenter::beginEditingGroup(const RoutineGroupDraft& group)
{
    closeGroupEditor();
    m_editingGroupId = group.id;
    m_groupEditor = new GroupEditorSheetPresenter(
        group, [this] { commitGroupEditAndClose(); }, [this] { deleteEditedGroup(); }, this);
    emit groupEditorChanged();
}

void RoutineDetailEditorPresenter::deleteStep(const RoutineStepDraft& step)
{
    if (m_host.onDeleteStep) {
        m_host.onDeleteStep(step);
    }
    refresh();
}

void RoutineDetailEditorPresenter::deleteGroup(const RoutineGroupDraft& group)
{
    if (m_host.onDeleteGroup) {
        m_host.onDeleteGroup(group);
    }
    refresh();
}

void RoutineDetailEditorPresenter::commitStepEditAndClose()
{
    if (m_stepEditor && m_editingStepId && m_host.setDraft) {
        const RoutineStepDraft copy = m_stepEditor->step();
        RoutineDraft next = draft();
        for (RoutineStepDraft& step : next.steps) {
            if (step.id == *m_editingStepId) {
                step = copy;
                break;
            }
        }
        m_host.setDraft(std::move(next));
    }
    closeStepEditor();
    if (m_host.onCommitStepEdit) {
        m_host.onCommitStepEdit();
    }
    refresh();
}

void RoutineDetailEditorPresenter::commitGroupEditAndClose()
{
    if (m_groupEditor && m_editingGroupId && m_host.setDraft) {
        const RoutineGroupDraft copy = m_groupEditor->group();
        RoutineDraft next = draft();
        for (RoutineGroupDraft& group : next.groups) {
            if (group.id == *m_editingGroupId) {
                group = copy;
                break;
            }
        }
        next.normalizeHierarchy();
        m_host.setDraft(std::move(next));
    }
    closeGroupEditor();
    if (m_host.onCommitStepEdit) {
        m_host.onCommitStepEdit();
    }
    refresh();
}

void RoutineDetailEditorPresenter::deleteEditedStep()
{
    if (!m_stepEditor) {
        return;
    }
    const RoutineStepDraft copy = m_stepEditor->step();
    closeStepEditor();
    // The sheet is gone before the list changes.
    later([this, copy] { deleteStep(copy); });
}

void RoutineDetailEditorPresenter::deleteEditedGroup()
{
    if (!m_groupEditor) {
        return;
    }
    const RoutineGroupDraft copy = m_groupEditor->group();
    closeGroupEditor();
    later([this, copy] { deleteGroup(copy); });
}

void RoutineDetailEditorPresenter::closeStepEditor()
{
    m_editingStepId.reset();
    if (m_stepEditor) {
        // The sheet may be calling us from one of its own actions.
        m_stepEditor->deleteLater();
        m_stepEditor = nullptr;
        emit stepEditorChanged();
    }
}

void RoutineDetailEditorPresenter::closeGroupEditor()
{
    m_editingGroupId.reset();
    if (m_groupEditor) {
        m_groupEditor->deleteLater();
        m_groupEditor = nullptr;
        emit groupEditorChanged();
    }
}

void RoutineDetailEditorPresenter::later(std::function<void()> work)
{
    if (m_host.defer) {
        QPointer<RoutineDetailEditorPresenter> self(this);
        m_host.defer([self, work = std::move(work)] {
            if (self) {
                work();
            }
        });
    } else {
        work();
    }
}

} // namespace tavrik
