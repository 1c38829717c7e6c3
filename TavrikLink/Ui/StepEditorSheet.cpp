#include "TavrikLink/Ui/StepEditorSheet.hpp"

#include "TavrikLink/Ui/DurationField.hpp"
#include "TavrikLink/Ui/SheetSupport.hpp"
#include "TavrikLink/Ui/SymbolIcon.hpp"
#include "TavrikLink/Views/StepEditorSheetPresenter.hpp"

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace tavrik {

StepEditorSheet::StepEditorSheet(StepEditorSheetPresenter& presenter, QWidget* parent)
    : QDialog(parent)
    , presenter(presenter)
{
    setObjectName(QStringLiteral("stepEditorSheet"));
    setWindowTitle(StepEditorSheetPresenter::title());
    setModal(true);
    setMinimumWidth(420);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);

    layout->addLayout(sheetHeader(
        this, StepEditorSheetPresenter::title(), [&presenter] { presenter.deleteStep(); },
        [&presenter] { presenter.done(); }));

    auto* tagAndDuration = new QHBoxLayout();
    tagAndDuration->setSpacing(12);
    auto* tagColumn = new QVBoxLayout();
    tagColumn->setSpacing(3);
    if (presenter.usesTagMenu()) {
        tagMenu = new QToolButton(this);
        tagMenu->setObjectName(QStringLiteral("tagMenu"));
        tagMenu->setIcon(symbolIcon(QStringLiteral("tag")));
        tagMenu->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        tagMenu->setPopupMode(QToolButton::InstantPopup);
        tagMenu->setFixedWidth(180);
        auto* menu = new QMenu(tagMenu);
        const QStringList items = presenter.tagMenuItems();
        for (int index = 0; index < items.size(); ++index) {
            menu->addAction(items[index], this, [&presenter, index] { presenter.chooseTag(index); });
        }
        tagMenu->setMenu(menu);
        tagColumn->addWidget(tagMenu);
    } else {
        tagField = new QLineEdit(this);
        tagField->setObjectName(QStringLiteral("tagIdField"));
        tagField->setPlaceholderText(StepEditorSheetPresenter::tagFieldTitle());
        tagField->setFixedWidth(180);
        tagField->setText(QString::fromStdString(presenter.step().tagId));
        connect(tagField, &QLineEdit::textEdited, &presenter, &StepEditorSheetPresenter::setTagId);
        tagColumn->addWidget(tagField);
    }
    tagMessage = validationLabel(this);
    tagColumn->addWidget(tagMessage);
    tagAndDuration->addLayout(tagColumn);
    auto* duration = new DurationField(presenter.durationEditor(), this);
    tagAndDuration->addWidget(duration, 0, Qt::AlignTop);
    tagAndDuration->addStretch();
    layout->addLayout(tagAndDuration);

    instruction = new QPlainTextEdit(this);
    instruction->setObjectName(QStringLiteral("instructionField"));
    instruction->setPlaceholderText(StepEditorSheetPresenter::instructionFieldTitle());
    instruction->setPlainText(QString::fromStdString(presenter.step().instruction));
    instruction->setTabChangesFocus(true);
    connect(instruction, &QPlainTextEdit::textChanged, this,
        [this] { this->presenter.setInstruction(instruction->toPlainText()); });
    // The box grows with its lines, wrapped ones too, and the sheet with it.
    connect(instruction->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
        &StepEditorSheet::fitInstruction);
    layout->addWidget(instruction);

    unstoppable = new QCheckBox(StepEditorSheetPresenter::unstoppableTitle(), this);
    unstoppable->setObjectName(QStringLiteral("unstoppableToggle"));
    unstoppable->setChecked(presenter.step().unstoppable);
    connect(unstoppable, &QCheckBox::toggled, &presenter, &StepEditorSheetPresenter::setUnstoppable);
    layout->addWidget(unstoppable);

    connect(&presenter, &StepEditorSheetPresenter::changed, this, &StepEditorSheet::refresh);
    refresh();
    fitInstruction();
}

void StepEditorSheet::fitInstruction()
{
    // A plain text document measures its height in lines.
    const auto lines = static_cast<int>(instruction->document()->documentLayout()->documentSize().height());
    const int shown = std::clamp(lines, 1, maximumInstructionLines);
    const int height = shown * instruction->fontMetrics().lineSpacing()
        + 2 * static_cast<int>(std::ceil(instruction->document()->documentMargin())) + 2 * instruction->frameWidth();
    instruction->setVerticalScrollBarPolicy(lines > shown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    if (height != instruction->height()) {
        instruction->setFixedHeight(height);
        fitSheetToContent(this);
    }
}

void StepEditorSheet::refresh()
{
    if (tagMenu) {
        tagMenu->setText(presenter.tagMenuLabel());
    }
    const auto message = presenter.shownTagValidationMessage();
    tagMessage->setText(message.value_or(QString()));
    tagMessage->setVisible(message.has_value());
    fitSheetToContent(this);
}

void StepEditorSheet::finish()
{
    finishing = true;
    QDialog::done(QDialog::Accepted);
}

void StepEditorSheet::reject()
{
    // Only Done or Delete closes the sheet.
    if (finishing) {
        QDialog::reject();
    }
}

void StepEditorSheet::closeEvent(QCloseEvent* event)
{
    if (!finishing) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace tavrik
