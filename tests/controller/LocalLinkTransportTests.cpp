#include "TavrikLink/Link/LocalLinkTransport.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/qt/LocalLinkSimulator.hpp"

#include "TavrikCore/Support/Base64.hpp"

#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// Virtual time in which every look at the clock finds a millisecond more: each step of sliced work
// then counts as a millisecond, so a turn holds only a few steps and a long work shows its turns.
class SteppingScheduler final : public Scheduler {
public:
    explicit SteppingScheduler(ManualScheduler& time)
        : time(time)
    {
    }

    Handle schedule(std::chrono::milliseconds delay, std::function<void()> fn) override
    {
        return time.schedule(delay, std::move(fn));
    }
    void cancel(Handle handle) override { time.cancel(handle); }
    bool fireNow(Handle handle) override { return time.fireNow(handle); }
    std::chrono::milliseconds now() const override { return time.now() + std::chrono::milliseconds(++looks); }

private:
    ManualScheduler& time;
    mutable std::int64_t looks = 0;
};

// The transport alone against real files in a temporary folder, with the simulator's side written
// by the test support's simulator.
class LocalLinkTransportTest : public ::testing::Test {
protected:
    QTemporaryDir temporary;
    ManualScheduler scheduler;
    ManualClock clock;
    SequenceRandomSource random;
    std::unique_ptr<LocalLinkSimulator> simulator;
    std::vector<std::string> logged;
    std::vector<std::pair<std::uint16_t, std::string>> delivered;
    int offers = 0;
    int losses = 0;
    int attachedChanges = 0;
    std::function<void(const std::string&)> onDelivered;
    std::unique_ptr<LocalLinkTransport> transport;

    void SetUp() override
    {
        ASSERT_TRUE(temporary.isValid());
        simulator = std::make_unique<LocalLinkSimulator>(directory());
        transport = makeTransport(directory());
    }

    std::unique_ptr<LocalLinkTransport> makeTransport(const std::filesystem::path& folder)
    {
        return makeTransport(folder, scheduler);
    }

    std::unique_ptr<LocalLinkTransport> makeTransport(const std::filesystem::path& folder, Scheduler& time)
    {
        return std::make_unique<LocalLinkTransport>(folder, time, clock, random,
            LocalLinkTransport::Callbacks {
                [this](const std::string& line) { logged.push_back(line); },
                [this](std::uint16_t id, const Data& payload) {
                    delivered.emplace_back(id, std::string(payload.begin(), payload.end()));
                    if (onDelivered) {
                        onDelivered(delivered.back().second);
                    }
                },
                [this] { ++offers; },
                [this] { ++losses; },
                [this] { ++attachedChanges; },
            });
    }

    std::filesystem::path directory() const
    {
        return std::filesystem::path(temporary.path().toStdString()) / "Local Link";
    }

    double nowSeconds() const { return std::chrono::duration<double>(clock.now().time_since_epoch()).count(); }
    void advertise(const std::string& session = "S1") { simulator->advertise(session, nowSeconds()); }

    void connect(const std::string& session = "S1")
    {
        advertise(session);
        transport->pollAdvertisement();
        ASSERT_EQ(transport->session(), session);
        transport->connect();
        ASSERT_TRUE(transport->attached());
    }

    // One line for this transport's connection carrying `text`.
    std::string lineFor(const std::string& text) const
    {
        return LocalLinkSimulator::line(simulator->session(), transport->client(), text) + "\n";
    }

    void deliverNow()
    {
        transport->pollInbound();
        scheduler.runDue();
    }

    std::vector<std::string> deliveredTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& [id, text] : delivered) {
            texts.push_back(text);
        }
        return texts;
    }

    std::uint64_t incomingSize() const { return std::filesystem::file_size(simulator->outboundFile()); }

    long logCount(const std::string& text) const { return std::count(logged.begin(), logged.end(), text); }

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
};

TEST(LocalLinkDirectoryTest, TheDefaultLiesBelowTheUsersDataDirectory)
{
    const std::filesystem::path base
        = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString();
    EXPECT_EQ(LocalLinkTransport::defaultDirectory(), base / "Tavrik Simulator" / "Local Link");
}

