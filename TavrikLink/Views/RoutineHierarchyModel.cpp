#include "TavrikLink/Views/RoutineHierarchyModel.hpp"

#include "TavrikLink/Views/DurationText.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

namespace {

// Child rows carry their group's id (plus one, so that 0 stays the mark of a root row): the id keeps
// pointing at the right group while root rows move around it.
quintptr childTag(std::uint32_t groupId)
{
    return static_cast<quintptr>(groupId) + 1;
}

} // namespace

RoutineHierarchyModel::RoutineHierarchyModel(QObject* parent)
    : QAbstractItemModel(parent)
{
}

void RoutineHierarchyModel::setDraft(RoutineDraft draft)
{
    m_draft = std::move(draft);
    applyDraftChange(std::nullopt);
}

void RoutineHierarchyModel::setTags(const std::vector<TagInfo>& tags)
{
    m_tags = TagReferenceLookup(tags);
    refreshAll();
}

void RoutineHierarchyModel::setCommitHandler(std::function<void()> onCommitHierarchyChange)
{
    m_onCommit = std::move(onCommitHierarchyChange);
}

std::vector<RoutineHierarchyModel::RootRow> RoutineHierarchyModel::buildRows() const
{
    std::unordered_map<std::uint32_t, std::size_t> stepIndex;
    std::unordered_map<std::uint32_t, std::size_t> groupIndex;
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> children;
    stepIndex.reserve(m_draft.steps.size());
    for (std::size_t index = 0; index < m_draft.steps.size(); ++index) {
        const RoutineStepDraft& step = m_draft.steps[index];
        stepIndex.emplace(step.stepId, index);
        if (step.parentId != 0) {
            children[step.parentId].push_back(index);
        }
    }
    for (std::size_t index = 0; index < m_draft.groups.size(); ++index) {
        groupIndex.emplace(m_draft.groups[index].groupId, index);
    }

    std::vector<RootRow> rows;
    for (const RoutineDraftRootNode& node : m_draft.rootNodes()) {
        if (node.kind == RoutineDraftRootNode::Kind::step) {
            if (const auto found = stepIndex.find(node.nodeId); found != stepIndex.end()) {
                rows.push_back({ false, node.nodeId, found->second, {} });
            }
            continue;
        }
        const auto found = groupIndex.find(node.nodeId);
        if (found == groupIndex.end()) {
            continue;
        }
        RootRow row { true, node.nodeId, found->second, {} };
        if (const auto list = children.find(node.nodeId); list != children.end()) {
            row.children = list->second;
            // The draft's own child order: by position, then by node id, list order on full ties.
            std::stable_sort(row.children.begin(), row.children.end(), [this](std::size_t lhs, std::size_t rhs) {
                const RoutineStepDraft& left = m_draft.steps[lhs];
                const RoutineStepDraft& right = m_draft.steps[rhs];
                return left.position != right.position ? left.position < right.position : left.stepId < right.stepId;
            });
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void RoutineHierarchyModel::installRows(std::vector<RootRow> rows)
{
    m_rows = std::move(rows);
    m_groupRows.clear();
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].isGroup) {
            m_groupRows.emplace(m_rows[row].nodeId, static_cast<int>(row));
        }
    }
}

void RoutineHierarchyModel::applyDraftChange(std::optional<std::size_t> movedStep)
{
    std::vector<RootRow> rows = buildRows();
    if (rows == m_rows) {
        refreshAll();
        return;
    }
    if (movedStep && moveOneStep(*movedStep, rows)) {
        return;
    }
    beginResetModel();
    installRows(std::move(rows));
    endResetModel();
}

namespace {

struct StepPlace {
    int rootRow = -1; // the root row of the step itself, or of its group
    int childRow = -1; // -1 at the root
};

template <class Rows>
std::optional<StepPlace> placeOf(const Rows& rows, std::size_t stepIndex)
{
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (!rows[row].isGroup) {
            if (rows[row].index == stepIndex) {
                return StepPlace { static_cast<int>(row), -1 };
            }
            continue;
        }
        const auto& children = rows[row].children;
        const auto found = std::find(children.begin(), children.end(), stepIndex);
        if (found != children.end()) {
            return StepPlace { static_cast<int>(row), static_cast<int>(found - children.begin()) };
        }
    }
    return std::nullopt;
}

