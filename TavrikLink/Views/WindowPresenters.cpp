#include "TavrikLink/Views/WindowPresenters.hpp"

#include "TavrikCore/Support/Scheduler.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/SettingsKeyValueStore.hpp"
#include "TavrikLink/Views/AppQuitPresenter.hpp"
#include "TavrikLink/Views/BackupFilePanel.hpp"
#include "TavrikLink/Views/ContentViewBinding.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/LogDrawerModel.hpp"
#include "TavrikLink/Views/RoutinePanePresenter.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"
#include "TavrikLink/Views/TagEditorPresenter.hpp"
#include "TavrikLink/Views/TagPanePresenter.hpp"
#include "TavrikLink/Views/UsbSetupPresenter.hpp"
#include "TavrikLink/Views/WifiSettingsPresenter.hpp"
#include "TavrikLink/Views/WindowAlertQueue.hpp"
#include "TavrikLink/Views/WindowPanes.hpp"

#include <utility>

namespace tavrik {

WindowPresenters::WindowPresenters(Environment environment)
    : controller(environment.controller)
    , settings(environment.settings)
    , windowPresenter(std::make_unique<ContentViewPresenter>(ContentViewPresenter::Actions {}))
    , logModel(std::make_unique<LogDrawerModel>())
{
    ContentViewPresenter::Actions& actions = windowPresenter->actions();
    Scheduler* scheduler = &environment.scheduler;
    actions.defer = [scheduler](std::function<void()> work) {
        scheduler->schedule(std::chrono::milliseconds(0), std::move(work));
    };
    // While the window is shown, a quit first lets the controller shut the device session down.
    TavrikBleCentral* c = &controller;
    AppQuitPresenter* quit = &environment.quit;
    actions.installTerminationHandler = [c, quit] {
        quit->setPrepareForTermination(
            [c](std::function<void()> completion) { c->prepareForAppTermination(std::move(completion)); });
    };
    actions.removeTerminationHandler = [quit] { quit->clearPrepareForTermination(); };
    RoutinePanePresenter::connectWindowActions(*windowPresenter);

    shared = std::make_unique<WindowPanes>(
        controller, *windowPresenter, environment.backupFilePanel, std::move(environment.ownPanel));
    shared->connectActions();
    binding = std::make_unique<ContentViewBinding>(controller, *windowPresenter, *logModel);

    if (settings) {
        settings->onProblem([this](const std::string& message) {
            controller.appendLog(message, true);
            using Role = WindowAlertQueue::Button::Role;
            windowPresenter->alerts().raise({ "settingsFile", "Settings Not Saved", message,
                { { "OK", Role::normal, {} } }, WindowAlertQueue::Kind::warning });
        });
    }
}

WindowPresenters::~WindowPresenters()
{
    if (settings) {
        settings->onProblem({});
    }
    // The binding and the panes hold on to the window's presenter and log: they go first.
    binding.reset();
    shared.reset();
}

std::unique_ptr<RoutinePanePresenter> WindowPresenters::routinePane()
{
    return RoutinePanePresenter::following(controller, *windowPresenter);
}

ScheduleSectionPresenter* WindowPresenters::scheduleSection()
{
    return new ScheduleSectionPresenter(controller, *windowPresenter);
}

TagPanePresenter* WindowPresenters::tagPane()
{
    return new TagPanePresenter(controller, *windowPresenter);
}

TagEditorPresenter* WindowPresenters::tagEditor()
{
    return new TagEditorPresenter(controller, *windowPresenter);
}

WifiSettingsPresenter* WindowPresenters::wifiSettings()
{
    return new WifiSettingsPresenter(controller, *windowPresenter);
}

std::unique_ptr<UsbSetupPresenter> WindowPresenters::usbSetup()
{
    return std::make_unique<UsbSetupPresenter>(controller, *windowPresenter);
}

} // namespace tavrik
