#include "TavrikLink/Ui/StartTagPicker.hpp"

#include "TavrikLink/Ui/Popover.hpp"
#include "TavrikLink/Ui/SymbolIcon.hpp"
#include "TavrikLink/Views/StartTagPickerPresenter.hpp"

#include <QAbstractListModel>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QVBoxLayout>

namespace tavrik {

namespace {

// The presenter's offer as list rows: the name beside the tag symbol, one line, 32 points high. Rows
// are drawn as they scroll into view, so a long offer opens as fast as a short one.
class TagRows : public QAbstractListModel {
public:
    TagRows(StartTagPickerPresenter& presenter, QIcon symbol, QObject* parent)
        : QAbstractListModel(parent)
        , presenter(presenter)
        , symbol(std::move(symbol))
    {
        connect(&presenter, &StartTagPickerPresenter::tagsChanged, this, [this] {
            beginResetModel();
            endResetModel();
        });
    }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(presenter.tags().size());
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount()) {
            return {};
        }
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return QString::fromStdString(presenter.tags()[static_cast<std::size_t>(index.row())].name);
        case Qt::DecorationRole:
            return symbol;
        case Qt::SizeHintRole:
            return QSize(0, StartTagPickerPresenter::rowHeight);
        default:
            return {};
        }
    }

private:
    StartTagPickerPresenter& presenter;
    QIcon symbol;
};

// A click on a row, or Return on the current one, chooses it.
class TagList : public QListView {
public:
    TagList(StartTagPickerPresenter& presenter, QWidget* parent)
        : QListView(parent)
        , presenter(presenter)
    {
        connect(this, &QListView::clicked, this, [this](const QModelIndex& index) { choose(index); });
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
            choose(currentIndex());
            return;
        }
        QListView::keyPressEvent(event);
    }

private:
    void choose(const QModelIndex& index) { presenter.choose(static_cast<std::size_t>(index.row())); }

    StartTagPickerPresenter& presenter;
};

// The popover: clicking elsewhere or Escape closes it and chooses nothing.
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
        list = new TagList(presenter, this);
        list->setObjectName(QStringLiteral("startTagList"));
        list->setFrameShape(QFrame::NoFrame);
        list->setUniformItemSizes(true);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        list->setTextElideMode(Qt::ElideMiddle);
        list->setMouseTracking(true);
        list->setIconSize(QSize(14, 14));
        // The current row (for the keyboard) is not a selection: nothing is chosen until a click or Return.
        list->setSelectionMode(QAbstractItemView::NoSelection);
        QPalette palette = list->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        list->setPalette(palette);
        list->setModel(new TagRows(
            presenter, symbolIcon(QStringLiteral("tag.fill"), palette.color(QPalette::PlaceholderText)), list));
        layout->addWidget(list);
        fitList();
        connect(&presenter, &StartTagPickerPresenter::tagsChanged, this, &Popover::fitList);
    }

    QListView* tagList() const { return list; }

protected:
    void hideEvent(QHideEvent* event) override
    {
        QFrame::hideEvent(event);
        presenter.dismiss();
    }

private:
    void fitList()
    {
        list->setFixedHeight(presenter.listHeight());
        if (list->model()->rowCount() > 0 && !list->currentIndex().isValid()) {
            list->setCurrentIndex(list->model()->index(0, 0));
        }
    }

    StartTagPickerPresenter& presenter;
    QListView* list = nullptr;
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
            QFrame* closing = popup;
            popup = nullptr;
            closing->hide();
            closing->deleteLater();
        }
        return;
    }
    if (!popup) {
        auto* shown = new Popover(presenter, this);
        popup = shown;
        placePopover(shown, this);
        shown->show();
        shown->tagList()->setFocus();
    }
}

} // namespace tavrik