template <class Rows>
Rows without(Rows rows, const StepPlace& place)
{
    if (place.childRow < 0) {
        rows.erase(rows.begin() + place.rootRow);
    } else {
        auto& children = rows[static_cast<std::size_t>(place.rootRow)].children;
        children.erase(children.begin() + place.childRow);
    }
    return rows;
}

} // namespace

bool RoutineHierarchyModel::moveOneStep(std::size_t stepIndex, std::vector<RootRow>& rows)
{
    const auto from = placeOf(m_rows, stepIndex);
    const auto to = placeOf(rows, stepIndex);
    if (!from || !to) {
        return false;
    }
    std::vector<RootRow> middle = without(m_rows, *from);
    if (middle != without(rows, *to)) {
        return false;
    }

    const auto groupIndexAt = [this](int rootRow) { return createIndex(rootRow, 0, quintptr(0)); };
    const auto refreshChildren = [this, &groupIndexAt](int rootRow) {
        const QModelIndex group = groupIndexAt(rootRow);
        emit dataChanged(group, group);
        const int count = visibleChildCount(m_rows[static_cast<std::size_t>(rootRow)]);
        if (count > 0) {
            emit dataChanged(index(0, 0, group), index(count - 1, 0, group));
        }
    };

    if (from->childRow < 0 && to->childRow < 0) {
        // Within the root: one row moves, the numbers of the rows it passed change.
        if (!beginMoveRows(
                {}, from->rootRow, from->rootRow, {}, to->rootRow > from->rootRow ? to->rootRow + 1 : to->rootRow)) {
            return false;
        }
        installRows(std::move(rows));
        endMoveRows();
        const int first = std::min(from->rootRow, to->rootRow);
        const int last = std::max(from->rootRow, to->rootRow);
        emit dataChanged(index(first, 0), index(last, 0));
        return true;
    }

    if (from->childRow >= 0 && to->childRow >= 0 && from->rootRow == to->rootRow) {
        const RootRow& group = m_rows[static_cast<std::size_t>(from->rootRow)];
        if (m_collapsedGroupIds.contains(group.nodeId)) {
            installRows(std::move(rows));
            return true;
        }
        const QModelIndex parentIndex = groupIndexAt(from->rootRow);
        if (!beginMoveRows(parentIndex, from->childRow, from->childRow, parentIndex,
                to->childRow > from->childRow ? to->childRow + 1 : to->childRow)) {
            return false;
        }
        installRows(std::move(rows));
        endMoveRows();
        refreshChildren(from->rootRow);
        return true;
    }

    // Between the root and a group, or between two groups: take the row out, then put it in.
    if (from->childRow < 0) {
        beginRemoveRows({}, from->rootRow, from->rootRow);
        installRows(std::move(middle));
        endRemoveRows();
    } else {
        const RootRow& group = m_rows[static_cast<std::size_t>(from->rootRow)];
        const bool shown = !m_collapsedGroupIds.contains(group.nodeId);
        if (shown && group.children.size() > 1) {
            beginRemoveRows(groupIndexAt(from->rootRow), from->childRow, from->childRow);
            installRows(std::move(middle));
            endRemoveRows();
        } else {
            // The last step's row turns into the placeholder: the row count stays 1.
            installRows(std::move(middle));
        }
        refreshChildren(from->rootRow);
    }

    if (to->childRow < 0) {
        beginInsertRows({}, to->rootRow, to->rootRow);
        installRows(std::move(rows));
        endInsertRows();
    } else {
        const RootRow& group = m_rows[static_cast<std::size_t>(to->rootRow)];
        const bool shown = !m_collapsedGroupIds.contains(group.nodeId);
        if (shown && !group.children.empty()) {
            beginInsertRows(groupIndexAt(to->rootRow), to->childRow, to->childRow);
            installRows(std::move(rows));
            endInsertRows();
        } else {
            installRows(std::move(rows));
        }
        refreshChildren(to->rootRow);
    }
    // Root numbers count groups too, so every root row after either end may show a new number.
    if (!m_rows.empty()) {
        emit dataChanged(index(0, 0), index(static_cast<int>(m_rows.size()) - 1, 0));
    }
    return true;
}

