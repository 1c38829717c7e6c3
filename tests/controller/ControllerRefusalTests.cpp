#include "tests/backup/BackupTestSupport.hpp"
#include "tests/controller/ControllerTestSupport.hpp"

#include <functional>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// A loaded device (a routine, two tags, a one-time schedule and both settings) that refuses every
// command on one channel with an "error" answer.
class ControllerRefusalTest : public ControllerTest {
protected:
    SyncDataEnvelope stored;

    void SetUp() override
    {
        addDevice();
        device->data = BackupMigrationPipeline::migrate(backupFixture("v9.json")).envelope;
        stored = device->data;
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    void refuse(const std::string& refusedChannel, const std::string& message)
    {
        device->answerCommand = [refusedChannel, message](const std::string& channel, const std::string&) {
            return channel == refusedChannel ? std::vector<Json> { { { "type", "error" }, { "message", message } } }
                                             : std::vector<Json> {};
        };
    }

    // Lets every debounced edit go out and the device answer.
    void flush()
    {
        scheduler.advance(200ms);
        settle();
    }

    std::size_t loadRequests() const
    {
        std::size_t count = 0;
        for (const Json& message : device->receivedJson()) {
            count += message.value("type", "") == "sync_start" && message.value("mode", "") == "load";
        }
        return count;
    }
};

TEST_F(ControllerRefusalTest, ARefusedChangeKeepsItsErrorAndTheDevicesValuesComeBack)
{
    struct Case {
        std::string name;
        std::string channel;
        std::function<void(TavrikBleCentral&)> edit;
        // The refusal where the edit was made.
        std::function<std::optional<std::string>(const TavrikBleCentral&)> error;
        std::string shown;
    };
    const std::vector<Case> cases {
        { "schedule", "schedule", [](TavrikBleCentral& c) { c.setScheduleEnabled(1, true); },
            [](const TavrikBleCentral& c) { return c.scheduleError(); }, "Schedule slots are full" },
        { "tag", "tag", [](TavrikBleCentral& c) { c.updateTag(1, "Front hall"); },
            [](const TavrikBleCentral& c) { return c.tagError(); }, "Tag store is locked" },
        { "routine", "routine",
            [](TavrikBleCentral& c) {
                RoutineDraft draft(c.routineDetails().at(5));
                draft.label = "Tidy up";
                ASSERT_TRUE(c.updateRoutine(5, draft));
            },
            [](const TavrikBleCentral& c) { return c.routineError(); }, "Routine is running" },
        // The device's own text is not shown for settings: the pane has one text for every refusal.
        { "settings", "settings", [](TavrikBleCentral& c) { c.setMuteNonAlarmSounds(false); },
            [](const TavrikBleCentral& c) { return c.settingsError(); }, "Settings update failed" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        loadFromDevice();
        const std::size_t loads = loadRequests();
        refuse(test.channel, test.name == "settings" ? "Busy" : test.shown);
        test.edit(*controller);
        flush();

        EXPECT_EQ(test.error(*controller), test.shown);
        // Loaded again over the open connection, without a new code, and the window shows it.
        EXPECT_EQ(loadRequests(), loads + 1);
        EXPECT_EQ(device->lastSyncStart()->code, "");
        EXPECT_EQ(controller->syncMode(), std::nullopt);
        EXPECT_EQ(controller->syncStage(), SyncStage::idle());
        EXPECT_TRUE(controller->isConnected());
        EXPECT_EQ(controller->schedules(), stored.schedules);
        EXPECT_EQ(controller->tags(), stored.tags);
        EXPECT_EQ(controller->routineDetails().at(5).label, "Tidy");
        EXPECT_EQ(controller->routineSummaries().front().label, "Tidy");
        EXPECT_TRUE(controller->muteNonAlarmSounds());
        EXPECT_TRUE(logContains("Loading Tavrik data again after a refused change"));
    }
    // The settings refusal was also the status line and a log line.
    EXPECT_TRUE(logContains("Settings update failed"));
    // A later settings change clears the settings error.
    device->answerCommand = nullptr;
    controller->setMuteNonAlarmSounds(false);
    EXPECT_EQ(controller->settingsError(), std::nullopt);
}

TEST_F(ControllerRefusalTest, ARefusedNewRoutineGoesAwayAndItsRefusalStays)
{
    // The device refuses the routine and so each of its steps too.
    device->answerCommand = [](const std::string& channel, const std::string&) {
        return channel == "routine" || channel == "steps"
            ? std::vector<Json> { { { "type", "error" }, { "message", "Routine store is full" } } }
            : std::vector<Json> {};
    };
    const std::size_t loads = loadRequests();
    RoutineStepDraft step;
    step.stepId = 1;
    step.tagId = "1";
    step.seconds = 30;
    const std::optional<std::uint32_t> id
        = controller->createRoutine(RoutineDraft(std::nullopt, "Stretch", {}, { step, step }, {}));
    ASSERT_TRUE(id);
    flush();

    EXPECT_EQ(controller->routineError(), "Routine store is full");
    EXPECT_EQ(controller->routineSummaries().size(), 1u);
    EXPECT_FALSE(controller->routineDetails().contains(*id));
    EXPECT_TRUE(probe().pendingRoutineDetailSignatures().empty());
    // Nothing waits: no session, and no command connection holds the link from the idle minute.
    EXPECT_EQ(probe().sessionMode(), std::nullopt);
    EXPECT_EQ(controller->syncStage(), SyncStage::idle());
    EXPECT_TRUE(controller->hasLoadedData());
    // Loaded once again, not once per refused command.
    EXPECT_EQ(loadRequests(), loads + 1);
    // With the reload's clock notice closed, the idle minute ends the link.
    controller->dismissTimeSyncNotice();
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerRefusalTest, TheReloadWaitsUntilEveryOtherEditHasGone)
{
    refuse("schedule", "Schedule slots are full");
    controller->setScheduleEnabled(1, true);
    scheduler.advance(150ms);
    controller->updateTag(2, "Basin");
    scheduler.advance(50ms);
    settle();
    // The schedule edit went and was refused; the rename still waits out its debounce.
    ASSERT_EQ(controller->scheduleError(), "Schedule slots are full");
    EXPECT_EQ(controller->syncMode(), std::nullopt);
    const std::size_t loads = loadRequests();

    flush();
    const std::vector<std::string> texts = device->receivedTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "tag:update id=2 name=\"Basin\"");
    EXPECT_TRUE(texts.back().find("\"sync_start\"") != std::string::npos) << texts.back();
    EXPECT_EQ(loadRequests(), loads + 1);
}

TEST_F(ControllerRefusalTest, ADeviceThatDoesNotAnswerTheReloadFreesTheWindow)
{
    refuse("schedule", "Schedule slots are full");
    device->answerSyncStart = false;
    controller->setScheduleEnabled(1, true);
    flush();
    ASSERT_EQ(controller->syncMode(), SyncMode::load);

    scheduler.advance(TavrikBleCentral::loadTimeout);
    settle();
    EXPECT_EQ(controller->syncMode(), std::nullopt);
    EXPECT_EQ(controller->syncStage(), SyncStage::idle());
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(controller->scheduleError(), "Schedule slots are full");
    EXPECT_TRUE(logContains("Tavrik did not send its data again"));
}

TEST_F(ControllerRefusalTest, AnErrorAnsweringAScanOrARoutineStartLoadsNothing)
{
    const std::size_t loads = loadRequests();
    controller->updateTag(1, "Front hall");
    flush();
    controller->beginTagScan(TagScanPurpose::generic);
    device->send({ { "type", "error" }, { "message", "Reader busy" } });
    settle();
    EXPECT_EQ(controller->tagScanState(), TagScanState::failed("Reader busy"));
    controller->endTagScanSession();

    RoutineDraft draft(controller->routineDetails().at(5));
    draft.label = "Tidy up";
    ASSERT_TRUE(controller->updateRoutine(5, draft));
    flush();
    controller->triggerRoutine(5);
    settle();
    device->send({ { "type", "error" }, { "message", "Routine has no steps" } });
    settle();
    EXPECT_EQ(controller->routineError(), "Routine has no steps");
    EXPECT_EQ(loadRequests(), loads);
    EXPECT_EQ(controller->tags().front().name, "Front hall");
}

} // namespace
} // namespace tavrik::test
