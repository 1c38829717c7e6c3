#pragma once

#include "TavrikLink/Views/ScheduleRowPresenter.hpp"

#include <QFrame>

#include <array>

class QButtonGroup;
class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace tavrik {

// One schedule: on/off bell, time, days, "Edit" (a popover editor) and delete. Every editor control
// acts at once; the owner passes the schedule back in with setSchedule and everything redraws.
class ScheduleCompactRow : public QFrame {
    Q_OBJECT
public:
    ScheduleCompactRow(ScheduleRowPresenter model, QWidget* parent = nullptr);
    ~ScheduleCompactRow() override;

    void setSchedule(const ScheduledRoutine& schedule);
    const ScheduleRowPresenter& model() const { return row; }

    QPushButton* editButton() const { return edit; }
    QToolButton* deleteButton() const { return remove; }
    QLabel* bellLabel() const { return bell; }
    QLabel* timeLabel() const { return time; }
    QLabel* daysLabel() const { return days; }
    // The popover and its controls; the popover exists while it is open.
    QFrame* editor() const { return popover; }
    bool isEditorPresented() const;
    void presentEditor();
    QLineEdit* hourField() const { return hour; }
    QLineEdit* minuteField() const { return minute; }
    QPushButton* kindButton(ScheduleKind kind) const;
    QDateEdit* dateField() const { return date; }
    QCheckBox* enabledToggle() const { return enabled; }
    QPushButton* dayButton(int index) const { return dayButtons[static_cast<std::size_t>(index)]; }
    QLabel* noDayLabel() const { return noDay; }
    QWidget* weekdayPicker() const { return weekdays; }

protected:
    // A change of time re-sorts the rows: an open editor moves with its row, never over another.
    void moveEvent(QMoveEvent* event) override;

private:
    void buildEditor();
    void redraw();
    void redrawEditor();
    void commitTime(QLineEdit* field, bool isHour);

    ScheduleRowPresenter row;
    QLabel* bell;
    QLabel* time;
    QLabel* days;
    QPushButton* edit;
    QToolButton* remove;
    QFrame* popover = nullptr;
    QButtonGroup* kinds = nullptr;
    QPushButton* repeats = nullptr;
    QPushButton* once = nullptr;
    QDateEdit* date = nullptr;
    QLineEdit* hour = nullptr;
    QLineEdit* minute = nullptr;
    QCheckBox* enabled = nullptr;
    QWidget* weekdays = nullptr;
    std::array<QPushButton*, 7> dayButtons {};
    QLabel* noDay = nullptr;
    bool redrawing = false;
};

} // namespace tavrik