void RoutineHierarchyModel::refreshAll()
{
    if (m_rows.empty()) {
        return;
    }
    emit dataChanged(index(0, 0), index(static_cast<int>(m_rows.size()) - 1, 0));
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        const int count = visibleChildCount(m_rows[row]);
        if (count > 0) {
            const QModelIndex group = index(static_cast<int>(row), 0);
            emit dataChanged(index(0, 0, group), index(count - 1, 0, group));
        }
    }
}

void RoutineHierarchyModel::refreshStepRow(const Uuid& id)
{
    const QModelIndex row = indexOfStep(id);
    if (row.isValid()) {
        emit dataChanged(row, row, { DraggingRole });
    }
}

int RoutineHierarchyModel::visibleChildCount(const RootRow& row) const
{
    if (!row.isGroup || m_collapsedGroupIds.contains(row.nodeId)) {
        return 0;
    }
    return row.children.empty() ? 1 : static_cast<int>(row.children.size());
}

std::vector<std::string> RoutineHierarchyModel::hierarchyOrder() const
{
    std::vector<std::string> order;
    for (const RootRow& row : m_rows) {
        if (!row.isGroup) {
            order.push_back("root-step:" + std::to_string(row.nodeId));
            continue;
        }
        const std::string group = std::to_string(row.nodeId);
        order.push_back("group:" + group);
        for (const std::size_t child : row.children) {
            order.push_back("group-step:" + group + ":" + std::to_string(m_draft.steps[child].stepId));
        }
    }
    return order;
}

bool RoutineHierarchyModel::isExpanded(std::uint32_t groupId) const
{
    return !m_collapsedGroupIds.contains(groupId);
}

void RoutineHierarchyModel::toggleExpanded(std::uint32_t groupId)
{
    const auto found = m_groupRows.find(groupId);
    if (found == m_groupRows.end()) {
        // Not shown: only the remembered state changes.
        if (!m_collapsedGroupIds.erase(groupId)) {
            m_collapsedGroupIds.insert(groupId);
        }
        return;
    }
    const QModelIndex group = index(found->second, 0);
    const RootRow& row = m_rows[static_cast<std::size_t>(found->second)];
    const int count = row.children.empty() ? 1 : static_cast<int>(row.children.size());
    if (isExpanded(groupId)) {
        beginRemoveRows(group, 0, count - 1);
        m_collapsedGroupIds.insert(groupId);
        endRemoveRows();
    } else {
        beginInsertRows(group, 0, count - 1);
        m_collapsedGroupIds.erase(groupId);
        endInsertRows();
    }
    emit dataChanged(group, group, { ExpandedRole, ExpandButtonLabelRole });
}

const RoutineHierarchyModel::RootRow* RoutineHierarchyModel::rootRowOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this) {
        return nullptr;
    }
    if (index.internalId() == 0) {
        return &m_rows[static_cast<std::size_t>(index.row())];
    }
    const auto found = m_groupRows.find(static_cast<std::uint32_t>(index.internalId() - 1));
    return found == m_groupRows.end() ? nullptr : &m_rows[static_cast<std::size_t>(found->second)];
}

RoutineHierarchyModel::RowKind RoutineHierarchyModel::rowKind(const QModelIndex& index) const
{
    const RootRow* row = rootRowOf(index);
    if (row == nullptr) {
        return RowKind::placeholder;
    }
    if (index.internalId() == 0) {
        return row->isGroup ? RowKind::group : RowKind::step;
    }
    return row->children.empty() ? RowKind::placeholder : RowKind::step;
}

