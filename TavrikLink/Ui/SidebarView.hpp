#pragma once

#include "TavrikLink/Views/SidebarPresenter.hpp"

#include <QListView>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

class QStandardItem;
class QStandardItemModel;

namespace tavrik {

class Clock;

// The sidebar column: the rows of SidebarPresenter, drawn as a list; clicking a row, or pressing Return
// on the focused one, runs its action.
class SidebarView : public QListView {
    Q_OBJECT
public:
    enum Role { KindRole = Qt::UserRole + 1, CaptionRole, ActiveRole, IndentedRole, ExpandedRole, SymbolRole };

    SidebarView(ContentViewPresenter& window, const Clock& clock, QWidget* parent = nullptr);

    const std::vector<SidebarPresenter::Row>& rows() const { return shown; }
    // Runs the action of the row at `row`, as a click does.
    void activateRow(int row);

signals:
    // Delete was pressed on a routine's or a tag's row.
    void deleteRequested(const SidebarPresenter::Row& row);

protected:
    // Arrows move between rows, Return and Space choose one, Left and Right close and open a
    // group, Delete asks to delete the routine or tag.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // What the rows are made of: the window changes often (each key in a title) and the rows of a
    // large device are rebuilt only when one of these did.
    struct Inputs {
        ContentViewPresenter::SidebarPane pane = ContentViewPresenter::SidebarPane::routines;
        bool routinesExpanded = true;
        bool tagsExpanded = true;
        std::optional<std::uint32_t> routine;
        std::optional<std::uint32_t> tag;
        std::optional<std::string> newRoutineLabel; // while the new routine's row shows
        std::vector<RoutineSummary> routineSummaries;
        std::vector<ScheduledRoutine> schedules;
        std::vector<TagInfo> tags;
        // Schedule previews are worded from the time of day.
        std::chrono::minutes minute { 0 };
    };

    enum class Change { none, routineSummaries, any };

    void refresh();
    Change inputsChanged();
    // Only summaries changed, of the same routines in the same order: their rows are mended.
    void refreshRoutineRows();
    void showRow(std::size_t index);
    static void fill(QStandardItem& item, const SidebarPresenter::Row& row);

    ContentViewPresenter& window;
    const Clock& clock;
    QStandardItemModel* model = nullptr;
    std::vector<SidebarPresenter::Row> shown;
    std::optional<Inputs> seen;
};

} // namespace tavrik
