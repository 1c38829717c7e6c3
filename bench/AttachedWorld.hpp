#pragma once

#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Support/Base64.hpp"
#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/qt/FakeBleCentral.hpp"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace tavrik::bench {

// A device's data of `routineCount` routines of 20 steps each, eight tags and three schedules.
inline SyncDataEnvelope largeDeviceData(std::int64_t routineCount)
{
    SyncDataEnvelope data;
    data.dataVersion = 9;
    for (std::uint32_t id = 1; id <= 8; ++id) {
        data.tags.push_back({ id, "04 A" + std::to_string(id), "Tag " + std::to_string(id) });
    }
    for (std::int64_t index = 1; index <= routineCount; ++index) {
        RoutinePayload routine { static_cast<std::uint32_t>(index), "Routine " + std::to_string(index), {}, {}, {} };
        for (std::int64_t step = 0; step < 20; ++step) {
            routine.steps.push_back({ static_cast<std::uint32_t>(step + 1), step, 0, std::to_string(step % 8 + 1), 60,
                "Step " + std::to_string(step), 0 });
        }
        data.routines.push_back(std::move(routine));
    }
    for (std::uint32_t id = 1; id <= 3; ++id) {
        ScheduledRoutine schedule;
        schedule.id = id;
        schedule.routineId = id;
        schedule.hour = 6 + id;
        schedule.days = 62;
        schedule.enabled = true;
        schedule.type = "recurring";
        data.schedules.push_back(schedule);
    }
    return data;
}

// A controller attached to a simulator over the local link, as a user runs it beside the simulator:
// the load arrives as a line of the link's file and every edit is written to the device's file. No
// Bluetooth adapter takes part; the controller's time is virtual, so only the work itself is timed.
struct AttachedController {
    AttachedController()
    {
        const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        std::ofstream(directory / "advertising.json")
            << dumpJson(Json { { "enabled", true }, { "session", "bench" }, { "updatedAt", now } });
        std::ofstream(directory / "to-link.jsonl");
        std::ofstream(directory / "to-device.jsonl");
        controller = std::make_unique<TavrikBleCentral>(
            TavrikBleCentral::Environment { central, scheduler, systemClock(), random, defaults, directory, false, {} });
    }

    // The link's line carrying `message`, as the simulator writes it.
    std::string linkLine(const Data& message) const
    {
        return dumpJson(Json { { "session", "bench" }, { "client", controller->localLink().client() },
                   { "payload", base64Encoded(message) } })
            + '\n';
    }

    // A load session over the link (the one the window starts, or a new one), connected to the
    // simulator: the link's lines are addressed to this connection.
    void connect()
    {
        if (controller->syncMode() != SyncMode::load) {
            controller->beginSession(SyncMode::load);
        }
        if (!controller->virtualTavrikConnected()) {
            throw std::runtime_error("the simulator link did not come up");
        }
    }

    // The simulator answers the load with `line`; the event loop turns until the data are in.
    void load(const std::string& line, std::size_t routineCount)
    {
        std::ofstream(directory / "to-link.jsonl", std::ios::binary | std::ios::app) << line;
        controller->localLink().pollInbound();
        for (int turn = 0; turn < 1000 && controller->routineSummaries().size() != routineCount; ++turn) {
            scheduler.advance(std::chrono::milliseconds(1));
            QCoreApplication::processEvents();
        }
        if (controller->routineSummaries().size() != routineCount || !controller->virtualTavrikConnected()) {
            std::string log;
            for (const TavrikLogEntry& entry : controller->logItems()) {
                log += "\n  " + entry.text;
            }
            throw std::runtime_error("the routines did not load over the link:" + log);
        }
    }

    // The whole window over the controller, shown and drawn once.
    std::unique_ptr<TavrikLinkApplication> showWindow()
    {
        auto window = std::make_unique<TavrikLinkApplication>(AppOptions {},
            TavrikLinkApplication::Environment { scheduler, TavrikResources(QStringLiteral("/nonexistent/bin")),
                [](int) {}, false, controller.get(), &systemClock() });
        window->show();
        QCoreApplication::processEvents();
        return window;
    }

    QTemporaryDir folder;
    std::filesystem::path directory = folder.path().toStdString();
    test::ManualScheduler scheduler;
    test::FakeBleCentral central { scheduler };
    test::SequenceRandomSource random;
    InMemoryKeyValueStore defaults;
    std::unique_ptr<TavrikBleCentral> controller;
};

} // namespace tavrik::bench
