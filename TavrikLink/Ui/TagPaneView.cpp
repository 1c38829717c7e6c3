#include "TavrikLink/Ui/TagPaneView.hpp"

#include "TavrikLink/Ui/ValidatedField.hpp"
#include "TavrikLink/Views/TagPanePresenter.hpp"

#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrik {

namespace {

void setTextKeepingCursor(QLineEdit* field, const QString& text)
{
    if (field->text() == text) {
        return;
    }
    // setText puts the cursor at the end; where the user was typing is where it stays.
    const int cursor = field->cursorPosition();
    field->setText(text);
    if (field->hasFocus()) {
        field->setCursorPosition(std::min(cursor, static_cast<int>(text.size())));
    }
}

} // namespace

TagPaneView::TagPaneView(TagPanePresenter* presenter, QWidget* parent)
    : QWidget(parent)
    , pane(presenter)
{
    pane->setParent(this);
    setObjectName(QStringLiteral("tagPane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(12);

    error = new QLabel(this);
    error->setObjectName(QStringLiteral("tagError"));
    error->setStyleSheet(QStringLiteral("color: #d70015;"));
    error->setWordWrap(true);
    layout->addWidget(error);

    prompt = new QLabel(
        QString::fromUtf8(TagPanePresenter::emptyPrompt.data(), TagPanePresenter::emptyPrompt.size()), this);
    prompt->setObjectName(QStringLiteral("tagPrompt"));
    prompt->setForegroundRole(QPalette::PlaceholderText);
    prompt->setWordWrap(true);
    layout->addWidget(prompt);

    form = new QWidget(this);
    auto* formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(0, 0, 0, 0);
    formLayout->setSpacing(12);
    // Each field keeps its title beside it, so a filled field still says what it holds.
    auto* fields = new QFormLayout;
    fields->setHorizontalSpacing(10);
    fields->setVerticalSpacing(12);
    fields->setLabelAlignment(Qt::AlignLeft | Qt::AlignTop);
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    const auto addField = [&](QLineEdit* field, const QString& title, const char* name) {
        field->setObjectName(QString::fromLatin1(name));
        field->setPlaceholderText(title);
        field->setAccessibleName(title);
        auto* validated = new ValidatedField(field, form);
        auto* label = new QLabel(title, form);
        label->setBuddy(field);
        // Level with the field, whatever the message under it.
        label->setFixedHeight(field->sizeHint().height());
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        fields->addRow(label, validated);
        return validated;
    };
    name = new QLineEdit;
    nameField_ = addField(name, QStringLiteral("Name"), "tagNameField");
    uid = new QLineEdit;
    uid->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    uidField_ = addField(uid, QStringLiteral("UID"), "tagUidField");
    formLayout->addLayout(fields);
    auto* buttons = new QHBoxLayout;
    remove = new QPushButton(QStringLiteral("Delete"), form);
    remove->setObjectName(QStringLiteral("deleteTagButton"));
    remove->setStyleSheet(QStringLiteral("color: #d70015;"));
    buttons->addWidget(remove);
    buttons->addStretch();
    formLayout->addLayout(buttons);
    layout->addWidget(form);
    layout->addStretch();

    // Only the user's own edits reach the model; refills from the data do not.
    connect(name, &QLineEdit::textEdited, this, [this](const QString& text) { pane->editName(text.toStdString()); });
    connect(uid, &QLineEdit::textEdited, this, [this](const QString& text) { pane->editUid(text.toStdString()); });
    connect(uid, &QLineEdit::returnPressed, this, [this] { pane->submitUid(); });
    connect(name, &QLineEdit::editingFinished, this, [this] { pane->finishEditing(); });
    connect(uid, &QLineEdit::editingFinished, this, [this] { pane->finishEditing(); });
    connect(remove, &QPushButton::clicked, this, [this] { pane->deleteSelectedTag(); });
    connect(pane, &TagPanePresenter::changed, this, &TagPaneView::redraw);
    redraw();
}

void TagPaneView::redraw()
{
    const auto& tagError = pane->tagError();
    error->setVisible(tagError.has_value());
    error->setText(QString::fromStdString(tagError.value_or(std::string())));
    const bool selected = pane->selectedTag().has_value();
    prompt->setVisible(!selected);
    form->setVisible(selected);
    setTextKeepingCursor(name, QString::fromStdString(pane->name()));
    setTextKeepingCursor(uid, QString::fromStdString(pane->uid()));
    nameField_->setMessage(pane->nameValidationMessage());
    uidField_->setMessage(pane->uidValidationMessage());
}

} // namespace tavrik
