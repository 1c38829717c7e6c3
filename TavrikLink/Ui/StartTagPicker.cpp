#include "TavrikLink/Ui/StartTagPicker.hpp"

#include "TavrikLink/Ui/SheetSupport.hpp"
#include "TavrikLink/Views/StartTagPickerPresenter.hpp"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tavrik {

namespace {

// The popover: closing it by clicking elsewhere or Escape dismisses the choice.
class Popover : public QFrame {
public:
    Popover(StartTagPickerPresenter& presenter, QWidget* parent)
        : QFrame(parent, Qt::Popup)
        , presenter(presenter)
    {
        setObjectName(QStringLiteral("startTagPopover"));
        setFrameShape(QFrame::StyledPanel);
        setFixedWidth(StartTagPickerPresenter::popoverWidth);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(16, 16, 16, 16);
        layout->setSpacing(12);
        auto* title = new QLabel(StartTagPickerPresenter::listTitle(), this);
        QFont font = title->font();
        font.setBold(true);
        title->setFont(font);
        layout->addWidget(title);
        auto* scroll = new QScrollArea(this);
        scroll->setObjectName(QStringLiteral("startTagList"));
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setFixedHeight(presenter.listHeight());
        auto* rows = new QWidget(scroll);
        auto* rowLayout = new QVBoxLayout(rows);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(4);
        const auto& tags = presenter.tags();
        for (std::size_t row = 0; row < tags.size(); ++row) {
            auto* button = new QPushButton(symbolIcon(QStringLiteral("tag")), QString(), rows);
            button->setFlat(true);
            button->setMinimumHeight(28);
            button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
            button->setStyleSheet(QStringLiteral("text-align: left; padding-left: 4px;"));
            const QString name = QString::fromStdString(tags[row].name);
            button->setText(
                button->fontMetrics().elidedText(name, Qt::ElideRight, StartTagPickerPresenter::popoverWidth - 80));
            button->setToolTip(name);
            QObject::connect(button, &QPushButton::clicked, this, [&presenter, row] { presenter.choose(row); });
            rowLayout->addWidget(button);
        }
        rowLayout->addStretch();
        scroll->setWidget(rows);
        layout->addWidget(scroll);
    }

protected:
    void hideEvent(QHideEvent* event) override
    {
        QFrame::hideEvent(event);
        presenter.dismiss();
    }

private:
    StartTagPickerPresenter& presenter;
};

} // namespace

StartTagPicker::StartTagPicker(StartTagPickerPresenter& presenter, QWidget* parent)
    : QToolButton(parent)
    , presenter(presenter)
{
    setObjectName(QStringLiteral("addStartTagButton"));
    setText(StartTagPickerPresenter::buttonTitle());
    setIcon(symbolIcon(QStringLiteral("plus")));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(this, &QToolButton::clicked, &presenter, &StartTagPickerPresenter::open);
    connect(&presenter, &StartTagPickerPresenter::presentedChanged, this, &StartTagPicker::syncPopover);
}

StartTagPicker::~StartTagPicker()
{
    delete popup;
}

void StartTagPicker::syncPopover(bool presented)
{
    if (!presented) {
        if (popup) {
            popup->hide();
            popup->deleteLater();
            popup = nullptr;
        }
        return;
    }
    if (!popup) {
        popup = new Popover(presenter, this);
        popup->adjustSize();
        popup->move(mapToGlobal(QPoint(0, height())));
        popup->show();
    }
}

} // namespace tavrik
