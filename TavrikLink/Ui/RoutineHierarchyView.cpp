#include "TavrikLink/Ui/RoutineHierarchyView.hpp"

#include "TavrikLink/Ui/SheetSupport.hpp"
#include "TavrikLink/Ui/SymbolIcon.hpp"
#include "TavrikLink/Views/RoutineDetailEditorPresenter.hpp"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace tavrik {

namespace {

using Kind = RoutineHierarchyModel::RowKind;

constexpr int trashWidth = 28;
constexpr int disclosureWidth = 22;

Kind kindOf(const QModelIndex& index)
{
    return static_cast<Kind>(index.data(RoutineHierarchyModel::KindRole).toInt());
}

QRect trashRect(const QRect& row)
{
    return QRect(row.right() - trashWidth - 4, row.top(), trashWidth, row.height());
}

QRect disclosureRect(const QRect& row)
{
    return QRect(row.left() + 6, row.top(), disclosureWidth, row.height());
}

// Draws the rows as the list shows them: a rounded card per step, a tinted header per group.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return { option.rect.width(), RoutineHierarchyView::rowHeight };
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QPalette& palette = option.palette;
        const bool enabled = option.state & QStyle::State_Enabled;
        const QRect card = option.rect.adjusted(2, 2, -2, -2);
        QFont font = option.font;
        QFont bold = font;
        bold.setBold(true);
        QFont caption = font;
        caption.setPointSizeF(font.pointSizeF() * 0.85);
        QColor secondary = palette.color(QPalette::PlaceholderText);
        const Kind kind = kindOf(index);

        if (kind == Kind::placeholder) {
            QColor fill = palette.color(QPalette::Text);
            fill.setAlphaF(0.025f);
            QPainterPath path;
            path.addRoundedRect(card, 6, 6);
            painter->fillPath(path, fill);
            painter->setPen(secondary);
            painter->setFont(caption);
            painter->drawText(card, Qt::AlignCenter, index.data(RoutineHierarchyModel::TitleRole).toString());
            painter->restore();
            return;
        }

        if (index.data(RoutineHierarchyModel::DraggingRole).toBool()) {
            painter->setOpacity(0.34);
        }
        QPainterPath path;
        QColor fill = palette.color(QPalette::Base);
        QColor outline = palette.color(QPalette::Text);
        if (kind == Kind::group) {
            fill = palette.color(QPalette::Highlight);
            fill.setAlphaF(0.12f);
            outline = palette.color(QPalette::Highlight);
            outline.setAlphaF(0.3f);
            path.addRoundedRect(card, 7, 7);
        } else {
            outline.setAlphaF(0.12f);
            path.addRoundedRect(card, 8, 8);
        }
        painter->fillPath(path, fill);
        painter->setPen(QPen(outline, 1));
        painter->drawPath(path);
        if (option.state & QStyle::State_HasFocus) {
            // The keyboard's place in the list.
            painter->setPen(QPen(palette.color(QPalette::Highlight), 2));
            painter->drawPath(path);
        }
        if (!enabled) {
            secondary.setAlphaF(0.5f);
        }
        const QColor textColor = enabled ? palette.color(QPalette::Text) : secondary;

        QRect content = card.adjusted(10, 0, -10, 0);
        int left = content.left();
        if (kind == Kind::step) {
            painter->setFont(font);
            painter->setPen(secondary);
            painter->drawText(QRect(left, content.top(), 22, content.height()), Qt::AlignRight | Qt::AlignVCenter,
                index.data(RoutineHierarchyModel::NumberTextRole).toString());
            left += 30;
        } else {
            painter->setPen(textColor);
            const bool expanded = index.data(RoutineHierarchyModel::ExpandedRole).toBool();
            painter->drawText(disclosureRect(option.rect), Qt::AlignCenter,
                expanded ? QStringLiteral("\u25BE") : QStringLiteral("\u25B8"));
            left = disclosureRect(option.rect).right() + 8;
        }

