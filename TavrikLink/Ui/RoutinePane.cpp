#include "TavrikLink/Ui/RoutinePane.hpp"

#include "TavrikLink/Ui/PaneStyle.hpp"

#include "TavrikLink/Ui/RoutineDetailEditor.hpp"
#include "TavrikLink/Ui/RoutineHierarchyView.hpp"
#include "TavrikLink/Ui/ScheduleSectionView.hpp"
#include "TavrikLink/Ui/SheetSupport.hpp"
#include "TavrikLink/Views/RoutineDetailEditorPresenter.hpp"
#include "TavrikLink/Views/RoutinePanePresenter.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrik {

RoutinePane::RoutinePane(std::unique_ptr<RoutinePanePresenter> presenter, ScheduleSectionPresenter* schedules,
    ContentViewPresenter& window, QWidget* parent)
    : QWidget(parent)
    , window(window)
    , pane(std::move(presenter))
{
    setObjectName(QStringLiteral("routinePane"));

    RoutinePanePresenter* p = pane.get();
    RoutineDetailEditorPresenter::Host host;
    host.draft = [p]() -> const RoutineDraft& { return p->draft(); };
    host.setDraft = [p](RoutineDraft draft) { p->editDraft(std::move(draft)); };
    host.onAddStep = [p] { return p->addRoutineStep(); };
    host.onAddGroup = [p] { return p->addRoutineGroup(); };
    host.onDeleteStep = [p](const RoutineStepDraft& step) { p->removeRoutineStep(step); };
    host.onDeleteGroup = [p](const RoutineGroupDraft& group) { p->removeRoutineGroup(group); };
    host.onCommitHierarchyChange = [p] { p->commitRoutineHierarchyChange(); };
    host.onCommitStepEdit = [p] { p->saveExistingRoutineDraftIfReady(); };
    host.onFinishTitleEditing = [p] { p->finishTitleEditing(); };
    host.onTrigger = [p] { p->triggerShownRoutine(); };
    host.onDeleteRoutine = [p] { p->deleteShownRoutine(); };
    host.defer = [this](std::function<void()> work) {
        if (this->window.actions().defer) {
            this->window.actions().defer(std::move(work));
        } else {
            QTimer::singleShot(0, this, std::move(work));
        }
    };
    editorModel = std::make_unique<RoutineDetailEditorPresenter>(std::move(host));

    // One column that scrolls as a whole: the editor, its steps at their natural height (up to a cap),
    // then the start tags and the schedules.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("routinePaneScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab goes to the controls in the pane, not to the scroll area around them, which shows no
    // mark of having the focus; it scrolls to whichever control has it.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->viewport()->installEventFilter(this);
    layout->addWidget(scroll);
    auto* column = new QWidget;
    column->setObjectName(QStringLiteral("routinePaneColumn"));
    columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 4, 24, 8);
    columnLayout->setSpacing(0);

    errorLabel = new QLabel(column);
    errorLabel->setObjectName(QStringLiteral("routineErrorText"));
    errorLabel->setWordWrap(true);
    QPalette errorPalette = errorLabel->palette();
    errorPalette.setColor(QPalette::WindowText, QColor(200, 30, 30));
    errorLabel->setPalette(errorPalette);
    columnLayout->addWidget(errorLabel);

    // The editor goes here (refresh() builds it the first time a routine is shown).
    emptyPage = new QWidget(column);
    auto* emptyLayout = new QVBoxLayout(emptyPage);
    emptyState = new QLabel(emptyPage);
    emptyState->setObjectName(QStringLiteral("routineEmptyState"));
    emptyState->setForegroundRole(QPalette::PlaceholderText);
    emptyState->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(emptyState, 0, Qt::AlignCenter);
    // The empty state is centred in all the space there is.
    columnLayout->addWidget(emptyPage, 1);

    lowerSection = new QWidget(column);
    lowerSection->setObjectName(QStringLiteral("routineLowerSection"));
    auto* lower = new QVBoxLayout(lowerSection);
    lower->setContentsMargins(0, 10, 0, 12);
    lower->setSpacing(12);
    auto* rule = new QFrame(lowerSection);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    lower->addWidget(rule);
    scheduleSlot = new QWidget(lowerSection);
    scheduleSlot->setObjectName(QStringLiteral("routineScheduleSectionSlot"));
    auto* slotLayout = new QVBoxLayout(scheduleSlot);
    slotLayout->setContentsMargins(0, 0, 0, 0);
    scheduleView = new ScheduleSectionView(schedules, scheduleSlot);
    slotLayout->addWidget(scheduleView);
    lower->addWidget(scheduleSlot);
    columnLayout->addWidget(lowerSection);
    // Spare height stays under the schedules.
    columnLayout->addStretch(1);
    // Hidden until refresh() shows what the pane holds: the scroll area measures its column when it
    // takes it, and a section that is not shown need not be measured (nor its icons looked up).
    lowerSection->hide();
    scroll->setWidget(column);

    connect(pane.get(), &RoutinePanePresenter::changed, this, &RoutinePane::refresh);
    refresh();
}

