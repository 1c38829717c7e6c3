#pragma once

#include "TavrikCore/Model/TavrikLogEntry.hpp"

#include <QAbstractListModel>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tavrik {

// The log drawer's rows: one per log entry, oldest first. The controller's log changes one line at
// a time (a line added, the oldest dropped at the cap, a transfer line rewritten in place), and the
// model passes on exactly those rows so a view keeps up while a sync streams.
class LogDrawerModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        SummaryRole = Qt::DisplayRole,
        IdRole = Qt::UserRole + 1,
        HasDetailRole,
        ExpandedRole,
        // A QVariantList of QVariantMaps {"text": QString, "emphasized": bool}; empty without detail.
        DetailLinesRole,
        // A number that changes whenever the row's text does: a view keeps a row's measured height
        // under it, so a new line is measured once, not every line again.
        RevisionRole,
    };

    struct DetailLine {
        std::string text;
        // Shown in semibold with a little space around it.
        bool emphasized = false;
        bool operator==(const DetailLine&) const = default;
    };

    explicit LogDrawerModel(QObject* parent = nullptr);

    // Brings the rows in line with the log.
    void setEntries(const std::vector<TavrikLogEntry>& entries);
    void setExpandedIds(const std::set<Uuid>& ids);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    const TavrikLogEntry& entry(int row) const { return rows.at(static_cast<std::size_t>(row)); }

    static std::string summary(const TavrikLogEntry& entry);
    static std::vector<DetailLine> detailLines(const TavrikLogEntry::Detail& detail);

private:
    void replaceAll(const std::vector<TavrikLogEntry>& entries);

    std::uint64_t revise() { return nextRevision++; }

    std::vector<TavrikLogEntry> rows;
    // One per row, as RevisionRole gives it.
    std::vector<std::uint64_t> revisions;
    std::uint64_t nextRevision = 1;
    std::set<Uuid> expanded;
};

} // namespace tavrik
