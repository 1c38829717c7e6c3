#pragma once

#include "TavrikLink/Views/RoutinePanePresenter.hpp"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace tavrik {

class ContentViewPresenter;
class RoutineDetailEditor;
class RoutineDetailEditorPresenter;
class ScheduleSectionPresenter;
class ScheduleSectionView;

// The detail pane of the routines: the editor of the new or chosen routine (or the empty state),
// and under it the routine's schedule section with its start tags.
class RoutinePane : public QWidget {
    Q_OBJECT
public:
    // Shows the pane's presenter and, under the routine, the schedule section's, which it takes over.
    RoutinePane(std::unique_ptr<RoutinePanePresenter> presenter, ScheduleSectionPresenter* schedules,
        ContentViewPresenter& window, QWidget* parent = nullptr);
    ~RoutinePane() override;

    RoutinePanePresenter& presenter() { return *pane; }
    RoutineDetailEditorPresenter& editorPresenter() { return *editorModel; }
    // Null until a routine (new or stored) is first shown.
    RoutineDetailEditor* editor() const { return editorView; }
    // The lower section's container of the schedule section; shown with the new or stored routine.
    QWidget* scheduleSectionSlot() const { return scheduleSlot; }
    ScheduleSectionView* scheduleSection() const { return scheduleView; }
    // The pane's one scroll area.
    QScrollArea* scrollArea() const { return scroll; }

    // The step list is never held lower than this, however short the window.
    static constexpr int minimumStepListCap = 200;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitStepList();
    void refresh();
    void refreshScheduleSection();

    ContentViewPresenter& window;
    std::unique_ptr<RoutinePanePresenter> pane;
    std::unique_ptr<RoutineDetailEditorPresenter> editorModel;
    QScrollArea* scroll = nullptr;
    QVBoxLayout* columnLayout = nullptr;
    QLabel* errorLabel = nullptr;
    RoutineDetailEditor* editorView = nullptr;
    QWidget* emptyPage = nullptr;
    QLabel* emptyState = nullptr;
    QWidget* lowerSection = nullptr;
    QWidget* scheduleSlot = nullptr;
    ScheduleSectionView* scheduleView = nullptr;
    // What the schedule section was last given, so that it redraws only on a change.
    struct ShownSection {
        RoutinePanePresenter::Content content = RoutinePanePresenter::Content::emptyState;
        std::optional<std::uint32_t> routineId;
        std::string label;
        std::vector<TagInfo> assigned;
        bool canAdd = false;
        std::string addHelp;
        bool operator==(const ShownSection&) const = default;
    };
    std::optional<ShownSection> shownSection;
};

} // namespace tavrik
