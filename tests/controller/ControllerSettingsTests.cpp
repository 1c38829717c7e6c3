#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

class ControllerSettingsTest : public ControllerTest {
protected:
    void SetUp() override
    {
        addDevice();
        device->data.settings = SyncSettingsPayload(false, std::string("04 AA BB"));
        loadFromDevice();
        ASSERT_TRUE(controller->killSwitchSupported());
        ASSERT_EQ(controller->killSwitchUid(), "04 AA BB");
    }

    std::vector<std::string> sentAfterDebounce()
    {
        scheduler.advance(200ms);
        settle();
        return device->receivedCommands();
    }
};

TEST_F(ControllerSettingsTest, MuteIsSentRememberedAndReadByTheNextRun)
{
    int changes = 0;
    QObject::connect(controller.get(), &TavrikBleCentral::muteNonAlarmSoundsChanged, [&] { ++changes; });
    controller->setMuteNonAlarmSounds(true);
    EXPECT_TRUE(controller->muteNonAlarmSounds());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(defaults.boolValue(muteNonAlarmSoundsDefaultsKey), true);
    EXPECT_EQ(probe().baselineSnapshot()->settings, SyncSettingsPayload(true, std::string("04 AA BB")));
    EXPECT_EQ(sentAfterDebounce(), (std::vector<std::string> { "settings:update muteNonAlarmSounds=1" }));

    // The next run starts muted before any device data arrives.
    controller.reset();
    makeController();
    EXPECT_TRUE(controller->muteNonAlarmSounds());
}

TEST_F(ControllerSettingsTest, MuteAtItsCurrentValueWritesAndSendsNothing)
{
    defaults.remove(muteNonAlarmSoundsDefaultsKey);
    const std::optional<SyncSnapshot> baseline = probe().baselineSnapshot();
    controller->setMuteNonAlarmSounds(false);
    EXPECT_EQ(defaults.boolValue(muteNonAlarmSoundsDefaultsKey), std::nullopt);
    EXPECT_EQ(probe().baselineSnapshot(), baseline);
    EXPECT_TRUE(sentAfterDebounce().empty());
}

TEST_F(ControllerSettingsTest, QuickMuteChangesSendOnlyTheLast)
{
    controller->setMuteNonAlarmSounds(true);
    scheduler.advance(100ms);
    controller->setMuteNonAlarmSounds(false);
    EXPECT_EQ(defaults.boolValue(muteNonAlarmSoundsDefaultsKey), false);
    EXPECT_EQ(sentAfterDebounce(), (std::vector<std::string> { "settings:update muteNonAlarmSounds=0" }));
}

TEST_F(ControllerSettingsTest, KillSwitchUidIsNormalisedBeforeItIsCompared)
{
    struct Case {
        std::string input;
        std::string stored;
        std::optional<std::string> command;
    };
    const Case cases[] = {
        { " 04  aa\tBb\n", "04 AA BB", std::nullopt },
        { "04 aa bb cc", "04 AA BB CC", "settings:update killSwitchUid=\"04 AA BB CC\"" },
        { " \n", "", "settings:update killSwitchUid=\"\"" },
        { "", "", std::nullopt },
        { "a\"b", "A\"B", "settings:update killSwitchUid=\"A\\\"B\"" },
    };
    for (const Case& item : cases) {
        const std::size_t before = device->receivedCommands().size();
        controller->setKillSwitchUid(item.input);
        EXPECT_EQ(controller->killSwitchUid(), item.stored) << item.input;
        EXPECT_EQ(probe().baselineSnapshot()->settings.killSwitchUid, item.stored);
        const std::vector<std::string> sent = sentAfterDebounce();
        if (item.command) {
            ASSERT_EQ(sent.size(), before + 1) << item.input;
            EXPECT_EQ(sent.back(), *item.command);
        } else {
            EXPECT_EQ(sent.size(), before) << item.input;
        }
    }
}

TEST_F(ControllerSettingsTest, MuteAndKillSwitchEditsDoNotSwallowEachOther)
{
    controller->setMuteNonAlarmSounds(true);
    controller->setKillSwitchUid("01 02");
    settle();
    EXPECT_EQ(device->receivedCommands(), (std::vector<std::string> { "settings:update muteNonAlarmSounds=1" }));
    EXPECT_EQ(sentAfterDebounce(),
        (std::vector<std::string> { "settings:update muteNonAlarmSounds=1", "settings:update killSwitchUid=\"01 02\"" }));
}

TEST_F(ControllerSettingsTest, WithoutKillSwitchSupportTheUidCannotBeSet)
{
    controller.reset();
    device->data.settings = SyncSettingsPayload(false, std::nullopt);
    loadFromDevice();
    ASSERT_FALSE(controller->killSwitchSupported());
    const std::optional<SyncSnapshot> baseline = probe().baselineSnapshot();
    int changes = 0;
    QObject::connect(controller.get(), &TavrikBleCentral::killSwitchUidChanged, [&] { ++changes; });

    controller->setKillSwitchUid("04 AA");
    EXPECT_EQ(controller->killSwitchUid(), "");
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(probe().baselineSnapshot(), baseline);
    EXPECT_TRUE(sentAfterDebounce().empty());

    // Mute still works and leaves the UID out of the settings.
    controller->setMuteNonAlarmSounds(true);
    EXPECT_EQ(probe().baselineSnapshot()->settings, SyncSettingsPayload(true, std::nullopt));
    EXPECT_EQ(sentAfterDebounce(), (std::vector<std::string> { "settings:update muteNonAlarmSounds=1" }));
}

} // namespace
} // namespace tavrik::test
