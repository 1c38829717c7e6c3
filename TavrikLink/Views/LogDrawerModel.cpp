#include "TavrikLink/Views/LogDrawerModel.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace tavrik {

LogDrawerModel::LogDrawerModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

std::string LogDrawerModel::summary(const TavrikLogEntry& entry)
{
    return "[" + entry.timestampText + "] " + entry.text;
}

std::vector<LogDrawerModel::DetailLine> LogDrawerModel::detailLines(const TavrikLogEntry::Detail& detail)
{
    const auto& record = std::get<BleDataMessageLogDetail>(detail);
    std::vector<DetailLine> lines;
    lines.push_back({ "direction: " + std::string(rawValue(record.direction)) });
    lines.push_back({ "message: " + std::to_string(record.messageId) });
    char flags[8];
    std::snprintf(flags, sizeof flags, "%02X", static_cast<unsigned>(record.flags));
    lines.push_back({ std::string("flags: 0x") + flags });
    if (record.writeType) {
        lines.push_back({ "write: " + *record.writeType });
    }
    lines.push_back({ std::string("state: ") + (record.isComplete ? "complete" : "receiving") });
    lines.push_back({ "bytes: " + std::to_string(record.byteCount) });
    if (!record.chunks.empty()) {
        const BleDataChunkLogDetail* last = &record.chunks.front();
        for (const BleDataChunkLogDetail& chunk : record.chunks) {
            if (chunk.index > last->index) {
                last = &chunk;
            }
        }
        lines.push_back({ "last chunk, " + std::to_string(last->byteCount) + " bytes", true });
    }
    if (record.chunks.size() > 1) {
        lines.push_back({ "all chunks (" + std::to_string(record.receivedChunkCount) + "/"
            + std::to_string(record.chunks.back().count) + ")" });
        for (const BleDataChunkLogDetail& chunk : record.chunks) {
            lines.push_back({ "chunk " + std::to_string(chunk.index) + "/" + std::to_string(chunk.count) + ", "
                    + std::to_string(chunk.byteCount) + " bytes",
                true });
        }
    }
    return lines;
}

void LogDrawerModel::replaceAll(const std::vector<TavrikLogEntry>& entries)
{
    beginResetModel();
    rows = entries;
    revisions.resize(rows.size());
    std::ranges::generate(revisions, [this] { return revise(); });
    endResetModel();
}

void LogDrawerModel::setEntries(const std::vector<TavrikLogEntry>& entries)
{
    if (rows.empty() || entries.empty()) {
        if (!rows.empty()) {
            beginRemoveRows({}, 0, static_cast<int>(rows.size()) - 1);
            rows.clear();
            revisions.clear();
            endRemoveRows();
        }
        if (!entries.empty()) {
            beginInsertRows({}, 0, static_cast<int>(entries.size()) - 1);
            rows = entries;
            revisions.resize(rows.size());
            std::ranges::generate(revisions, [this] { return revise(); });
            endInsertRows();
        }
        return;
    }

    // Where the new log starts in the rows shown: lines before it were dropped at the cap.
    std::size_t dropped = 0;
    while (dropped < rows.size() && rows[dropped].id != entries.front().id) {
        ++dropped;
    }
    const std::size_t kept = rows.size() - dropped;
    bool continues = dropped < rows.size() && kept <= entries.size();
    for (std::size_t index = 0; continues && index < kept; ++index) {
        continues = rows[dropped + index].id == entries[index].id;
    }
    if (!continues) {
        // Not a continuation of what is shown (the log was replaced): start over.
        replaceAll(entries);
        return;
    }

    if (dropped > 0) {
        beginRemoveRows({}, 0, static_cast<int>(dropped) - 1);
        rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(dropped));
        revisions.erase(revisions.begin(), revisions.begin() + static_cast<std::ptrdiff_t>(dropped));
        endRemoveRows();
    }
    int firstChanged = -1;
    int lastChanged = -1;
    for (std::size_t index = 0; index < kept; ++index) {
        if (!(rows[index] == entries[index])) {
            rows[index] = entries[index];
            revisions[index] = revise();
            if (firstChanged < 0) {
                firstChanged = static_cast<int>(index);
            }
            lastChanged = static_cast<int>(index);
        }
    }
    if (firstChanged >= 0) {
        emit dataChanged(index(firstChanged), index(lastChanged));
    }
    if (entries.size() > kept) {
        beginInsertRows({}, static_cast<int>(kept), static_cast<int>(entries.size()) - 1);
        rows.insert(rows.end(), entries.begin() + static_cast<std::ptrdiff_t>(kept), entries.end());
        while (revisions.size() < rows.size()) {
            revisions.push_back(revise());
        }
        endInsertRows();
    }
}

void LogDrawerModel::setExpandedIds(const std::set<Uuid>& ids)
{
    if (ids == expanded) {
        return;
    }
    const std::set<Uuid> before = std::exchange(expanded, ids);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const Uuid& id = rows[row].id;
        if (before.count(id) != expanded.count(id)) {
            const QModelIndex changed = index(static_cast<int>(row));
            emit dataChanged(changed, changed, { ExpandedRole });
        }
    }
}

int LogDrawerModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

QVariant LogDrawerModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= static_cast<int>(rows.size())) {
        return {};
    }
    const TavrikLogEntry& row = rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case SummaryRole:
    case Qt::ToolTipRole:
        return QString::fromStdString(summary(row));
    case IdRole:
        return QString::fromStdString(row.id.text());
    case HasDetailRole:
        return row.detail.has_value();
    case ExpandedRole:
        return row.detail.has_value() && expanded.count(row.id) > 0;
    case RevisionRole:
        return QVariant::fromValue<qulonglong>(revisions[static_cast<std::size_t>(index.row())]);
    case DetailLinesRole: {
        QVariantList lines;
        if (row.detail) {
            for (const DetailLine& line : detailLines(*row.detail)) {
                lines.push_back(QVariantMap { { QStringLiteral("text"), QString::fromStdString(line.text) },
                    { QStringLiteral("emphasized"), line.emphasized } });
            }
        }
        return lines;
    }
    default:
        return {};
    }
}

QHash<int, QByteArray> LogDrawerModel::roleNames() const
{
    return { { SummaryRole, "summary" }, { IdRole, "entryId" }, { HasDetailRole, "hasDetail" },
        { ExpandedRole, "expanded" }, { DetailLinesRole, "detailLines" } };
}

} // namespace tavrik
