#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <memory>

class QHBoxLayout;
class QLabel;

class QStackedWidget;
class QVBoxLayout;

namespace tavrik {

class ContentViewPresenter;
class RoutineDetailEditor;
class RoutineDetailEditorPresenter;
class RoutinePanePresenter;
class StartTagPicker;
class StartTagPickerPresenter;
class TavrikBleCentral;

// The detail pane of the routines: the editor of the new or chosen routine (or the empty state),
// and under it the routine's start tags and the slot its schedule section goes in.
class RoutinePane : public QWidget {
    Q_OBJECT
public:
    RoutinePane(TavrikBleCentral& controller, ContentViewPresenter& window, QWidget* parent = nullptr);
    ~RoutinePane() override;

    RoutinePanePresenter& presenter() { return *pane; }
    RoutineDetailEditorPresenter& editorPresenter() { return *editorModel; }
    RoutineDetailEditor* editor() const { return editorView; }
    // The lower section's container for the routine's schedule section (built elsewhere); shown
    // with the new or stored routine.
    QWidget* scheduleSectionSlot() const { return scheduleSlot; }

private:
    void readController();
    void refresh();
    void refreshStartTags();
    void syncRemovalQuestion();

    TavrikBleCentral& controller;
    ContentViewPresenter& window;
    std::unique_ptr<RoutinePanePresenter> pane;
    std::unique_ptr<RoutineDetailEditorPresenter> editorModel;
    std::unique_ptr<StartTagPickerPresenter> pickerModel;
    QLabel* errorLabel = nullptr;
    QStackedWidget* content = nullptr;
    RoutineDetailEditor* editorView = nullptr;
    QLabel* emptyState = nullptr;
    QWidget* lowerSection = nullptr;
    QWidget* startTagsRow = nullptr;
    QHBoxLayout* startTagChips = nullptr;
    StartTagPicker* picker = nullptr;
    QWidget* scheduleSlot = nullptr;
    QPointer<QMessageBox> removalQuestion;
};

} // namespace tavrik