TEST_F(LocalLinkTransportTest, AnAdvertisementIsFreshOnlyWhenEnabledAndRecent)
{
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
        const int offersBefore = offers;
        transport->pollAdvertisement();
        EXPECT_EQ(transport->session(), entry.fresh ? std::optional<std::string>("S") : std::nullopt);
        EXPECT_EQ(offers, offersBefore + (entry.fresh ? 1 : 0));
        EXPECT_FALSE(transport->attached());
    }
}

TEST_F(LocalLinkTransportTest, AConnectionIsANewClientThatLastsWhileItsSessionIsAdvertised)
{
    const std::string before = transport->client();
    connect("S1");
    EXPECT_NE(transport->client(), before);
    EXPECT_TRUE(Uuid::parse(transport->client()));
    EXPECT_EQ(attachedChanges, 1);

    // While connected, the same advertisement offers nothing new.
    const int offersBefore = offers;
    transport->pollAdvertisement();
    EXPECT_EQ(offers, offersBefore);
    EXPECT_EQ(losses, 0);

    const struct {
        const char* what;
        std::function<void()> change;
    } endings[] = {
        { "a new session", [&] { advertise("S2"); } },
        { "a lapsed advertisement", [&] { clock.advance(3s); } },
        { "no advertisement", [&] { simulator->removeAdvertisement(); } },
    };
    for (const auto& ending : endings) {
        SCOPED_TRACE(ending.what);
        connect("S1");
        simulator->appendRaw(lineFor("read"));
        deliverNow();
        ASSERT_GT(transport->inboundOffset(), 0U);
        const int lossesBefore = losses;
        ending.change();
        transport->pollAdvertisement();
        EXPECT_EQ(losses, lossesBefore + 1);
        EXPECT_FALSE(transport->attached());
        EXPECT_EQ(transport->session(), std::nullopt);
        EXPECT_EQ(transport->inboundOffset(), 0U);
        EXPECT_EQ(attachedChanges % 2, 0);
        EXPECT_FALSE(transport->sendCommand("tag", "scan"));
        clock.wallTime = std::chrono::system_clock::time_point(std::chrono::seconds(1'750'000'000));
    }
}

TEST_F(LocalLinkTransportTest, ALineIsReadOnlyOnceItsLineFeedArrives)
{
    connect();
    const std::string first = lineFor("first");
    simulator->appendRaw(first.substr(0, 20));
    deliverNow();
    EXPECT_EQ(transport->inboundOffset(), 0U);
    EXPECT_TRUE(delivered.empty());

    simulator->appendRaw(first.substr(20) + lineFor("second"));
    deliverNow();
    EXPECT_EQ(deliveredTexts(), (std::vector<std::string> { "first", "second" }));
    EXPECT_EQ(transport->inboundOffset(), incomingSize());
}

TEST_F(LocalLinkTransportTest, LinesForSomeoneElseOrMalformedAreConsumedAndSkipped)
{
    connect();
    const std::string client = transport->client();
    const std::string message = "skipped";
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
    simulator->appendRaw(bytes + lineFor("delivered"));
    deliverNow();
    EXPECT_EQ(deliveredTexts(), (std::vector<std::string> { "delivered" }));
    EXPECT_EQ(transport->inboundOffset(), incomingSize());
}

// However the simulator writes a line, its message is what reading the whole line gives.
TEST_F(LocalLinkTransportTest, ALineReadsTheSameHoweverItsPayloadIsWritten)
{
    connect();
    const std::string who = R"("session":"S1","client":")" + transport->client() + R"(")";
    const struct {
        const char* what;
        std::string line;
        std::optional<std::string> message;
    } cases[] = {
        { "payload first", R"({"payload":"aGk=",)" + who + "}", "hi" },
        { "payload last, blanks about", "{ " + who + " , \"payload\" :\t\"aGk=\" }", "hi" },
        { "escaped slashes in the payload", R"({"payload":"\/\/8=",)" + who + "}", "\xFF\xFF" },
        { "an escaped key", R"({"p\u0061yload":"aGk=",)" + who + "}", "hi" },
        { "other members around it", R"({"flags":0,"payload":"aGk=","note":{"a":[1,"}"]},)" + who + "}", "hi" },
        { "a control character in the payload", "{\"payload\":\"aGk=\x01\"," + who + "}", std::nullopt },
        { "a broken number elsewhere", R"({"payload":"aGk=","flags":01,)" + who + "}", std::nullopt },
        { "a payload that is no string", R"({"payload":["aGk="],)" + who + "}", std::nullopt },
        { "a line that does not end its object", R"({"payload":"aGk=",)" + who, std::nullopt },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        delivered.clear();
        simulator->appendRaw(test.line + "\n");
        deliverNow();
        if (test.message) {
            EXPECT_EQ(deliveredTexts(), (std::vector<std::string> { *test.message }));
        } else {
            EXPECT_TRUE(delivered.empty());
        }
        EXPECT_EQ(transport->inboundOffset(), incomingSize());
    }
}

// A line far longer than one read gives what reading it whole gives, whatever its payload holds.
TEST_F(LocalLinkTransportTest, ALongLineReadsTheSameAsReadWhole)
{
    connect();
    // Three 0xFF bytes open the text, so its base64 opens with slashes a writer may escape.
    std::string text = "\xFF\xFF\xFF";
    for (std::size_t index = 0; text.size() < 600000; ++index) {
        text.push_back(static_cast<char>(index * 7919U % 256U));
    }
    text.resize(600000);
    const std::string payload = base64Encoded(text);
    ASSERT_EQ(payload.substr(0, 4), "////");
    const std::string who = R"("session":"S1","client":")" + transport->client() + R"(")";
    const auto withPayload = [&](const std::string& written) { return R"({"payload":")" + written + "\"," + who + "}"; };
    const struct {
        const char* what;
        std::string line;
        std::optional<std::string> message;
    } cases[] = {
        { "written plainly", withPayload(payload), text },
        { "with its slashes escaped", withPayload("\\/\\/" + payload.substr(2)), text },
        { "with padding deep inside", withPayload(payload.substr(0, 400000) + "AA==" + payload.substr(400000)),
            std::nullopt },
        { "with a control character at its end", withPayload(payload + "\x01"), std::nullopt },
        { "for another client", R"({"payload":")" + payload + R"(","session":"S1","client":"other"})", std::nullopt },
        { "with a broken member after it", withPayload(payload) + ",", std::nullopt },
        { "of a length that is no multiple of four", withPayload(payload.substr(1)), std::nullopt },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        delivered.clear();
        simulator->appendRaw(test.line + "\n" + lineFor("after"));
        deliverNow();
        std::vector<std::string> expected { "after" };
        if (test.message) {
            expected.insert(expected.begin(), *test.message);
        }
        EXPECT_EQ(deliveredTexts(), expected);
        EXPECT_EQ(transport->inboundOffset(), incomingSize());
    }
}

