#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/LocalLinkSimulator.hpp"

#include <QTemporaryDir>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

class ControllerLocalLinkTest : public ControllerTest {
protected:
    QTemporaryDir temporary;
    std::unique_ptr<LocalLinkSimulator> simulator;

    void SetUp() override
    {
        ASSERT_TRUE(temporary.isValid());
        simulator = std::make_unique<LocalLinkSimulator>(directory());
        simulator->data.tags = { TagInfo { 1, "04 11 22 33 44 55 66", "Start" }, TagInfo { 2, "04 21 22", "Coffee" } };
    }

    std::filesystem::path directory() const
    {
        return std::filesystem::path(temporary.path().toStdString()) / "Tavrik Simulator" / "Local Link";
    }

    TavrikBleCentral& makeLinkedController(bool poll = true)
    {
        controller = std::make_unique<TavrikBleCentral>(
            TavrikBleCentral::Environment { central, scheduler, clock, random, defaults, directory(), poll, {} });
        settle();
        return *controller;
    }

    double nowSeconds() const { return std::chrono::duration<double>(clock.now().time_since_epoch()).count(); }
    void advertise(const std::string& session = "S1") { simulator->advertise(session, nowSeconds()); }

    // One turn of the link: the simulator answers what it read, then the application polls.
    void exchange()
    {
        simulator->pump();
        scheduler.advance(LocalLinkTransport::pollInterval);
        settle();
    }

    void loadOverLink()
    {
        advertise();
        makeLinkedController();
        controller->beginSession(SyncMode::load);
        exchange();
        ASSERT_TRUE(controller->hasLoadedData());
        ASSERT_TRUE(controller->virtualTavrikConnected());
    }

    std::string logLine(const std::string& text) const
    {
        return LocalLinkSimulator::line(simulator->session(), controller->localLink().client(),
                   dumpJson(Json { { "type", "log_line" }, { "message", text } }))
            + "\n";
    }

    std::uint64_t inboundSize() const { return std::filesystem::file_size(simulator->outboundFile()); }
};

TEST_F(ControllerLocalLinkTest, AFreshSimulatorWaitsForASessionAndThenConnectsAtOnce)
{
    advertise();
    makeLinkedController();
    EXPECT_EQ(controller->localLink().session(), "S1");
    EXPECT_FALSE(controller->virtualTavrikConnected());
    EXPECT_TRUE(simulator->pump().empty());

    const int scansBefore = central.scanCount;
    controller->beginSession(SyncMode::load);
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_TRUE(controller->isConnected());
    EXPECT_EQ(central.scanCount, scansBefore);
    EXPECT_TRUE(logContains("Found Tavrik Simulator (local connection; Bluetooth security is not simulated)"));

    const auto lines = simulator->pump();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].session, "S1");
    EXPECT_EQ(lines[0].client, controller->localLink().client());
    EXPECT_EQ(lines[0].flags, 0);
    const Json start = parseJson(lines[0].text());
    EXPECT_EQ(start.at("type"), "sync_start");
    EXPECT_EQ(start.at("mode"), "load");
    EXPECT_EQ(start.at("code"), *probe().syncCode());
    EXPECT_FALSE(start.contains("delivery"));
    EXPECT_TRUE(logContains("[virtual:data] -> " + std::to_string(lines[0].payload.size()) + " bytes"));
}

TEST_F(ControllerLocalLinkTest, AWholeLoadAndAnEditRunThroughTheFiles)
{
    simulator->answerCommand = [this](const std::string& channel, const std::string& command) {
        std::vector<Json> answers;
        if (channel == "tag" && command == "update id=2 name=\"Tea\"") {
            answers.push_back({ { "type", "tags_state" },
                { "tags",
                    Json::array({ { { "id", 1 }, { "uid", "04 11 22 33 44 55 66" }, { "name", "Start" } },
                        { { "id", 2 }, { "uid", "04 21 22" }, { "name", "Tea" } } }) } });
        }
        return answers;
    };
    loadOverLink();
    EXPECT_EQ(controller->tags(), simulator->data.tags);
    EXPECT_EQ(controller->deviceFirmwareVersion(), "1.4.0");
    EXPECT_EQ(controller->syncStage(), SyncStage::idle());

    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 2 }, { "update id=2 name=\"Tea\"" }, true, "name");
    scheduler.advance(200ms);
    exchange();
    EXPECT_EQ(simulator->receivedCommands(), (std::vector<std::string> { "tag:update id=2 name=\"Tea\"" }));
    EXPECT_TRUE(logContains("[virtual:data] -> tag:update id=2 name=\"Tea\""));
    ASSERT_EQ(controller->tags().size(), 2U);
    EXPECT_EQ(controller->tags()[1].name, "Tea");
    // Written once: the next turn of the link has nothing left to write.
    exchange();
    EXPECT_EQ(simulator->receivedCommands().size(), 1U);

    // No idle disconnect on the local link.
    scheduler.advance(90s);
    EXPECT_EQ(controller->idleDisconnectSecondsRemaining(), std::nullopt);
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_EQ(simulator->receivedCommands().size(), 1U);
}

TEST_F(ControllerLocalLinkTest, ANewSimulatorSessionDropsTheLinkAndConnectsAnew)
{
    loadOverLink();
    const std::string firstClient = controller->localLink().client();
    simulator->pump();
    advertise("S2");
    scheduler.advance(200ms);
    settle();
    EXPECT_TRUE(logContains("Tavrik disconnected; starting load session"));
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_EQ(controller->localLink().session(), "S2");
    EXPECT_NE(controller->localLink().client(), firstClient);
    const auto lines = simulator->pump();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].session, "S2");
    EXPECT_EQ(parseJson(lines[0].text()).at("type"), "sync_start");
    // The old client's lines are read again and skipped; the new load completes.
    scheduler.advance(200ms);
    exchange();
    EXPECT_TRUE(controller->hasLoadedData());
}

