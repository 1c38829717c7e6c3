#pragma once

#include "TavrikLink/Views/RoutineHierarchyModel.hpp"

#include <QPoint>
#include <QTreeView>

#include <functional>
#include <optional>

class QDrag;
class QTimer;

namespace tavrik {

class RoutineDetailEditorPresenter;

// The steps and groups of the edited routine, one row each. Steps are dragged with a drag of our own
// (the stock item-view move would remove rows behind the live preview): every hover moves the step in
// the model at once, and a drag released outside the list ends where the preview left it.
class RoutineHierarchyView : public QTreeView {
    Q_OBJECT
public:
    RoutineHierarchyView(RoutineDetailEditorPresenter& editor, QWidget* parent = nullptr);

    // Where a step dropped at this viewport point goes; nothing outside every target. The top edge of
    // a root row is the zone before it (at the root, even above a group), and the room under the last
    // row the end of the routine.
    std::optional<RoutineHierarchyModel::DropTarget> dropTargetAt(const QPoint& position) const;
    // Runs the platform's drag loop for a drag begun in the list (tests play it themselves).
    void setDragRunner(std::function<void(QDrag&)> runner);
    // What a click at this viewport point does.
    enum class HitPart { none, row, deleteButton, disclosureButton };
    HitPart hitPart(const QPoint& position) const;

    static constexpr int rowHeight = 34;
    // The band along a root row's top edge that drops before that row.
    static constexpr int rootZoneHeight = 8;
    // Room under the last row: the drop zone at the end of the routine.
    static constexpr int endZoneHeight = 12;

    // Dragging a step this near the top or bottom edge scrolls the list that way, faster nearer
    // the edge; a timer steps it while the pointer rests there, and the step rides along.
    static constexpr int autoScrollZone = rowHeight;
    void autoScrollStep();

    // The list is as high as its rows, up to this; beyond it the rows scroll.
    void setMaximumListHeight(int height);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    // Arrows move between rows, Alt with Up or Down moves the row itself, Return and Space open a
    // step's or group's editor, Delete does what the row's delete button does, Left and Right close
    // and open a group.
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void startDrag(const Uuid& stepId);
    void activate(const QModelIndex& index, HitPart part);
    void expandGroups(const QModelIndex& parent, int first, int last);
    int naturalHeight() const;

    RoutineDetailEditorPresenter& editor;
    RoutineHierarchyModel& model;
    std::optional<QPoint> pressPosition;
    QPersistentModelIndex pressIndex;
    int maximumListHeight = 400;
    std::function<void(QDrag&)> dragRunner;
    // Where the pointer is in a drag over the list, for the auto-scroll.
    std::optional<QPoint> dragPosition;
    QTimer* autoScrollTimer = nullptr;
};

} // namespace tavrik
