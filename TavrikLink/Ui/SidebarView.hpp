#pragma once

#include "TavrikLink/Views/SidebarPresenter.hpp"

#include <QListView>

#include <vector>

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
    void refresh();

    ContentViewPresenter& window;
    const Clock& clock;
    QStandardItemModel* model = nullptr;
    std::vector<SidebarPresenter::Row> shown;
};

} // namespace tavrik
