#pragma once

#include <QWidget>

#include <cstdint>
#include <map>

class QGridLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace tavrik {

class ScheduleCompactRow;
class ScheduleSectionModel;

// The routine pane's schedule section for the model's routine: header buttons, start tags, the
// schedule error and the schedule rows; or the placeholder of a routine not saved yet.
class ScheduleSectionView : public QWidget {
    Q_OBJECT
public:
    // Shows the given model, which it takes over.
    explicit ScheduleSectionView(ScheduleSectionModel* model, QWidget* parent = nullptr);

    ScheduleSectionModel& model() const { return *section; }
    QToolButton* addStartTagButton() const { return addStartTag; }
    QPushButton* addScheduleButton() const { return addSchedule; }
    QLabel* errorLabel() const { return error; }
    QScrollArea* scrollArea() const { return scroll; }
    ScheduleCompactRow* row(std::uint32_t scheduleId) const;
    // How many schedule rows are shown, in order.
    std::vector<ScheduleCompactRow*> rows() const;

private:
    void redraw();
    void redrawStartTags();
    void redrawRows();
    void askToDelete(std::uint32_t scheduleId);

    ScheduleSectionModel* section;
    QLabel* newTitle;
    QToolButton* addStartTag;
    QPushButton* addSchedule;
    QLabel* newHint;
    QWidget* startTagBlock;
    QLabel* startTagIntro;
    QGridLayout* chips;
    QLabel* error;
    QWidget* list;
    QVBoxLayout* listLayout;
    QScrollArea* scroll;
    QVBoxLayout* listHost;
    std::map<std::uint32_t, ScheduleCompactRow*> shownRows;
};

} // namespace tavrik
