#include "TavrikLink/Ui/LogDrawerView.hpp"

#include "TavrikLink/Ui/SymbolIcon.hpp"

#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/LogDrawerModel.hpp"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHash>
#include <QIcon>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QShowEvent>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>

namespace tavrik {

namespace {

constexpr int disclosureWidth = 14;
constexpr int emphasisPadding = 4;
constexpr int rowPadding = 2;

// Draws a log line and, when open, its record's lines below it.
class LogLineDelegate : public QStyledItemDelegate {
public:
    explicit LogLineDelegate(QListView* view)
        : QStyledItemDelegate(view)
        , view(view)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QFontMetrics metrics(option.font);
        const int width = rowWidth();
        int height = cachedSummaryHeight(option.font, index, width) + 2 * rowPadding;
        if (index.data(LogDrawerModel::ExpandedRole).toBool()) {
            for (const QVariant& line : index.data(LogDrawerModel::DetailLinesRole).toList()) {
                height += metrics.height()
                    + (line.toMap().value(QStringLiteral("emphasized")).toBool() ? 2 * emphasisPadding : 0);
            }
        }
        return { width, height };
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        painter->save();
        const bool selected = option.state & QStyle::State_Selected;
        if (selected) {
            painter->fillRect(option.rect, option.palette.highlight());
        }
        if (option.state & QStyle::State_HasFocus) {
            // The keyboard's place in the log.
            painter->setPen(QPen(option.palette.color(QPalette::Highlight), 1, Qt::DashLine));
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
        }
        painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
        const QFontMetrics metrics(option.font);
        const QRect summary(option.rect.left() + disclosureWidth, option.rect.top() + rowPadding,
            option.rect.width() - disclosureWidth, cachedSummaryHeight(option.font, index, rowWidth()));
        if (index.data(LogDrawerModel::HasDetailRole).toBool()) {
            const bool open = index.data(LogDrawerModel::ExpandedRole).toBool();
            painter->drawText(QRect(option.rect.left(), summary.top(), disclosureWidth, metrics.height()),
                Qt::AlignCenter, open ? QStringLiteral("\u25BE") : QStringLiteral("\u25B8"));
        }
        painter->setFont(option.font);
        QTextLayout layout(index.data(LogDrawerModel::SummaryRole).toString(), option.font);
        layoutSummary(layout, summary.width());
        layout.draw(painter, summary.topLeft());
        QRect line(summary.left(), summary.bottom() + 1 - metrics.height(), summary.width(), metrics.height());
        if (index.data(LogDrawerModel::ExpandedRole).toBool()) {
            QFont bold = option.font;
            bold.setWeight(QFont::DemiBold);
            line.translate(8, 0);
            for (const QVariant& value : index.data(LogDrawerModel::DetailLinesRole).toList()) {
                const QVariantMap detail = value.toMap();
                const bool emphasized = detail.value(QStringLiteral("emphasized")).toBool();
                line.translate(0, metrics.height() + (emphasized ? emphasisPadding : 0));
                painter->setFont(emphasized ? bold : option.font);
                painter->drawText(
                    line, Qt::AlignLeft | Qt::AlignVCenter, detail.value(QStringLiteral("text")).toString());
                if (emphasized) {
                    line.translate(0, emphasisPadding);
                }
            }
        }
        painter->restore();
    }

private:
    int rowWidth() const { return std::max(disclosureWidth + 1, view->viewport()->width()); }

    // Lines break between words, and inside a word only where it alone is wider than the row (a
    // URL, a payload), so nothing is cut at the drawer's edge.
    static void layoutSummary(QTextLayout& layout, int width)
    {
        QTextOption wrapping;
        wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(wrapping);
        layout.beginLayout();
        qreal top = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(1, width));
            line.setPosition(QPointF(0, top));
            top += line.height();
        }
        layout.endLayout();
    }

    static int summaryHeight(const QFont& font, const QModelIndex& index, int rowWidth)
    {
        const QFontMetrics metrics(font);
        QTextLayout layout(index.data(LogDrawerModel::SummaryRole).toString(), font);
        layoutSummary(layout, rowWidth - disclosureWidth);
        return std::max(metrics.height(), static_cast<int>(std::ceil(layout.boundingRect().height())));
    }

    // The list lays every row out again whenever a line comes in; wrapping a long line is what
    // costs, so each row's wrapped height is kept until its text or the width changes.
    int cachedSummaryHeight(const QFont& font, const QModelIndex& index, int rowWidth) const
    {
        const QFontMetrics metrics(font);
        if (rowWidth != measuredWidth || metrics.height() != measuredLineHeight) {
            heights.clear();
            measuredWidth = rowWidth;
            measuredLineHeight = metrics.height();
        }
        const qulonglong revision = index.data(LogDrawerModel::RevisionRole).toULongLong();
        if (const auto found = heights.constFind(revision); found != heights.constEnd()) {
            return *found;
        }
        // Rows that left the log leave their heights behind; drop them all now and then.
        if (heights.size() > 2 * index.model()->rowCount() + 64) {
            heights.clear();
        }
        const int height = summaryHeight(font, index, rowWidth);
        heights.insert(revision, height);
        return height;
    }

    QListView* view;
    mutable QHash<qulonglong, int> heights;
    mutable int measuredWidth = -1;
    mutable int measuredLineHeight = -1;
};

// The log's list. The keyboard arrives at the newest line, the one in view, not at the top of the
// log; Return opens or closes a record as a click does.
class LogListView : public QListView {
public:
    using QListView::QListView;

