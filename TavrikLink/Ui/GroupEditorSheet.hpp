#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace tavrik {

class GroupEditorSheetPresenter;

// The "Group Details" sheet; like the step sheet it closes only through Done or Delete.
class GroupEditorSheet : public QDialog {
    Q_OBJECT
public:
    GroupEditorSheet(GroupEditorSheetPresenter& presenter, QWidget* parent = nullptr);
    ~GroupEditorSheet() override;

    void finish();
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();

    GroupEditorSheetPresenter& presenter;
    QLineEdit* name = nullptr;
    QLabel* nameMessage = nullptr;
    QComboBox* mode = nullptr;
    QWidget* timeLimit = nullptr;
    QLabel* description = nullptr;
    bool finishing = false;
};

} // namespace tavrik