        // Chips from the right edge, then the title in what is left.
        int right = trashRect(option.rect).left() - 8;
        painter->setPen(enabled ? QColor(200, 30, 30) : secondary);
        const QIcon trash = symbolIcon(QStringLiteral("trash"));
        const QRect trashArea = trashRect(option.rect);
        if (!trash.isNull()) {
            trash.paint(painter, trashArea.adjusted(6, (trashArea.height() - 16) / 2, -6, -(trashArea.height() - 16) / 2),
                Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
        } else {
            painter->drawText(trashArea, Qt::AlignCenter, QStringLiteral("\u2715"));
        }
        painter->setFont(caption);
        painter->setPen(secondary);
        const QFontMetrics metrics(caption);
        auto chip = [&](const QString& text, int maximumWidth = 10000) {
            const QString shown = metrics.elidedText(text, Qt::ElideRight, maximumWidth);
            const int width = metrics.horizontalAdvance(shown);
            painter->drawText(
                QRect(right - width, content.top(), width, content.height()), Qt::AlignVCenter | Qt::AlignRight, shown);
            right -= width + 9;
        };
        if (kind == Kind::step) {
            if (index.data(RoutineHierarchyModel::UnstoppableRole).toBool()) {
                chip(QStringLiteral("Unstoppable"));
            }
            chip(index.data(RoutineHierarchyModel::DurationTextRole).toString());
            const QVariant tag = index.data(RoutineHierarchyModel::TagNameRole);
            if (tag.isValid()) {
                chip(tag.toString(), 150);
            }
        } else {
            chip(index.data(RoutineHierarchyModel::ModeTextRole).toString());
            chip(index.data(RoutineHierarchyModel::ChildCountTextRole).toString());
        }
        painter->setFont(bold);
        painter->setPen(textColor);
        const QRect titleArea(left, content.top(), std::max(0, right - left - 8), content.height());
        painter->drawText(titleArea, Qt::AlignVCenter | Qt::AlignLeft,
            QFontMetrics(bold).elidedText(
                index.data(RoutineHierarchyModel::TitleRole).toString(), Qt::ElideRight, titleArea.width()));
        painter->restore();
    }
};

} // namespace

