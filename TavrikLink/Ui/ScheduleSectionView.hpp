#pragma once

#include "TavrikCore/Model/TagModels.hpp"

#include <QWidget>

#include <cstdint>
#include <map>
#include <vector>

class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace tavrik {

class AdaptiveGridLayout;
class ScheduleCompactRow;
class ScheduleSectionPresenter;
class StartTagPicker;
class StartTagPickerPresenter;

// The routine pane's schedule section for the model's routine: header buttons, start tags, the
// schedule error and the schedule rows; or the placeholder of a routine not saved yet. The rows stand
// in one column: the pane around the section scrolls.
class ScheduleSectionView : public QWidget {
    Q_OBJECT
public:
    // Shows the given model, which it takes over.
    explicit ScheduleSectionView(ScheduleSectionPresenter* model, QWidget* parent = nullptr);
    ~ScheduleSectionView() override;

    ScheduleSectionPresenter& model() const { return *section; }
    QToolButton* addStartTagButton() const;
    QPushButton* addScheduleButton() const { return addSchedule; }
    QLabel* errorLabel() const { return error; }
    ScheduleCompactRow* row(std::uint32_t scheduleId) const;
    // The schedule rows shown, in order.
    std::vector<ScheduleCompactRow*> rows() const;
    // The start-tag chips, in order.
    std::vector<QWidget*> startTagChips() const;

private:
    void redraw();
    void redrawStartTags();
    void redrawRows();

    ScheduleSectionPresenter* section;
    StartTagPickerPresenter* picker;
    QLabel* newTitle;
    StartTagPicker* addStartTag;
    QPushButton* addSchedule;
    QLabel* newHint;
    QWidget* startTagBlock;
    QLabel* startTagIntro;
    AdaptiveGridLayout* chips;
    // What the chips show, so that they are built again only when it changes.
    std::vector<TagInfo> shownChips;
    QLabel* error;
    QVBoxLayout* listLayout;
    std::map<std::uint32_t, ScheduleCompactRow*> shownRows;
};

} // namespace tavrik
