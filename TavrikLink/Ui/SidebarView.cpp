#include "TavrikLink/Ui/SidebarView.hpp"

#include "TavrikLink/Ui/SymbolIcon.hpp"

#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStandardItemModel>
#include <QStyledItemDelegate>

#include <algorithm>
#include <optional>
#include <utility>

namespace tavrik {

namespace {

constexpr int indent = 16;
constexpr int verticalPadding = 4;

class SidebarDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QFontMetrics metrics(option.font);
        int height = metrics.height() + 2 * verticalPadding + 4;
        if (!index.data(SidebarView::CaptionRole).toString().isEmpty()) {
            height += QFontMetrics(captionFont(option.font)).height();
        }
        return { 180, height };
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QRect area = option.rect.adjusted(4, 1, -4, -1);
        if (index.data(SidebarView::ActiveRole).toBool()) {
            QColor fill = option.palette.color(QPalette::Highlight);
            fill.setAlphaF(0.35f);
            QPainterPath path;
            path.addRoundedRect(area, 6, 6);
            painter->fillPath(path, fill);
        } else if (option.state & QStyle::State_MouseOver) {
            QColor hover = option.palette.color(QPalette::Highlight);
            hover.setAlphaF(0.1f);
            QPainterPath path;
            path.addRoundedRect(area, 6, 6);
            painter->fillPath(path, hover);
        }
        if (option.state & QStyle::State_HasFocus) {
            // The keyboard's place in the list, whether or not the row is the chosen one.
            QPen ring(option.palette.color(QPalette::Highlight), 2);
            painter->setPen(ring);
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(QRectF(area).adjusted(1, 1, -1, -1), 6, 6);
        }
        const auto kind = static_cast<SidebarPresenter::RowKind>(index.data(SidebarView::KindRole).toInt());
        const bool group
            = kind == SidebarPresenter::RowKind::routinesGroup || kind == SidebarPresenter::RowKind::tagsGroup;
        int x = area.left() + 6 + (index.data(SidebarView::IndentedRole).toBool() ? indent : 0);
        const QFontMetrics metrics(option.font);
        const int top = area.top() + verticalPadding;
        painter->setPen(option.palette.color(QPalette::Text));
        if (group) {
            const QString arrow
                = index.data(SidebarView::ExpandedRole).toBool() ? QStringLiteral("\u25BE") : QStringLiteral("\u25B8");
            painter->drawText(QRect(x, top, 12, metrics.height()), Qt::AlignCenter, arrow);
            x += 14;
        }
        // Every row keeps the symbol's column, so texts line up whether or not a row has one.
        const QString symbol = index.data(SidebarView::SymbolRole).toString();
        if (!symbol.isEmpty()) {
            symbolIcon(symbol).paint(painter, QRect(x, top + (metrics.height() - 16) / 2, 16, 16));
        }
        x += 22;
        QFont font = option.font;
        font.setBold(group);
        painter->setFont(font);
        const QRect textRect(x, top, area.right() - x - 4, metrics.height());
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(font).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, textRect.width()));
        const QString caption = index.data(SidebarView::CaptionRole).toString();
        if (!caption.isEmpty()) {
            const QFont small = captionFont(option.font);
            painter->setFont(small);
            painter->setPen(option.palette.color(QPalette::PlaceholderText));
            const QRect captionRect(x, top + metrics.height(), textRect.width(), QFontMetrics(small).height());
            painter->drawText(captionRect, Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetrics(small).elidedText(caption, Qt::ElideRight, captionRect.width()));
        }
        painter->restore();
    }

private:
    static QFont captionFont(QFont font)
    {
        font.setPointSizeF(font.pointSizeF() * 0.85);
        return font;
    }
};

} // namespace

SidebarView::SidebarView(ContentViewPresenter& window, const Clock& clock, QWidget* parent)
    : QListView(parent)
    , window(window)
    , clock(clock)
    , model(new QStandardItemModel(this))
{
    setObjectName(QStringLiteral("sidebar"));
    setFocusPolicy(Qt::StrongFocus);
    setModel(model);
    setItemDelegate(new SidebarDelegate(this));
    setMinimumWidth(180);
    setMouseTracking(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setUniformItemSizes(false);
    connect(this, &QListView::clicked, this, [this](const QModelIndex& index) { activateRow(index.row()); });
    connect(&window, &ContentViewPresenter::changed, this, &SidebarView::refresh);
    refresh();
}

void SidebarView::activateRow(int row)
{
    if (row < 0 || row >= static_cast<int>(shown.size())) {
        return;
    }
    // A copy: the action may change the rows.
    const SidebarPresenter::Row chosen = shown[static_cast<std::size_t>(row)];
    SidebarPresenter::activate(window, chosen);
}

void SidebarView::keyPressEvent(QKeyEvent* event)
{
    const int current = currentIndex().row();
    const bool onRow = current >= 0 && current < static_cast<int>(shown.size());
    const SidebarPresenter::Row* row = onRow ? &shown[static_cast<std::size_t>(current)] : nullptr;
    using Kind = SidebarPresenter::RowKind;
    const bool group = row && (row->kind == Kind::routinesGroup || row->kind == Kind::tagsGroup);
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        activateRow(current);
        event->accept();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (group && row->expanded == (event->key() == Qt::Key_Left)) {
            activateRow(current);
        }
        event->accept();
        return;
    // Only Delete: Backspace corrects what was typed to find a row, and must never delete one.
    case Qt::Key_Delete:
        if (row && (row->kind == Kind::routine || row->kind == Kind::tag)) {
            const SidebarPresenter::Row chosen = *row;
            emit deleteRequested(chosen);
        }
        event->accept();
        return;
    default:
        QListView::keyPressEvent(event);
    }
}

