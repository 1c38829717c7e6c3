#include "TavrikLink/Ui/TagEditorView.hpp"

#include "TavrikLink/Ui/ValidatedField.hpp"
#include "TavrikLink/Views/TagEditorPresenter.hpp"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace tavrik {

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* titleLabel(QWidget* parent, double scale)
{
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(true);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
}

} // namespace

TagEditorView::TagEditorView(TagEditorPresenter* presenter, QWidget* parent)
    : QWidget(parent)
    , editor(presenter)
{
    editor->setParent(this);
    setObjectName(QStringLiteral("tagEditor"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);

    title = titleLabel(this, 1.4);
    title->setObjectName(QStringLiteral("tagEditorTitle"));
    layout->addWidget(title);
    subtitle = new QLabel(qs(TagEditorPresenter::renameSubtitle), this);
    subtitle->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(subtitle);
    awaiting = titleLabel(this, 1.2);
    awaiting->setObjectName(QStringLiteral("tagEditorAwaitingScan"));
    awaiting->setText(qs(TagEditorPresenter::awaitingScanText));
    awaiting->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(awaiting);
    savedTitle = titleLabel(this, 1.2);
    savedTitle->setText(qs(TagEditorPresenter::alreadySavedTitle));
    layout->addWidget(savedTitle);
    savedText = new QLabel(this);
    savedText->setObjectName(QStringLiteral("tagEditorAlreadySaved"));
    savedText->setForegroundRole(QPalette::PlaceholderText);
    savedText->setWordWrap(true);
    layout->addWidget(savedText);

    name = new QLineEdit;
    name->setObjectName(QStringLiteral("tagEditorNameField"));
    name->setPlaceholderText(QStringLiteral("Name"));
    name->setAccessibleName(QStringLiteral("Name"));
    nameField_ = new ValidatedField(name, this);
    layout->addWidget(nameField_);

    uid = new QLabel(this);
    uid->setObjectName(QStringLiteral("tagEditorUid"));
    uid->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    uid->setTextInteractionFlags(Qt::TextSelectableByMouse);
    uid->setForegroundRole(QPalette::PlaceholderText);
    uid->setContentsMargins(10, 8, 10, 8);
    uid->setStyleSheet(QStringLiteral("background: rgba(128, 128, 128, 31); border-radius: 6px;"));
    layout->addWidget(uid);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("tagEditorCancel"));
    buttons->addWidget(cancel);
    save = new QPushButton(QStringLiteral("Save"), this);
    save->setObjectName(QStringLiteral("tagEditorSave"));
    save->setDefault(true);
    buttons->addWidget(save);
    layout->addLayout(buttons);

    connect(name, &QLineEdit::textEdited, this, [this](const QString& text) { editor->editName(text.toStdString()); });
    connect(name, &QLineEdit::returnPressed, this, [this] {
        if (editor->showsSave() && editor->canSave()) {
            editor->save();
        }
    });
    connect(save, &QPushButton::clicked, this, [this] { editor->save(); });
    connect(cancel, &QPushButton::clicked, this, [this] { editor->cancel(); });
    connect(editor, &TagEditorPresenter::changed, this, &TagEditorView::redraw);
    redraw();
}

void TagEditorView::redraw()
{
    using Layout = TagEditorPresenter::Layout;
    using Content = TagEditorPresenter::CreateContent;
    const bool create = editor->layout() == Layout::create;
    const Content content = editor->createContent();
    title->setVisible(!create);
    subtitle->setVisible(!create);
    title->setText(QString::fromStdString(editor->title()));
    awaiting->setVisible(create && content == Content::awaitingScan);
    savedTitle->setVisible(create && content == Content::alreadySaved);
    savedText->setVisible(create && content == Content::alreadySaved);
    savedText->setText(QString::fromStdString(editor->alreadySavedText()));
    nameField_->setVisible(!create || content == Content::nameEntry);
    uid->setVisible(!create || content != Content::awaitingScan);
    if (name->text() != QString::fromStdString(editor->name())) {
        name->setText(QString::fromStdString(editor->name()));
    }
    nameField_->setMessage(editor->nameValidationMessage());
    uid->setText(QString::fromStdString(editor->uidText()));
    save->setVisible(editor->showsSave());
    save->setEnabled(editor->canSave());

    // The name field takes the focus once the sheet has laid out, each time a UID arrives.
    const bool wish = editor->wantsNameFocus();
    if (wish && (!hadNameFocusWish || focusedForUid != editor->uid())) {
        focusedForUid = editor->uid();
        QPointer<QLineEdit> field = name;
        QTimer::singleShot(0, this, [field] {
            if (field) {
                field->setFocus(Qt::OtherFocusReason);
            }
        });
    }
    hadNameFocusWish = wish;
}

} // namespace tavrik
