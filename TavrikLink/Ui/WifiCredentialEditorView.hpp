#pragma once

#include <QPointer>
#include <QWidget>

class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace tavrik {

class WifiSettingsPresenter;

// The sheet that adds a Wi-Fi network or replaces a saved network's password.
class WifiCredentialEditorView : public QWidget {
    Q_OBJECT
public:
    // Shows the given model, which it takes over.
    explicit WifiCredentialEditorView(WifiSettingsPresenter* model, QWidget* parent = nullptr);

    WifiSettingsPresenter& model() const { return *wifi; }
    QComboBox* networkPicker() const { return picker; }
    QLineEdit* networkNameField() const { return typedName; }
    QLineEdit* passwordField() const { return password; }
    QPushButton* saveButton() const { return save; }
    QPushButton* cancelButton() const { return cancel; }
    QPushButton* otherNetworkButton() const { return other; }
    QLabel* failureLabel() const { return failure; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void build();
    void redraw();

    WifiSettingsPresenter* wifi;
    QLabel* title = nullptr;
    QWidget* choice = nullptr;
    QLineEdit* fixedName = nullptr;
    QWidget* pickerPage = nullptr;
    QComboBox* picker = nullptr;
    QToolButton* pickerScan = nullptr;
    QPushButton* other = nullptr;
    QWidget* typedPage = nullptr;
    QLineEdit* typedName = nullptr;
    QToolButton* typedScan = nullptr;
    QWidget* passwordRow = nullptr;
    QLineEdit* password = nullptr;
    QToolButton* reveal = nullptr;
    QWidget* activityRow = nullptr;
    QProgressBar* activitySpinner = nullptr;
    QLabel* activity = nullptr;
    QWidget* failureBlock = nullptr;
    QLabel* failure = nullptr;
    QPushButton* tryAgain = nullptr;
    QPushButton* saveAnyway = nullptr;
    QPushButton* failureCancel = nullptr;
    QWidget* normalRow = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* save = nullptr;
    QPointer<QDialog> hostSheet;
    bool redrawing = false;
};

} // namespace tavrik