TEST_F(ControllerLocalLinkTest, ALapsedAdvertisementEndsTheLink)
{
    loadOverLink();
    clock.advance(3s);
    scheduler.advance(200ms);
    EXPECT_FALSE(controller->virtualTavrikConnected());
    EXPECT_EQ(controller->localLink().session(), std::nullopt);
    EXPECT_FALSE(controller->hasLoadedData());
    EXPECT_EQ(probe().sessionMode(), SyncMode::load);
    EXPECT_EQ(controller->localLink().inboundOffset(), 0U);
    scheduler.advance(1s);
    EXPECT_FALSE(controller->virtualTavrikConnected());
}

TEST_F(ControllerLocalLinkTest, TheSimulatorsGoodbyeEndsTheLinkAndANewLoadStarts)
{
    loadOverLink();
    const std::string firstClient = controller->localLink().client();
    simulator->pump();
    simulator->send({ { "type", "simulator_disconnected" } });
    scheduler.advance(200ms);
    EXPECT_TRUE(logContains("Tavrik disconnected; starting load session"));
    EXPECT_FALSE(controller->hasLoadedData());
    // The simulator still advertises, so the new load finds it again, as a new client.
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_NE(controller->localLink().client(), firstClient);
    EXPECT_EQ(simulator->pump().size(), 1U);
}

// A message in the middle of a backlog that ends the link ends its delivery there: nothing after it
// reaches the next connection, whose own lines are read from the start of the file again.
TEST_F(ControllerLocalLinkTest, ABacklogEndsWhereTheLinkEnds)
{
    loadOverLink();
    const std::string firstClient = controller->localLink().client();
    std::string bytes;
    for (int index = 0; index < 600; ++index) {
        bytes += logLine("before goodbye");
    }
    simulator->appendRaw(bytes);
    simulator->send({ { "type", "simulator_disconnected" } }, firstClient);
    bytes.clear();
    for (int index = 0; index < 600; ++index) {
        bytes += logLine("after goodbye");
    }
    simulator->appendRaw(bytes);
    simulator->pump();
    simulator->removeAdvertisement();

    controller->localLink().pollInbound();
    settle();
    ASSERT_TRUE(logContains("Tavrik disconnected; starting load session"));
    EXPECT_FALSE(controller->virtualTavrikConnected());
    EXPECT_FALSE(logContains("after goodbye"));

    // The simulator is back: the new client reads the file from its start and loads.
    advertise();
    scheduler.advance(200ms);
    ASSERT_NE(controller->localLink().client(), firstClient);
    exchange();
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_FALSE(logContains("after goodbye"));
    EXPECT_EQ(controller->localLink().inboundOffset(), inboundSize());
}

TEST_F(ControllerLocalLinkTest, TheApplicationNeverCreatesTheDirectoryOrItsFiles)
{
    const std::filesystem::path missing = directory() / "not there";
    controller = std::make_unique<TavrikBleCentral>(
        TavrikBleCentral::Environment { central, scheduler, clock, random, defaults, missing, true, {} });
    controller->beginSession(SyncMode::load);
    scheduler.advance(1s);
    EXPECT_FALSE(controller->virtualTavrikConnected());
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(ControllerLocalLinkTest, PollingRunsEvery200MillisecondsOnlyWhenAskedAndNotInTheDemo)
{
    makeLinkedController(false);
    advertise();
    scheduler.advance(1s);
    EXPECT_EQ(controller->localLink().session(), std::nullopt);

    simulator->removeAdvertisement();
    makeLinkedController(true);
    advertise();
    scheduler.advance(199ms);
    EXPECT_EQ(controller->localLink().session(), std::nullopt);
    scheduler.advance(1ms);
    EXPECT_EQ(controller->localLink().session(), "S1");

    controller->beginReviewDemo();
    EXPECT_FALSE(controller->localLink().isPolling());
    advertise("S2");
    scheduler.advance(1s);
    EXPECT_EQ(controller->localLink().session(), "S1");

    controller->endReviewDemo();
    EXPECT_TRUE(controller->localLink().isPolling());
    // Ending the demo begins a load, which finds the simulator at once.
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_EQ(controller->localLink().session(), "S2");
}

TEST_F(ControllerLocalLinkTest, EjectAndQuitTellTheSimulatorOnItsFiles)
{
    loadOverLink();
    simulator->pump();
    controller->ejectTavrik();
    simulator->pump();
    EXPECT_EQ(simulator->receivedCommands(), (std::vector<std::string> { "system:eject" }));
    scheduler.advance(250ms);
    settle();
    // The reset keeps the advertised session, so the new load connects again at once.
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_EQ(probe().sessionMode(), SyncMode::load);
    exchange();
    ASSERT_TRUE(controller->hasLoadedData());

    bool done = false;
    controller->prepareForAppTermination([&] { done = true; });
    simulator->pump();
    EXPECT_EQ(simulator->receivedCommands(), (std::vector<std::string> { "system:eject", "system:disconnect" }));
    EXPECT_FALSE(done);
    scheduler.advance(300ms);
    EXPECT_TRUE(done);
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_TRUE(controller->hasLoadedData());
}

} // namespace
} // namespace tavrik::test
