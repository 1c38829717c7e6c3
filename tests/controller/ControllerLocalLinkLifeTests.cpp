#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/LocalLinkSimulator.hpp"

#include <QTemporaryDir>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

TEST_F(ControllerTest, ASessionStartTheSimulatorNeverAnswersTimesOutLikeAStalledLoad)
{
    QTemporaryDir temporary;
    ASSERT_TRUE(temporary.isValid());
    const std::filesystem::path directory = temporary.path().toStdString();
    LocalLinkSimulator simulator(directory);
    simulator.answerSyncStart = false;
    simulator.advertise("S1", std::chrono::duration<double>(clock.now().time_since_epoch()).count());
    controller = std::make_unique<TavrikBleCentral>(
        TavrikBleCentral::Environment { central, scheduler, clock, random, defaults, directory, true, {} });
    controller->beginSession(SyncMode::load);
    settle();
    ASSERT_TRUE(controller->virtualTavrikConnected());
    ASSERT_EQ(simulator.pump().size(), 1U);

    scheduler.advance(14999ms);
    EXPECT_EQ(controller->syncStage(), SyncStage::connecting());
    scheduler.advance(1ms);
    EXPECT_EQ(controller->syncStage(),
        SyncStage::failed("Tavrik stopped sending data. Enable connection mode on Tavrik and try again."));
    EXPECT_EQ(controller->statusText(), "Sync incomplete");
    EXPECT_FALSE(controller->virtualTavrikConnected());
    // The simulator still advertises, but nothing reconnects without the user.
    scheduler.advance(5s);
    EXPECT_FALSE(controller->virtualTavrikConnected());
}

} // namespace
} // namespace tavrik::test
