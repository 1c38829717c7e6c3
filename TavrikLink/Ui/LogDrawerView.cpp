#include "TavrikLink/Ui/LogDrawerView.hpp"

#include "TavrikLink/Ui/SymbolIcon.hpp"

#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/LogDrawerModel.hpp"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

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
        const int width = std::max(disclosureWidth + 1, view->viewport()->width());
        int height = summaryHeight(metrics, index, width) + 2 * rowPadding;
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
        painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
        const QFontMetrics metrics(option.font);
        const QRect summary(option.rect.left() + disclosureWidth, option.rect.top() + rowPadding,
            option.rect.width() - disclosureWidth, summaryHeight(metrics, index, option.rect.width()));
        if (index.data(LogDrawerModel::HasDetailRole).toBool()) {
            const bool open = index.data(LogDrawerModel::ExpandedRole).toBool();
            painter->drawText(QRect(option.rect.left(), summary.top(), disclosureWidth, metrics.height()),
                Qt::AlignCenter, open ? QStringLiteral("\u25BE") : QStringLiteral("\u25B8"));
        }
        painter->setFont(option.font);
        painter->drawText(summary, wrapFlags, index.data(LogDrawerModel::SummaryRole).toString());
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
    // The whole summary, wrapped at word boundaries to the row's width.
    static constexpr int wrapFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

    static int summaryHeight(const QFontMetrics& metrics, const QModelIndex& index, int rowWidth)
    {
        const QRect room(0, 0, std::max(1, rowWidth - disclosureWidth), 1 << 20);
        const QString text = index.data(LogDrawerModel::SummaryRole).toString();
        return std::max(metrics.height(), metrics.boundingRect(room, wrapFlags, text).height());
    }

    QListView* view;
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
    void mousePressEvent(QMouseEvent* event) override { origin = event->globalPosition().x(); }
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
    // An explicit minimum keeps the drawer's contents from raising the window's minimum width: the
    // panes give the drawer its room.
    setMinimumWidth(1);
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

    listView = new QListView(this);
    listView->setObjectName(QStringLiteral("logList"));
    listView->setModel(&model);
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

    connect(listView, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (!index.data(LogDrawerModel::HasDetailRole).toBool()) {
            return;
        }
        const auto id = Uuid::parse(index.data(LogDrawerModel::IdRole).toString().toStdString());
        if (id) {
            this->window.setLogEntryExpanded(*id, !index.data(LogDrawerModel::ExpandedRole).toBool());
        }
    });
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
    scrollToNewest();
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
