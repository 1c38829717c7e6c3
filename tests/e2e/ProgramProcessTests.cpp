#include "tests/support/qt/LocalLinkSimulator.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// Generous: CI machines are small and busy, and a passing run never waits these out.
constexpr int startDeadlineMs = 30000;
constexpr int exitDeadlineMs = 15000;

// The built program as a desktop session starts it, with its data and settings in a temporary home
// and the simulator playing the device in the local link directory there.
class ProgramProcessTest : public ::testing::Test {
protected:
    QTemporaryDir home;
    std::unique_ptr<LocalLinkSimulator> simulator;
    QProcess program;
    QString output;

    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        simulator = std::make_unique<LocalLinkSimulator>(
            std::filesystem::path(home.filePath(QStringLiteral("data")).toStdString()) / "Tavrik Simulator"
            / "Local Link");
        simulator->data.tags = { { 3, "04 A1", "Desk" }, { 4, "04 A2", "Door" } };
    }

    void TearDown() override
    {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(exitDeadlineMs);
        }
    }

    void runSimulator()
    {
        simulator->run("e2e", 100ms, [] { return std::chrono::system_clock::now(); });
    }

    void start()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        // No system bus: Bluetooth stays unavailable whatever the machine has.
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
            QStringLiteral("unix:path=") + home.filePath(QStringLiteral("no-system-bus")));
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&program, &QProcess::readyRead, [this] { output += QString::fromUtf8(program.readAll()); });
        program.start(QStringLiteral(TAVRIK_LINK_EXECUTABLE), {});
        ASSERT_TRUE(program.waitForStarted(startDeadlineMs)) << program.errorString().toStdString();
    }

    bool waitForOutput(const QString& text, int timeoutMs = startDeadlineMs)
    {
        return processEventsUntil([&] { return output.contains(text); }, timeoutMs);
    }

    bool waitForReceived(
        const std::function<bool(const LocalLinkSimulator::Received&)>& matches, int timeoutMs = startDeadlineMs)
    {
        return processEventsUntil([&] { return std::ranges::any_of(simulator->received(), matches); }, timeoutMs);
    }

    static bool isLoadStart(const LocalLinkSimulator::Received& message)
    {
        const std::string text = message.text();
        if (!text.starts_with("{")) {
            return false;
        }
        const Json envelope = parseJson(text);
        return envelope.value("type", "") == "sync_start" && envelope.value("mode", "") == "load";
    }

    // SIGTERM, as a desktop session ends a program; the program must end by itself.
    void terminateAndExpectCleanExit()
    {
        program.terminate();
        ASSERT_TRUE(processEventsUntil([&] { return program.state() == QProcess::NotRunning; }, exitDeadlineMs))
            << output.toStdString();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output.toStdString();
        EXPECT_EQ(program.exitCode(), 0) << output.toStdString();
        output += QString::fromUtf8(program.readAll());
    }

    std::string context() const { return output.toStdString(); }
};

TEST_F(ProgramProcessTest, LoadsFromTheAdvertisementThenSaysDisconnectAndExitsCleanlyOnSigterm)
{
    runSimulator();
    start();

    ASSERT_TRUE(waitForReceived(isLoadStart)) << context();
    const LocalLinkSimulator::Received start = *std::ranges::find_if(simulator->received(), isLoadStart);
    EXPECT_EQ(start.session, "e2e");
    EXPECT_FALSE(start.client.empty());
    const std::string code = parseJson(start.text()).at("code").get<std::string>();
    EXPECT_EQ(code.size(), 4u);
    EXPECT_TRUE(std::ranges::all_of(code, [](char digit) { return digit >= '0' && digit <= '9'; })) << code;

    ASSERT_TRUE(waitForOutput(QStringLiteral("Status: Connected to simulator"))) << context();
    EXPECT_TRUE(output.contains(QStringLiteral("Found Tavrik Simulator"))) << context();
    EXPECT_FALSE(output.contains(QStringLiteral("Sync data decode failed"))) << context();
    EXPECT_FALSE(output.contains(QStringLiteral("Sync incomplete"))) << context();

    terminateAndExpectCleanExit();
    simulator->pump();
    const std::vector<std::string> commands = simulator->receivedCommands();
    EXPECT_EQ(std::ranges::count(commands, "system:disconnect"), 1) << context();
    const auto disconnect = std::ranges::find_if(simulator->received(),
        [](const LocalLinkSimulator::Received& message) { return message.text() == "system:disconnect"; });
    ASSERT_NE(disconnect, simulator->received().end());
    EXPECT_EQ(disconnect->client, start.client);
    EXPECT_TRUE(output.contains(QStringLiteral("Preparing Tavrik Bluetooth session for app termination"))) << context();
}

