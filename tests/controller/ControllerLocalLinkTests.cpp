#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/LocalLinkSimulator.hpp"

#include "TavrikCore/Support/Base64.hpp"

#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

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
        scheduler.advance(TavrikBleCentral::localLinkPollInterval);
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
        return LocalLinkSimulator::line(simulator->session(), controller->virtualTavrikClient(),
                   dumpJson(Json { { "type", "log_line" }, { "message", text } }))
            + "\n";
    }

    std::uint64_t inboundSize() const { return std::filesystem::file_size(simulator->outboundFile()); }

    // What a hostile or broken simulator folder may hold in place of a plain file.
    enum class Impostor { pipe, deviceLink, outsideLink };
    struct ImpostorCase {
        const char* what;
        Impostor kind;
    };
    static constexpr ImpostorCase impostors[] = {
        { "a named pipe", Impostor::pipe },
        { "a link to /dev/zero", Impostor::deviceLink },
        { "a link to a file outside", Impostor::outsideLink },
    };

    std::filesystem::path outsideFile() const
    {
        return std::filesystem::path(temporary.path().toStdString()) / "outside.txt";
    }

    // Puts the impostor where `file` was; a link to outside leads to a file holding `outsideText`.
    void replaceWithImpostor(const std::filesystem::path& file, Impostor kind, const std::string& outsideText = "")
    {
        std::filesystem::remove(file);
        switch (kind) {
        case Impostor::pipe:
            ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
            break;
        case Impostor::deviceLink:
            std::filesystem::create_symlink("/dev/zero", file);
            break;
        case Impostor::outsideLink:
            std::ofstream(outsideFile(), std::ios::binary | std::ios::trunc) << outsideText;
            std::filesystem::create_symlink(outsideFile(), file);
            break;
        }
    }

    long logCount(const std::string& text) const
    {
        const auto texts = logTexts();
        return std::count(texts.begin(), texts.end(), text);
    }
};

TEST(LocalLinkDirectoryTest, TheDefaultLiesBelowTheUsersDataDirectory)
{
    const std::filesystem::path base
        = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString();
    EXPECT_EQ(TavrikBleCentral::defaultLocalLinkDirectory(), base / "Tavrik Simulator" / "Local Link");
}