std::optional<RoutineStepDraft> RoutineHierarchyModel::stepAt(const QModelIndex& index) const
{
    const RootRow* row = rootRowOf(index);
    if (row == nullptr || rowKind(index) != RowKind::step) {
        return std::nullopt;
    }
    const std::size_t stepIndex
        = index.internalId() == 0 ? row->index : row->children[static_cast<std::size_t>(index.row())];
    return m_draft.steps[stepIndex];
}

std::optional<RoutineGroupDraft> RoutineHierarchyModel::groupAt(const QModelIndex& index) const
{
    const RootRow* row = rootRowOf(index);
    if (row == nullptr || rowKind(index) != RowKind::group) {
        return std::nullopt;
    }
    return m_draft.groups[row->index];
}

QModelIndex RoutineHierarchyModel::indexOfStep(const Uuid& id) const
{
    const auto stepIndex = firstStepIndex(id);
    if (!stepIndex) {
        return {};
    }
    const auto place = placeOf(m_rows, *stepIndex);
    if (!place) {
        return {};
    }
    if (place->childRow < 0) {
        return index(place->rootRow, 0);
    }
    const RootRow& group = m_rows[static_cast<std::size_t>(place->rootRow)];
    if (m_collapsedGroupIds.contains(group.nodeId)) {
        return {};
    }
    return createIndex(place->childRow, 0, childTag(group.nodeId));
}

QModelIndex RoutineHierarchyModel::indexOfGroup(std::uint32_t groupId) const
{
    const auto found = m_groupRows.find(groupId);
    return found == m_groupRows.end() ? QModelIndex() : index(found->second, 0);
}

std::optional<RoutineHierarchyModel::DropTarget> RoutineHierarchyModel::dropTargetForRow(const QModelIndex& index) const
{
    const RootRow* row = rootRowOf(index);
    if (row == nullptr) {
        return std::nullopt;
    }
    if (index.internalId() == 0) {
        if (row->isGroup) {
            return DropTarget { row->nodeId, static_cast<std::int64_t>(row->children.size()) };
        }
        return DropTarget { 0, index.row() };
    }
    return DropTarget { row->nodeId, row->children.empty() ? 0 : index.row() };
}

RoutineHierarchyModel::DropTarget RoutineHierarchyModel::dropTargetForGap(const QModelIndex& parent, int row) const
{
    const RootRow* group = rootRowOf(parent);
    const bool inGroup = group != nullptr && group->isGroup && parent.internalId() == 0;
    DropTarget target { 0, std::max(row, 0) };
    if (inGroup) {
        target = { group->nodeId, std::clamp<std::int64_t>(row, 0, static_cast<std::int64_t>(group->children.size())) };
    }
    // A position counts the list without the dragged step: coming from a row above the gap, the step
    // must land one place sooner to stand between the gap's two rows.
    const auto stepIndex = m_draggedStepId ? firstStepIndex(*m_draggedStepId) : std::nullopt;
    const auto place = stepIndex ? placeOf(m_rows, *stepIndex) : std::nullopt;
    if (place) {
        const bool sameList = inGroup ? place->childRow >= 0 && place->rootRow == parent.row() : place->childRow < 0;
        const int from = inGroup ? place->childRow : place->rootRow;
        if (sameList && from < target.position) {
            --target.position;
        }
    }
    return target;
}

std::optional<std::size_t> RoutineHierarchyModel::firstStepIndex(const Uuid& id) const
{
    for (std::size_t index = 0; index < m_draft.steps.size(); ++index) {
        if (m_draft.steps[index].id == id) {
            return index;
        }
    }
    return std::nullopt;
}

void RoutineHierarchyModel::beginDrag(const Uuid& stepId)
{
    const std::optional<Uuid> previous = m_draggedStepId;
    m_hierarchyBeforeDrag = m_draft;
    m_dragChangedHierarchy = false;
    m_draggedStepId = stepId;
    if (previous) {
        refreshStepRow(*previous);
    }
    refreshStepRow(stepId);
}

