#include "TavrikLink/Views/SettingsPanePresenter.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {
namespace {

// Records every controller call the pane makes, in order.
class SettingsPaneTest : public ::testing::Test {
protected:
    std::vector<std::string> calls;
    std::unique_ptr<SettingsPanePresenter> pane = std::make_unique<SettingsPanePresenter>(SettingsPaneActions {
        [this](bool value) { calls.push_back(value ? "mute on" : "mute off"); },
        [this](const std::string& uid) { calls.push_back("kill switch '" + uid + "'"); },
        [this] { calls.push_back("begin scan"); },
        [this] { calls.push_back("clear pending"); },
        [this](const std::string& command) { calls.push_back("tag:" + command); },
        [this] { calls.push_back("end scan"); },
    });

    static SettingsPaneState supported(std::string uid = "")
    {
        SettingsPaneState state;
        state.killSwitchSupported = true;
        state.killSwitchUid = std::move(uid);
        state.tags = { { 1, "04 AA BB", "Kitchen" }, { 2, "04 CC DD", "Desk" }, { 3, "04 cc dd", "Desk copy" } };
        return state;
    }

    void setScanState(TagScanState scanState)
    {
        SettingsPaneState state = pane->state();
        state.tagScanState = std::move(scanState);
        pane->setState(state);
    }
};

TEST_F(SettingsPaneTest, KillSwitchTagTextsAndButtons)
{
    const struct {
        bool supported;
        const char* uid;
        std::optional<std::string> tagName;
        const char* nameText;
        const char* scanTitle;
        bool removeVisible;
    } cases[] = {
        { true, "", std::nullopt, "Kill switch tag", "Scan Tag\u2026", false },
        { true, "04 AA BB", "Kitchen", "Kitchen", "Replace Tag\u2026", true },
        // Letter case does not matter, and the first matching tag names it.
        { true, "04 cc DD", "Desk", "Desk", "Replace Tag\u2026", true },
        { true, "04 99 99", std::nullopt, "Kill switch tag", "Replace Tag\u2026", true },
        // The device's text may carry blanks and line breaks around the UID; they name the same tag.
        { true, " 04 aa bb\n", "Kitchen", "Kitchen", "Replace Tag\u2026", true },
        { true, "04 CC DD\t", "Desk", "Desk", "Replace Tag\u2026", true },
        // Blanks alone are no tag at all.
        { true, " \n", std::nullopt, "Kill switch tag", "Scan Tag\u2026", false },
    };
    for (const auto& c : cases) {
        SettingsPaneState state = supported(c.uid);
        state.killSwitchSupported = c.supported;
        pane->setState(state);
        SCOPED_TRACE(c.uid);
        EXPECT_EQ(pane->killSwitchTagName(), c.tagName);
        EXPECT_EQ(pane->killSwitchNameText(), QString::fromUtf8(c.nameText));
        EXPECT_EQ(pane->scanButtonTitle(), QString::fromUtf8(c.scanTitle));
        EXPECT_EQ(pane->removeButtonVisible(), c.removeVisible);
        EXPECT_EQ(pane->hasKillSwitchTag(), c.removeVisible);
        EXPECT_EQ(pane->killSwitchUidText(), QStringLiteral("UID: ") + QString::fromUtf8(c.uid));
        EXPECT_TRUE(pane->scanButtonEnabled());
        EXPECT_FALSE(pane->cancelButtonVisible());
        EXPECT_FALSE(pane->statusRowVisible());
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(SettingsPaneTest, StatusTextFollowsTheControllersScanState)
{
    pane->setState(supported());
    pane->beginKillSwitchScan();
    const struct {
        TagScanState state;
        const char* text;
    } cases[] = {
        { TagScanState::idle(), "Waiting for Tavrik\u2026" },
        { TagScanState::waitingForDevice(), "Waiting for Tavrik\u2026" },
        { TagScanState::connecting(), "Connecting to Tavrik\u2026" },
        { TagScanState::requesting(), "Starting tag scan\u2026" },
        { TagScanState::pending(), "Press Tavrik's button and hold the kill switch tag near the reader." },
        { TagScanState::received(), "Tag received." },
    };
    for (const auto& c : cases) {
        setScanState(c.state);
        EXPECT_EQ(pane->killSwitchScanStatusText(), QString::fromUtf8(c.text));
        EXPECT_TRUE(pane->statusRowVisible());
        EXPECT_TRUE(pane->statusShowsProgress());
        EXPECT_FALSE(pane->statusIsError());
    }
}

TEST_F(SettingsPaneTest, ScanRunsUntilTheTagIsStored)
{
    pane->setState(supported("04 AA BB"));
    pane->beginKillSwitchScan();
    EXPECT_EQ(calls, std::vector<std::string> { "begin scan" });
    EXPECT_TRUE(pane->killSwitchScanActive());
    EXPECT_FALSE(pane->scanButtonEnabled());
    EXPECT_FALSE(pane->removeButtonEnabled());
    EXPECT_TRUE(pane->cancelButtonVisible());

    // Remove is disabled while scanning; a click that slips through does nothing.
    pane->removeKillSwitchTag();
    EXPECT_EQ(calls.size(), 1U);

    SettingsPaneState state = pane->state();
    state.tagScanState = TagScanState::received();
    state.tagScanResult = TagScanResult { "04 cc dd" };
    pane->setState(state);
    EXPECT_EQ(calls, (std::vector<std::string> { "begin scan", "kill switch '04 cc dd'", "end scan" }));
    EXPECT_FALSE(pane->killSwitchScanActive());
    EXPECT_FALSE(pane->killSwitchScanError());
    EXPECT_FALSE(pane->statusRowVisible());
    EXPECT_TRUE(pane->scanButtonEnabled());
}

TEST_F(SettingsPaneTest, AFailedScanShowsItsTextUntilTheNextScan)
{
    pane->setState(supported());
    pane->beginKillSwitchScan();
    setScanState(TagScanState::pending());
    setScanState(TagScanState::failed("Kill switch scan timed out"));

    EXPECT_FALSE(pane->killSwitchScanActive());
    EXPECT_EQ(pane->killSwitchScanError(), "Kill switch scan timed out");
    EXPECT_EQ(pane->killSwitchScanStatusText(), QStringLiteral("Kill switch scan timed out"));
    EXPECT_TRUE(pane->statusRowVisible());
    EXPECT_TRUE(pane->statusIsError());
    EXPECT_FALSE(pane->statusShowsProgress());
    EXPECT_TRUE(pane->scanButtonEnabled());
    EXPECT_FALSE(pane->cancelButtonVisible());

    // The error stays through later controller changes and goes with a new scan.
    setScanState(TagScanState::idle());
    EXPECT_EQ(pane->killSwitchScanStatusText(), QStringLiteral("Kill switch scan timed out"));
    pane->beginKillSwitchScan();
    EXPECT_FALSE(pane->killSwitchScanError());
    EXPECT_EQ(pane->killSwitchScanStatusText(), QStringLiteral("Waiting for Tavrik\u2026"));
}

TEST_F(SettingsPaneTest, ResultsAndFailuresOfOtherScansAreNotTheKillSwitchs)
{
    pane->setState(supported());
    SettingsPaneState state = pane->state();
    state.tagScanResult = TagScanResult { "04 11" };
    state.tagScanState = TagScanState::failed("Scan result missing UID");
    pane->setState(state);
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(pane->killSwitchScanError());
    EXPECT_FALSE(pane->statusRowVisible());
}

TEST_F(SettingsPaneTest, CancelTellsTheDeviceOnlyWhenItsScanSessionIsLive)
{
    const struct {
        bool connected;
        bool sessionActive;
        std::vector<std::string> calls;
    } cases[] = {
        { true, true, { "begin scan", "clear pending", "tag:cancel", "end scan" } },
        { false, true, { "begin scan", "clear pending", "end scan" } },
        { true, false, { "begin scan", "clear pending", "end scan" } },
    };
    for (const auto& c : cases) {
        calls.clear();
        SettingsPaneState state = supported();
        state.isConnected = c.connected;
        state.tagScanSessionActive = c.sessionActive;
        pane->setState(state);
        pane->beginKillSwitchScan();
        pane->cancelKillSwitchScan();
        EXPECT_EQ(calls, c.calls);
        EXPECT_FALSE(pane->killSwitchScanActive());
        EXPECT_FALSE(pane->statusRowVisible());
    }
}

TEST_F(SettingsPaneTest, LeavingThePaneEndsTheScanAndItsError)
{
    pane->setState(supported());
    pane->beginKillSwitchScan();
    pane->selectedPaneChanged(true);
    EXPECT_TRUE(pane->killSwitchScanActive());

    pane->selectedPaneChanged(false);
    EXPECT_EQ(calls, (std::vector<std::string> { "begin scan", "clear pending", "end scan" }));
    EXPECT_FALSE(pane->killSwitchScanActive());

    calls.clear();
    pane->beginKillSwitchScan();
    setScanState(TagScanState::failed("Failed to send tag command"));
    pane->selectedPaneChanged(false);
    EXPECT_EQ(calls, std::vector<std::string> { "begin scan" });
    EXPECT_FALSE(pane->killSwitchScanError());
    EXPECT_FALSE(pane->statusRowVisible());
}

TEST_F(SettingsPaneTest, MuteAndRemoveGoToTheController)
{
    pane->setState(supported("04 AA BB"));
    pane->setMuteNonAlarmSounds(true);
    pane->setMuteNonAlarmSounds(false);
    pane->removeKillSwitchTag();
    EXPECT_EQ(calls, (std::vector<std::string> { "mute on", "mute off", "kill switch ''" }));
}

TEST_F(SettingsPaneTest, WifiSectionAndScrollRequests)
{
    int scrolls = 0;
    QObject::connect(pane.get(), &SettingsPanePresenter::wifiSettingsScrollRequested, [&] { ++scrolls; });
    EXPECT_FALSE(pane->wifiSectionVisible());
    SettingsPaneState state = supported();
    state.wifiSupported = true;
    pane->setState(state);
    EXPECT_TRUE(pane->wifiSectionVisible());

    // Each request counts, so asking twice scrolls twice.
    pane->requestWifiSettingsScroll();
    pane->requestWifiSettingsScroll();
    EXPECT_EQ(pane->wifiSettingsScrollRequest(), 2);
    EXPECT_EQ(scrolls, 2);
}

TEST_F(SettingsPaneTest, ChangedFiresOnlyForRealChanges)
{
    int changes = 0;
    QObject::connect(pane.get(), &SettingsPanePresenter::changed, [&] { ++changes; });
    pane->setState(supported());
    pane->setState(supported());
    EXPECT_EQ(changes, 1);
    pane->beginKillSwitchScan();
    EXPECT_EQ(changes, 2);
}

} // namespace
} // namespace tavrik