RoutineHierarchyView::RoutineHierarchyView(RoutineDetailEditorPresenter& editor, QWidget* parent)
    : QTreeView(parent)
    , editor(editor)
    , model(editor.hierarchy())
{
    setObjectName(QStringLiteral("routineHierarchyList"));
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setIndentation(22);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    // The drag is our own, so is its auto-scroll (autoScrollStep).
    setAutoScroll(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    viewport()->setAcceptDrops(true);
    setItemDelegate(new RowDelegate(this));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    viewport()->setPalette(palette);
    setModel(&model);
    viewport()->setPalette(this->palette());
    connect(&model, &QAbstractItemModel::modelReset, this, [this] { expandGroups({}, 0, model.rowCount() - 1); });
    connect(&model, &QAbstractItemModel::rowsInserted, this, &RoutineHierarchyView::expandGroups);
    connect(&model, &QAbstractItemModel::rowsMoved, this,
        [this](const QModelIndex&, int, int, const QModelIndex& destination, int row) {
            if (!destination.isValid()) {
                expandGroups({}, row, row);
            }
        });
    expandGroups({}, 0, model.rowCount() - 1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Pixels, not rows: a drag's auto-scroll eases in near the edge.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Rows come and go (and groups fold): the list's height follows.
    for (auto signal : { &QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved }) {
        connect(&model, signal, this, [this] { updateGeometry(); });
    }
    connect(&model, &QAbstractItemModel::modelReset, this, [this] { updateGeometry(); });
    connect(&model, &QAbstractItemModel::layoutChanged, this, [this] { updateGeometry(); });
    autoScrollTimer = new QTimer(this);
    autoScrollTimer->setInterval(std::chrono::milliseconds(30));
    connect(autoScrollTimer, &QTimer::timeout, this, &RoutineHierarchyView::autoScrollStep);
}

void RoutineHierarchyView::autoScrollStep()
{
    if (!dragPosition) {
        autoScrollTimer->stop();
        return;
    }
    const int y = dragPosition->y();
    const int height = viewport()->height();
    // How far into the zone along either edge the pointer is: 1 at the zone's inner border, the
    // whole zone at the edge itself.
    int depth = 0;
    int direction = 0;
    if (y < autoScrollZone) {
        depth = autoScrollZone - std::max(y, 0);
        direction = -1;
    } else if (y >= height - autoScrollZone) {
        depth = autoScrollZone - std::max(height - 1 - y, 0);
        direction = 1;
    }
    if (direction == 0) {
        autoScrollTimer->stop();
        return;
    }
    // From a couple of pixels a step at the zone's border to most of a row at the edge.
    const int pace = 2 + depth * depth * (rowHeight - 2) / (autoScrollZone * autoScrollZone);
    QScrollBar* bar = verticalScrollBar();
    const int before = bar->value();
    bar->setValue(before + direction * pace);
    if (bar->value() == before) {
        return;
    }
    // The rows moved under a pointer at rest: the step follows to the row now there.
    if (const auto dragged = model.draggedStepId()) {
        if (const auto target = dropTargetAt(*dragPosition)) {
            model.previewDraggedStep(*dragged, target->parentId, target->position);
        }
    }
    viewport()->update();
}

void RoutineHierarchyView::setMaximumListHeight(int height)
{
    if (height != maximumListHeight) {
        maximumListHeight = height;
        updateGeometry();
    }
}

int RoutineHierarchyView::naturalHeight() const
{
    int rows = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
        rows += 1 + model.rowCount(model.index(row, 0));
    }
    return rows * rowHeight + endZoneHeight + 2 * frameWidth();
}

QSize RoutineHierarchyView::sizeHint() const
{
    return { QTreeView::sizeHint().width(), std::min(naturalHeight(), maximumListHeight) };
}

QSize RoutineHierarchyView::minimumSizeHint() const
{
    return { QTreeView::minimumSizeHint().width(), sizeHint().height() };
}

void RoutineHierarchyView::expandGroups(const QModelIndex& parent, int first, int last)
{
    if (parent.isValid()) {
        return;
    }
    for (int row = std::max(first, 0); row <= last && row < model.rowCount(); ++row) {
        const QModelIndex group = model.index(row, 0);
        if (model.rowKind(group) == Kind::group) {
            setExpanded(group, true);
        }
    }
}

std::optional<RoutineHierarchyModel::DropTarget> RoutineHierarchyView::dropTargetAt(const QPoint& position) const
{
    const QModelIndex index = indexAt(position);
    if (!index.isValid()) {
        // Under the last row: the end of the routine.
        const int rows = model.rowCount();
        if (rows == 0) {
            return RoutineHierarchyModel::DropTarget { 0, 0 };
        }
        QModelIndex last = model.index(rows - 1, 0);
        while (isExpanded(last) && model.rowCount(last) > 0) {
            last = model.index(model.rowCount(last) - 1, 0, last);
        }
        const QRect lastRow = visualRect(last);
        if (position.y() > lastRow.bottom()) {
            // A step that has just filled the last group's placeholder is the list's last row, a row
            // higher than the placeholder was: the pointer is now under it, and taking that for the
            // end of the routine would pull the step straight out again. Its own height below it
            // still holds it in the group; further down is the end of the routine.
            const auto dragged = model.draggedStepId();
            const auto lastStep = model.stepAt(last);
            if (dragged && lastStep && lastStep->id == *dragged && last.parent().isValid()
                && position.y() <= lastRow.bottom() + rowHeight) {
                return model.dropTargetForRow(last);
            }
            return model.dropTargetForGap({}, rows);
        }
        return std::nullopt;
    }
    if (!index.parent().isValid() && position.y() < visualRect(index).top() + rootZoneHeight) {
        return model.dropTargetForGap({}, index.row());
    }
    return model.dropTargetForRow(index);
}

void RoutineHierarchyView::setDragRunner(std::function<void(QDrag&)> runner)
{
    dragRunner = std::move(runner);
}

RoutineHierarchyView::HitPart RoutineHierarchyView::hitPart(const QPoint& position) const
{
    const QModelIndex index = indexAt(position);
    if (!index.isValid() || kindOf(index) == Kind::placeholder) {
        return HitPart::none;
    }
    const QRect row = visualRect(index);
    if (trashRect(row).contains(position)) {
        return HitPart::deleteButton;
    }
    if (kindOf(index) == Kind::group && disclosureRect(row).contains(position)) {
        return HitPart::disclosureButton;
    }
    return HitPart::row;
}

void RoutineHierarchyView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        pressPosition = event->position().toPoint();
        pressIndex = indexAt(*pressPosition);
    }
    event->accept();
}

void RoutineHierarchyView::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressPosition || !(event->buttons() & Qt::LeftButton) || !pressIndex.isValid()) {
        return;
    }
    if ((event->position().toPoint() - *pressPosition).manhattanLength() < QApplication::startDragDistance()) {
        return;
    }
    const auto step = model.stepAt(pressIndex);
    pressPosition.reset();
    pressIndex = QPersistentModelIndex();
    if (step) {
        startDrag(step->id);
    }
}

void RoutineHierarchyView::mouseReleaseEvent(QMouseEvent* event)
{
    if (pressPosition && event->button() == Qt::LeftButton) {
        const QPoint position = event->position().toPoint();
        const QModelIndex index = indexAt(position);
        if (index.isValid() && index == pressIndex) {
            activate(index, hitPart(position));
        }
    }
    pressPosition.reset();
    pressIndex = QPersistentModelIndex();
    event->accept();
}

