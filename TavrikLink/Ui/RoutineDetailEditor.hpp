#pragma once

#include "TavrikLink/Ui/GroupEditorSheet.hpp"
#include "TavrikLink/Ui/StepEditorSheet.hpp"

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavrik {

class RoutineDetailEditorPresenter;
class RoutineHierarchyView;

// Title, summary, Start and Delete, Add Step and Add Group, the hierarchy list, and the sheets that
// open on a step or group.
class RoutineDetailEditor : public QWidget {
    Q_OBJECT
public:
    RoutineDetailEditor(RoutineDetailEditorPresenter& presenter, QWidget* parent = nullptr);
    ~RoutineDetailEditor() override;

    void refresh();

    QLineEdit* titleField() const { return title; }
    RoutineHierarchyView* hierarchyView() const { return hierarchy; }
    StepEditorSheet* stepSheet() const { return stepEditor; }
    GroupEditorSheet* groupSheet() const { return groupEditor; }

private:
    void syncStepSheet();
    void syncGroupSheet();

    RoutineDetailEditorPresenter& presenter;
    QLineEdit* title = nullptr;
    QLabel* titleMessage = nullptr;
    QLabel* summary = nullptr;
    QLabel* uploadStatus = nullptr;
    QWidget* stepLoadRow = nullptr;
    QLabel* stepLoadStatus = nullptr;
    QLabel* firmwareNotice = nullptr;
    QPushButton* addStep = nullptr;
    QPushButton* addGroup = nullptr;
    RoutineHierarchyView* hierarchy = nullptr;
    QPointer<StepEditorSheet> stepEditor;
    QPointer<GroupEditorSheet> groupEditor;
};

} // namespace tavrik
