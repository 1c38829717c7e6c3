#include "TavrikLink/Ui/ValidatedField.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace tavrik {

ValidatedField::ValidatedField(QWidget* field, QWidget* parent)
    : QWidget(parent)
    , content(field)
    , label(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    content->setParent(this);
    layout->addWidget(content);
    QFont caption = label->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    label->setFont(caption);
    label->setStyleSheet(QStringLiteral("color: #d70015;"));
    label->setWordWrap(true);
    label->hide();
    layout->addWidget(label);
}

void ValidatedField::setMessage(const std::optional<std::string>& message)
{
    const QString text = message ? QString::fromStdString(*message) : QString();
    if (label->text() != text) {
        label->setText(text);
    }
    label->setVisible(message.has_value());
    setBorder(content, message.has_value());
}

void ValidatedField::setBorder(QWidget* field, bool shown)
{
    const QString style
        = shown ? QStringLiteral("border: 1px solid #d70015; border-radius: 5px; padding: 2px;") : QString();
    if (field->styleSheet() != style) {
        field->setStyleSheet(style);
    }
}

} // namespace tavrik
