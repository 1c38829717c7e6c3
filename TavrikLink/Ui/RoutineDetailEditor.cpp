#include "TavrikLink/Ui/RoutineDetailEditor.hpp"

#include "TavrikLink/Ui/GroupEditorSheet.hpp"
#include "TavrikLink/Ui/RoutineHierarchyView.hpp"
#include "TavrikLink/Ui/SheetSupport.hpp"
#include "TavrikLink/Ui/StepEditorSheet.hpp"
#include "TavrikLink/Ui/SymbolIcon.hpp"
#include "TavrikLink/Ui/ValidatedField.hpp"
#include "TavrikLink/Views/RoutineDetailEditorPresenter.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavrik {

namespace {

QLabel* captionLabel(QWidget* parent, const QString& name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    return label;
}

} // namespace

RoutineDetailEditor::RoutineDetailEditor(RoutineDetailEditorPresenter& presenter, QWidget* parent)
    : QWidget(parent)
    , presenter(presenter)
{
    setObjectName(QStringLiteral("routineDetailEditor"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 12, 0, 0);
    layout->setSpacing(8);

    auto* titleRow = new QHBoxLayout();
    title = new QLineEdit(this);
    title->setObjectName(QStringLiteral("routineTitleField"));
    title->setPlaceholderText(RoutineDetailEditorPresenter::titlePlaceholder());
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    title->setFont(titleFont);
    title->setTextMargins(6, 4, 6, 4);
    connect(title, &QLineEdit::textEdited, this,
        [this](const QString& text) { this->presenter.setTitle(text.toStdString()); });
    connect(title, &QLineEdit::editingFinished, this, [this] { this->presenter.finishTitleEditing(); });
    titleRow->addWidget(title, 1);
    auto* start = new QPushButton(symbolIcon(QStringLiteral("play.fill")), QStringLiteral("Start"), this);
    start->setObjectName(QStringLiteral("startRoutineButton"));
    connect(start, &QPushButton::clicked, this, [this] { this->presenter.trigger(); });
    titleRow->addWidget(start);
    auto* remove = new QPushButton(symbolIcon(QStringLiteral("trash")), QStringLiteral("Delete"), this);
    remove->setObjectName(QStringLiteral("deleteRoutineButton"));
    QPalette removePalette = remove->palette();
    removePalette.setColor(QPalette::ButtonText, QColor(200, 30, 30));
    remove->setPalette(removePalette);
    connect(remove, &QPushButton::clicked, this, [this] { this->presenter.deleteRoutine(); });
    titleRow->addWidget(remove);
    layout->addLayout(titleRow);
    titleMessage = validationLabel(this);
    titleMessage->setObjectName(QStringLiteral("routineTitleMessage"));
    layout->addWidget(titleMessage);

    summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("routineSummaryLine"));
    summary->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(summary);
    uploadStatus = captionLabel(this, QStringLiteral("routineUploadStatus"));
    layout->addWidget(uploadStatus);
    stepLoadRow = new QWidget(this);
    auto* loadLayout = new QHBoxLayout(stepLoadRow);
    loadLayout->setContentsMargins(0, 0, 0, 0);
    auto* spinner = new QProgressBar(stepLoadRow);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(48, 10);
    loadLayout->addWidget(spinner);
    stepLoadStatus = captionLabel(stepLoadRow, QStringLiteral("routineStepLoadStatus"));
    loadLayout->addWidget(stepLoadStatus, 1);
    layout->addWidget(stepLoadRow);
    firmwareNotice = captionLabel(this, QStringLiteral("groupFirmwareNotice"));
    firmwareNotice->setText(RoutineDetailEditorPresenter::firmwareNotice());
    layout->addWidget(firmwareNotice);

    auto* buttons = new QHBoxLayout();
    addStep = new QPushButton(symbolIcon(QStringLiteral("plus")), QStringLiteral("Add Step"), this);
    addStep->setObjectName(QStringLiteral("addStepButton"));
    connect(addStep, &QPushButton::clicked, this, [this] { this->presenter.addStep(); });
    buttons->addWidget(addStep);
    addGroup = new QPushButton(symbolIcon(QStringLiteral("plus")), QStringLiteral("Add Group"), this);
    addGroup->setObjectName(QStringLiteral("addGroupButton"));
    connect(addGroup, &QPushButton::clicked, this, [this] { this->presenter.addGroup(); });
    buttons->addWidget(addGroup);
    buttons->addStretch();
    layout->addLayout(buttons);

    hierarchy = new RoutineHierarchyView(presenter, this);
    layout->addWidget(hierarchy);

    connect(&presenter, &RoutineDetailEditorPresenter::changed, this, &RoutineDetailEditor::refresh);
    connect(&presenter, &RoutineDetailEditorPresenter::stepEditorChanged, this, &RoutineDetailEditor::syncStepSheet);
    connect(&presenter, &RoutineDetailEditorPresenter::groupEditorChanged, this, &RoutineDetailEditor::syncGroupSheet);
    refresh();
}

RoutineDetailEditor::~RoutineDetailEditor()
{
    delete stepEditor;
    delete groupEditor;
}

void RoutineDetailEditor::refresh()
{
    const auto& inputs = presenter.inputs();
    const QString label = QString::fromStdString(presenter.draft().label);
    if (title->text() != label) {
        title->setText(label);
    }
    title->setEnabled(presenter.titleEnabled());
    titleMessage->setText(QString::fromStdString(inputs.titleValidationMessage.value_or("")));
    titleMessage->setVisible(inputs.titleValidationMessage.has_value());
    ValidatedField::setBorder(title, inputs.titleValidationMessage.has_value());
    summary->setText(QString::fromStdString(presenter.summaryLine()));
    uploadStatus->setText(QString::fromStdString(inputs.uploadStatus.value_or("")));
    uploadStatus->setVisible(inputs.uploadStatus.has_value());
    stepLoadStatus->setText(QString::fromStdString(inputs.stepLoadStatus.value_or("")));
    stepLoadRow->setVisible(inputs.stepLoadStatus.has_value());
    firmwareNotice->setVisible(presenter.showsFirmwareNotice());
    addStep->setEnabled(presenter.canAddStep());
    addGroup->setEnabled(presenter.canAddGroup());
    hierarchy->setEnabled(presenter.hierarchyEnabled());
}

void RoutineDetailEditor::syncStepSheet()
{
    if (stepEditor) {
        stepEditor->finish();
        stepEditor->deleteLater();
        stepEditor = nullptr;
    }
    if (StepEditorSheetPresenter* sheet = presenter.stepEditor()) {
        stepEditor = new StepEditorSheet(*sheet, this);
        stepEditor->open();
    }
}

void RoutineDetailEditor::syncGroupSheet()
{
    if (groupEditor) {
        groupEditor->finish();
        groupEditor->deleteLater();
        groupEditor = nullptr;
    }
    if (GroupEditorSheetPresenter* sheet = presenter.groupEditor()) {
        groupEditor = new GroupEditorSheet(*sheet, this);
        groupEditor->open();
    }
}

} // namespace tavrik