// A long message must not hold the window either: its line is read, and its payload checked and
// decoded, a bounded piece at a step, so it arrives over several short turns.
TEST_F(LocalLinkTransportTest, ALongLineIsReadAndDecodedOverSeveralTurns)
{
    SteppingScheduler stepping { scheduler };
    transport = makeTransport(directory(), stepping);
    connect();
    std::string text(3'000'000, '\0');
    for (std::size_t index = 0; index < text.size(); ++index) {
        text[index] = static_cast<char>(index * 131 % 251);
    }
    simulator->appendRaw(lineFor(text) + lineFor("after"));

    transport->pollInbound();
    std::vector<std::size_t> afterEachTurn { delivered.size() };
    std::function<void()> endOfTurn = [&] {
        afterEachTurn.push_back(delivered.size());
        if (delivered.size() < 2 && afterEachTurn.size() < 1000) {
            scheduler.schedule(0ms, endOfTurn);
        }
    };
    scheduler.schedule(0ms, endOfTurn);
    scheduler.runDue();

    ASSERT_EQ(deliveredTexts(), (std::vector<std::string> { text, "after" }));
    EXPECT_GT(std::count(afterEachTurn.begin(), afterEachTurn.end(), 0U), 2);
    EXPECT_EQ(transport->inboundOffset(), incomingSize());
}