// A simulator that floods the link with thousands of messages at once: the program handles them a
// slice at a turn, so it keeps answering, and SIGTERM (as Ctrl+Q) ends it at once, not after the flood.
TEST_F(ProgramProcessTest, AFloodOfMessagesDoesNotHoldUpTheQuit)
{
    runSimulator();
    start();
    ASSERT_TRUE(waitForOutput(QStringLiteral("Status: Connected to simulator"))) << context();
    const std::optional<std::string> client = simulator->lastClient();
    ASSERT_TRUE(client);

    Json data = toJson(simulator->data);
    std::string flood = LocalLinkSimulator::line(
                            "e2e", client, dumpJson(Json { { "type", "log_line" }, { "message", "The flood begins" } }))
        + "\n";
    for (int index = 0; index < 10000; ++index) {
        data["firmwareVersion"] = "1.4." + std::to_string(index);
        flood += LocalLinkSimulator::line("e2e", client, dumpJson(data)) + "\n";
    }
    flood += LocalLinkSimulator::line(
                 "e2e", client, dumpJson(Json { { "type", "log_line" }, { "message", "The flood is over" } }))
        + "\n";
    simulator->appendRaw(flood);
    ASSERT_TRUE(waitForOutput(QStringLiteral("The flood begins"))) << context();

    terminateAndExpectCleanExit();
    EXPECT_FALSE(output.contains(QStringLiteral("The flood is over"))) << context();
}

// A chatty device: a burst of its log lines, short and long, ahead of the data. The window shows
// each line as it comes, and the load still completes well inside its time limit.
TEST_F(ProgramProcessTest, AChattyDeviceStillLoads)
{
    simulator->answerSyncStart = false;
    runSimulator();
    start();
    ASSERT_TRUE(waitForReceived(isLoadStart)) << context();
    const LocalLinkSimulator::Received load = *std::ranges::find_if(simulator->received(), isLoadStart);
    const std::string code = parseJson(load.text()).at("code").get<std::string>();
    const auto message = [&](const Json& body) {
        return LocalLinkSimulator::line(simulator->session(), load.client, dumpJson(body)) + "\n";
    };
    std::string burst = message({ { "type", "sync_ready" }, { "mode", "load" }, { "code", code } });
    for (int index = 0; index < 2500; ++index) {
        burst += message({ { "type", "log_line" }, { "message", "sensor " + std::to_string(index) + " ok" } });
    }
    for (int index = 0; index < 400; ++index) {
        burst += message({ { "type", "log_line" },
            { "message", "payload " + std::to_string(index) + " " + std::string(4000, 'a' + index % 26) } });
    }
    burst += message(toJson(simulator->data));
    burst += message({ { "type", "sync_done" }, { "mode", "load" }, { "code", code } });
    simulator->appendRaw(burst);

    EXPECT_TRUE(waitForOutput(QStringLiteral("Status: Connected to simulator"))) << context().substr(0, 4000);
    EXPECT_FALSE(output.contains(QStringLiteral("stopped sending data"))) << context().substr(0, 4000);
    terminateAndExpectCleanExit();
}

// The device starts a load and then goes quiet: either it keeps advertising (a stuck board) or it
// is gone altogether (the simulator quit). Neither may leave the program hanging.
struct StalledLoadCase {
    const char* name;
    bool keepAdvertising;
    const char* outcome;
    int deadlineMs;
};

