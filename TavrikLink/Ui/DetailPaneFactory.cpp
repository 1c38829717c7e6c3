#include "TavrikLink/Ui/DetailPaneFactory.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Ui/FirmwareDetailView.hpp"
#include "TavrikLink/Ui/FirmwarePane.hpp"
#include "TavrikLink/Ui/QtBackupFilePanel.hpp"
#include "TavrikLink/Ui/RoutinePane.hpp"
#include "TavrikLink/Ui/SettingsPane.hpp"
#include "TavrikLink/Ui/TagEditorView.hpp"
#include "TavrikLink/Ui/TagPaneView.hpp"
#include "TavrikLink/Ui/UsbSetupView.hpp"
#include "TavrikLink/Ui/WifiCredentialEditorView.hpp"
#include "TavrikLink/Ui/WifiSettingsSection.hpp"
#include "TavrikLink/Views/ContentViewBinding.hpp"
#include "TavrikLink/Views/RoutinePanePresenter.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"
#include "TavrikLink/Views/TagEditorPresenter.hpp"
#include "TavrikLink/Views/TagPanePresenter.hpp"
#include "TavrikLink/Views/TavrikLinkTerminationCoordinator.hpp"
#include "TavrikLink/Views/WifiSettingsPresenter.hpp"
#include "TavrikLink/Views/WindowPanes.hpp"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace tavrik {

namespace {

// A pane that is not built yet: its name, centred, so the window can be walked through.
QWidget* placeholder(const DetailPaneContext& context, const QString& name, const QString& text)
{
    auto* pane = new QWidget(context.parent);
    pane->setObjectName(name);
    auto* layout = new QVBoxLayout(pane);
    auto* label = new QLabel(text, pane);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(label);
    return pane;
}

} // namespace

DetailPaneFactory::WindowParts DetailPaneFactory::windowParts(TavrikBleCentral& controller,
    ContentViewPresenter& presenter, LogDrawerModel& log, TavrikLinkTerminationCoordinator& termination,
    QWidget* window, BackupFilePanel* panel)
{
    ContentViewPresenter::Actions& actions = presenter.actions();
    // While the window is shown, a quit first lets the controller shut the device session down.
    TavrikBleCentral* c = &controller;
    TavrikLinkTerminationCoordinator* coordinator = &termination;
    actions.installTerminationHandler = [c, coordinator] {
        coordinator->setPrepareForTermination(
            [c](std::function<void()> completion) { c->prepareForAppTermination(std::move(completion)); });
    };
    actions.removeTerminationHandler = [coordinator] { coordinator->clearPrepareForTermination(); };
    RoutinePanePresenter::connectWindowActions(presenter);

    WindowParts parts;
    if (panel) {
        parts.panes = std::make_unique<WindowPanes>(controller, presenter, *panel);
    } else {
        auto dialogs = std::make_unique<QtBackupFilePanel>(window);
        BackupFilePanel& own = *dialogs;
        parts.panes = std::make_unique<WindowPanes>(controller, presenter, own, std::move(dialogs));
    }
    parts.panes->connectActions();
    parts.binding = std::make_unique<ContentViewBinding>(controller, presenter, log);
    return parts;
}

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
    return new RoutinePane(RoutinePanePresenter::following(context.controller, context.window),
        new ScheduleSectionPresenter(context.controller, context.window), context.window, context.parent);
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
    return new TagPaneView(new TagPanePresenter(context.controller, context.window), context.parent);
}

QWidget* DetailPaneFactory::firmwarePane(const DetailPaneContext& context)
{
    if (!context.panes) {
        return placeholder(context, QStringLiteral("firmwarePane"), QStringLiteral("Firmware"));
    }
    auto* pane = new FirmwarePane(context.panes->firmware(), context.parent);
    pane->setObjectName(QStringLiteral("firmwarePane"));
    return pane;
}

QWidget* DetailPaneFactory::settingsPane(const DetailPaneContext& context)
{
    if (!context.panes) {
        return placeholder(context, QStringLiteral("settingsPane"), QStringLiteral("Settings"));
    }
    auto* pane = new SettingsPane(context.panes->settings(), context.parent);
    pane->setObjectName(QStringLiteral("settingsPane"));
    pane->setWifiSection(new WifiSettingsSection(new WifiSettingsPresenter(context.controller, context.window), pane));
    return pane;
}

QWidget* DetailPaneFactory::usbSetupContent(const DetailPaneContext& context)
{
    return new UsbSetupView(std::make_unique<UsbSetupPresenter>(context.controller, context.window), context.parent);
}

QWidget* DetailPaneFactory::newBoardSection(const DetailPaneContext& context)
{
    return new UsbNewDeviceSection(
        std::make_unique<UsbSetupPresenter>(context.controller, context.window), context.parent);
}

QWidget* DetailPaneFactory::legacyFirmwareSection(const DetailPaneContext& context)
{
    if (!context.panes) {
        return placeholder(context, QStringLiteral("legacyFirmwareSection"), QStringLiteral("Firmware"));
    }
    auto* section = new FirmwareDetailView(context.parent);
    section->setObjectName(QStringLiteral("legacyFirmwareSection"));
    section->bind(context.panes->legacyFirmware());
    return section;
}

QWidget* DetailPaneFactory::tagEditorSheet(const DetailPaneContext& context)
{
    return new TagEditorView(new TagEditorPresenter(context.controller, context.window), context.parent);
}

QWidget* DetailPaneFactory::wifiCredentialEditorSheet(const DetailPaneContext& context)
{
    return new WifiCredentialEditorView(new WifiSettingsPresenter(context.controller, context.window), context.parent);
}

} // namespace tavrik
