#pragma once

#include <QMainWindow>

class QAction;
class QVBoxLayout;

namespace tavrik {

class TavrikViewCommands;

// The single window "Tavrik Link" with its File and View menus. Its content (the root view) is
// placed in rootViewHost; closing it asks for the orderly quit instead of closing.
class TavrikLinkMainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int defaultWidth = 900;
    static constexpr int defaultHeight = 648;

    explicit TavrikLinkMainWindow(TavrikViewCommands& viewCommands, QWidget* parent = nullptr);
    ~TavrikLinkMainWindow() override;

    // Replaces the window's content; the window takes ownership.
    void setRootView(QWidget* view);

    QAction* importDataAction() const { return importData; }
    QAction* exportDataAction() const { return exportData; }
    QAction* logDrawerAction() const { return logDrawer; }
    QAction* quitAction() const { return quit; }

signals:
    void importDataCommand();
    void exportDataCommand();
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refreshLogDrawerAction();

    TavrikViewCommands& viewCommands;
    QVBoxLayout* rootLayout = nullptr;
    QWidget* rootView = nullptr;
    QAction* importData = nullptr;
    QAction* exportData = nullptr;
    QAction* logDrawer = nullptr;
    QAction* quit = nullptr;
};

} // namespace tavrik
