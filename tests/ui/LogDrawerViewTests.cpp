#include "TavrikLink/Ui/LogDrawerView.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/LogDrawerModel.hpp"

#include <QApplication>
#include <QListView>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

// Counts how often a view asks for a line's text: each ask is a line measured or drawn.
class CountingLogModel : public LogDrawerModel {
public:
    mutable int textReads = 0;

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == SummaryRole) {
            ++textReads;
        }
        return LogDrawerModel::data(index, role);
    }
};

TavrikLogEntry line(const std::string& text)
{
    return TavrikLogEntry { Uuid::make(), {}, "2025-06-01T12:00:00.000Z", text, std::nullopt };
}

// A device chatting: every line long enough to wrap in the drawer.
std::string chatter(int index)
{
    return "[device] sensor " + std::to_string(index) + " reports the reading it took a moment ago, with a "
        + std::string(120, 'x') + " payload";
}

struct LogDrawerViewTest : ::testing::Test {
    LogDrawerViewTest()
    {
        // As the window's binding does: opened records follow the window's state.
        QObject::connect(&window, &ContentViewPresenter::changed,
            [this] { model.setExpandedIds(window.state().expandedLogEntryIds); });
        drawer.resize(360, 500);
        drawer.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&drawer));
    }

    void fill(int count)
    {
        log.clear();
        for (int index = 0; index < count; ++index) {
            log.push_back(line(chatter(index)));
        }
        model.setEntries(log);
        QApplication::processEvents();
    }

    // What one more line costs the list, counted in lines it reads.
    int costOfOneMoreLine()
    {
        model.textReads = 0;
        log.push_back(line(chatter(static_cast<int>(log.size()))));
        model.setEntries(log);
        QApplication::processEvents();
        return model.textReads;
    }

    ContentViewPresenter window { ContentViewPresenter::Actions {} };
    CountingLogModel model;
    LogDrawerView drawer { window, model };
    std::vector<TavrikLogEntry> log;
};

TEST_F(LogDrawerViewTest, ALineCostsTheSameWhateverTheLogHoldsAndAClosedDrawerNothing)
{
    fill(20);
    const int shortLog = costOfOneMoreLine();
    fill(480);
    const int longLog = costOfOneMoreLine();
    // The visible rows are drawn again either way; what the log holds beyond them is not read.
    EXPECT_LE(longLog, shortLog + 4) << "short log " << shortLog << ", long log " << longLog;

    drawer.hide();
    model.textReads = 0;
    for (int more = 0; more < 50; ++more) {
        costOfOneMoreLine();
    }
    EXPECT_EQ(model.textReads, 0);

    // Opened again, it shows the whole log with the newest line in view.
    drawer.show();
    QApplication::processEvents();
    QListView* list = drawer.list();
    ASSERT_EQ(list->model()->rowCount(), static_cast<int>(log.size()));
    const QModelIndex newest = list->model()->index(list->model()->rowCount() - 1, 0);
    EXPECT_TRUE(list->viewport()->rect().intersects(list->visualRect(newest)));
    EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
}

TEST_F(LogDrawerViewTest, AnUnbrokenTokenWrapsInsteadOfBeingCut)
{
    const std::string url = "https://example.invalid/firmware/" + std::string(300, 'a') + ".bin";
    log = { line("short"), line("Downloading " + url) };
    model.setEntries(log);
    QApplication::processEvents();
    QListView* list = drawer.list();
    const int lineHeight = list->fontMetrics().height();
    const int shortRow = list->visualRect(model.index(0)).height();
    const int longRow = list->visualRect(model.index(1)).height();
    const int room = list->viewport()->width();
    const int needed = list->fontMetrics().horizontalAdvance(QString::fromStdString(url));
    ASSERT_GT(needed, 2 * room);
    EXPECT_GE(longRow - shortRow, (needed / room) * lineHeight) << "every part of the token gets a line";
}

TEST_F(LogDrawerViewTest, TheLogIsReadFromTheKeyboardFromTheNewestLine)
{
    BleDataMessageLogDetail record;
    record.direction = BleDataMessageLogDetail::Direction::inbound;
    record.messageId = 7;
    record.byteCount = 120;
    record.receivedChunkCount = 1;
    record.isComplete = true;
    record.chunks = { { 1, 1, 120 } };
    log = { line("first"),
        TavrikLogEntry {
            Uuid::make(), {}, "2025-06-01T12:00:01.000Z", "[ble:data] <- complete msg=7 chunk 1/1 120 bytes", record },
        line("newest") };
    model.setEntries(log);
    drawer.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&drawer));
    QListView* list = drawer.list();
    drawer.clearButton()->setFocus();
    const QImage unfocused = list->grab().toImage();

    QTest::keyClick(drawer.clearButton(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), list);
    EXPECT_EQ(list->currentIndex().row(), 2) << "the keyboard starts at the newest line";
    EXPECT_NE(list->grab().toImage(), unfocused) << "its place is marked";

    QTest::keyClick(list, Qt::Key_Up);
    ASSERT_EQ(list->currentIndex().row(), 1);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(window.state().expandedLogEntryIds, std::set<Uuid> { log[1].id });
    QTest::keyClick(list, Qt::Key_Enter);
    EXPECT_TRUE(window.state().expandedLogEntryIds.empty());
    // A plain line has nothing to open.
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(window.state().expandedLogEntryIds.empty());
}

} // namespace
} // namespace tavrik::test
