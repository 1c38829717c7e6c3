#include "TavrikLink/Ui/RoutinePane.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Ui/RoutineDetailEditor.hpp"
#include "TavrikLink/Ui/ScheduleSectionView.hpp"
#include "TavrikLink/Ui/SheetSupport.hpp"
#include "TavrikLink/Views/RoutineDetailEditorPresenter.hpp"
#include "TavrikLink/Views/RoutinePanePresenter.hpp"
#include "TavrikLink/Views/ScheduleSectionModel.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace tavrik {

RoutinePane::RoutinePane(TavrikBleCentral& controller, ContentViewPresenter& window, QWidget* parent)
    : QWidget(parent)
    , controller(controller)
    , window(window)
{
    setObjectName(QStringLiteral("routinePane"));
    RoutinePanePresenter::Operations operations = RoutinePanePresenter::operationsFor(controller);
    operations.confirmDelete = [this](const std::string& message, const std::string& informative) {
        QMessageBox box(QMessageBox::Warning, QString::fromStdString(message), QString::fromStdString(message),
            QMessageBox::NoButton, this);
        box.setWindowModality(Qt::ApplicationModal);
        box.setInformativeText(QString::fromStdString(informative));
        QPushButton* remove = box.addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(remove);
        box.exec();
        return box.clickedButton() == remove;
    };
    pane = std::make_unique<RoutinePanePresenter>(window, std::move(operations));

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

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 24, 0);
    layout->setSpacing(0);
    errorLabel = new QLabel(this);
    errorLabel->setObjectName(QStringLiteral("routineErrorText"));
    errorLabel->setWordWrap(true);
    QPalette errorPalette = errorLabel->palette();
    errorPalette.setColor(QPalette::WindowText, QColor(200, 30, 30));
    errorLabel->setPalette(errorPalette);
    layout->addWidget(errorLabel);

    content = new QStackedWidget(this);
    editorView = new RoutineDetailEditor(*editorModel, content);
    content->addWidget(editorView);
    auto* emptyPage = new QWidget(content);
    auto* emptyLayout = new QVBoxLayout(emptyPage);
    emptyState = new QLabel(emptyPage);
    emptyState->setObjectName(QStringLiteral("routineEmptyState"));
    emptyState->setForegroundRole(QPalette::PlaceholderText);
    emptyState->setContentsMargins(18, 14, 18, 14);
    emptyState->setFrameShape(QFrame::StyledPanel);
    emptyLayout->addWidget(emptyState, 0, Qt::AlignCenter);
    content->addWidget(emptyPage);
    layout->addWidget(content, 3);

    lowerSection = new QWidget(this);
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
    // In a short window the section scrolls rather than overlapping the editor.
    auto* sectionScroll = new QScrollArea(scheduleSlot);
    sectionScroll->setObjectName(QStringLiteral("routineScheduleSectionScroll"));
    sectionScroll->setWidgetResizable(true);
    sectionScroll->setFrameShape(QFrame::NoFrame);
    sectionScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scheduleView = new ScheduleSectionView(new ScheduleSectionModel(controller, window));
    sectionScroll->setWidget(scheduleView);
    slotLayout->addWidget(sectionScroll);
    lower->addWidget(scheduleSlot);
    // The steps and the schedules share the height; neither squeezes the other out of view.
    sectionScroll->setMinimumHeight(140);
    layout->addWidget(lowerSection, 2);

    using C = TavrikBleCentral;
    for (auto signal : { &C::routineDetailsChanged, &C::routineSummariesChanged, &C::tagsChanged, &C::schedulesChanged,
             &C::routineErrorChanged, &C::deviceSyncDataVersionChanged, &C::routineStartTagsSupportedChanged }) {
        connect(&controller, signal, this, &RoutinePane::readController);
    }
    connect(pane.get(), &RoutinePanePresenter::changed, this, &RoutinePane::refresh);
    readController();
    refresh();
}

RoutinePane::~RoutinePane()
{
    // The widgets hold on to the presenters: they go first.
    delete removalQuestion;
    delete content;
    delete lowerSection;
}

void RoutinePane::readController()
{
    pane->observe(RoutinePanePresenter::read(controller));
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
    content->setCurrentIndex(editing ? 0 : 1);
    emptyState->setText(QString::fromStdString(pane->emptyStateText()));
    lowerSection->setVisible(editing);
    refreshScheduleSection();
    syncRemovalQuestion();
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
    next.available = pane->availableRoutineStartTags();
    next.canAdd = pane->canAddRoutineStartTag();
    next.addHelp = pane->addRoutineStartTagHelp();
    // Redrawing drops the chips, one of which may be the button being clicked: only a change redraws.
    if (shownSection == next) {
        return;
    }
    ScheduleSectionModel& section = scheduleView->model();
    if (next.content == RoutinePanePresenter::Content::newRoutine) {
        section.showNewRoutineDraft();
    } else if (next.routineId) {
        section.showRoutine(ScheduleSectionModel::Routine { *next.routineId, next.label });
    } else {
        section.showRoutine(std::nullopt);
    }
    RoutinePanePresenter* p = pane.get();
    section.setStartTags({ next.assigned, next.available, next.canAdd, next.addHelp,
        [p](std::uint32_t tagId) { p->addRoutineStartTag(tagId); },
        [p](std::uint32_t tagId) { p->requestRemoveRoutineStartTag(tagId); } });
    shownSection = std::move(next);
}

void RoutinePane::syncRemovalQuestion()
{
    const bool asking = pane->removingRoutineStartTagId().has_value();
    if (asking == static_cast<bool>(removalQuestion)) {
        return;
    }
    if (!asking) {
        removalQuestion->deleteLater();
        removalQuestion = nullptr;
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Question, QString(),
        QStringLiteral("Remove this start tag from the routine?"), QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("removeStartTagQuestion"));
    QPushButton* remove = box->addButton(QStringLiteral("Remove"), QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::finished, this, [this, box, remove] {
        if (box->clickedButton() == remove) {
            pane->confirmRemoveRoutineStartTag();
        } else {
            pane->cancelRemoveRoutineStartTag();
        }
    });
    removalQuestion = box;
    box->open();
}

} // namespace tavrik