    std::function<void(const QModelIndex&)> toggleRecord;

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        if (!currentIndex().isValid() && model()->rowCount() > 0) {
            selectionModel()->setCurrentIndex(model()->index(model()->rowCount() - 1, 0), QItemSelectionModel::NoUpdate);
        }
        QListView::focusInEvent(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
            toggleRecord(currentIndex());
            event->accept();
            return;
        }
        QListView::keyPressEvent(event);
    }
};

// The 8-point strip on the drawer's leading edge that resizes it.
class ResizeHandle : public QWidget {
public:
    explicit ResizeHandle(ContentViewPresenter& window, QWidget* parent)
        : QWidget(parent)
        , window(window)
    {
        setObjectName(QStringLiteral("logDrawerResizeHandle"));
        setFixedWidth(8);
        setCursor(Qt::SizeHorCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        origin = event->globalPosition().x();
        window.beginLogDrawerDrag(parentWidget()->width());
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (event->buttons() & Qt::LeftButton) {
            window.dragLogDrawer(event->globalPosition().x() - origin);
        }
    }
    void mouseReleaseEvent(QMouseEvent*) override { window.endLogDrawerDrag(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawLine(width() - 1, 0, width() - 1, height());
    }

private:
    ContentViewPresenter& window;
    double origin = 0;
};

} // namespace

LogDrawerView::LogDrawerView(ContentViewPresenter& window, LogDrawerModel& model, QWidget* parent)
    : QWidget(parent)
    , window(window)
    , model(model)
{
    setObjectName(QStringLiteral("logDrawer"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    // Open, the drawer keeps room for a timestamp and some text: the panes give it their room
    // first, and a window too narrow for both widens.
    setMinimumWidth(static_cast<int>(ContentViewPresenter::logDrawerMinWidth));
    setMaximumWidth(preferredWidth);

    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(new ResizeHandle(window, this));

    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, 4, 4, 0);
    column->setSpacing(2);
    auto* header = new QHBoxLayout;
    header->addStretch();
    clear = new QToolButton(this);
    clear->setObjectName(QStringLiteral("clearLogButton"));
    clear->setAutoRaise(true);
    clear->setIcon(symbolIcon(QStringLiteral("trash")));
    clear->setToolTip(QStringLiteral("Clear console"));
    connect(clear, &QToolButton::clicked, this, [this] { this->window.clearLog(); });
    header->addWidget(clear);
    column->addLayout(header);

    auto* list = new LogListView(this);
    list->toggleRecord = [this](const QModelIndex& index) { toggleRecord(index); };
    listView = list;
    listView->setObjectName(QStringLiteral("logList"));
    listView->setItemDelegate(new LogLineDelegate(listView));
    listView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    listView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Lines wrap at the drawer's width; a new width lays the rows out again.
    listView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    listView->setResizeMode(QListView::Adjust);
    listView->setWordWrap(true);
    listView->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    listView->setFrameShape(QFrame::NoFrame);
    listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    column->addWidget(listView, 1);
    outer->addLayout(column, 1);

    auto* copy = new QAction(QStringLiteral("Copy"), listView);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, [this] { QApplication::clipboard()->setText(selectedText()); });
    listView->addAction(copy);
    listView->setContextMenuPolicy(Qt::ActionsContextMenu);

    connect(listView, &QListView::clicked, this, &LogDrawerView::toggleRecord);
    connect(&model, &QAbstractItemModel::rowsInserted, this, &LogDrawerView::scrollToNewest);
    connect(&model, &QAbstractItemModel::modelReset, this, &LogDrawerView::scrollToNewest);
    connect(&model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
            if (roles.contains(LogDrawerModel::ExpandedRole)) {
                // An opened or closed record changes its row's height; the list stays where it is.
                listView->doItemsLayout();
            } else {
                scrollToNewest();
            }
        });
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &LogDrawerView::refresh);
    connect(&model, &QAbstractItemModel::modelReset, this, &LogDrawerView::refresh);
    connect(&model, &QAbstractItemModel::rowsInserted, this, &LogDrawerView::refresh);
    refresh();
}

// A closed drawer leaves its list without the model: lines coming in then cost the list nothing,
// and opening the drawer lays the log out once.
void LogDrawerView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (listView->model() != &model) {
        listView->setModel(&model);
        scrollToNewest();
    }
}

void LogDrawerView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        listView->setModel(nullptr);
    }
}

void LogDrawerView::toggleRecord(const QModelIndex& index)
{
    if (!index.data(LogDrawerModel::HasDetailRole).toBool()) {
        return;
    }
    const auto id = Uuid::parse(index.data(LogDrawerModel::IdRole).toString().toStdString());
    if (id) {
        window.setLogEntryExpanded(*id, !index.data(LogDrawerModel::ExpandedRole).toBool());
    }
}

void LogDrawerView::setPreferredWidth(int width)
{
    if (width == preferredWidth) {
        return;
    }
    preferredWidth = width;
    setMaximumWidth(width);
    updateGeometry();
}

QSize LogDrawerView::sizeHint() const
{
    return { preferredWidth, QWidget::sizeHint().height() };
}

void LogDrawerView::refresh()
{
    clear->setEnabled(model.rowCount() > 0);
}

void LogDrawerView::scrollToNewest()
{
    listView->scrollToBottom();
}

QString LogDrawerView::selectedText() const
{
    if (listView->model() != &model) {
        return {};
    }
    QModelIndexList rows = listView->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& index : rows) {
        lines << index.data(LogDrawerModel::SummaryRole).toString();
        if (index.data(LogDrawerModel::ExpandedRole).toBool()) {
            for (const QVariant& line : index.data(LogDrawerModel::DetailLinesRole).toList()) {
                lines << QStringLiteral("  ") + line.toMap().value(QStringLiteral("text")).toString();
            }
        }
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace tavrik