void RoutineHierarchyModel::previewDraggedStep(const Uuid& id, std::uint32_t parentId, std::int64_t position)
{
    const auto stepIndex = firstStepIndex(id);
    if (!stepIndex) {
        return;
    }
    const RoutineStepDraft& step = m_draft.steps[*stepIndex];
    if (step.parentId == parentId && step.position == position) {
        return;
    }
    m_draft.moveStep(step.stepId, parentId, position);
    m_dragChangedHierarchy = true;
    applyDraftChange(stepIndex);
    emit draftChanged();
}

bool RoutineHierarchyModel::hierarchyChangedSinceDragBegan() const
{
    if (m_dragChangedHierarchy) {
        return true;
    }
    return m_hierarchyBeforeDrag && *m_hierarchyBeforeDrag != m_draft;
}

void RoutineHierarchyModel::finishDrag(const Uuid& id, std::uint32_t parentId, std::int64_t position)
{
    previewDraggedStep(id, parentId, position);
    const bool changed = hierarchyChangedSinceDragBegan();
    const std::optional<Uuid> dragged = m_draggedStepId;
    m_hierarchyBeforeDrag.reset();
    m_dragChangedHierarchy = false;
    m_draggedStepId.reset();
    if (dragged) {
        refreshStepRow(*dragged);
    }
    if (changed && m_onCommit) {
        m_onCommit();
    }
}

void RoutineHierarchyModel::cancelDrag()
{
    const std::optional<Uuid> dragged = m_draggedStepId;
    const bool restore = m_dragChangedHierarchy && m_hierarchyBeforeDrag;
    if (restore) {
        m_draft = std::move(*m_hierarchyBeforeDrag);
    }
    m_hierarchyBeforeDrag.reset();
    m_dragChangedHierarchy = false;
    m_draggedStepId.reset();
    if (restore) {
        // Only the dragged step ever moved, so going back is one move too.
        applyDraftChange(dragged ? firstStepIndex(*dragged) : std::nullopt);
        emit draftChanged();
    } else if (dragged) {
        refreshStepRow(*dragged);
    }
}

bool RoutineHierarchyModel::moveOnePlace(const QModelIndex& index, int direction)
{
    if (m_draggedStepId || !index.isValid() || direction == 0) {
        return false;
    }
    direction = direction < 0 ? -1 : 1;
    const int rootCount = static_cast<int>(m_rows.size());
    if (const auto group = groupAt(index)) {
        const int next = index.row() + direction;
        if (next < 0 || next >= rootCount) {
            return false;
        }
        m_draft.moveRootNode(RoutineDraftRootNode::group(group->groupId), next);
        applyDraftChange(std::nullopt);
        emit draftChanged();
        if (m_onCommit) {
            m_onCommit();
        }
        return true;
    }
    const auto step = stepAt(index);
    if (!step) {
        return false;
    }
    std::optional<DropTarget> target;
    if (const QModelIndex parentIndex = index.parent(); parentIndex.isValid()) {
        const RootRow& group = m_rows[static_cast<std::size_t>(parentIndex.row())];
        const int next = index.row() + direction;
        if (next >= 0 && next < static_cast<int>(group.children.size())) {
            target = DropTarget { group.nodeId, next };
        } else {
            // Past the group's first or last step: out, just before or after the group.
            target = DropTarget { 0, parentIndex.row() + (direction > 0 ? 1 : 0) };
        }
    } else {
        const int next = index.row() + direction;
        if (next < 0 || next >= rootCount) {
            return false;
        }
        const RootRow& neighbour = m_rows[static_cast<std::size_t>(next)];
        if (neighbour.isGroup && isExpanded(neighbour.nodeId)) {
            // Into the open group next to it: at its end from below, at its start from above.
            target = DropTarget { neighbour.nodeId,
                direction < 0 ? static_cast<std::int64_t>(neighbour.children.size()) : 0 };
        } else {
            target = DropTarget { 0, next };
        }
    }
    beginDrag(step->id);
    finishDrag(step->id, target->parentId, target->position);
    return true;
}

void RoutineHierarchyModel::finishDragAtPreviewedLocation(const Uuid& id)
{
    if (!hierarchyChangedSinceDragBegan()) {
        cancelDrag();
        return;
    }
    const auto stepIndex = firstStepIndex(id);
    if (!stepIndex) {
        cancelDrag();
        return;
    }
    const RoutineStepDraft& step = m_draft.steps[*stepIndex];
    finishDrag(id, step.parentId, step.position);
}

