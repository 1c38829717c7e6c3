#include "BackupTestSupport.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace tavrik {
namespace {

using test::migrationErrorText;

TagInfo tag(std::uint32_t id)
{
    return { id, "04 00 00 00 00 00 " + std::to_string(id), "Tag " + std::to_string(id) };
}

RoutineStepPayload step(std::uint32_t id, std::uint32_t parentId, std::string tagId)
{
    RoutineStepPayload step;
    step.id = id;
    step.parentId = parentId;
    step.tagId = std::move(tagId);
    step.seconds = 30;
    step.instruction = "Step " + std::to_string(id);
    return step;
}

RoutineGroupPayload group(std::uint32_t id, RoutineGroupMode mode, std::int64_t seconds)
{
    return { id, 0, "Group " + std::to_string(id), mode, seconds };
}

ScheduledRoutine schedule(std::uint32_t id, std::uint32_t routineId)
{
    ScheduledRoutine schedule;
    schedule.id = id;
    schedule.routineId = routineId;
    schedule.hour = 7;
    schedule.enabled = true;
    return schedule;
}

// Routine 1 holds timebox group 10 (86400 s), rotation group 11 and steps 1 to 3; routine 2 reuses
// node ids 1 and 10, which is fine across routines.
SyncDataEnvelope validEnvelope()
{
    SyncDataEnvelope envelope;
    envelope.type = "sync_data";
    envelope.dataVersion = 9;
    envelope.tags = { tag(1), tag(2), tag(7) };

    RoutinePayload first;
    first.id = 1;
    first.label = "First";
    first.groups = { group(10, RoutineGroupMode::timebox, 86400), group(11, RoutineGroupMode::rotation, 0) };
    first.steps = { step(1, 0, "1"), step(2, 10, "2"), step(3, 11, "0007") };
    first.startTagIds = { 7 };

    RoutinePayload second;
    second.id = 2;
    second.label = "Second";
    second.groups = { group(1, RoutineGroupMode::timebox, 1) };
    second.steps = { step(10, 1, "1") };
    second.startTagIds = { 2 };

    envelope.routines = { first, second };
    envelope.schedules = { schedule(3, 1), schedule(4, 2) };
    return envelope;
}

TEST(BackupEnvelopeValidation, AcceptsValidAndEmptyEnvelopes)
{
    EXPECT_NO_THROW(BackupMigrationPipeline::validateCurrentEnvelope(validEnvelope()));

    SyncDataEnvelope empty;
    empty.type = "sync_data";
    empty.dataVersion = 9;
    EXPECT_NO_THROW(BackupMigrationPipeline::validateCurrentEnvelope(empty));
}

TEST(BackupEnvelopeValidation, RefusesTheFirstBrokenRule)
{
    using Change = std::function<void(SyncDataEnvelope&)>;
    const auto first = [](SyncDataEnvelope& envelope) -> RoutinePayload& { return envelope.routines[0]; };
    const std::pair<Change, std::string> cases[] = {
        { [](SyncDataEnvelope& e) { e.type = "sync_state"; }, "Backup is not Tavrik sync data" },
        { [](SyncDataEnvelope& e) { e.dataVersion = 8; },
            "Backup migration pipeline is not aligned with the current schema" },
        { [](SyncDataEnvelope& e) { e.dataVersion.reset(); },
            "Backup migration pipeline is not aligned with the current schema" },
        { [](SyncDataEnvelope& e) { e.tags.push_back(tag(2)); }, "Backup contains invalid or repeated tag ids" },
        { [](SyncDataEnvelope& e) { e.tags.push_back(tag(0)); }, "Backup contains invalid or repeated tag ids" },
        { [](SyncDataEnvelope& e) { e.routines.push_back(e.routines[1]); },
            "Backup contains invalid or repeated routine ids" },
        { [&](SyncDataEnvelope& e) { first(e).id = 0; }, "Backup contains invalid or repeated routine ids" },
        { [](SyncDataEnvelope& e) { e.schedules.push_back(schedule(3, 2)); },
            "Backup contains invalid or repeated schedule ids" },
        { [](SyncDataEnvelope& e) { e.schedules.push_back(schedule(0, 2)); },
            "Backup contains invalid or repeated schedule ids" },
        { [](SyncDataEnvelope& e) { e.schedules.push_back(schedule(5, 9)); },
            "Schedule 5 references missing routine id 9" },
        // Tag ids are checked before schedule references.
        { [](SyncDataEnvelope& e) {
             e.schedules.push_back(schedule(5, 9));
             e.tags.push_back(tag(1));
         },
            "Backup contains invalid or repeated tag ids" },
        { [&](SyncDataEnvelope& e) { first(e).groups.push_back(group(10, RoutineGroupMode::timebox, 60)); },
            "Routine 1 contains invalid or repeated group ids" },
        { [&](SyncDataEnvelope& e) { first(e).groups.push_back(group(0, RoutineGroupMode::timebox, 60)); },
            "Routine 1 contains invalid or repeated group ids" },
        { [&](SyncDataEnvelope& e) { first(e).groups[0].timeLimitSeconds = 0; },
            "Group 10 has an invalid time limit for timebox mode" },
        { [&](SyncDataEnvelope& e) { first(e).groups[0].timeLimitSeconds = 86401; },
            "Group 10 has an invalid time limit for timebox mode" },
        { [&](SyncDataEnvelope& e) { first(e).groups[1].timeLimitSeconds = 60; },
            "Group 11 has an invalid time limit for rotation mode" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].id = 11; }, "Routine 1 contains an invalid or repeated node id" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].id = 1; }, "Routine 1 contains an invalid or repeated node id" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].id = 0; }, "Routine 1 contains an invalid or repeated node id" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].tagId = std::string(""); },
            "Routine 1 step 3 references a missing tag" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].tagId = std::string("0"); },
            "Routine 1 step 3 references a missing tag" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].tagId = std::string("5"); },
            "Routine 1 step 3 references a missing tag" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].tagId = std::string("Tag 7"); },
            "Routine 1 step 3 references a missing tag" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].tagId = std::string(" 7"); },
            "Routine 1 step 3 references a missing tag" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].tagId = std::string("-7"); },
            "Routine 1 step 3 references a missing tag" },
        // 2^32 + 7 must not wrap onto tag 7.
        { [&](SyncDataEnvelope& e) { first(e).steps[2].tagId = std::string("4294967303"); },
            "Routine 1 step 3 references a missing tag" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].parentId = 1; }, "Routine 1 step 3 references a missing group" },
        { [&](SyncDataEnvelope& e) { first(e).steps[2].parentId = 12; }, "Routine 1 step 3 references a missing group" },
        { [&](SyncDataEnvelope& e) {
             first(e).startTagIds = { 7, 7 };
         },
            "Routine 1 contains invalid or repeated start tag ids" },
        { [&](SyncDataEnvelope& e) { first(e).startTagIds = { 0 }; },
            "Routine 1 contains invalid or repeated start tag ids" },
        { [&](SyncDataEnvelope& e) {
             first(e).startTagIds = { 7, 9 };
         },
            "Routine 1 references missing start tag id 9" },
        { [](SyncDataEnvelope& e) {
             e.routines[1].startTagIds = { 2, 7 };
         },
            "Start tag id 7 is assigned to routines 1 and 2" },
        // Every start tag of a routine must exist before any is checked for an earlier holder.
        { [](SyncDataEnvelope& e) {
             e.routines[1].startTagIds = { 7, 9 };
         },
            "Routine 2 references missing start tag id 9" },
    };
    for (const auto& [change, message] : cases) {
        SyncDataEnvelope envelope = validEnvelope();
        change(envelope);
        EXPECT_EQ(migrationErrorText([&] { BackupMigrationPipeline::validateCurrentEnvelope(envelope); }), message);
        EXPECT_EQ(migrationErrorText([&] { BackupMigrationPipeline::encodeCurrent(envelope, true); }), message);
    }
}

TEST(BackupEnvelopeValidation, ChecksTheStoreSnapshot)
{
    SyncDataEnvelope envelope = validEnvelope();
    envelope.storeSnapshot = StoreSnapshotPayload { 1, { { "volume", "u8", "300" } } };
    EXPECT_THROW(BackupMigrationPipeline::validateCurrentEnvelope(envelope), SyncImportError);
    envelope.storeSnapshot->entries[0].value = "30";
    EXPECT_NO_THROW(BackupMigrationPipeline::validateCurrentEnvelope(envelope));
}

} // namespace
} // namespace tavrik