RoutinePane::~RoutinePane()
{
    // The widgets hold on to the presenters: they go first.
    delete scroll;
}

bool RoutinePane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == scroll->viewport() && event->type() == QEvent::Resize) {
        fitStepList();
    }
    return QWidget::eventFilter(watched, event);
}

void RoutinePane::fitStepList()
{
    // A long routine's steps scroll in their own list, so the schedules under them stay near.
    if (!editorView) {
        return;
    }
    const int cap = std::max(minimumStepListCap, scroll->viewport()->height() * 3 / 5);
    editorView->hierarchyView()->setMaximumListHeight(cap);
}

void RoutinePane::refresh()
{
    const auto& error = pane->data().routineError;
    errorLabel->setText(QString::fromStdString(error.value_or("")));
    errorLabel->setVisible(error.has_value());

    const auto shown = pane->content();
    const bool editing = shown != RoutinePanePresenter::Content::emptyState;
    RoutineDetailEditorPresenter::Inputs inputs;
    inputs.tags = pane->data().tags;
    inputs.groupEditingEnabled = pane->groupEditingEnabled();
    inputs.titleValidationMessage = pane->titleValidationMessage();
    inputs.stepLoadStatus = pane->stepLoadStatus();
    editorModel->setInputs(std::move(inputs));
    if (editing && !editorView) {
        // Built when a routine is first shown: a window that starts on the empty pane (as most do)
        // does not build the editor before it first appears.
        editorView = new RoutineDetailEditor(*editorModel, columnLayout->parentWidget());
        columnLayout->insertWidget(1, editorView);
        fitStepList();
    }
    if (editorView) {
        editorView->setVisible(editing);
    }
    emptyPage->setVisible(!editing);
    // The trailing stretch keeps an editor's schedules right under its steps; the empty state takes all.
    columnLayout->setStretch(columnLayout->count() - 1, editing ? 1 : 0);
    emptyState->setText(QString::fromStdString(pane->emptyStateText()));
    lowerSection->setVisible(editing);
    refreshScheduleSection();
}

void RoutinePane::refreshScheduleSection()
{
    ShownSection next;
    next.content = pane->content();
    if (const RoutineDetailModel* detail = pane->currentRoutineDetail();
        detail && next.content == RoutinePanePresenter::Content::storedRoutine) {
        next.routineId = detail->id;
        next.label = detail->label;
    }
    next.assigned = pane->assignedRoutineStartTags();
    next.canAdd = pane->canAddRoutineStartTag();
    next.addHelp = pane->addRoutineStartTagHelp();
    // Redrawing drops the chips, one of which may be the button being clicked: only a change redraws.
    if (shownSection == next) {
        return;
    }
    ScheduleSectionPresenter& section = scheduleView->model();
    if (next.content == RoutinePanePresenter::Content::newRoutine) {
        section.showNewRoutineDraft();
    } else if (next.routineId) {
        section.showRoutine(ScheduleSectionPresenter::Routine { *next.routineId, next.label });
    } else {
        section.showRoutine(std::nullopt);
    }
    RoutinePanePresenter* p = pane.get();
    // The tags on offer are sorted only when the picker opens: a refresh stays linear in the tags.
    section.setStartTags({ next.assigned, [p] { return p->availableRoutineStartTags(); }, next.canAdd, next.addHelp,
        [p](std::uint32_t tagId) { p->addRoutineStartTag(tagId); },
        [p](std::uint32_t tagId) { p->requestRemoveRoutineStartTag(tagId); } });
    shownSection = std::move(next);
}

} // namespace tavrik