QModelIndex RoutineHierarchyModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0) {
        return {};
    }
    if (!parent.isValid()) {
        return row < static_cast<int>(m_rows.size()) ? createIndex(row, 0, quintptr(0)) : QModelIndex();
    }
    if (parent.internalId() != 0 || parent.model() != this) {
        return {};
    }
    const RootRow& group = m_rows[static_cast<std::size_t>(parent.row())];
    return row < visibleChildCount(group) ? createIndex(row, 0, childTag(group.nodeId)) : QModelIndex();
}

QModelIndex RoutineHierarchyModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == 0) {
        return {};
    }
    const auto found = m_groupRows.find(static_cast<std::uint32_t>(child.internalId() - 1));
    return found == m_groupRows.end() ? QModelIndex() : createIndex(found->second, 0, quintptr(0));
}

int RoutineHierarchyModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid()) {
        return static_cast<int>(m_rows.size());
    }
    if (parent.column() != 0 || parent.internalId() != 0) {
        return 0;
    }
    return visibleChildCount(m_rows[static_cast<std::size_t>(parent.row())]);
}

int RoutineHierarchyModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant RoutineHierarchyModel::data(const QModelIndex& index, int role) const
{
    const RootRow* row = rootRowOf(index);
    if (row == nullptr) {
        return {};
    }
    const RowKind kind = rowKind(index);
    if (role == KindRole) {
        return static_cast<int>(kind);
    }
    if (kind == RowKind::placeholder) {
        return role == Qt::DisplayRole || role == TitleRole ? QVariant(QStringLiteral("Drag steps here")) : QVariant();
    }
    if (kind == RowKind::group) {
        const RoutineGroupDraft& group = m_draft.groups[row->index];
        switch (role) {
        case Qt::DisplayRole:
        case TitleRole:
            return group.label.empty() ? QStringLiteral("Untitled group") : QString::fromStdString(group.label);
        case ChildCountTextRole:
            return QString::number(row->children.size()) + QStringLiteral(" steps");
        case ModeTextRole:
            return group.mode == RoutineGroupMode::timebox
                ? QStringLiteral("Timebox \u00B7 ") + QString::fromStdString(formattedDuration(group.timeLimitSeconds))
                : QStringLiteral("Rotation");
        case ExpandedRole:
            return isExpanded(group.groupId);
        case ExpandButtonLabelRole:
            return isExpanded(group.groupId) ? QStringLiteral("Collapse group") : QStringLiteral("Expand group");
        case RowIdRole:
            return QString::fromStdString(group.id.text());
        default:
            return {};
        }
    }
    const std::size_t stepIndex
        = index.internalId() == 0 ? row->index : row->children[static_cast<std::size_t>(index.row())];
    const RoutineStepDraft& step = m_draft.steps[stepIndex];
    switch (role) {
    case Qt::DisplayRole:
    case TitleRole:
        return step.instruction.empty() ? QStringLiteral("Untitled step") : QString::fromStdString(step.instruction);
    case NumberTextRole:
        return QString::number(index.row() + 1) + QLatin1Char('.');
    case TagNameRole:
        if (const auto name = m_tags.name(step.tagId)) {
            return QString::fromStdString(*name);
        }
        return {};
    case DurationTextRole:
        return QString::fromStdString(formattedDuration(step.seconds));
    case UnstoppableRole:
        return step.unstoppable;
    case DraggingRole:
        return m_draggedStepId == step.id;
    case RowIdRole:
        return QString::fromStdString(step.id.text());
    default:
        return {};
    }
}

Qt::ItemFlags RoutineHierarchyModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return Qt::ItemIsDropEnabled;
    }
    switch (rowKind(index)) {
    case RowKind::step:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    case RowKind::group:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    case RowKind::placeholder:
        return Qt::ItemIsEnabled | Qt::ItemIsDropEnabled;
    }
    return {};
}

} // namespace tavrik