TEST_F(LocalLinkTransportTest, MessageIdsRunFrom50000To65535AndRoundAgain)
{
    connect();
    std::string bytes;
    for (int index = 0; index < 15536; ++index) {
        bytes += lineFor("message");
    }
    simulator->appendRaw(bytes);
    deliverNow();
    ASSERT_EQ(delivered.size(), 15536U);
    EXPECT_EQ(delivered.front().first, 50000);
    EXPECT_EQ(delivered.back().first, 65535);
    EXPECT_EQ(transport->nextMessageId(), 50000);
    simulator->appendRaw(lineFor("one more"));
    deliverNow();
    EXPECT_EQ(delivered.back().first, 50000);
    EXPECT_EQ(transport->nextMessageId(), 50001);
}

TEST_F(LocalLinkTransportTest, OutgoingLinesCarryTheSessionTheClientAndThePayload)
{
    connect();
    ASSERT_TRUE(transport->sendCommand("tag", "  update id=2 name=\"Tea\" "));
    ASSERT_TRUE(transport->sendMessage(Json { { "type", "wifi_scan" } }));
    const auto lines = simulator->pump();
    ASSERT_EQ(lines.size(), 2U);
    for (const auto& line : lines) {
        EXPECT_EQ(line.session, "S1");
        EXPECT_EQ(line.client, transport->client());
        EXPECT_EQ(line.flags, 0);
    }
    EXPECT_EQ(lines[0].text(), "tag:update id=2 name=\"Tea\"");
    EXPECT_EQ(parseJson(lines[1].text()), (Json { { "type", "wifi_scan" } }));
    EXPECT_EQ(logged,
        (std::vector<std::string> { "[virtual:data] -> tag:update id=2 name=\"Tea\"",
            "[virtual:data] -> " + std::to_string(lines[1].payload.size()) + " bytes" }));
    EXPECT_FALSE(transport->supportsFirmware());
    EXPECT_FALSE(transport->supportsFirmwareTransfer());
}

// The folder is the simulator's, and anything may stand there: the transport reads and writes only
// plain files, so a pipe never blocks the window, a device is never read, and no link leads its
// messages to a file elsewhere.
TEST_F(LocalLinkTransportTest, AnAdvertisementIsReadOnlyFromAPlainFile)
{
    const std::string fresh = dumpJson(Json { { "enabled", true }, { "session", "S" }, { "updatedAt", nowSeconds() } });
    const std::string note = "Local link: advertising.json is not a regular file; it is ignored";
    for (const auto& impostor : impostors) {
        SCOPED_TRACE(impostor.what);
        replaceWithImpostor(simulator->advertisingFile(), impostor.kind, fresh);
        const long notesBefore = logCount(note);
        transport->pollAdvertisement();
        transport->pollAdvertisement();
        EXPECT_EQ(transport->session(), std::nullopt);
        // Said once, not at every poll.
        EXPECT_EQ(logCount(note), notesBefore + 1);
        simulator->removeAdvertisement();
        transport->pollAdvertisement();
    }
    simulator->writeAdvertisementText(fresh);
    transport->pollAdvertisement();
    EXPECT_EQ(transport->session(), "S");
}

TEST_F(LocalLinkTransportTest, IncomingMessagesAreReadOnlyFromAPlainFile)
{
    connect();
    simulator->appendRaw(lineFor("first"));
    deliverNow();
    const std::uint64_t offset = transport->inboundOffset();
    const std::string note = "Local link: to-link.jsonl is not a regular file; it is ignored";
    for (const auto& impostor : impostors) {
        SCOPED_TRACE(impostor.what);
        replaceWithImpostor(simulator->outboundFile(), impostor.kind, std::string(offset, '\n') + lineFor("outside"));
        const long notesBefore = logCount(note);
        deliverNow();
        deliverNow();
        EXPECT_EQ(deliveredTexts(), (std::vector<std::string> { "first" }));
        EXPECT_EQ(logCount(note), notesBefore + 1);
        EXPECT_TRUE(transport->attached());
        EXPECT_EQ(transport->inboundOffset(), offset);
        std::filesystem::remove(simulator->outboundFile());
        deliverNow();
    }
    simulator->appendRaw(std::string(offset, '\n') + lineFor("inside"));
    deliverNow();
    EXPECT_EQ(deliveredTexts().back(), "inside");
}

