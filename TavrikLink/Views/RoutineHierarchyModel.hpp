#pragma once

#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikCore/Routine/RoutineDraft.hpp"
#include "TavrikLink/Views/TagReferenceLookup.hpp"

#include <QAbstractItemModel>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tavrik {

// The steps and groups of the routine being edited as a two-level tree: the root entries in order,
// each group with its steps under it (hidden while collapsed, a placeholder row while empty). It owns
// the edited draft and runs the drag with a live preview: the dragged step moves in the draft at
// every hover, and rows are moved, not rebuilt, so a preview stays cheap on a long routine.
class RoutineHierarchyModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum class RowKind {
        step,
        group,
        placeholder,
    };

    enum Role {
        KindRole = Qt::UserRole + 1, // int of RowKind
        NumberTextRole, // "3."
        TitleRole,
        TagNameRole, // absent (invalid) when the step has no tag
        DurationTextRole,
        UnstoppableRole,
        DraggingRole,
        ChildCountTextRole, // "4 steps"
        ModeTextRole, // "Timebox · 15:00" or "Rotation"
        ExpandedRole,
        ExpandButtonLabelRole,
        RowIdRole, // the step's or group's row identity as text
    };

    // Where a dragged step goes: the root (parentId 0) or a group, at an index among its siblings.
    struct DropTarget {
        std::uint32_t parentId = 0;
        std::int64_t position = 0;

        friend bool operator==(const DropTarget&, const DropTarget&) = default;
    };

    explicit RoutineHierarchyModel(QObject* parent = nullptr);

    const RoutineDraft& draft() const { return m_draft; }
    // The host's own edits (a step deleted, a sheet committed, new device data).
    void setDraft(RoutineDraft draft);
    void setTags(const std::vector<TagInfo>& tags);
    // Called once after a drag that changed the hierarchy.
    void setCommitHandler(std::function<void()> onCommitHierarchyChange);

    // "group:G", "group-step:G:S" for each of its steps, "root-step:S", in display order.
    std::vector<std::string> hierarchyOrder() const;

    bool isExpanded(std::uint32_t groupId) const;
    void toggleExpanded(std::uint32_t groupId);

    RowKind rowKind(const QModelIndex& index) const;
    std::optional<RoutineStepDraft> stepAt(const QModelIndex& index) const;
    std::optional<RoutineGroupDraft> groupAt(const QModelIndex& index) const;
    QModelIndex indexOfStep(const Uuid& id) const;
    QModelIndex indexOfGroup(std::uint32_t groupId) const;
    // Hovering a row: a step takes that row's place, a group header sends the step to the end of the
    // group, an empty group's placeholder to its start.
    std::optional<DropTarget> dropTargetForRow(const QModelIndex& index) const;
    // The thin zone just before row `row` under `parent` (row = row count: after the last one).
    DropTarget dropTargetForGap(const QModelIndex& parent, int row) const;

    void beginDrag(const Uuid& stepId);
    std::optional<Uuid> draggedStepId() const { return m_draggedStepId; }
    // Only a drag that started in this list is accepted.
    bool acceptsDrop() const { return m_draggedStepId.has_value(); }
    void previewDraggedStep(const Uuid& id, std::uint32_t parentId, std::int64_t position);
    void finishDrag(const Uuid& id, std::uint32_t parentId, std::int64_t position);
    void cancelDrag();
    // The pointer was released outside every target: keep and commit what the preview shows.
    void finishDragAtPreviewedLocation(const Uuid& id);
    bool hierarchyChangedSinceDragBegan() const;
    // The keyboard's move: the step or group at `index` one place up (direction -1) or down (+1),
    // a step into and out of groups as a drag over the neighbouring row would take it, committed as
    // a drag is. False when it is already at that end.
    bool moveOnePlace(const QModelIndex& index, int direction);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // The model changed the draft (a preview or a cancelled drag); the host keeps it.
    void draftChanged();

private:
    struct RootRow {
        bool isGroup = false;
        std::uint32_t nodeId = 0;
        std::size_t index = 0; // into the draft's steps or groups
        std::vector<std::size_t> children; // step indices, shown or not

        friend bool operator==(const RootRow&, const RootRow&) = default;
    };

    std::vector<RootRow> buildRows() const;
    void installRows(std::vector<RootRow> rows);
    // Brings the shown rows to `rows`, which differ from the current ones by where one step stands;
    // false (nothing done) when they differ otherwise.
    bool moveOneStep(std::size_t stepIndex, std::vector<RootRow>& rows);
    void refreshAll();
    void refreshStepRow(const Uuid& id);
    int visibleChildCount(const RootRow& row) const;
    const RootRow* rootRowOf(const QModelIndex& index) const;
    std::optional<std::size_t> firstStepIndex(const Uuid& id) const;
    void applyDraftChange(std::optional<std::size_t> movedStep);

    RoutineDraft m_draft;
    std::vector<RootRow> m_rows;
    std::unordered_map<std::uint32_t, int> m_groupRows;
    TagReferenceLookup m_tags { {} };
    std::function<void()> m_onCommit;
    std::unordered_set<std::uint32_t> m_collapsedGroupIds;

    std::optional<Uuid> m_draggedStepId;
    std::optional<RoutineDraft> m_hierarchyBeforeDrag;
    bool m_dragChangedHierarchy = false;
};

} // namespace tavrik
