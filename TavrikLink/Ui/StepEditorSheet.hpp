#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace tavrik {

class StepEditorSheetPresenter;

// The "Step Details" sheet. Escape and the window's close button leave it open: it closes only when
// its host calls finish() after Done or Delete.
class StepEditorSheet : public QDialog {
    Q_OBJECT
public:
    StepEditorSheet(StepEditorSheetPresenter& presenter, QWidget* parent = nullptr);

    void finish();
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();
    void fitInstruction();

    // Beyond this the instruction scrolls.
    static constexpr int maximumInstructionLines = 10;

    StepEditorSheetPresenter& presenter;
    QLineEdit* tagField = nullptr;
    QToolButton* tagMenu = nullptr;
    QLabel* tagMessage = nullptr;
    QPlainTextEdit* instruction = nullptr;
    QCheckBox* unstoppable = nullptr;
    bool finishing = false;
};

} // namespace tavrik