void PrintTo(const StalledLoadCase& value, std::ostream* out)
{
    *out << value.name;
}

class ProgramStalledLoadTest : public ProgramProcessTest, public ::testing::WithParamInterface<StalledLoadCase> { };

TEST_P(ProgramStalledLoadTest, EndsInTheLoadFailureAndStillQuitsCleanly)
{
    const StalledLoadCase& stalled = GetParam();
    simulator->answerSyncStart = false;
    runSimulator();
    start();

    ASSERT_TRUE(waitForReceived(isLoadStart)) << context();
    const LocalLinkSimulator::Received start = *std::ranges::find_if(simulator->received(), isLoadStart);
    const std::string code = parseJson(start.text()).at("code").get<std::string>();
    simulator->send({ { "type", "sync_ready" }, { "mode", "load" }, { "code", code } }, start.client);
    ASSERT_TRUE(waitForOutput(QStringLiteral("Status: Loading data"))) << context();

    if (!stalled.keepAdvertising) {
        simulator->stop();
    }
    EXPECT_TRUE(waitForOutput(QString::fromUtf8(stalled.outcome), stalled.deadlineMs)) << context();
    EXPECT_FALSE(output.contains(QStringLiteral("Status: Connected to simulator"))) << context();

    terminateAndExpectCleanExit();
}

INSTANTIATE_TEST_SUITE_P(Device, ProgramStalledLoadTest,
    ::testing::Values(StalledLoadCase { "StopsSending", true,
                          "Tavrik stopped sending data. Enable connection mode on Tavrik and try again.", 40000 },
        StalledLoadCase { "Vanishes", false, "Tavrik disconnected; starting load session", 20000 }),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever stands in the simulator's folder in place of a file, the window comes up, the program
// says what it ignores, and SIGTERM still ends it: a pipe must never block and a device never be read.
struct HostileFolderCase {
    const char* name;
    const char* file;
    bool isPipe;
    bool advertised;
};

void PrintTo(const HostileFolderCase& value, std::ostream* out)
{
    *out << value.name;
}

class ProgramHostileFolderTest : public ProgramProcessTest, public ::testing::WithParamInterface<HostileFolderCase> { };

TEST_P(ProgramHostileFolderTest, StartsSaysWhatItIgnoresAndQuitsOnSigterm)
{
    const HostileFolderCase& hostile = GetParam();
    const std::filesystem::path file = simulator->directory() / hostile.file;
    std::filesystem::remove(file);
    if (hostile.isPipe) {
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    } else {
        std::filesystem::create_symlink("/dev/zero", file);
    }
    // A fresh advertisement, kept fresh, with nothing answering.
    QTimer advertiser;
    if (hostile.advertised) {
        QObject::connect(
            &advertiser, &QTimer::timeout, [this] { simulator->advertise("e2e", std::chrono::system_clock::now()); });
        advertiser.start(100);
        simulator->advertise("e2e", std::chrono::system_clock::now());
    }
    start();

    ASSERT_TRUE(waitForOutput(QStringLiteral("Starting load session"))) << context();
    ASSERT_TRUE(waitForOutput(
        QStringLiteral("Local link: %1 is not a regular file; it is ignored").arg(QString::fromUtf8(hostile.file))))
        << context();
    if (hostile.advertised) {
        EXPECT_TRUE(output.contains(QStringLiteral("Found Tavrik Simulator"))) << context();
    }
    terminateAndExpectCleanExit();
}

INSTANTIATE_TEST_SUITE_P(Folder, ProgramHostileFolderTest,
    ::testing::Values(HostileFolderCase { "AdvertisementIsAPipe", "advertising.json", true, false },
        HostileFolderCase { "AdvertisementLeadsToDevZero", "advertising.json", false, false },
        HostileFolderCase { "IncomingFileIsAPipe", "to-link.jsonl", true, true },
        HostileFolderCase { "IncomingFileLeadsToDevZero", "to-link.jsonl", false, true }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tavrik::test
