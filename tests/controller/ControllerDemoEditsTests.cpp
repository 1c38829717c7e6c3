#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/LocalLinkSimulator.hpp"

#include <QTemporaryDir>

#include <functional>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

struct DemoEdit {
    std::string name;
    std::function<void(TavrikBleCentral&)> edit;
    // What the session shows afterwards.
    std::function<bool(const TavrikBleCentral&)> shown;
};

std::vector<DemoEdit> demoEdits()
{
    return {
        { "create routine",
            [](TavrikBleCentral& c) { EXPECT_TRUE(c.createRoutine(RoutineDraft(std::nullopt, "Lunch", {}, {}, {}))); },
            [](const TavrikBleCentral& c) { return c.routineDetails().size() == 3; } },
        { "delete routine", [](TavrikBleCentral& c) { c.deleteRoutine(2); },
            [](const TavrikBleCentral& c) { return !c.routineDetails().contains(2); } },
        { "create schedule", [](TavrikBleCentral& c) { c.createSchedule(1); },
            [](const TavrikBleCentral& c) { return c.schedules().size() == 3; } },
        { "schedule hour", [](TavrikBleCentral& c) { c.setScheduleHour(1, 6); },
            [](const TavrikBleCentral& c) { return c.schedules()[0].hour == 6; } },
        { "schedule enabled", [](TavrikBleCentral& c) { c.setScheduleEnabled(2, true); },
            [](const TavrikBleCentral& c) { return c.schedules()[1].enabled; } },
        { "schedule days",
            [](TavrikBleCentral& c) {
                c.setScheduleDays(1, { 0, 6 });
            },
            [](const TavrikBleCentral& c) { return c.schedules()[0].days == 0b1000001; } },
        { "delete schedule", [](TavrikBleCentral& c) { c.deleteSchedule(2); },
            [](const TavrikBleCentral& c) { return c.schedules().size() == 1; } },
        { "create tag", [](TavrikBleCentral& c) { c.createTag("Door", "04 77"); },
            [](const TavrikBleCentral& c) { return c.tags().size() == 6; } },
        { "rename tag", [](TavrikBleCentral& c) { c.updateTag(2, "Tea"); },
            [](const TavrikBleCentral& c) { return c.tags()[1].name == "Tea"; } },
        { "tag UID", [](TavrikBleCentral& c) { c.updateTagUid(3, "04 99"); },
            [](const TavrikBleCentral& c) { return c.tags()[2].uid == "04 99"; } },
        { "mute", [](TavrikBleCentral& c) { c.setMuteNonAlarmSounds(true); },
            [](const TavrikBleCentral& c) { return c.muteNonAlarmSounds(); } },
        { "kill switch", [](TavrikBleCentral& c) { c.setKillSwitchUid("04 0a"); },
            [](const TavrikBleCentral& c) { return c.killSwitchUid() == "04 0A"; } },
        { "generic update", [](TavrikBleCentral& c) { c.update(AtomicCommandChannel::tag, 4, "name", "\"Wallet\""); },
            [](const TavrikBleCentral&) { return true; } },
    };
}

class ControllerDemoEditsTest : public ControllerTest {
protected:
    QTemporaryDir temporary;
    std::unique_ptr<LocalLinkSimulator> simulator;

    std::filesystem::path directory() const { return std::filesystem::path(temporary.path().toStdString()) / "link"; }

    // Waits long enough for every debounce, autosave and idle timer to have fired.
    void runOut()
    {
        for (int minute = 0; minute < 5; ++minute) {
            scheduler.advance(1min);
            settle();
        }
    }

    void expectEditsStayInTheSession(const std::function<void()>& enterDemo, const std::function<void()>& expectSilence)
    {
        for (const DemoEdit& test : demoEdits()) {
            SCOPED_TRACE(test.name);
            enterDemo();
            ASSERT_TRUE(controller->isReviewDemo());
            test.edit(*controller);
            EXPECT_TRUE(test.shown(*controller));
            EXPECT_EQ(controller->routineError(), std::nullopt);
            EXPECT_EQ(controller->tagError(), std::nullopt);
            EXPECT_EQ(controller->scheduleError(), std::nullopt);
            runOut();
            EXPECT_FALSE(controller->isConnected());
            EXPECT_FALSE(controller->virtualTavrikConnected());
            EXPECT_TRUE(controller->isReviewDemo());
            expectSilence();
        }
        // Each case's demo was left for a real load; none of them had an edit to report unsaved.
        enterDemo();
        for (const std::string& text : logTexts()) {
            EXPECT_FALSE(text.starts_with("Failed to save")) << text;
        }
    }
};

TEST_F(ControllerDemoEditsTest, NoDemoEditReachesBluetooth)
{
    addDevice();
    loadFromDevice();
    ASSERT_TRUE(controller->hasLoadedData());
    std::size_t received = 0;
    int scans = 0;
    int connects = 0;
    expectEditsStayInTheSession(
        [&] {
            controller->endReviewDemo();
            settle();
            ASSERT_TRUE(controller->isConnected());
            controller->beginReviewDemo();
            settle();
            received = device->receivedTexts().size();
            scans = central.scanCount;
            connects = central.connectCount;
        },
        [&] {
            EXPECT_EQ(device->receivedTexts().size(), received);
            EXPECT_EQ(central.scanCount, scans);
            EXPECT_EQ(central.connectCount, connects);
        });
    // The loads between the demos brought the device none of the edits either.
    EXPECT_TRUE(device->receivedCommands().empty());
}

TEST_F(ControllerDemoEditsTest, NoDemoEditReachesTheLocalLink)
{
    ASSERT_TRUE(temporary.isValid());
    simulator = std::make_unique<LocalLinkSimulator>(directory());
    simulator->advertise("S1", clock.now());
    controller = std::make_unique<TavrikBleCentral>(
        TavrikBleCentral::Environment { central, scheduler, clock, random, defaults, directory(), true, {} });
    settle();
    controller->beginSession(SyncMode::load);
    expectEditsStayInTheSession(
        [&] {
            controller->endReviewDemo();
            simulator->advertise("S1", clock.now());
            for (int turn = 0; turn < 3 && !controller->hasLoadedData(); ++turn) {
                simulator->pump();
                scheduler.advance(LocalLinkTransport::pollInterval);
                settle();
            }
            ASSERT_TRUE(controller->virtualTavrikConnected());
            ASSERT_TRUE(controller->hasLoadedData());
            controller->beginReviewDemo();
            settle();
            simulator->pump();
        },
        [&] {
            simulator->advertise("S1", clock.now());
            EXPECT_TRUE(simulator->pump().empty());
        });
}

} // namespace
} // namespace tavrik::test
