#include "TavrikLink/Views/ContentViewBinding.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/LogDrawerModel.hpp"
#include "tests/controller/ControllerTestSupport.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

struct ContentViewBindingTest : ControllerTest {
    void loadWithKillSwitch()
    {
        FakeTavrik& tavrik = addDevice();
        SyncSettingsPayload settings;
        settings.killSwitchUid = std::string();
        tavrik.data.settings = settings;
        tavrik.data.tags = { { 5, "04 C3 D4", "Desk" } };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        ASSERT_TRUE(controller->killSwitchSupported());
    }
};

TEST_F(ContentViewBindingTest, WindowActionsReachTheController)
{
    loadWithKillSwitch();
    ContentViewPresenter window({});
    LogDrawerModel log;
    ContentViewBinding binding(*controller, window, log);
    ContentViewPresenter::Actions& actions = window.actions();
    for (const bool filled : { static_cast<bool>(actions.refreshFirmwareAvailability),
             static_cast<bool>(actions.startFirmwareInstall), static_cast<bool>(actions.clearFirmwareUpdateNotice),
             static_cast<bool>(actions.clearWifiConnectionNotice), static_cast<bool>(actions.ejectTavrik) }) {
        EXPECT_TRUE(filled);
    }

    // Disconnecting from the window reaches the controller's eject.
    actions.ejectTavrik();
    const auto& lines = controller->logItems();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
        [](const TavrikLogEntry& entry) { return entry.text == "Ejecting Tavrik Bluetooth session"; }));
}

TEST_F(ContentViewBindingTest, AnActionAlreadyGivenIsKept)
{
    makeController();
    int ownRefreshes = 0;
    ContentViewPresenter::Actions given;
    given.refreshFirmwareAvailability = [&] { ++ownRefreshes; };
    ContentViewPresenter window(given);
    LogDrawerModel log;
    ContentViewBinding binding(*controller, window, log);
    window.actions().refreshFirmwareAvailability();
    EXPECT_EQ(ownRefreshes, 1);
}

} // namespace
} // namespace tavrik::test