void RoutineHierarchyView::keyPressEvent(QKeyEvent* event)
{
    const QModelIndex index = currentIndex();
    const auto group = index.isValid() ? model.groupAt(index) : std::nullopt;
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier) {
        const auto step = index.isValid() ? model.stepAt(index) : std::nullopt;
        if (model.moveOnePlace(index, event->key() == Qt::Key_Up ? -1 : 1)) {
            // The keyboard's place moves with the row.
            const QModelIndex moved = step ? model.indexOfStep(step->id) : model.indexOfGroup(group->groupId);
            setCurrentIndex(moved);
            scrollTo(moved);
        }
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        activate(index, index.isValid() ? HitPart::row : HitPart::none);
        event->accept();
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        activate(index, index.isValid() ? HitPart::deleteButton : HitPart::none);
        event->accept();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (group && model.isExpanded(group->groupId) == (event->key() == Qt::Key_Left)) {
            activate(index, HitPart::disclosureButton);
        }
        event->accept();
        return;
    default:
        QTreeView::keyPressEvent(event);
    }
}

void RoutineHierarchyView::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}

void RoutineHierarchyView::activate(const QModelIndex& index, HitPart part)
{
    if (part == HitPart::none) {
        return;
    }
    if (const auto step = model.stepAt(index)) {
        if (part == HitPart::deleteButton) {
            editor.deleteStep(*step);
        } else {
            editor.beginEditingStep(*step);
        }
    } else if (const auto group = model.groupAt(index)) {
        if (part == HitPart::deleteButton) {
            editor.deleteGroup(*group);
        } else if (part == HitPart::disclosureButton) {
            model.toggleExpanded(group->groupId);
        } else {
            editor.beginEditingGroup(*group);
        }
    }
}

void RoutineHierarchyView::startDrag(const Uuid& stepId)
{
    model.beginDrag(stepId);
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData();
    mime->setText(QString::fromStdString(stepId.text()));
    drag->setMimeData(mime);
    const QModelIndex index = model.indexOfStep(stepId);
    if (index.isValid()) {
        const QRect rect = visualRect(index);
        QPixmap image(rect.size() * devicePixelRatioF());
        image.setDevicePixelRatio(devicePixelRatioF());
        image.fill(Qt::transparent);
        viewport()->render(&image, {}, QRegion(rect));
        drag->setPixmap(image);
        drag->setHotSpot(mapFromGlobal(QCursor::pos()) - rect.topLeft());
    }
    setState(DraggingState);
    if (dragRunner) {
        dragRunner(*drag);
        drag->deleteLater();
    } else {
        drag->exec(Qt::MoveAction);
    }
    dragPosition.reset();
    autoScrollTimer->stop();
    setState(NoState);
    // Released outside every target: the step stays where the preview put it.
    if (const auto dragged = model.draggedStepId()) {
        model.finishDragAtPreviewedLocation(*dragged);
    }
}

void RoutineHierarchyView::dragEnterEvent(QDragEnterEvent* event)
{
    // Only a step dragged in this list (the list knows its own drag); text from elsewhere is refused.
    if (model.acceptsDrop() && event->mimeData()->hasText()) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
        return;
    }
    event->ignore();
}

void RoutineHierarchyView::dragMoveEvent(QDragMoveEvent* event)
{
    const auto dragged = model.draggedStepId();
    if (!dragged) {
        event->ignore();
        return;
    }
    const QPoint position = event->position().toPoint();
    if (const auto target = dropTargetAt(position)) {
        model.previewDraggedStep(*dragged, target->parentId, target->position);
        // Rows that moved between levels change their indentation.
        viewport()->update();
    }
    dragPosition = position;
    const bool nearAnEdge = position.y() < autoScrollZone || position.y() >= viewport()->height() - autoScrollZone;
    if (nearAnEdge && !autoScrollTimer->isActive()) {
        autoScrollTimer->start();
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void RoutineHierarchyView::dragLeaveEvent(QDragLeaveEvent* event)
{
    dragPosition.reset();
    autoScrollTimer->stop();
    event->accept();
}

void RoutineHierarchyView::dropEvent(QDropEvent* event)
{
    const auto dragged = model.draggedStepId();
    if (!dragged) {
        event->ignore();
        return;
    }
    dragPosition.reset();
    autoScrollTimer->stop();
    if (const auto target = dropTargetAt(event->position().toPoint())) {
        model.finishDrag(*dragged, target->parentId, target->position);
    } else {
        model.finishDragAtPreviewedLocation(*dragged);
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

} // namespace tavrik
