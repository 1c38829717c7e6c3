#include "TavrikLink/Ui/DetailPaneFactory.hpp"

#include "TavrikLink/Ui/FirmwareDetailView.hpp"
#include "TavrikLink/Ui/FirmwarePane.hpp"
#include "TavrikLink/Ui/RoutinePane.hpp"
#include "TavrikLink/Ui/SettingsPane.hpp"
#include "TavrikLink/Ui/TagEditorView.hpp"
#include "TavrikLink/Ui/TagPaneView.hpp"
#include "TavrikLink/Ui/UsbSetupView.hpp"
#include "TavrikLink/Ui/WifiCredentialEditorView.hpp"
#include "TavrikLink/Ui/WifiSettingsSection.hpp"
#include "TavrikLink/Views/RoutinePanePresenter.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"
#include "TavrikLink/Views/TagEditorPresenter.hpp"
#include "TavrikLink/Views/TagPanePresenter.hpp"
#include "TavrikLink/Views/WifiSettingsPresenter.hpp"
#include "TavrikLink/Views/WindowPanes.hpp"
#include "TavrikLink/Views/WindowPresenters.hpp"

#include <QWidget>

namespace tavrik {

QWidget* DetailPaneFactory::detailPane(ContentViewPresenter::DetailContent content, const DetailPaneContext& context)
{
    using Content = ContentViewPresenter::DetailContent;
    switch (content) {
    case Content::routinePane:
        return routinePane(context);
    case Content::routineEmptyState:
        return routineEmptyState(context);
    case Content::tags:
        return tagPane(context);
    case Content::firmware:
        return firmwarePane(context);
    case Content::settings:
        return settingsPane(context);
    }
    return routineEmptyState(context);
}

QWidget* DetailPaneFactory::routinePane(const DetailPaneContext& context)
{
    return new RoutinePane(context.presenters.routinePane(), context.presenters.scheduleSection(),
        context.presenters.window(), context.parent);
}

QWidget* DetailPaneFactory::routineEmptyState(const DetailPaneContext& context)
{
    // The routine pane shows its own empty state ("Select a routine..." or "Loading routine...").
    auto* pane = static_cast<RoutinePane*>(routinePane(context));
    pane->setObjectName(QStringLiteral("routineEmptyState"));
    return pane;
}

QWidget* DetailPaneFactory::tagPane(const DetailPaneContext& context)
{
    return new TagPaneView(context.presenters.tagPane(), context.parent);
}

QWidget* DetailPaneFactory::firmwarePane(const DetailPaneContext& context)
{
    auto* pane = new FirmwarePane(context.presenters.panes().firmware(), context.parent);
    pane->setObjectName(QStringLiteral("firmwarePane"));
    return pane;
}

QWidget* DetailPaneFactory::settingsPane(const DetailPaneContext& context)
{
    auto* pane = new SettingsPane(context.presenters.panes().settings(), context.parent);
    pane->setObjectName(QStringLiteral("settingsPane"));
    pane->setWifiSection(new WifiSettingsSection(context.presenters.wifiSettings(), pane));
    return pane;
}

QWidget* DetailPaneFactory::usbSetupContent(const DetailPaneContext& context)
{
    return new UsbSetupView(context.presenters.usbSetup(), context.parent);
}

QWidget* DetailPaneFactory::newBoardSection(const DetailPaneContext& context)
{
    return new UsbNewDeviceSection(context.presenters.usbSetup(), context.parent);
}

QWidget* DetailPaneFactory::legacyFirmwareSection(const DetailPaneContext& context)
{
    auto* section = new FirmwareDetailView(context.parent);
    section->setObjectName(QStringLiteral("legacyFirmwareSection"));
    section->bind(context.presenters.panes().legacyFirmware());
    return section;
}

QWidget* DetailPaneFactory::tagEditorSheet(const DetailPaneContext& context)
{
    return new TagEditorView(context.presenters.tagEditor(), context.parent);
}

QWidget* DetailPaneFactory::wifiCredentialEditorSheet(const DetailPaneContext& context)
{
    return new WifiCredentialEditorView(context.presenters.wifiSettings(), context.parent);
}

} // namespace tavrik
