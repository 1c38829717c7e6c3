#include "TavrikLink/Ui/GroupEditorSheet.hpp"

#include "TavrikLink/Ui/DurationField.hpp"
#include "TavrikLink/Ui/SheetSupport.hpp"
#include "TavrikLink/Views/GroupEditorSheetPresenter.hpp"

#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tavrik {

GroupEditorSheet::GroupEditorSheet(GroupEditorSheetPresenter& presenter, QWidget* parent)
    : QDialog(parent)
    , presenter(presenter)
{
    setObjectName(QStringLiteral("groupEditorSheet"));
    setWindowTitle(GroupEditorSheetPresenter::title());
    setModal(true);
    setMinimumWidth(500);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(18);
    layout->addLayout(sheetHeader(
        this, GroupEditorSheetPresenter::title(), [&presenter] { presenter.deleteGroup(); },
        [&presenter] { presenter.done(); }));

    auto* nameColumn = new QVBoxLayout();
    nameColumn->setSpacing(3);
    name = new QLineEdit(this);
    name->setObjectName(QStringLiteral("groupNameField"));
    name->setPlaceholderText(GroupEditorSheetPresenter::nameFieldTitle());
    name->setText(QString::fromStdString(presenter.group().label));
    connect(name, &QLineEdit::textEdited, &presenter, &GroupEditorSheetPresenter::setLabel);
    nameColumn->addWidget(name);
    nameMessage = validationLabel(this);
    nameColumn->addWidget(nameMessage);
    layout->addLayout(nameColumn);

    auto* modeRow = new QFormLayout();
    mode = new QComboBox(this);
    mode->setObjectName(QStringLiteral("groupModePicker"));
    mode->addItem(QStringLiteral("Timebox"), static_cast<int>(RoutineGroupMode::timebox));
    mode->addItem(QStringLiteral("Rotation"), static_cast<int>(RoutineGroupMode::rotation));
    connect(mode, &QComboBox::activated, this,
        [this](int index) { this->presenter.setMode(static_cast<RoutineGroupMode>(mode->itemData(index).toInt())); });
    modeRow->addRow(GroupEditorSheetPresenter::modeFieldTitle(), mode);
    layout->addLayout(modeRow);

    timeLimit = new QWidget(this);
    auto* limitColumn = new QVBoxLayout(timeLimit);
    limitColumn->setContentsMargins(0, 0, 0, 0);
    limitColumn->setSpacing(6);
    auto* limitTitle = new QLabel(GroupEditorSheetPresenter::timeLimitTitle(), timeLimit);
    limitTitle->setForegroundRole(QPalette::PlaceholderText);
    limitColumn->addWidget(limitTitle);
    limitColumn->addWidget(new DurationField(presenter.timeLimitEditor(), timeLimit));
    layout->addWidget(timeLimit);

    description = new QLabel(this);
    description->setObjectName(QStringLiteral("groupModeDescription"));
    description->setWordWrap(true);
    description->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(description);

    connect(&presenter, &GroupEditorSheetPresenter::changed, this, &GroupEditorSheet::refresh);
    refresh();
}

GroupEditorSheet::~GroupEditorSheet()
{
    // Closing the dialog moves the focus out of the time limit field, which commits it: the sheet,
    // half destroyed by then, must not hear the change.
    disconnect(&presenter, nullptr, this, nullptr);
}

void GroupEditorSheet::refresh()
{
    mode->setCurrentIndex(mode->findData(static_cast<int>(presenter.group().mode)));
    timeLimit->setVisible(presenter.showsTimeLimit());
    description->setText(presenter.modeDescription());
    const auto message = presenter.shownLabelValidationMessage();
    nameMessage->setText(message.value_or(QString()));
    nameMessage->setVisible(message.has_value());
    fitSheetToContent(this);
}

void GroupEditorSheet::finish()
{
    finishing = true;
    QDialog::done(QDialog::Accepted);
}

void GroupEditorSheet::reject()
{
    if (finishing) {
        QDialog::reject();
    }
}

void GroupEditorSheet::closeEvent(QCloseEvent* event)
{
    if (!finishing) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace tavrik