TEST_F(ControllerLocalLinkTest, AnAdvertisementIsFreshOnlyWhenEnabledAndRecent)
{
    makeLinkedController(false);
    const double now = nowSeconds();
    const auto json = [](const Json& value) { return dumpJson(value); };
    const struct {
        std::string what;
        std::optional<std::string> text; // none: no file
        bool fresh;
    } cases[] = {
        { "2.9 s old", json({ { "enabled", true }, { "session", "S" }, { "updatedAt", now - 2.9 } }), true },
        { "3 s old", json({ { "enabled", true }, { "session", "S" }, { "updatedAt", now - 3.0 } }), false },
        { "2 s ahead", json({ { "enabled", true }, { "session", "S" }, { "updatedAt", now + 2.0 } }), true },
        { "2.5 s ahead", json({ { "enabled", true }, { "session", "S" }, { "updatedAt", now + 2.5 } }), false },
        { "whole seconds", json({ { "enabled", true }, { "session", "S" }, { "updatedAt", 1'750'000'000 } }), true },
        { "disabled", json({ { "enabled", false }, { "session", "S" }, { "updatedAt", now } }), false },
        { "enabled as text", json({ { "enabled", "true" }, { "session", "S" }, { "updatedAt", now } }), false },
        { "no time", json({ { "enabled", true }, { "session", "S" } }), false },
        { "time as text", json({ { "enabled", true }, { "session", "S" }, { "updatedAt", std::to_string(now) } }), false },
        { "session a number", json({ { "enabled", true }, { "session", 5 }, { "updatedAt", now } }), false },
        { "not an object", "[true]", false },
        { "not JSON", "{\"enabled\": tru", false },
        { "no file", std::nullopt, false },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        if (entry.text) {
            simulator->writeAdvertisementText(*entry.text);
        } else {
            simulator->removeAdvertisement();
        }
        controller->pollVirtualTavrikAdvertisingFile();
        EXPECT_EQ(controller->virtualTavrikSession(), entry.fresh ? std::optional<std::string>("S") : std::nullopt);
        EXPECT_FALSE(controller->virtualTavrikConnected());
    }
}

TEST_F(ControllerLocalLinkTest, AFreshSimulatorWaitsForASessionAndThenConnectsAtOnce)
{
    advertise();
    makeLinkedController();
    EXPECT_EQ(controller->virtualTavrikSession(), "S1");
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
    EXPECT_EQ(lines[0].client, controller->virtualTavrikClient());
    EXPECT_EQ(lines[0].flags, 0);
    const Json start = parseJson(lines[0].text());
    EXPECT_EQ(start.at("type"), "sync_start");
    EXPECT_EQ(start.at("mode"), "load");
    EXPECT_EQ(start.at("code"), *controller->syncCode());
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

    controller->persist(AtomicCommandChannel::tag, std::uint32_t { 2 }, { "update id=2 name=\"Tea\"" }, true, "name");
    scheduler.advance(200ms);
    exchange();
    EXPECT_EQ(simulator->receivedCommands(), (std::vector<std::string> { "tag:update id=2 name=\"Tea\"" }));
    EXPECT_TRUE(logContains("[virtual:data] -> tag:update id=2 name=\"Tea\""));
    ASSERT_EQ(controller->tags().size(), 2U);
    EXPECT_EQ(controller->tags()[1].name, "Tea");
    EXPECT_TRUE(controller->atomicCommandQueue().empty());

    // No idle disconnect on the local link.
    scheduler.advance(90s);
    EXPECT_EQ(controller->idleDisconnectSecondsRemaining(), std::nullopt);
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_EQ(simulator->receivedCommands().size(), 1U);
}

TEST_F(ControllerLocalLinkTest, ALineIsReadOnlyOnceItsLineFeedArrives)
{
    loadOverLink();
    const std::uint64_t offset = controller->virtualTavrikInboundOffset();
    EXPECT_EQ(offset, inboundSize());

    const std::string first = logLine("first");
    simulator->appendRaw(first.substr(0, 20));
    scheduler.advance(200ms);
    EXPECT_EQ(controller->virtualTavrikInboundOffset(), offset);
    EXPECT_FALSE(logContains("first"));

    simulator->appendRaw(first.substr(20) + logLine("second"));
    scheduler.advance(200ms);
    const auto texts = logTexts();
    ASSERT_GE(texts.size(), 2U);
    EXPECT_EQ(texts[texts.size() - 2], "first");
    EXPECT_EQ(texts.back(), "second");
    EXPECT_EQ(controller->virtualTavrikInboundOffset(), inboundSize());
}

TEST_F(ControllerLocalLinkTest, LinesForSomeoneElseOrMalformedAreConsumedAndSkipped)
{
    loadOverLink();
    const std::string client = controller->virtualTavrikClient();
    const std::string message = dumpJson(Json { { "type", "log_line" }, { "message", "skipped" } });
    const std::string encoded = base64Encoded(message);
    const std::vector<std::string> skipped {
        "not json",
        "[1, 2]",
        LocalLinkSimulator::line("S0", client, message),
        LocalLinkSimulator::line("S1", "another client", message),
        LocalLinkSimulator::line(std::nullopt, client, message),
        LocalLinkSimulator::line("S1", std::nullopt, message),
        dumpJson(Json { { "session", "S1" }, { "client", client } }),
        dumpJson(Json { { "session", "S1" }, { "client", client }, { "payload", "not base64!" } }),
        dumpJson(Json { { "session", "S1" }, { "client", client }, { "payload", 12 } }),
        dumpJson(Json { { "session", 1 }, { "client", client }, { "payload", encoded } }),
    };
    std::string bytes;
    for (const std::string& line : skipped) {
        bytes += line + "\n";
    }
    simulator->appendRaw(bytes + logLine("delivered"));
    scheduler.advance(200ms);
    EXPECT_FALSE(logContains("skipped"));
    EXPECT_EQ(logTexts().back(), "delivered");
    EXPECT_EQ(controller->virtualTavrikInboundOffset(), inboundSize());
}

TEST_F(ControllerLocalLinkTest, ANewSimulatorSessionDropsTheLinkAndConnectsAnew)
{
    loadOverLink();
    const std::string firstClient = controller->virtualTavrikClient();
    simulator->pump();
    advertise("S2");
    scheduler.advance(200ms);
    settle();
    EXPECT_TRUE(logContains("Tavrik disconnected; starting load session"));
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_EQ(controller->virtualTavrikSession(), "S2");
    EXPECT_NE(controller->virtualTavrikClient(), firstClient);
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
    EXPECT_EQ(controller->virtualTavrikSession(), std::nullopt);
    EXPECT_FALSE(controller->hasLoadedData());
    EXPECT_EQ(controller->sessionMode(), SyncMode::load);
    EXPECT_EQ(controller->virtualTavrikInboundOffset(), 0U);
    scheduler.advance(1s);
    EXPECT_FALSE(controller->virtualTavrikConnected());
}

TEST_F(ControllerLocalLinkTest, TheSimulatorsGoodbyeEndsTheLinkAndANewLoadStarts)
{
    loadOverLink();
    const std::string firstClient = controller->virtualTavrikClient();
    simulator->pump();
    simulator->send({ { "type", "simulator_disconnected" } });
    scheduler.advance(200ms);
    EXPECT_TRUE(logContains("Tavrik disconnected; starting load session"));
    EXPECT_FALSE(controller->hasLoadedData());
    // The simulator still advertises, so the new load finds it again, as a new client.
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_NE(controller->virtualTavrikClient(), firstClient);
    EXPECT_EQ(simulator->pump().size(), 1U);
}

TEST_F(ControllerLocalLinkTest, MessageIdsRunFrom50000To65535AndRoundAgain)
{
    loadOverLink();
    const int delivered = controller->nextVirtualMessageId() - 50000;
    std::string bytes;
    for (int index = delivered; index < 15535; ++index) {
        bytes += logLine("message");
    }
    simulator->appendRaw(bytes);
    scheduler.advance(200ms);
    EXPECT_EQ(controller->nextVirtualMessageId(), 65535);
    simulator->appendRaw(logLine("one more"));
    scheduler.advance(200ms);
    EXPECT_EQ(controller->nextVirtualMessageId(), 50000);
}

// The folder is the simulator's, and anything may stand there: the application reads and writes only
// plain files, so a pipe never blocks the window, a device is never read, and no link leads its
// messages to a file elsewhere.
TEST_F(ControllerLocalLinkTest, AnAdvertisementIsReadOnlyFromAPlainFile)
{
    makeLinkedController(false);
    const std::string fresh = dumpJson(Json { { "enabled", true }, { "session", "S" }, { "updatedAt", nowSeconds() } });
    const std::string note = "Local link: advertising.json is not a regular file; it is ignored";
    for (const auto& impostor : impostors) {
        SCOPED_TRACE(impostor.what);
        replaceWithImpostor(simulator->advertisingFile(), impostor.kind, fresh);
        const long notesBefore = logCount(note);
        controller->pollVirtualTavrikAdvertisingFile();
        controller->pollVirtualTavrikAdvertisingFile();
        EXPECT_EQ(controller->virtualTavrikSession(), std::nullopt);
        // Said once, not at every poll.
        EXPECT_EQ(logCount(note), notesBefore + 1);
        simulator->removeAdvertisement();
        controller->pollVirtualTavrikAdvertisingFile();
    }
    simulator->writeAdvertisementText(fresh);
    controller->pollVirtualTavrikAdvertisingFile();
    EXPECT_EQ(controller->virtualTavrikSession(), "S");
}

TEST_F(ControllerLocalLinkTest, IncomingMessagesAreReadOnlyFromAPlainFile)
{
    loadOverLink();
    const std::uint64_t offset = controller->virtualTavrikInboundOffset();
    const std::string note = "Local link: to-link.jsonl is not a regular file; it is ignored";
    for (const auto& impostor : impostors) {
        SCOPED_TRACE(impostor.what);
        replaceWithImpostor(simulator->outboundFile(), impostor.kind, std::string(offset, '\n') + logLine("outside"));
        const long notesBefore = logCount(note);
        scheduler.advance(400ms);
        EXPECT_FALSE(logContains("outside"));
        EXPECT_EQ(logCount(note), notesBefore + 1);
        EXPECT_TRUE(controller->virtualTavrikConnected());
        EXPECT_EQ(controller->virtualTavrikInboundOffset(), offset);
        std::filesystem::remove(simulator->outboundFile());
        scheduler.advance(200ms);
    }
    simulator->appendRaw(std::string(offset, '\n') + logLine("inside"));
    scheduler.advance(200ms);
    EXPECT_TRUE(logContains("inside"));
}

TEST_F(ControllerLocalLinkTest, OutgoingMessagesAreAppendedOnlyToAPlainFile)
{
    loadOverLink();
    replaceWithImpostor(simulator->inboundFile(), Impostor::outsideLink, "someone else's file\n");
    EXPECT_FALSE(controller->sendVirtualTavrikCommand("tag", "scan"));
    EXPECT_EQ(logTexts().back(), "Simulator send failed: to-device.jsonl is not a regular file");
    std::ifstream outside(outsideFile());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(outside), {}), "someone else's file\n");

    // A pipe, with something reading it and with nothing at the other end.
    replaceWithImpostor(simulator->inboundFile(), Impostor::pipe);
    const int reader = ::open(simulator->inboundFile().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(controller->sendVirtualTavrikCommand("tag", "scan"));
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);
    EXPECT_FALSE(controller->sendVirtualTavrikCommand("tag", "scan"));
    EXPECT_EQ(logTexts().back(), "Simulator send failed: to-device.jsonl is not a regular file");
}

// A backlog from the simulator must not hold the window: each turn of the event loop handles a
// bounded slice of it, and the rest follows at the next turns, in file order.
TEST_F(ControllerLocalLinkTest, ABacklogIsHandledASliceAtATurnInOrder)
{
    loadOverLink();
    constexpr int backlog = 1000;
    std::string bytes;
    for (int index = 0; index < backlog; ++index) {
        bytes += logLine("message " + std::to_string(index));
    }
    simulator->appendRaw(bytes);
    const int firstId = controller->nextVirtualMessageId();
    const auto delivered = [&] { return controller->nextVirtualMessageId() - firstId; };

    controller->pollVirtualTavrikInboundFile();
    std::vector<int> afterEachTurn { delivered() };
    // Queued now, this runs after the link's next slice; queued again, after the one after that.
    std::function<void()> endOfTurn = [&] {
        afterEachTurn.push_back(delivered());
        if (delivered() < backlog && afterEachTurn.size() < backlog) {
            scheduler.schedule(0ms, endOfTurn);
        }
    };
    scheduler.schedule(0ms, endOfTurn);
    settle();

    ASSERT_EQ(afterEachTurn.back(), backlog);
    EXPECT_GT(afterEachTurn.size(), 2U);
    for (std::size_t turn = 0; turn < afterEachTurn.size(); ++turn) {
        const int previous = turn == 0 ? 0 : afterEachTurn[turn - 1];
        EXPECT_GE(afterEachTurn[turn] - previous, 1) << "turn " << turn;
        EXPECT_LE(afterEachTurn[turn] - previous, static_cast<int>(TavrikBleCentral::localLinkSlice.steps))
            << "turn " << turn;
    }
    const auto texts = logTexts();
    for (int index = 0; index < 100; ++index) {
        EXPECT_EQ(texts[texts.size() - 100 + static_cast<std::size_t>(index)],
            "message " + std::to_string(backlog - 100 + index));
    }
    EXPECT_EQ(controller->virtualTavrikInboundOffset(), inboundSize());
}

// A message in the middle of a backlog that ends the link ends its delivery there: nothing after it
// reaches the next connection, whose own lines are read from the start of the file again.
TEST_F(ControllerLocalLinkTest, ABacklogEndsWhereTheLinkEnds)
{
    loadOverLink();
    const std::string firstClient = controller->virtualTavrikClient();
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

    controller->pollVirtualTavrikInboundFile();
    settle();
    ASSERT_TRUE(logContains("Tavrik disconnected; starting load session"));
    EXPECT_FALSE(controller->virtualTavrikConnected());
    EXPECT_FALSE(logContains("after goodbye"));

    // The simulator is back: the new client reads the file from its start and loads.
    advertise();
    scheduler.advance(200ms);
    ASSERT_NE(controller->virtualTavrikClient(), firstClient);
    exchange();
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_FALSE(logContains("after goodbye"));
    EXPECT_EQ(controller->virtualTavrikInboundOffset(), inboundSize());
}

TEST_F(ControllerLocalLinkTest, SendingWithoutTheOutgoingFileFailsAndSaysWhy)
{
    loadOverLink();
    std::filesystem::remove(simulator->inboundFile());
    EXPECT_FALSE(controller->sendVirtualTavrikCommand("tag", "scan"));
    const std::string last = logTexts().back();
    EXPECT_TRUE(last.starts_with("Simulator send failed: ")) << last;
    EXPECT_GT(last.size(), std::string("Simulator send failed: ").size());
    EXPECT_FALSE(std::filesystem::exists(simulator->inboundFile()));
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

TEST_F(ControllerLocalLinkTest, BothMessageFilesStopAtSixteenMebibytes)
{
    loadOverLink();
    simulator->pump();
    std::filesystem::resize_file(simulator->inboundFile(), 0);
    ASSERT_TRUE(controller->sendVirtualTavrikCommand("tag", "cancel"));
    const std::uint64_t lineLength = std::filesystem::file_size(simulator->inboundFile());

    std::filesystem::resize_file(simulator->inboundFile(), TavrikBleCentral::localLinkFileSizeLimit - lineLength + 1);
    const std::size_t logSize = controller->logItems().size();
    EXPECT_FALSE(controller->sendVirtualTavrikCommand("tag", "cancel"));
    EXPECT_EQ(controller->logItems().size(), logSize + 1); // only the command line itself
    std::filesystem::resize_file(simulator->inboundFile(), TavrikBleCentral::localLinkFileSizeLimit - lineLength);
    EXPECT_TRUE(controller->sendVirtualTavrikCommand("tag", "cancel"));
    EXPECT_EQ(std::filesystem::file_size(simulator->inboundFile()), TavrikBleCentral::localLinkFileSizeLimit);

    // Incoming: a file over the limit is not read at all.
    simulator->appendRaw(logLine("over the limit"));
    const std::uint64_t offset = controller->virtualTavrikInboundOffset();
    std::filesystem::resize_file(simulator->outboundFile(), TavrikBleCentral::localLinkFileSizeLimit + 1);
    scheduler.advance(200ms);
    EXPECT_FALSE(logContains("over the limit"));
    EXPECT_EQ(controller->virtualTavrikInboundOffset(), offset);
    std::filesystem::resize_file(simulator->outboundFile(), TavrikBleCentral::localLinkFileSizeLimit);
    scheduler.advance(200ms);
    EXPECT_TRUE(logContains("over the limit"));
}

TEST_F(ControllerLocalLinkTest, AnIncomingFileShorterThanTheReadPositionIsLeftAlone)
{
    loadOverLink();
    std::filesystem::resize_file(simulator->outboundFile(), 0);
    simulator->appendRaw(logLine("after truncation"));
    ASSERT_LT(inboundSize(), controller->virtualTavrikInboundOffset());
    scheduler.advance(1s);
    EXPECT_FALSE(logContains("after truncation"));
}

TEST_F(ControllerLocalLinkTest, PollingRunsEvery200MillisecondsOnlyWhenAskedAndNotInTheDemo)
{
    makeLinkedController(false);
    advertise();
    scheduler.advance(1s);
    EXPECT_EQ(controller->virtualTavrikSession(), std::nullopt);

    simulator->removeAdvertisement();
    makeLinkedController(true);
    advertise();
    scheduler.advance(199ms);
    EXPECT_EQ(controller->virtualTavrikSession(), std::nullopt);
    scheduler.advance(1ms);
    EXPECT_EQ(controller->virtualTavrikSession(), "S1");

    controller->beginReviewDemo();
    EXPECT_FALSE(controller->isPollingLocalLink());
    advertise("S2");
    scheduler.advance(1s);
    EXPECT_EQ(controller->virtualTavrikSession(), "S1");

    controller->endReviewDemo();
    EXPECT_TRUE(controller->isPollingLocalLink());
    // Ending the demo begins a load, which finds the simulator at once.
    EXPECT_TRUE(controller->virtualTavrikConnected());
    EXPECT_EQ(controller->virtualTavrikSession(), "S2");
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
    EXPECT_EQ(controller->sessionMode(), SyncMode::load);
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
