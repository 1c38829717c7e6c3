#include "TavrikLink/Ui/SettingsPane.hpp"
#include "TavrikLink/Views/SettingsPanePresenter.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <string>
#include <vector>

namespace tavrik {
namespace {

struct SettingsPaneWidgetTest : ::testing::Test {
    std::vector<std::string> calls;
    SettingsPanePresenter presenter { SettingsPaneActions {
        [this](bool value) { calls.push_back(value ? "mute on" : "mute off"); },
        [this](const std::string& uid) { calls.push_back("kill switch '" + uid + "'"); },
        [this] { calls.push_back("begin scan"); },
        [this] { calls.push_back("clear pending"); },
        [this](const std::string& command) { calls.push_back("tag:" + command); },
        [this] { calls.push_back("end scan"); },
    } };
    SettingsPane pane { presenter };

    bool shown(const QWidget* widget) const { return widget->isVisibleTo(&pane); }
    bool showsText(const QString& text) const
    {
        for (const QLabel* label : pane.findChildren<QLabel*>()) {
            if (label->text() == text && shown(label)) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(SettingsPaneWidgetTest, WithoutKillSwitchSupportOnlyTheHintShows)
{
    pane.show();
    EXPECT_TRUE(showsText(SettingsPanePresenter::killSwitchUnsupportedText()));
    EXPECT_FALSE(shown(pane.scanButton()));
    EXPECT_FALSE(shown(pane.removeButton()));
    EXPECT_FALSE(shown(pane.cancelButton()));
    // No Wi-Fi section without Wi-Fi support.
    EXPECT_FALSE(shown(pane.wifiSection()));
}

TEST_F(SettingsPaneWidgetTest, ScanFlowDrivesTheButtonsAndStatusRow)
{
    pane.show();
    SettingsPaneState state;
    state.killSwitchSupported = true;
    state.killSwitchUid = "04 AA BB";
    state.tags = { { 1, "04 aa bb", "Kitchen" } };
    presenter.setState(state);
    EXPECT_TRUE(showsText(QStringLiteral("Kitchen")));
    EXPECT_TRUE(showsText(QStringLiteral("UID: 04 AA BB")));
    EXPECT_EQ(pane.scanButton()->text(), QStringLiteral("Replace Tag\u2026"));
    EXPECT_TRUE(shown(pane.removeButton()));
    EXPECT_FALSE(shown(pane.killSwitchStatusLabel()));

    QTest::mouseClick(pane.scanButton(), Qt::LeftButton);
    EXPECT_FALSE(pane.scanButton()->isEnabled());
    EXPECT_FALSE(pane.removeButton()->isEnabled());
    EXPECT_TRUE(shown(pane.cancelButton()));
    EXPECT_EQ(pane.killSwitchStatusLabel()->text(), QStringLiteral("Waiting for Tavrik\u2026"));
    EXPECT_TRUE(shown(pane.killSwitchStatusLabel()));

    state.tagScanState = TagScanState::failed("Kill switch scan timed out");
    presenter.setState(state);
    EXPECT_EQ(pane.killSwitchStatusLabel()->text(), QStringLiteral("Kill switch scan timed out"));
    EXPECT_TRUE(pane.scanButton()->isEnabled());
    EXPECT_FALSE(shown(pane.cancelButton()));

    QTest::mouseClick(pane.removeButton(), Qt::LeftButton);
    EXPECT_EQ(calls, (std::vector<std::string> { "begin scan", "kill switch ''" }));
}

TEST_F(SettingsPaneWidgetTest, MuteToggleFollowsAndForwards)
{
    pane.show();
    SettingsPaneState state;
    state.muteNonAlarmSounds = true;
    presenter.setState(state);
    EXPECT_TRUE(pane.muteToggle()->isChecked());
    pane.muteToggle()->click();
    EXPECT_EQ(calls, std::vector<std::string> { "mute off" });
}

TEST_F(SettingsPaneWidgetTest, ARefusedChangeShowsItsErrorAboveTheSettings)
{
    pane.show();
    auto* error = pane.findChild<QLabel*>(QStringLiteral("settingsError"));
    ASSERT_NE(error, nullptr);
    EXPECT_FALSE(shown(error));
    SettingsPaneState state;
    state.muteNonAlarmSounds = true;
    state.settingsError = "Settings update failed";
    presenter.setState(state);
    EXPECT_TRUE(showsText(QStringLiteral("Settings update failed")));
    EXPECT_TRUE(pane.muteToggle()->isChecked());
    state.settingsError.reset();
    presenter.setState(state);
    EXPECT_FALSE(shown(error));
}

TEST_F(SettingsPaneWidgetTest, WifiSectionReplacesThePlaceholder)
{
    pane.show();
    QPointer<QWidget> placeholder = pane.wifiSection();
    ASSERT_NE(qobject_cast<WifiSettingsSectionPlaceholder*>(placeholder.data()), nullptr);

    SettingsPaneState state;
    state.wifiSupported = true;
    presenter.setState(state);
    auto* section = new QLabel(QStringLiteral("Wi-Fi networks"));
    pane.setWifiSection(section);
    EXPECT_EQ(pane.wifiSection(), section);
    EXPECT_TRUE(shown(section));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(placeholder.isNull());

    // Scrolling to it works with and without room to scroll.
    presenter.requestWifiSettingsScroll();
    EXPECT_TRUE(shown(section));
}

} // namespace
} // namespace tavrik
