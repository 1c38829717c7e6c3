#pragma once

#include "TavrikLink/Views/ContentViewPresenter.hpp"

class QWidget;

namespace tavrik {

class WindowPresenters;

// What a pane gets to build itself: the window's presenters, which give it its own, and the parent.
struct DetailPaneContext {
    WindowPresenters& presenters;
    ContentViewPresenter& window;
    QWidget* parent = nullptr;
};

// The one place the main window asks for the widgets of its panes. Each widget is handed the
// presenter `WindowPresenters` builds for it; each pane kind has its own function, and a pane built
// elsewhere replaces that function's body and nothing else changes.
class DetailPaneFactory {
public:
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