SidebarView::Change SidebarView::inputsChanged()
{
    const auto& state = window.state();
    const auto& controller = window.controller();
    const auto& actions = window.actions();
    std::optional<std::string> newRoutineLabel;
    if (actions.showingNewRoutineDraft && actions.showingNewRoutineDraft()) {
        newRoutineLabel = state.routineDetailDraft.label;
    }
    const auto minute = std::chrono::floor<std::chrono::minutes>(clock.now().time_since_epoch());
    const bool othersSame = seen && seen->pane == state.selectedPane && seen->routinesExpanded == state.routinesExpanded
        && seen->tagsExpanded == state.tagsExpanded && seen->routine == state.selectedRoutineId
        && seen->tag == state.selectedTagId && seen->newRoutineLabel == newRoutineLabel && seen->minute == minute
        && seen->schedules == controller.schedules && seen->tags == controller.tags;
    if (othersSame && seen->routineSummaries == controller.routineSummaries) {
        return Change::none;
    }
    // The same routines in the same order, some renamed or recounted: their rows alone change.
    const bool sameRoutines = othersSame && seen->routineSummaries.size() == controller.routineSummaries.size()
        && std::equal(seen->routineSummaries.begin(), seen->routineSummaries.end(), controller.routineSummaries.begin(),
            [](const RoutineSummary& a, const RoutineSummary& b) { return a.id == b.id; });
    if (sameRoutines && state.routinesExpanded) {
        return Change::routineSummaries;
    }
    seen = Inputs { state.selectedPane, state.routinesExpanded, state.tagsExpanded, state.selectedRoutineId,
        state.selectedTagId, std::move(newRoutineLabel), controller.routineSummaries, controller.schedules,
        controller.tags, minute };
    return Change::any;
}

void SidebarView::refreshRoutineRows()
{
    const auto& summaries = window.controller().routineSummaries;
    const auto& schedules = window.controller().schedules;
    for (std::size_t index = 0; index < summaries.size(); ++index) {
        if (summaries[index] == seen->routineSummaries[index]) {
            continue;
        }
        seen->routineSummaries[index] = summaries[index];
        const bool scheduled = std::any_of(schedules.begin(), schedules.end(),
            [&](const ScheduledRoutine& schedule) { return schedule.routineId == summaries[index].id; });
        SidebarPresenter::Row row = SidebarPresenter::routineRow(window, clock, summaries[index], scheduled);
        // The routines' rows follow the group's own row.
        const std::size_t position = index + 1;
        if (!(row == shown[position])) {
            shown[position] = std::move(row);
            showRow(position);
        }
    }
}

void SidebarView::refresh()
{
    switch (inputsChanged()) {
    case Change::none:
        return;
    case Change::routineSummaries:
        refreshRoutineRows();
        return;
    case Change::any:
        break;
    }
    std::vector<SidebarPresenter::Row> next = SidebarPresenter::rows(window, clock);
    if (next == shown) {
        return;
    }
    const bool sameShape = next.size() == shown.size()
        && std::equal(next.begin(), next.end(), shown.begin(),
            [](const SidebarPresenter::Row& a, const SidebarPresenter::Row& b) {
                return a.kind == b.kind && a.id == b.id;
            });
    // The keyboard's place survives rows coming and going.
    std::optional<std::pair<SidebarPresenter::RowKind, std::uint32_t>> focused;
    if (const int current = currentIndex().row(); current >= 0 && current < static_cast<int>(shown.size())) {
        focused
            = std::pair { shown[static_cast<std::size_t>(current)].kind, shown[static_cast<std::size_t>(current)].id };
    }
    std::vector<SidebarPresenter::Row> previous = std::exchange(shown, std::move(next));
    if (!sameShape) {
        model->clear();
    }
    for (std::size_t index = 0; index < shown.size(); ++index) {
        // A renamed routine redraws its own row, not the thousands beside it.
        if (sameShape && shown[index] == previous[index]) {
            continue;
        }
        if (sameShape) {
            showRow(index);
        } else {
            auto* item = new QStandardItem;
            fill(*item, shown[index]);
            model->appendRow(item);
        }
    }
    if (!sameShape && focused) {
        const auto found = std::find_if(shown.begin(), shown.end(),
            [&](const SidebarPresenter::Row& row) { return row.kind == focused->first && row.id == focused->second; });
        if (found != shown.end()) {
            setCurrentIndex(model->index(static_cast<int>(found - shown.begin()), 0));
        }
    }
}

void SidebarView::showRow(std::size_t index)
{
    fill(*model->item(static_cast<int>(index)), shown[index]);
}

void SidebarView::fill(QStandardItem& item, const SidebarPresenter::Row& row)
{
    item.setData(QString::fromStdString(row.label), Qt::DisplayRole);
    item.setData(QString::fromStdString(row.label), Qt::AccessibleTextRole);
    item.setData(static_cast<int>(row.kind), KindRole);
    item.setData(QString::fromStdString(row.caption), CaptionRole);
    item.setData(row.active, ActiveRole);
    item.setData(row.indented, IndentedRole);
    item.setData(row.expanded, ExpandedRole);
    item.setData(QString::fromStdString(row.symbol), SymbolRole);
}

} // namespace tavrik
