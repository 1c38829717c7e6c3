#pragma once

#include "TavrikLink/Views/ContentViewPresenter.hpp"

#include <memory>

class QWidget;

namespace tavrik {

class BackupFilePanel;
class ContentViewBinding;
class LogDrawerModel;
class TavrikBleCentral;
class TavrikLinkTerminationCoordinator;
class WindowPanes;

// What a pane gets to build itself: the controller, the window's presenter and the parent.
struct DetailPaneContext {
    TavrikBleCentral& controller;
    ContentViewPresenter& window;
    QWidget* parent = nullptr;
    // The presenters and actions the panes share; without them a pane shows only its name.
    WindowPanes* panes = nullptr;
};

// The one place the main window asks for the widgets of its panes, and the one place that builds
// their presenters over the controller: a widget gets its presenter and never the controller. Each
// pane kind has its own function; a pane built elsewhere replaces that function's body and nothing
// else changes.
class DetailPaneFactory {
public:
    // What the window keeps as long as it lives: the presenters and actions its panes share, and
    // the binding that reads the controller into the window's presenter and log.
    struct WindowParts {
        std::unique_ptr<WindowPanes> panes;
        std::unique_ptr<ContentViewBinding> binding;
    };
    // Also points the window's quit at the controller's orderly termination. Without a panel the
    // desktop's file dialogs over `window` are used.
    static WindowParts windowParts(TavrikBleCentral& controller, ContentViewPresenter& presenter, LogDrawerModel& log,
        TavrikLinkTerminationCoordinator& termination, QWidget* window, BackupFilePanel* panel);

    // The detail column for the sidebar's selection.
    static QWidget* detailPane(ContentViewPresenter::DetailContent content, const DetailPaneContext& context);

    static QWidget* routinePane(const DetailPaneContext& context);
    static QWidget* routineEmptyState(const DetailPaneContext& context);
    static QWidget* tagPane(const DetailPaneContext& context);
    static QWidget* firmwarePane(const DetailPaneContext& context);
    static QWidget* settingsPane(const DetailPaneContext& context);
    // The USB setup flow shown in the connection overlay, and the entry into it under the status.
    static QWidget* usbSetupContent(const DetailPaneContext& context);
    static QWidget* newBoardSection(const DetailPaneContext& context);
    // The firmware section under the legacy upgrade card.
    static QWidget* legacyFirmwareSection(const DetailPaneContext& context);
    // The contents of the tag editor and Wi-Fi network editor sheets.
    static QWidget* tagEditorSheet(const DetailPaneContext& context);
    static QWidget* wifiCredentialEditorSheet(const DetailPaneContext& context);
};

} // namespace tavrik
