#include "TavrikLink/Views/LogDrawerModel.hpp"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

namespace tavrik::test {
namespace {

TavrikLogEntry line(const std::string& text, std::optional<TavrikLogEntry::Detail> detail = std::nullopt)
{
    return TavrikLogEntry { Uuid::make(), {}, "2025-06-01T12:00:00.000Z", text, std::move(detail) };
}

QStringList summaries(const LogDrawerModel& model)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row) {
        result << model.data(model.index(row)).toString();
    }
    return result;
}

// What the model told its views, as text: "insert 3-3", "remove 0-0", "change 2-2", "reset".
struct ChangeLog {
    QStringList events;
    explicit ChangeLog(LogDrawerModel& model)
    {
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, [this](const QModelIndex&, int first, int last) {
            events << QStringLiteral("insert %1-%2").arg(first).arg(last);
        });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [this](const QModelIndex&, int first, int last) {
            events << QStringLiteral("remove %1-%2").arg(first).arg(last);
        });
        QObject::connect(
            &model, &QAbstractItemModel::dataChanged, [this](const QModelIndex& first, const QModelIndex& last) {
                events << QStringLiteral("change %1-%2").arg(first.row()).arg(last.row());
            });
        QObject::connect(&model, &QAbstractItemModel::modelReset, [this] { events << QStringLiteral("reset"); });
    }
    QStringList take() { return std::exchange(events, {}); }
};

TEST(LogDrawerModel, FollowsTheLogRowByRowUpToTheCap)
{
    LogDrawerModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ChangeLog changes(model);
    std::vector<TavrikLogEntry> log;
    for (int index = 0; index < 500; ++index) {
        log.push_back(line("line " + std::to_string(index)));
    }
    model.setEntries(log);
    EXPECT_EQ(changes.take(), QStringList { "insert 0-499" });

    // At the cap each new line drops the oldest: one row out, one row in, nothing rebuilt.
    for (int index = 500; index < 503; ++index) {
        log.erase(log.begin());
        log.push_back(line("line " + std::to_string(index)));
        model.setEntries(log);
        EXPECT_EQ(changes.take(), (QStringList { "remove 0-0", "insert 499-499" }));
    }
    EXPECT_EQ(model.rowCount(), 500);
    EXPECT_EQ(model.data(model.index(0)).toString(), "[2025-06-01T12:00:00.000Z] line 3");
    EXPECT_EQ(model.data(model.index(499)).toString(), "[2025-06-01T12:00:00.000Z] line 502");

    // A transfer line rewritten in place changes only its row.
    log[497].text = "[ble:data] <- receiving msg=7 chunk 2/9 40 bytes";
    model.setEntries(log);
    EXPECT_EQ(changes.take(), QStringList { "change 497-497" });

    // Several lines at once: the dropped block and the new block.
    log.erase(log.begin(), log.begin() + 3);
    for (int index = 0; index < 3; ++index) {
        log.push_back(line("burst " + std::to_string(index)));
    }
    model.setEntries(log);
    EXPECT_EQ(changes.take(), (QStringList { "remove 0-2", "insert 497-499" }));

    // Cleared, then a log that is not a continuation of the rows shown.
    model.setEntries({});
    EXPECT_EQ(changes.take(), QStringList { "remove 0-499" });
    model.setEntries({ line("a"), line("b") });
    model.setEntries({ line("c") });
    EXPECT_EQ(changes.take(), (QStringList { "insert 0-1", "reset" }));
    EXPECT_EQ(summaries(model), QStringList { "[2025-06-01T12:00:00.000Z] c" });
}

TEST(LogDrawerModel, DataChannelRecordsOpenToTheirFields)
{
    BleDataMessageLogDetail inbound;
    inbound.direction = BleDataMessageLogDetail::Direction::inbound;
    inbound.messageId = 4097;
    inbound.flags = 0x0a;
    inbound.byteCount = 300;
    inbound.receivedChunkCount = 2;
    inbound.chunks = { { 1, 3, 180 }, { 2, 3, 120 } };
    EXPECT_EQ(LogDrawerModel::detailLines(inbound),
        (std::vector<LogDrawerModel::DetailLine> { { "direction: inbound" }, { "message: 4097" }, { "flags: 0x0A" },
            { "state: receiving" }, { "bytes: 300" }, { "last chunk, 120 bytes", true }, { "all chunks (2/3)" },
            { "chunk 1/3, 180 bytes", true }, { "chunk 2/3, 120 bytes", true } }));

    BleDataMessageLogDetail outbound;
    outbound.direction = BleDataMessageLogDetail::Direction::outbound;
    outbound.messageId = 12;
    outbound.writeType = "withResponse";
    outbound.isComplete = true;
    outbound.byteCount = 18;
    outbound.receivedChunkCount = 1;
    outbound.chunks = { { 1, 1, 18 } };
    EXPECT_EQ(LogDrawerModel::detailLines(outbound),
        (std::vector<LogDrawerModel::DetailLine> { { "direction: outbound" }, { "message: 12" }, { "flags: 0x00" },
            { "write: withResponse" }, { "state: complete" }, { "bytes: 18" }, { "last chunk, 18 bytes", true } }))
        << "a single chunk has no all-chunks block";

    LogDrawerModel model;
    const TavrikLogEntry plain = line("Waiting for Tavrik");
    const TavrikLogEntry record = line("[ble:data] -> send msg=12 chunk 1/1 18 bytes", outbound);
    model.setEntries({ plain, record });
    EXPECT_FALSE(model.data(model.index(0), LogDrawerModel::HasDetailRole).toBool());
    EXPECT_TRUE(model.data(model.index(1), LogDrawerModel::HasDetailRole).toBool());
    EXPECT_TRUE(model.data(model.index(0), LogDrawerModel::DetailLinesRole).toList().isEmpty());

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setExpandedIds({ record.id, plain.id });
    EXPECT_TRUE(model.data(model.index(1), LogDrawerModel::ExpandedRole).toBool());
    EXPECT_FALSE(model.data(model.index(0), LogDrawerModel::ExpandedRole).toBool()) << "a plain line never opens";
    EXPECT_EQ(model.data(model.index(1), LogDrawerModel::DetailLinesRole).toList().size(), 7);
    model.setExpandedIds({});
    EXPECT_FALSE(model.data(model.index(1), LogDrawerModel::ExpandedRole).toBool());
    EXPECT_EQ(changed.count(), 4);
}

} // namespace
} // namespace tavrik::test
