#include "tests/session/SessionEditTestSupport.hpp"

namespace tavrik::test {
namespace {

using SessionScheduleEditTest = SessionEditTest;
using SessionSettingsEditTest = SessionEditTest;
using SessionScanEditTest = SessionEditTest;
using SessionRoutineControlTest = SessionEditTest;
using SessionClockEditTest = SessionEditTest;

Json schedule(std::string_view extra)
{
    Json value = parseJson(R"({"id": 0, "routineId": 1, "hour": 6, "minute": 5, "days": 62, "enabled": 1})");
    const Json changes = parseJson(extra);
    for (const auto& [key, member] : changes.items()) {
        value[key] = member;
    }
    return value;
}

Json withoutKillSwitch()
{
    Json data = sampleDeviceData();
    data["settings"].erase("killSwitchUid");
    return data;
}

TEST_F(SessionScheduleEditTest, SendsRecurringAndOneTimeSchedules)
{
    struct Case {
        const char* name;
        Json schedule;
        std::string command;
    };
    const std::vector<Case> cases {
        { "new recurring", schedule("{}"),
            "schedule:create routineId=1 enabled=1 type=recurring hour=6 minute=5 days=62" },
        { "update, disabled, every day", schedule(R"({"id": 1, "enabled": 0, "days": 0, "hour": 23, "minute": 59})"),
            "schedule:update id=1 routineId=1 enabled=0 type=recurring hour=23 minute=59 days=0" },
        { "an unknown type is recurring", schedule(R"({"type": "weekly", "days": 127, "hour": 0, "minute": 0})"),
            "schedule:create routineId=1 enabled=1 type=recurring hour=0 minute=0 days=127" },
        { "mask 128 without type is one-time; the calendar is not checked",
            schedule(R"({"days": 128, "year": 2020, "month": 2, "day": 31, "hour": 7, "minute": 3})"),
            "schedule:create routineId=1 enabled=1 type=single startsAt=2020-02-31T07:03" },
        { "type single with any mask",
            schedule(R"({"id": 4, "routineId": 2, "type": "single", "days": 200, "year": 2099, "month": 12, "day": 1})"),
            "schedule:update id=4 routineId=2 enabled=1 type=single startsAt=2099-12-01T06:05" },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        expectCommandsOnBothLinks("saveSchedule", Json::object(), dataOf(testCase.schedule), { testCase.command });
        EXPECT_EQ(state().at("device").at("schedules").size(), 1U) << "the device's answer brings the change";
    }
}

TEST_F(SessionScheduleEditTest, RefusesBadSchedules)
{
    const std::string weekdays = "Choose a routine, valid time and weekdays";
    const std::string date = "Choose a valid date for this one-time schedule";
    struct Case {
        const char* extra;
        const std::string& error;
    };
    const std::vector<Case> cases {
        { R"({"routineId": 9})", weekdays },
        { R"({"hour": 24})", weekdays },
        { R"({"hour": -1})", weekdays },
        { R"({"minute": 60})", weekdays },
        { R"({"minute": -1})", weekdays },
        { R"({"days": 200})", weekdays },
        { R"({"days": -1})", weekdays },
        { R"({"days": -1, "type": "single", "year": 2030, "month": 1, "day": 1})", weekdays },
        { R"({"days": 128, "month": 1, "day": 1})", date },
        { R"({"type": "single", "year": 2030, "day": 1})", date },
        { R"({"type": "single", "year": 2030, "month": 1})", date },
        { R"({"type": "single", "year": 2019, "month": 1, "day": 1})", date },
        { R"({"type": "single", "year": 2100, "month": 1, "day": 1})", date },
        { R"({"type": "single", "year": 2030, "month": 0, "day": 1})", date },
        { R"({"type": "single", "year": 2030, "month": 13, "day": 1})", date },
        { R"({"type": "single", "year": 2030, "month": 1, "day": 0})", date },
        { R"({"type": "single", "year": 2030, "month": 1, "day": 32})", date },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.extra);
        expectRefusal("saveSchedule", Json::object(), dataOf(schedule(testCase.extra)), testCase.error);
    }
}

TEST_F(SessionScheduleEditTest, DeletesASchedule)
{
    expectCommandsOnBothLinks("deleteSchedule", { { "id", 1 } }, {}, { "schedule:delete id=1" });
    EXPECT_EQ(state().at("device").at("schedules").size(), 1U);
}

TEST_F(SessionSettingsEditTest, SendsAndAppliesMuteAndKillSwitch)
{
    struct Case {
        const char* name;
        Json request;
        std::vector<std::string> commands;
        Json settings;
    };
    const std::vector<Case> cases {
        { "mute", { { "mute", true } }, { "settings:update muteNonAlarmSounds=1" },
            { { "muteNonAlarmSounds", 1 }, { "killSwitchUid", "" } } },
        { "kill switch sent as given", { { "killSwitchUid", R"( 04 "A"\ )" } },
            { R"(settings:update killSwitchUid=" 04 \"A\"\\ ")" },
            { { "muteNonAlarmSounds", 0 }, { "killSwitchUid", R"( 04 "A"\ )" } } },
        { "both, mute first", { { "mute", true }, { "killSwitchUid", "04 99" } },
            { "settings:update muteNonAlarmSounds=1", R"(settings:update killSwitchUid="04 99")" },
            { { "muteNonAlarmSounds", 1 }, { "killSwitchUid", "04 99" } } },
        { "unmute", { { "mute", false } }, { "settings:update muteNonAlarmSounds=0" },
            { { "muteNonAlarmSounds", 0 }, { "killSwitchUid", "" } } },
        { "nothing to change", Json::object(), {}, sampleDeviceData().at("settings") },
        { "values of another type are ignored", { { "mute", 1 }, { "killSwitchUid", 5 } }, {},
            sampleDeviceData().at("settings") },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        expectCommandsOnBothLinks("settings", testCase.request, {}, testCase.commands);
        EXPECT_EQ(plain(state().at("device").at("settings")), plain(testCase.settings));
    }
}

TEST_F(SessionSettingsEditTest, WithoutAKillSwitchTheMuteChangeStillStands)
{
    const LinkRun run
        = runOnSimulator("settings", { { "mute", true }, { "killSwitchUid", "04 99" } }, {}, withoutKillSwitch());
    EXPECT_EQ(run.response.error(), "Kill switch is unavailable on this firmware");
    EXPECT_EQ(run.commands, std::vector<std::string> { "settings:update muteNonAlarmSounds=1" });
    EXPECT_EQ(state().at("device").at("settings"), Json({ { "muteNonAlarmSounds", 1 } }));
}

TEST_F(SessionScanEditTest, StartsScansOfEitherPurpose)
{
    expectCommandsOnBothLinks("scanTag", Json::object(), {}, { "tag:scan" });
    EXPECT_TRUE(state().at("scanActive"));
    EXPECT_FALSE(state().at("scanPurposeKillSwitch"));

    const LinkRun enrolment = runOnPhysicalLink("scanTag", { { "killSwitch", true } });
    EXPECT_TRUE(enrolment.response.ok()) << enrolment.response.error();
    EXPECT_EQ(enrolment.commands, std::vector<std::string> { "tag:scan purpose=kill_switch" });
    EXPECT_TRUE(state().at("scanActive"));
    EXPECT_TRUE(state().at("scanPurposeKillSwitch"));
}

TEST_F(SessionScanEditTest, ANewScanForgetsTheLastResult)
{
    loadOverSimulator(sampleDeviceData());
    simulatorSends({ { "type", "scan_result" }, { "uid", "04 77" } });
    ASSERT_TRUE(state().contains("scanResult"));
    const SessionResponse response = dispatch("scanTag", { { "killSwitch", false } });
    EXPECT_EQ(response.applicationWrites(), std::vector<std::string> { "tag:scan" });
    EXPECT_FALSE(state().contains("scanResult"));
}

TEST_F(SessionScanEditTest, KillSwitchEnrolmentNeedsSupportOnAPhysicalLink)
{
    const std::string message = "Kill-switch enrollment is unavailable for this connection";
    expectRefusal("scanTag", { { "killSwitch", true } }, {}, message);
    EXPECT_FALSE(state().at("scanActive"));

    const LinkRun physical = runOnPhysicalLink("scanTag", { { "killSwitch", true } }, {}, withoutKillSwitch());
    EXPECT_EQ(physical.response.error(), message);
    EXPECT_TRUE(physical.commands.empty());
    EXPECT_FALSE(state().at("scanActive"));
}

TEST_F(SessionScanEditTest, TheScanTimeOutCountsFromTheScanStart)
{
    loadOverSimulator(sampleDeviceData());
    advance(std::chrono::seconds(100));
    dispatch("scanTag");
    advance(std::chrono::seconds(64));
    dispatch("tick");
    EXPECT_TRUE(state().at("scanActive")) << "64 s after the start";
    advance(std::chrono::seconds(2));
    dispatch("tick");
    EXPECT_FALSE(state().at("scanActive"));
}

TEST_F(SessionScanEditTest, CancelEndsTheScan)
{
    runOnPhysicalLink("scanTag", { { "killSwitch", true } });
    ASSERT_TRUE(state().at("scanPurposeKillSwitch"));
    device.forgetReceived();
    pump(dispatch("cancelScan"));
    EXPECT_EQ(device.receivedTexts(), std::vector<std::string> { "tag:cancel" });
    EXPECT_FALSE(state().at("scanActive"));
    EXPECT_FALSE(state().at("scanPurposeKillSwitch"));

    expectCommandsOnBothLinks("cancelScan", Json::object(), {}, { "tag:cancel" });
}

TEST_F(SessionRoutineControlTest, TriggersKnownRoutinesAndStops)
{
    expectCommandsOnBothLinks("triggerRoutine", { { "id", 2 } }, {}, { "routine:trigger id=2" });
    expectCommandsOnBothLinks("stopRoutine", Json::object(), {}, { "routine:stop" });
    expectRefusal("triggerRoutine", { { "id", 9 } }, {}, "Routine not found");
}

TEST_F(SessionClockEditTest, SetsTheClockToThePresentInTheRequestedZone)
{
    // The fixture's wall time is 2025-06-15 15:06:40 UTC; a minute and a half pass before the user asks.
    clock.zone = "America/New_York";
    struct Case {
        const char* name;
        Json request;
        std::string command;
    };
    const std::vector<Case> cases {
        { "named zone", { { "timeZone", "Europe/Amsterdam" } },
            "clock:set year=2025 month=6 day=16 hour=17 minute=8 second=10" },
        { "a zone already past midnight", { { "timeZone", "Pacific/Kiritimati" } },
            "clock:set year=2025 month=6 day=17 hour=5 minute=8 second=10" },
        { "unknown zone: the system's", { { "timeZone", "Mars/Olympus" } },
            "clock:set year=2025 month=6 day=16 hour=11 minute=8 second=10" },
        { "no zone: the system's", Json::object(), "clock:set year=2025 month=6 day=16 hour=11 minute=8 second=10" },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        clock.wallTime = std::chrono::system_clock::time_point(std::chrono::seconds(1'750'000'000 + 86'400));
        loadOverSimulator(sampleDeviceData());
        ASSERT_TRUE(state().contains("clockNotice")) << "the device clock is a day behind";
        advance(std::chrono::seconds(90));
        const SessionResponse simulated = dispatch("clock", testCase.request);
        EXPECT_TRUE(simulated.ok()) << simulated.error();
        EXPECT_EQ(simulated.applicationWrites(), std::vector<std::string> { testCase.command });
        EXPECT_FALSE(state().contains("clockNotice"));

        loadOverPhysicalLink(sampleDeviceData());
        device.forgetReceived();
        pump(dispatch("clock", testCase.request));
        EXPECT_EQ(device.receivedTexts(), std::vector<std::string> { testCase.command }) << "physical link";
    }
}

} // namespace
} // namespace tavrik::test