TEST_F(LocalLinkTransportTest, OutgoingMessagesAreAppendedOnlyToAPlainFile)
{
    connect();
    replaceWithImpostor(simulator->inboundFile(), Impostor::outsideLink, "someone else's file\n");
    EXPECT_FALSE(transport->sendCommand("tag", "scan"));
    EXPECT_EQ(logged.back(), "Simulator send failed: to-device.jsonl is not a regular file");
    std::ifstream outside(outsideFile());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(outside), {}), "someone else's file\n");

    // A pipe, with something reading it and with nothing at the other end.
    replaceWithImpostor(simulator->inboundFile(), Impostor::pipe);
    const int reader = ::open(simulator->inboundFile().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(transport->sendCommand("tag", "scan"));
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);
    EXPECT_FALSE(transport->sendCommand("tag", "scan"));
    EXPECT_EQ(logged.back(), "Simulator send failed: to-device.jsonl is not a regular file");
}

// A backlog from the simulator must not hold the window: each turn of the event loop handles a
// bounded slice of it, and the rest follows at the next turns, in file order.
TEST_F(LocalLinkTransportTest, ABacklogIsHandledASliceAtATurnInOrder)
{
    connect();
    constexpr int backlog = 1000;
    std::string bytes;
    for (int index = 0; index < backlog; ++index) {
        bytes += lineFor("message " + std::to_string(index));
    }
    simulator->appendRaw(bytes);
    const auto count = [&] { return static_cast<int>(delivered.size()); };

    transport->pollInbound();
    std::vector<int> afterEachTurn { count() };
    // Queued now, this runs after the link's next slice; queued again, after the one after that.
    std::function<void()> endOfTurn = [&] {
        afterEachTurn.push_back(count());
        if (count() < backlog && afterEachTurn.size() < backlog) {
            scheduler.schedule(0ms, endOfTurn);
        }
    };
    scheduler.schedule(0ms, endOfTurn);
    scheduler.runDue();

    ASSERT_EQ(afterEachTurn.back(), backlog);
    EXPECT_GT(afterEachTurn.size(), 2U);
    for (std::size_t turn = 0; turn < afterEachTurn.size(); ++turn) {
        const int previous = turn == 0 ? 0 : afterEachTurn[turn - 1];
        EXPECT_GE(afterEachTurn[turn] - previous, 1) << "turn " << turn;
        EXPECT_LE(afterEachTurn[turn] - previous, static_cast<int>(LocalLinkTransport::slice.steps)) << "turn " << turn;
    }
    for (int index = 0; index < backlog; ++index) {
        EXPECT_EQ(delivered[static_cast<std::size_t>(index)].second, "message " + std::to_string(index));
    }
    EXPECT_EQ(transport->inboundOffset(), incomingSize());
}

// A message that closes the connection ends the delivery of the backlog there; a new connection
// reads the file from its start again, as a new client.
TEST_F(LocalLinkTransportTest, ABacklogEndsWhereTheConnectionEnds)
{
    connect();
    const std::string firstClient = transport->client();
    std::string bytes;
    for (int index = 0; index < 600; ++index) {
        bytes += lineFor(index == 299 ? "goodbye" : "message");
    }
    simulator->appendRaw(bytes);
    onDelivered = [&](const std::string& text) {
        if (text == "goodbye") {
            transport->disconnect();
        }
    };
    transport->pollInbound();
    scheduler.runDue();
    EXPECT_EQ(delivered.size(), 300U);
    EXPECT_EQ(delivered.back().second, "goodbye");
    EXPECT_FALSE(transport->attached());

    transport->connect();
    EXPECT_NE(transport->client(), firstClient);
    EXPECT_EQ(transport->inboundOffset(), 0U);
    deliverNow();
    EXPECT_EQ(delivered.size(), 300U);
    EXPECT_EQ(transport->inboundOffset(), incomingSize());
}

