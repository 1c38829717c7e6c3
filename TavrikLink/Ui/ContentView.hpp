#pragma once

#include "TavrikLink/Ui/DetailPaneFactory.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"

#include <QWidget>

#include <memory>

class QDialog;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace tavrik {

class Clock;
class LogDrawerModel;
class LogDrawerView;
class SidebarView;
class TavrikViewCommands;
class UserActivityMonitor;
class WindowAlertView;
class WindowPanes;
class WindowPresenters;

// The main window's root view: the legacy upgrade view, the connection overlay or the split view
// (sidebar, title-bar status and detail pane), with the log drawer beside it, and the window's
// sheets and alerts. Its presenter holds the state; this only lays out and forwards. The presenters
// are handed over and must outlive it.
class ContentView : public QWidget {
    Q_OBJECT
public:
    struct Environment {
        WindowPresenters& presenters;
        TavrikViewCommands& viewCommands;
        const Clock& clock;
    };

    explicit ContentView(Environment environment, QWidget* parent = nullptr);
    ~ContentView() override;

    ContentViewPresenter& presenter() { return *window; }
    LogDrawerModel& logModel() { return *log; }
    SidebarView* sidebar() const { return sidebarView; }
    LogDrawerView* logDrawer() const { return drawer; }
    QWidget* mainContent() const;
    QWidget* detailPane() const { return detail; }
    QPushButton* disconnectButton() const { return disconnect; }
    QWidget* titleBarStatus() const { return titleBar; }
    WindowAlertView* alertView() const { return alerts.get(); }
    WindowPanes& panes();

    // The menu's Import Data... and Export Data... commands.
    void importDataCommand();
    void exportDataCommand();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void showMainContent();
    void refreshTitleBar();
    void refreshSheets();
    QWidget* buildSplit();

    Environment environment;
    ContentViewPresenter* window;
    LogDrawerModel* log;
    std::unique_ptr<UserActivityMonitor> activity;
    std::unique_ptr<WindowAlertView> alerts;

    QStackedWidget* stack = nullptr;
    QWidget* legacyPage = nullptr;
    QWidget* overlayPage = nullptr;
    QWidget* splitPage = nullptr;
    SidebarView* sidebarView = nullptr;
    QVBoxLayout* detailHost = nullptr;
    QWidget* detail = nullptr;
    std::optional<ContentViewPresenter::DetailContent> shownDetail;
    QWidget* titleBar = nullptr;
    QLabel* routineName = nullptr;
    QLabel* routineLine = nullptr;
    QLabel* simulator = nullptr;
    QLabel* firmware = nullptr;
    QLabel* countdown = nullptr;
    QLabel* bluetooth = nullptr;
    QWidget* bluetoothDivider = nullptr;
    QWidget* firmwareDivider = nullptr;
    QWidget* countdownDivider = nullptr;
    QPushButton* disconnect = nullptr;
    LogDrawerView* drawer = nullptr;
    QDialog* tagSheet = nullptr;
    QDialog* wifiSheet = nullptr;
    bool shownOnce = false;
};

} // namespace tavrik
