#include "TavrikLink/Views/WindowPresenters.hpp"

#include "TavrikLink/Views/AppQuitPresenter.hpp"
#include "TavrikLink/Views/BackupFilePanel.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/LogDrawerModel.hpp"
#include "TavrikLink/Views/TagPanePresenter.hpp"
#include "tests/controller/ControllerTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace tavrik::test {
namespace {

struct NoFilePanel : BackupFilePanel {
    std::optional<QString> chooseSaveLocation(const SaveRequest&) override { return std::nullopt; }
    std::optional<QString> chooseFileToOpen(const OpenRequest&) override { return std::nullopt; }
};

using WindowPresentersTest = ControllerTest;

// The window's presenters are built over the controller with no widget at all: what the window,
// its log and a pane show comes from the controller, and the window's quit waits for its shutdown.
TEST_F(WindowPresentersTest, WindowPresentersFollowTheControllerWithoutAWidget)
{
    FakeTavrik& tavrik = addDevice();
    tavrik.data.tags = { { 5, "04 C3 D4", "Desk" } };
    loadFromDevice();
    ASSERT_TRUE(controller->hasLoadedData());

    NoFilePanel panel;
    AppQuitPresenter termination(scheduler, [](int) {});
    WindowPresenters presenters({ *controller, scheduler, termination, panel, nullptr });
    ContentViewPresenter& window = presenters.window();
    EXPECT_TRUE(window.controller().hasLoadedData);
    EXPECT_EQ(presenters.log().rowCount(), static_cast<int>(controller->logItems().size()));

    window.modify([](ContentViewPresenter::State& state) { state.selectedTagId = 5; });
    std::unique_ptr<TagPanePresenter> tags(presenters.tagPane());
    ASSERT_TRUE(tags->selectedTag());
    EXPECT_EQ(tags->selectedTag()->name, "Desk");

    // Only a shown window holds the quit back for the controller's shutdown.
    EXPECT_FALSE(termination.prepareForTermination());
    window.appear();
    ASSERT_TRUE(termination.prepareForTermination());
    bool shutDown = false;
    (*termination.prepareForTermination())([&] { shutDown = true; });
    settle();
    const auto commands = tavrik.receivedCommands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "system:disconnect"), commands.end());
    scheduler.advance(std::chrono::milliseconds(300));
    EXPECT_TRUE(shutDown);
    window.disappear();
    EXPECT_FALSE(termination.prepareForTermination());
}

} // namespace
} // namespace tavrik::test
