// The longest turn of the event loop while a device's data arrive over the local link into the
// whole window, in a fresh process (first load, cold heap), as a user meets it: 800 and 3,200
// routines of 20 steps, each load in a process of its own, five times; the median of each against
// one frame of 16 ms, with the spread beside it.
//
//   load_turns             all loads, with the verdict
//   load_turns ROUTINES    one load in this process; prints its longest turn in milliseconds
#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Support/Base64.hpp"
#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "bench/TurnScheduler.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/qt/FakeBleCentral.hpp"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace tavrik;

constexpr double frameMs = 16.0;
constexpr int runs = 5;
constexpr int stepCount = 20;

// Writes base64 as its text comes, so the message is never held whole before the load.
class Base64Writer {
public:
    explicit Base64Writer(std::ofstream& out)
        : out(out)
    {
    }

    void add(std::string_view text)
    {
        pending.append(text);
        const std::size_t whole = pending.size() / 3 * 3;
        out << base64Encoded(std::string_view(pending).substr(0, whole));
        pending.erase(0, whole);
    }
    void finish() { out << base64Encoded(std::string_view(pending)); }

private:
    std::ofstream& out;
    std::string pending;
};

// The simulator's line carrying a "sync_data" message of `routineCount` routines, written a routine
// at a time.
void writeLoadLine(std::ofstream& out, const std::string& client, int routineCount)
{
    SyncDataEnvelope data;
    data.dataVersion = 9;
    for (std::uint32_t id = 1; id <= 8; ++id) {
        data.tags.push_back({ id, "04 A" + std::to_string(id), "Tag " + std::to_string(id) });
    }
    Json document = toJson(data);
    document["type"] = "sync_data";
    document["routines"] = Json::array();
    const std::string text = dumpJson(document);
    const std::size_t routines = text.find("\"routines\":[]") + 12;

    out << R"({"session":"bench","client":")" << client << R"(","payload":")";
    Base64Writer payload(out);
    payload.add(std::string_view(text).substr(0, routines));
    for (int index = 1; index <= routineCount; ++index) {
        RoutinePayload routine { static_cast<std::uint32_t>(index), "Routine " + std::to_string(index), {}, {}, {} };
        for (int step = 0; step < stepCount; ++step) {
            routine.steps.push_back({ static_cast<std::uint32_t>(step + 1), step, 0, std::to_string(step % 8 + 1), 60,
                "Step " + std::to_string(step), 0 });
        }
        if (index > 1) {
            payload.add(",");
        }
        payload.add(dumpJson(toJson(routine)));
    }
    payload.add(std::string_view(text).substr(routines));
    payload.finish();
    out << "\"}\n";
}

struct Turns {
    double reading = 0;
    double install = 0;
};

// One load into a fresh window; nothing when the routines did not arrive.
std::optional<Turns> turnsOfOneLoad(int routineCount)
{
    QTemporaryDir folder;
    const std::filesystem::path directory = folder.path().toStdString();
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::ofstream(directory / "advertising.json")
        << dumpJson(Json { { "enabled", true }, { "session", "bench" }, { "updatedAt", now } });
    std::ofstream(directory / "to-link.jsonl");
    std::ofstream(directory / "to-device.jsonl");

    bench::TurnScheduler scheduler;
    // No Bluetooth takes part: the fake adapter's own time never moves.
    test::ManualScheduler adapterTime;
    test::FakeBleCentral central(adapterTime);
    SystemRandomSource random;
    InMemoryKeyValueStore defaults;
    TavrikBleCentral controller(
        TavrikBleCentral::Environment { central, scheduler, systemClock(), random, defaults, directory, false, {} });
    TavrikLinkApplication window(AppOptions {},
        TavrikLinkApplication::Environment { scheduler, TavrikResources(QStringLiteral("/nonexistent/bin")), [](int) {},
            false, &controller, &systemClock() });
    window.show();
    QCoreApplication::processEvents();
    controller.beginSession(SyncMode::load);
    if (!controller.virtualTavrikConnected()) {
        return std::nullopt;
    }
    {
        std::ofstream line(directory / "to-link.jsonl", std::ios::binary);
        writeLoadLine(line, controller.localLink().client(), routineCount);
    }
    // What the start of the session left for the window is drawn before the load.
    while (scheduler.runTurn()) {
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();

    // The turns that read the message, then the one that takes the routines in and draws them.
    Turns turns;
    for (int turn = 0; turn < 100000; ++turn) {
        const auto began = std::chrono::steady_clock::now();
        if (turn == 0) {
            controller.localLink().pollInbound();
        } else {
            scheduler.runTurn();
        }
        QCoreApplication::processEvents();
        const double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
        if (controller.routineSummaries().size() == static_cast<std::size_t>(routineCount)) {
            turns.install = took;
            return turns;
        }
        turns.reading = std::max(turns.reading, took);
    }
    return std::nullopt;
}

} // namespace

// The median and the spread of `figures`.
std::string summary(std::vector<double> figures)
{
    std::sort(figures.begin(), figures.end());
    char text[80];
    std::snprintf(text, sizeof text, "%.1f ms (%.1f-%.1f)", figures[figures.size() / 2], figures.front(), figures.back());
    return text;
}

double median(std::vector<double> figures)
{
    std::sort(figures.begin(), figures.end());
    return figures[figures.size() / 2];
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc > 1) {
        const std::optional<Turns> turns = turnsOfOneLoad(std::stoi(argv[1]));
        if (!turns) {
            return 2;
        }
        std::printf("%.3f %.3f\n", turns->reading, turns->install);
        return 0;
    }
    bool within = true;
    for (const int routineCount : { 800, 3200 }) {
        std::vector<double> reading;
        std::vector<double> install;
        std::vector<double> longest;
        for (int run = 0; run < runs; ++run) {
            QProcess load;
            load.start(QCoreApplication::applicationFilePath(), { QString::number(routineCount) });
            if (!load.waitForFinished(120000) || load.exitCode() != 0) {
                std::fprintf(stderr, "the load of %d routines did not finish\n", routineCount);
                return 2;
            }
            const QList<QByteArray> figures = load.readAllStandardOutput().trimmed().split(' ');
            reading.push_back(figures.value(0).toDouble());
            install.push_back(figures.value(1).toDouble());
            longest.push_back(std::max(reading.back(), install.back()));
        }
        std::printf("load of %d routines over the local link, fresh process, median (spread) of %d runs: longest "
                    "turn %s against %.0f ms; reading %s, taking in and drawing %s\n",
            routineCount, runs, summary(longest).c_str(), frameMs, summary(reading).c_str(), summary(install).c_str());
        within = within && median(longest) <= frameMs;
    }
    return within ? 0 : 1;
}