TEST_F(LocalLinkTransportTest, SendingWithoutTheOutgoingFileFailsAndSaysWhy)
{
    connect();
    std::filesystem::remove(simulator->inboundFile());
    EXPECT_FALSE(transport->sendCommand("tag", "scan"));
    const std::string last = logged.back();
    EXPECT_TRUE(last.starts_with("Simulator send failed: ")) << last;
    EXPECT_GT(last.size(), std::string("Simulator send failed: ").size());
    EXPECT_FALSE(std::filesystem::exists(simulator->inboundFile()));
}

TEST_F(LocalLinkTransportTest, NothingGoesOutWithoutAConnection)
{
    advertise();
    transport->pollAdvertisement();
    EXPECT_FALSE(transport->sendCommand("tag", "scan"));
    EXPECT_FALSE(transport->sendMessage(Json { { "type", "sync_start" } }));
    EXPECT_TRUE(simulator->pump().empty());
}

TEST_F(LocalLinkTransportTest, TheTransportNeverCreatesTheFolderOrItsFiles)
{
    const std::filesystem::path missing = directory() / "not there";
    transport = makeTransport(missing);
    transport->startPolling();
    scheduler.advance(1s);
    transport->connect();
    EXPECT_FALSE(transport->sendCommand("tag", "scan"));
    transport->pollInbound();
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(LocalLinkTransportTest, BothMessageFilesStopAtSixteenMebibytes)
{
    connect();
    std::filesystem::resize_file(simulator->inboundFile(), 0);
    ASSERT_TRUE(transport->sendCommand("tag", "cancel"));
    const std::uint64_t lineLength = std::filesystem::file_size(simulator->inboundFile());

    std::filesystem::resize_file(simulator->inboundFile(), LocalLinkTransport::fileSizeLimit - lineLength + 1);
    const std::size_t logSize = logged.size();
    EXPECT_FALSE(transport->sendCommand("tag", "cancel"));
    EXPECT_EQ(logged.size(), logSize + 1); // only the command line itself
    std::filesystem::resize_file(simulator->inboundFile(), LocalLinkTransport::fileSizeLimit - lineLength);
    EXPECT_TRUE(transport->sendCommand("tag", "cancel"));
    EXPECT_EQ(std::filesystem::file_size(simulator->inboundFile()), LocalLinkTransport::fileSizeLimit);

    // Incoming: a file over the limit is not read at all.
    simulator->appendRaw(lineFor("over the limit"));
    std::filesystem::resize_file(simulator->outboundFile(), LocalLinkTransport::fileSizeLimit + 1);
    deliverNow();
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(transport->inboundOffset(), 0U);
    std::filesystem::resize_file(simulator->outboundFile(), LocalLinkTransport::fileSizeLimit);
    deliverNow();
    EXPECT_EQ(deliveredTexts(), (std::vector<std::string> { "over the limit" }));
}

TEST_F(LocalLinkTransportTest, AnIncomingFileShorterThanTheReadPositionIsLeftAlone)
{
    connect();
    simulator->appendRaw(lineFor("first") + lineFor("second"));
    deliverNow();
    std::filesystem::resize_file(simulator->outboundFile(), 0);
    simulator->appendRaw(lineFor("after truncation"));
    ASSERT_LT(incomingSize(), transport->inboundOffset());
    deliverNow();
    EXPECT_EQ(deliveredTexts(), (std::vector<std::string> { "first", "second" }));
}

TEST_F(LocalLinkTransportTest, PollingReadsTheAdvertisementThenTheNewLinesEvery200Milliseconds)
{
    connect();
    transport->startPolling();
    EXPECT_TRUE(transport->isPolling());
    scheduler.runDue();
    simulator->appendRaw(lineFor("polled"));
    advertise();
    scheduler.advance(199ms);
    EXPECT_TRUE(delivered.empty());
    scheduler.advance(1ms);
    EXPECT_EQ(deliveredTexts(), (std::vector<std::string> { "polled" }));

    transport->stopPolling();
    EXPECT_FALSE(transport->isPolling());
    simulator->appendRaw(lineFor("not polled"));
    scheduler.advance(1s);
    EXPECT_EQ(delivered.size(), 1U);
}

} // namespace
} // namespace tavrik::test
