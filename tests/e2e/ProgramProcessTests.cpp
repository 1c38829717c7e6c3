#include "tests/support/qt/LocalLinkSimulator.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
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
        QObject::connect(&program, &QProcess::readyRead, [this] { output += QString::fromUtf8(program.readAll()); });
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

    void start(const QStringList& arguments = {})
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
        program.start(QStringLiteral(TAVRIK_LINK_EXECUTABLE), arguments);
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

    // Whether the program has its handler for `signalNumber` in place (it starts with the default,
    // which ends the program at once), as Linux shows it in /proc.
    bool catches(int signalNumber) const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(program.processId()));
        if (!status.open(QIODevice::ReadOnly)) {
            return false;
        }
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:")) {
                bool ok = false;
                const qulonglong caught = line.mid(7).trimmed().toULongLong(&ok, 16);
                return ok && (caught >> (signalNumber - 1) & 1u) != 0;
            }
        }
        return false;
    }

    // SIGTERM, as a desktop session ends a program (or another termination signal); the program
    // must end by itself.
    void terminateAndExpectCleanExit(int signalNumber = SIGTERM)
    {
        ASSERT_TRUE(processEventsUntil([&] { return catches(signalNumber); }, startDeadlineMs)) << context();
        ASSERT_EQ(::kill(static_cast<pid_t>(program.processId()), signalNumber), 0);
        ASSERT_TRUE(processEventsUntil([&] { return program.state() == QProcess::NotRunning; }, exitDeadlineMs))
            << output.toStdString();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output.toStdString();
        EXPECT_EQ(program.exitCode(), 0) << output.toStdString();
        output += QString::fromUtf8(program.readAll());
        expectNoSanitizerReport();
    }

    // In the sanitizer build the program is built with them: any report of theirs fails the run.
    void expectNoSanitizerReport() const
    {
        for (const char* report : { "runtime error:", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer" }) {
            EXPECT_FALSE(output.contains(QLatin1String(report))) << context();
        }
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

// The demo as a user starts it, ended as a terminal or a desktop session ends a program.
TEST_F(ProgramProcessTest, TheDemoEndsCleanlyOnEachTerminationSignal)
{
    for (const int signalNumber : { SIGTERM, SIGINT, SIGHUP }) {
        SCOPED_TRACE(signalNumber);
        output.clear();
        start({ QStringLiteral("--demo") });
        ASSERT_TRUE(waitForOutput(QStringLiteral("Status: App Review demo"))) << context();
        terminateAndExpectCleanExit(signalNumber);
        EXPECT_TRUE(output.contains(QStringLiteral("Preparing Tavrik Bluetooth session for app termination")))
            << context();
    }
}

// A settings file that is a pipe would block the start for as long as nobody writes into it.
TEST_F(ProgramProcessTest, ASettingsFileThatIsAPipeIsToldOnceAndTheDeviceStillLoads)
{
    const QString settingsFolder = home.filePath(QStringLiteral("config/Tavrik"));
    ASSERT_TRUE(QDir().mkpath(settingsFolder));
    const QString settingsFile = settingsFolder + QStringLiteral("/Tavrik Link.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(settingsFile).constData(), 0600), 0);
    runSimulator();
    start();

    ASSERT_TRUE(waitForOutput(QStringLiteral("Status: Connected to simulator"))) << context();
    const QString told = QStringLiteral("Settings: %1 is not a regular file").arg(settingsFile);
    EXPECT_EQ(output.count(told), 1) << context();
    terminateAndExpectCleanExit();
}

// A device that floods the link and keeps on flooding while the user quits: the program takes the
// messages a slice at a turn, so SIGTERM (as Ctrl+Q) is heard amid the flood and the device is told
// goodbye. However fast the machine, the flood is still coming when the quit is asked for.
TEST_F(ProgramProcessTest, AFloodThatKeepsComingDoesNotHoldUpTheQuit)
{
    runSimulator();
    start();
    ASSERT_TRUE(waitForOutput(QStringLiteral("Status: Connected to simulator"))) << context();
    const std::optional<std::string> client = simulator->lastClient();
    ASSERT_TRUE(client);

    Json data = toJson(simulator->data);
    const auto dataLines = [&](int count) {
        std::string lines;
        for (int index = 0; index < count; ++index) {
            data["firmwareVersion"] = "1.4." + std::to_string(index);
            lines += LocalLinkSimulator::line("e2e", client, dumpJson(data)) + "\n";
        }
        return lines;
    };
    // A backlog at once, then more every few milliseconds: the link file stays well under the size
    // the program reads at most, so every line reaches it.
    simulator->appendRaw(LocalLinkSimulator::line("e2e", client,
                             dumpJson(Json { { "type", "log_line" }, { "message", "The flood begins" } }))
        + "\n" + dataLines(5000));
    const std::string batch = dataLines(20);
    const std::uintmax_t floodLimit = 12u << 20;
    bool floodEnded = false;
    QTimer flood;
    QObject::connect(&flood, &QTimer::timeout, [&] {
        if (std::filesystem::file_size(simulator->outboundFile()) + batch.size() > floodLimit) {
            floodEnded = true;
            return;
        }
        simulator->appendRaw(batch);
    });
    flood.start(10);
    ASSERT_TRUE(waitForOutput(QStringLiteral("The flood begins"))) << context();

    terminateAndExpectCleanExit();
    flood.stop();
    EXPECT_FALSE(floodEnded) << "the quit waited for the flood to end";
    simulator->pump();
    EXPECT_EQ(std::ranges::count(simulator->receivedCommands(), "system:disconnect"), 1) << context();
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
