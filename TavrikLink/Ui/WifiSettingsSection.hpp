#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace tavrik {

class WifiSettingsPresenter;

// The settings pane's "Wi-Fi Time Sync" section: the saved networks with their state, and add,
// remove, edit and check.
class WifiSettingsSection : public QWidget {
    Q_OBJECT
public:
    // Shows the given model, which it takes over.
    explicit WifiSettingsSection(WifiSettingsPresenter* model, QWidget* parent = nullptr);

    WifiSettingsPresenter& model() const { return *wifi; }
    QListWidget* list() const { return networks; }
    QToolButton* addButton() const { return add; }
    QToolButton* removeButton() const { return remove; }
    QPushButton* editButton() const { return edit; }
    QPushButton* checkButton() const { return check; }
    QLabel* messageLabel() const { return message; }

private:
    void build();
    void redraw();

    WifiSettingsPresenter* wifi;
    QListWidget* networks = nullptr;
    QToolButton* add = nullptr;
    QToolButton* remove = nullptr;
    QPushButton* edit = nullptr;
    QPushButton* check = nullptr;
    QWidget* messageRow = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* message = nullptr;
    bool redrawing = false;
};

} // namespace tavrik
