#include "tests/controller/ControllerTestSupport.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Routine/RoutineConversions.hpp"
#include "TavrikCore/Routine/RoutineDraft.hpp"

#include <functional>

namespace tavrik::test {
namespace {

RoutineStepPayload stepPayload(std::uint32_t id, std::int64_t position, std::string tagId, std::string instruction = "")
{
    return { id, position, 0, std::move(tagId), 30, std::move(instruction), 0 };
}

ScheduledRoutine schedule(std::uint32_t id, std::uint32_t routineId, std::int64_t hour, std::string label)
{
    ScheduledRoutine schedule;
    schedule.id = id;
    schedule.routineId = routineId;
    schedule.hour = hour;
    schedule.days = 127;
    schedule.enabled = true;
    schedule.label = std::move(label);
    return schedule;
}

RoutineStepDraft stepDraft(std::uint32_t stepId, std::int64_t position, std::string tagId, std::uint32_t parentId = 0)
{
    RoutineStepDraft step;
    step.stepId = stepId;
    step.position = position;
    step.parentId = parentId;
    step.tagId = std::move(tagId);
    step.seconds = 30;
    return step;
}

// A device with three tags and two routines: Morning (one step, start tag 9, one schedule) and
// Evening (two steps, one schedule).
class ControllerRoutineTest : public ControllerTest {
protected:
    void SetUp() override
    {
        clock.locale = "en_US";
        addDevice();
        device->data.tags = { { 7, "04 01", "Desk" }, { 9, "04 02", "Door" }, { 12, "04 03", "Bed" } };
        device->data.routines = {
            { 1, "Morning", { stepPayload(1, 0, "7", "Stretch") }, {}, { 9 } },
            { 2, "Evening", { stepPayload(1, 0, "12", "Read"), stepPayload(2, 1, "7") }, {}, {} },
        };
        device->data.schedules = { schedule(1, 2, 21, "Evening"), schedule(2, 1, 7, "Morning") };
        load();
    }

    // Before version 9 the device sends groups as "timeboxes"; there Evening holds one.
    void load(std::int64_t dataVersion = 9)
    {
        controller.reset();
        device->data.dataVersion = dataVersion;
        device->syncDataJson.reset();
        if (dataVersion < 9) {
            Json data = toJson(device->data);
            for (Json& routine : data["routines"]) {
                routine.erase("groups");
                routine["timeboxes"] = Json::array();
            }
            data["routines"][1]["timeboxes"].push_back(
                { { "id", 30 }, { "position", 2 }, { "label", "Box" }, { "timeLimitSeconds", 600 } });
            device->syncDataJson = data;
        }
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        ASSERT_EQ(controller->deviceSyncDataVersion(), dataVersion);
    }

    RoutineDraft draftOf(std::uint32_t id) const { return RoutineDraft(controller->routineDetails().at(id)); }

    static RoutineDraft newDraft(
        std::string label, std::vector<RoutineStepDraft> steps = {}, std::vector<std::uint32_t> startTags = {})
    {
        return RoutineDraft(std::nullopt, std::move(label), std::move(startTags), std::move(steps), {});
    }

    std::vector<std::string> sent()
    {
        settle();
        return device->receivedCommands();
    }

    std::vector<std::string> sentSince(std::size_t count)
    {
        const std::vector<std::string> all = sent();
        return { all.begin() + static_cast<std::ptrdiff_t>(std::min(count, all.size())), all.end() };
    }

    void deliver(const Json& message)
    {
        device->send(message);
        settle();
    }

    std::vector<std::string> summaryLabels() const
    {
        std::vector<std::string> labels;
        for (const RoutineSummary& summary : controller->routineSummaries()) {
            labels.push_back(std::to_string(summary.id) + ":" + summary.label);
        }
        return labels;
    }

    std::vector<std::string> routineList() const
    {
        std::vector<std::string> labels;
        for (const ScheduleDefinition& routine : controller->routines()) {
            labels.push_back(std::to_string(routine.id) + ":" + routine.label);
        }
        return labels;
    }

    // The device's echo of a stored detail, as a "routine_detail" message.
    static Json detailMessage(const RoutineDetailModel& detail)
    {
        Json steps = Json::array();
        for (const RoutineStepModel& step : detail.steps) {
            steps.push_back(toJson(RoutineStepPayload { step.stepId, step.position, step.parentId, step.tagId,
                step.seconds, step.instruction, step.unstoppable ? 1 : 0 }));
        }
        return { { "type", "routine_detail" }, { "id", detail.id }, { "label", detail.label },
            { "stepCount", detail.steps.size() }, { "groupCount", detail.groups.size() },
            { "startTagIds", detail.startTagIds }, { "steps", steps }, { "groups", Json::array() } };
    }
};

TEST_F(ControllerRoutineTest, CreateAppliesAtOnceAndSendsTheRoutineThenItsSteps)
{
    ASSERT_EQ(probe().nextLocalRoutineId(), 3u);
    RoutineStepDraft first = stepDraft(11, 0, " 12 ");
    first.instruction = "Say \"hi\"";
    const std::optional<std::uint32_t> id
        = controller->createRoutine(newDraft("Afternoon", { first, stepDraft(0, 1, "7") }, { 12, 7 }));

    ASSERT_EQ(id, 3u);
    EXPECT_EQ(sent(),
        (std::vector<std::string> {
            "routine:create id=3 label=\"Afternoon\" startTagIds=\"7,12\"",
            "steps:create routineId=3 id=11 parentId=0 position=0 tagId=\"12\" seconds=30 instruction=\"Say "
            "\\\"hi\\\"\" "
            "unstoppable=0",
            "steps:create routineId=3 id=12 parentId=0 position=1 tagId=\"7\" seconds=30 instruction=\"\" "
            "unstoppable=0",
            "steps:move routineId=3 id=11 parentId=0 position=0",
            "steps:move routineId=3 id=12 parentId=0 position=1",
        }));
    EXPECT_EQ(summaryLabels(), (std::vector<std::string> { "1:Morning", "2:Evening", "3:Afternoon" }));
    EXPECT_EQ(controller->routineSummaries().back(), (RoutineSummary { 3, "Afternoon", 2, 0, 2 }));
    EXPECT_EQ(routineList(), (std::vector<std::string> { "3:Afternoon", "2:Evening", "1:Morning" }));
    const RoutineDetailModel& detail = controller->routineDetails().at(3);
    EXPECT_EQ(detail.startTagIds, (std::vector<std::uint32_t> { 7, 12 }));
    EXPECT_EQ(detail.steps[0].tagId, "12");
    EXPECT_EQ(probe().pendingRoutineDetailSignatures().at(3), detail.syncSignature());
    EXPECT_EQ(probe().baselineSnapshot(), probe().currentSnapshot());
    EXPECT_EQ(probe().nextLocalRoutineId(), 4u);
    EXPECT_EQ(controller->routineError(), std::nullopt);
}

TEST_F(ControllerRoutineTest, NewRoutineIdsNeverWrapToZero)
{
    device->data.routines.push_back({ 4294967295U, "Last", {}, {}, {} });
    load();
    EXPECT_EQ(controller->createRoutine(newDraft("Next")), 3u);
    EXPECT_EQ(controller->createRoutine(newDraft("After")), 4u);
    EXPECT_EQ(sent(),
        (std::vector<std::string> { "routine:create id=3 label=\"Next\"", "routine:create id=4 label=\"After\"" }));
}

TEST_F(ControllerRoutineTest, CreateOfAnEmptyRoutineSendsOnlyTheRoutineAndAwaitsNoEcho)
{
    EXPECT_EQ(controller->createRoutine(newDraft("Blank")), 3u);
    EXPECT_EQ(sent(), (std::vector<std::string> { "routine:create id=3 label=\"Blank\"" }));
    EXPECT_TRUE(probe().pendingRoutineDetailSignatures().empty());
    EXPECT_TRUE(controller->routineDetails().contains(3));
}

TEST_F(ControllerRoutineTest, RefusedSavesChangeNothingButTheError)
{
    RoutineGroupDraft zeroTimebox;
    zeroTimebox.groupId = 50;
    zeroTimebox.label = "Box";
    zeroTimebox.timeLimitSeconds = 0;
    RoutineGroupDraft timedRotation;
    timedRotation.groupId = 50;
    timedRotation.label = "Spin";
    timedRotation.mode = RoutineGroupMode::rotation;
    timedRotation.timeLimitSeconds = 5;
    RoutineGroupDraft validGroup(Uuid::make(), 50, 1, "Box", RoutineGroupMode::timebox, 600);
    const auto withGroup = [](RoutineDraft draft, const RoutineGroupDraft& group) {
        draft.groups.push_back(group);
        return draft;
    };

    struct Case {
        std::string name;
        std::int64_t dataVersion;
        std::optional<std::uint32_t> updating; // nothing: a create
        std::function<RoutineDraft()> draft;
        std::string error;
    };
    const std::vector<Case> cases {
        { "empty label", 9, std::nullopt, []() { return newDraft(""); }, "Label required" },
        { "empty label on update", 9, 2u,
            [this]() {
                RoutineDraft draft = draftOf(2);
                draft.label.clear();
                return draft;
            },
            "Label required" },
        { "title of another routine", 9, std::nullopt, []() { return newDraft("  morning\n"); },
            "Routine title already exists" },
        { "rename onto another routine", 9, 2u,
            [this]() {
                RoutineDraft draft = draftOf(2);
                draft.label = "MORNING ";
                return draft;
            },
            "Routine title already exists" },
        { "timebox without a limit", 9, std::nullopt, [&]() { return withGroup(newDraft("Grouped"), zeroTimebox); },
            "Invalid group time limit" },
        { "rotation with a limit", 9, 1u, [&]() { return withGroup(draftOf(1), timedRotation); },
            "Invalid group time limit" },
        { "group on old firmware", 8, std::nullopt, [&]() { return withGroup(newDraft("Grouped"), validGroup); },
            "Update Tavrik firmware before editing groups." },
        { "group added on old firmware", 8, 1u, [&]() { return withGroup(draftOf(1), validGroup); },
            "Update Tavrik firmware before editing routines containing groups." },
        { "routine holding a group on old firmware", 8, 2u,
            [this]() {
                RoutineDraft draft = draftOf(2);
                draft.groups.clear();
                draft.label = "Night";
                return draft;
            },
            "Update Tavrik firmware before editing routines containing groups." },
        // The group check comes before the title check.
        { "group and no title on old firmware", 8, std::nullopt, [&]() { return withGroup(newDraft(""), validGroup); },
            "Update Tavrik firmware before editing groups." },
        { "step without a numeric tag", 9, std::nullopt, []() { return newDraft("Tagless", { stepDraft(1, 0, "A1") }); },
            "Routine 3 step 1 must reference a numeric tag id" },
        { "step with a missing tag", 9, 2u,
            [this]() {
                RoutineDraft draft = draftOf(2);
                draft.steps[1].tagId = "44";
                return draft;
            },
            "Routine 2 step 2 references missing tag id 44" },
        { "start tag of another routine", 9, std::nullopt, []() { return newDraft("Door", {}, { 9 }); },
            "Start tag id 9 is assigned to routines 1 and 3" },
        { "repeated start tag", 9, 2u,
            [this]() {
                RoutineDraft draft = draftOf(2);
                draft.startTagIds = { 7, 7 };
                return draft;
            },
            "Routine 2 contains repeated or invalid start tags" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        load(test.dataVersion);
        const auto summaries = controller->routineSummaries();
        const auto details = controller->routineDetails();
        const auto schedules = controller->schedules();
        const auto baseline = probe().baselineSnapshot();
        const std::size_t sentBefore = sent().size();
        const RoutineDraft draft = test.draft();

        if (test.updating) {
            EXPECT_FALSE(controller->updateRoutine(*test.updating, draft));
        } else {
            EXPECT_EQ(controller->createRoutine(draft), std::nullopt);
        }
        EXPECT_EQ(controller->routineError(), test.error);
        EXPECT_EQ(sentSince(sentBefore), std::vector<std::string> {});
        EXPECT_EQ(controller->routineSummaries(), summaries);
        EXPECT_EQ(controller->routineDetails(), details);
        EXPECT_EQ(controller->schedules(), schedules);
        EXPECT_EQ(probe().baselineSnapshot(), baseline);
        EXPECT_TRUE(probe().pendingRoutineDetailSignatures().empty());
        EXPECT_EQ(probe().nextLocalRoutineId(), 3u);
    }
}

TEST_F(ControllerRoutineTest, TagReferenceCheckCoversEveryRoutineWithTheGivenOnesInPlace)
{
    const auto refusal = [&](const std::vector<RoutineDetailModel>& details) -> std::string {
        try {
            probe().validateRoutineTagReferences(details);
        } catch (const SyncImportError& error) {
            return error.what();
        }
        return "";
    };
    RoutineDetailModel morning = controller->routineDetails().at(1);
    RoutineDetailModel evening = controller->routineDetails().at(2);
    RoutineDetailModel added;
    added.id = 3;
    added.label = "Added";
    EXPECT_EQ(refusal({ added }), "");
    evening.startTagIds = { 9 };
    EXPECT_EQ(refusal({ evening }), "Start tag id 9 is assigned to routines 1 and 2");
    morning.startTagIds.clear();
    EXPECT_EQ(refusal({ evening, morning }), "");
    const auto details = controller->routineDetails();

    // A broken routine the device sent refuses the save of another one.
    Json broken = detailMessage(details.at(2));
    broken["steps"][1]["tagId"] = "99";
    deliver(broken);
    EXPECT_EQ(controller->createRoutine(newDraft("Fine", { stepDraft(1, 0, "7") })), std::nullopt);
    EXPECT_EQ(controller->routineError(), "Routine 2 step 2 references missing tag id 99");
}

// The check is spared for routines that passed it with the same tags; anything that may have
// broken one of them since (its detail from the device, a new tag list) has it checked again.
TEST_F(ControllerRoutineTest, TagReferenceCheckSeesWhatChangedSinceTheLastSave)
{
    struct Case {
        std::string name;
        std::function<void()> change;
        std::string error;
    };
    const std::vector<Case> cases {
        { "another routine's detail from the device",
            [this] {
                Json broken = detailMessage(controller->routineDetails().at(2));
                broken["steps"][1]["tagId"] = "99";
                deliver(broken);
            },
            "Routine 2 step 2 references missing tag id 99" },
        { "a tag list without a tag another routine uses",
            [this] {
                deliver({ { "type", "tags_state" },
                    { "tags",
                        Json::array(
                            { toJson(TagInfo { 7, "04 01", "Desk" }), toJson(TagInfo { 9, "04 02", "Door" }) }) } });
            },
            "Routine 2 step 1 references missing tag id 12" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        load();
        RoutineDraft renamed = draftOf(1);
        renamed.label = "Morning walk";
        ASSERT_TRUE(controller->updateRoutine(1, renamed));
        test.change();
        renamed.label = "Morning run";
        EXPECT_FALSE(controller->updateRoutine(1, renamed));
        EXPECT_EQ(controller->routineError(), test.error);
    }
}

// Renaming moves the routine alone in the list; the list stays what sorting every routine by
// label gives, equal labels (a device may send them) in the order the routines came.
TEST_F(ControllerRoutineTest, RenamesKeepTheRoutineListInLabelOrder)
{
    SyncDataEnvelope data;
    data.dataVersion = 9;
    for (const auto& [id, label] : std::vector<std::pair<std::uint32_t, std::string>> {
             { 5, "beta" }, { 3, "Alpha" }, { 9, "BETA" }, { 1, "gamma" }, { 7, "Epsilon" } }) {
        data.routines.push_back({ id, label, {}, {}, {} });
    }
    controller->applySyncData(data, true, 9);
    const std::vector<std::pair<std::uint32_t, std::string>> renames {
        { 1, "Beta 2" }, // right after the two of the same label
        { 3, "Bet" }, // right before them
        { 7, "Aardvark" }, // to the front
        { 5, "zeta" }, // one of the two leaves for the end
        { 9, "alpha" },
        { 1, "b" },
    };
    for (const auto& [id, label] : renames) {
        SCOPED_TRACE(label);
        RoutineDraft draft = draftOf(id);
        draft.label = label;
        ASSERT_TRUE(controller->updateRoutine(id, draft));
        EXPECT_EQ(controller->routines(), sortedRoutineDefinitions(controller->routineSummaries(), clock));
        EXPECT_EQ(probe().baselineSnapshot(), probe().currentSnapshot());
    }
}

TEST_F(ControllerRoutineTest, RenameSendsOnlyTheLabelAndRelabelsItsSchedules)
{
    RoutineDraft draft = draftOf(1);
    draft.label = "MORNING";
    EXPECT_TRUE(controller->updateRoutine(1, draft));

    EXPECT_EQ(sent(), (std::vector<std::string> { "routine:update id=1 label=\"MORNING\"" }));
    EXPECT_EQ(summaryLabels(), (std::vector<std::string> { "1:MORNING", "2:Evening" }));
    EXPECT_EQ(controller->routineDetails().at(1).label, "MORNING");
    // Schedules stay in schedule order (07:00 before 21:00) and carry the new name.
    ASSERT_EQ(controller->schedules().size(), 2u);
    EXPECT_EQ(controller->schedules()[0].label, "MORNING");
    EXPECT_EQ(controller->schedules()[1].label, "Evening");
    EXPECT_EQ(probe().pendingRoutineDetailSignatures().at(1), controller->routineDetails().at(1).syncSignature());
    EXPECT_EQ(probe().baselineSnapshot(), probe().currentSnapshot());
}

TEST_F(ControllerRoutineTest, StartTagChangesGoInTheUpdateSortedOrEmpty)
{
    RoutineDraft draft = draftOf(1);
    draft.startTagIds = { 12, 7 };
    EXPECT_TRUE(controller->updateRoutine(1, draft));
    draft.startTagIds.clear();
    draft.label = "Dawn";
    EXPECT_TRUE(controller->updateRoutine(1, draft));
    EXPECT_EQ(sent(),
        (std::vector<std::string> {
            "routine:update id=1 startTagIds=\"7,12\"",
            "routine:update id=1 label=\"Dawn\" startTagIds=\"\"",
        }));
    EXPECT_EQ(controller->routineSummaries()[0], (RoutineSummary { 1, "Dawn", 1, 0, 0 }));
}

TEST_F(ControllerRoutineTest, StepChangesSendOnlyThePlannersCommands)
{
    RoutineDraft draft = draftOf(2);
    draft.steps[0].seconds = 45;
    EXPECT_TRUE(controller->updateRoutine(2, draft));
    // The planner places every root entry again once anything changed.
    EXPECT_EQ(sent(),
        (std::vector<std::string> { "steps:update routineId=2 id=1 seconds=45",
            "steps:move routineId=2 id=1 parentId=0 position=0", "steps:move routineId=2 id=2 parentId=0 position=1" }));
    EXPECT_EQ(controller->routineDetails().at(2).steps[0].seconds, 45);
    EXPECT_TRUE(probe().pendingRoutineDetailSignatures().contains(2));
}

// Every device field of a step, edited in a draft of Evening, must reach the controller's routine and
// the device, as an update of a loaded step and in the create of a new one. A row per field, in the
// records' field order, so a field added to the records without a row here fails.
TEST_F(ControllerRoutineTest, EveryStepFieldTravelsFromTheDraftToTheDevice)
{
    struct Case {
        std::string_view field;
        std::uint32_t stepId; // the edited step, after the edit
        std::function<void(RoutineDraft&)> edit;
        std::string update; // one command an update of Evening sends
        std::string created; // what the create of the step carries
    };
    const auto stepOf = [](RoutineDraft& draft, std::uint32_t stepId) -> RoutineStepDraft& {
        return *std::find_if(draft.steps.begin(), draft.steps.end(),
            [&](const RoutineStepDraft& step) { return step.stepId == stepId; });
    };
    const Case cases[] = {
        { "id", 77, [&](RoutineDraft& draft) { stepOf(draft, 1).stepId = 77; },
            "steps:create routineId=2 id=77 parentId=0 position=0 tagId=\"12\" seconds=30 instruction=\"Read\" "
            "unstoppable=0",
            "id=77" },
        { "position", 1, [&](RoutineDraft& draft) { stepOf(draft, 1).position = 5; },
            "steps:move routineId=2 id=1 parentId=0 position=1", "position=1" },
        { "parentId", 2,
            [&](RoutineDraft& draft) {
                draft.groups.emplace_back(Uuid::make(), 50, 2, "Box", RoutineGroupMode::timebox, 600);
                stepOf(draft, 2).parentId = 50;
            },
            "steps:move routineId=2 id=2 parentId=50 position=0", "parentId=50" },
        { "tagId", 1, [&](RoutineDraft& draft) { stepOf(draft, 1).tagId = "9"; },
            "steps:update routineId=2 id=1 tagId=\"9\"", "tagId=\"9\"" },
        { "seconds", 1, [&](RoutineDraft& draft) { stepOf(draft, 1).seconds = 45; },
            "steps:update routineId=2 id=1 seconds=45", "seconds=45" },
        { "instruction", 1, [&](RoutineDraft& draft) { stepOf(draft, 1).instruction = "Read twice"; },
            "steps:update routineId=2 id=1 instruction=\"Read twice\"", "instruction=\"Read twice\"" },
        { "unstoppable", 1, [&](RoutineDraft& draft) { stepOf(draft, 1).unstoppable = true; },
            "steps:update routineId=2 id=1 unstoppable=1", "unstoppable=1" },
    };
    ASSERT_EQ(std::size(cases), routineStepFieldNames.size());

    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const Case& row = cases[index];
        SCOPED_TRACE(std::string(row.field));
        EXPECT_EQ(row.field, routineStepFieldNames[index]);
        load();
        const RoutineDetailModel before = controller->routineDetails().at(2);
        RoutineDraft draft = draftOf(2);
        row.edit(draft);
        draft.normalizeHierarchy();
        const std::size_t sentBefore = sent().size();

        ASSERT_TRUE(controller->updateRoutine(2, draft));
        const RoutineDetailModel& after = controller->routineDetails().at(2);
        EXPECT_NE(after, before);
        EXPECT_NE(after.syncSignature(), before.syncSignature());
        EXPECT_EQ(after.syncSignature(), draft.syncSignature());
        RoutineDraft stored(after);
        EXPECT_EQ(stepOf(stored, row.stepId).fields(), stepOf(draft, row.stepId).fields());
        const std::vector<std::string> updates = sentSince(sentBefore);
        EXPECT_NE(std::find(updates.begin(), updates.end(), row.update), updates.end())
            << testing::PrintToString(updates);

        draft.id.reset();
        draft.label = "Copy";
        const std::size_t sentBeforeCreate = sent().size();
        const std::optional<std::uint32_t> created = controller->createRoutine(draft);
        ASSERT_TRUE(created);
        const std::string createPrefix
            = "steps:create routineId=" + std::to_string(*created) + " id=" + std::to_string(row.stepId) + " ";
        const std::vector<std::string> creates = sentSince(sentBeforeCreate);
        const auto create = std::find_if(creates.begin(), creates.end(),
            [&](const std::string& command) { return command.starts_with(createPrefix); });
        ASSERT_NE(create, creates.end()) << testing::PrintToString(creates);
        EXPECT_NE(create->find(" " + row.created), std::string::npos) << *create;
    }
}

TEST_F(ControllerRoutineTest, UnchangedSaveSendsNothing)
{
    controller->createRoutine(newDraft(""));
    ASSERT_TRUE(controller->routineError());
    const auto details = controller->routineDetails();

    EXPECT_FALSE(controller->updateRoutine(2, draftOf(2)));
    EXPECT_EQ(controller->routineError(), std::nullopt);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(controller->routineDetails(), details);
    EXPECT_TRUE(probe().pendingRoutineDetailSignatures().empty());
}

TEST_F(ControllerRoutineTest, SavingARoutineWithoutADetailStoresItQuietly)
{
    deliver({ { "type", "routines_state" },
        { "routines",
            Json::array({ { { "id", 1 }, { "label", "Morning" } }, { { "id", 2 }, { "label", "Evening" } },
                { { "id", 5 }, { "label", "Later" } } }) } });
    ASSERT_FALSE(controller->routineDetails().contains(5));

    EXPECT_TRUE(controller->updateRoutine(5, newDraft("Later")));
    EXPECT_TRUE(controller->routineDetails().contains(5));
    EXPECT_TRUE(sent().empty());
    EXPECT_TRUE(probe().pendingRoutineDetailSignatures().empty());
}

TEST_F(ControllerRoutineTest, DeleteRemovesTheRoutineItsSchedulesAndItsAwaitedEcho)
{
    RoutineDraft draft = draftOf(1);
    draft.label = "Renamed";
    controller->updateRoutine(1, draft);
    ASSERT_TRUE(probe().pendingRoutineDetailSignatures().contains(1));

    controller->deleteRoutine(1);
    EXPECT_EQ(sent(), (std::vector<std::string> { "routine:update id=1 label=\"Renamed\"", "routine:delete id=1" }));
    EXPECT_EQ(summaryLabels(), (std::vector<std::string> { "2:Evening" }));
    EXPECT_EQ(routineList(), (std::vector<std::string> { "2:Evening" }));
    EXPECT_FALSE(controller->routineDetails().contains(1));
    ASSERT_EQ(controller->schedules().size(), 1u);
    EXPECT_EQ(controller->schedules()[0].routineId, 2u);
    EXPECT_TRUE(probe().pendingRoutineDetailSignatures().empty());
    EXPECT_EQ(probe().baselineSnapshot(), probe().currentSnapshot());
}

TEST_F(ControllerRoutineTest, TheDevicesEchoDoesNotOverwriteALocalSave)
{
    const RoutineDetailModel before = controller->routineDetails().at(1);
    RoutineDraft draft = draftOf(1);
    draft.label = "Sunrise";
    draft.steps[0].seconds = 90;
    ASSERT_TRUE(controller->updateRoutine(1, draft));
    const RoutineDetailModel saved = controller->routineDetails().at(1);

    // The routine list from before the save keeps the local entry; the rest and the order are the device's.
    deliver({ { "type", "routines_state" },
        { "routines",
            Json::array({ { { "id", 4 }, { "label", "Noon" } },
                { { "id", 1 }, { "label", "Morning" }, { "stepCount", 1 } } }) } });
    EXPECT_EQ(summaryLabels(), (std::vector<std::string> { "4:Noon", "1:Sunrise" }));
    EXPECT_EQ(routineList(), (std::vector<std::string> { "4:Noon", "1:Sunrise" }));

    // A stale detail is dropped whole.
    const auto baseline = probe().baselineSnapshot();
    deliver(detailMessage(before));
    EXPECT_EQ(controller->routineDetails().at(1), saved);
    EXPECT_EQ(probe().baselineSnapshot(), baseline);
    EXPECT_EQ(summaryLabels(), (std::vector<std::string> { "4:Noon", "1:Sunrise" }));
    EXPECT_TRUE(probe().pendingRoutineDetailSignatures().contains(1));

    // The confirming detail is taken and ends the wait; later device data is taken as sent.
    deliver(detailMessage(saved));
    EXPECT_TRUE(probe().pendingRoutineDetailSignatures().empty());
    deliver(detailMessage(before));
    EXPECT_EQ(controller->routineDetails().at(1), before);
    EXPECT_EQ(summaryLabels(), (std::vector<std::string> { "4:Noon", "1:Morning" }));
    EXPECT_EQ(probe().baselineSnapshot(), probe().currentSnapshot());
}

TEST_F(ControllerRoutineTest, RoutineDetailOfANewRoutineIsRepairedAndAppended)
{
    controller->createRoutine(newDraft(""));
    deliver({ { "type", "routine_detail" }, { "id", 8 }, { "label", "alpha" }, { "startTagIds", Json::array({ 7 }) },
        { "steps",
            Json::array({ { { "id", 4 }, { "position", 0 }, { "tagId", " 7" }, { "seconds", 5 }, { "instruction", "" } },
                { { "id", 4 }, { "position", -1 }, { "tag", "12" }, { "seconds", 5 }, { "instruction", "" } } }) } });

    EXPECT_EQ(controller->routineError(), std::nullopt);
    EXPECT_EQ(controller->routineSummaries().back(), (RoutineSummary { 8, "alpha", 2, 0, 1 }));
    EXPECT_EQ(routineList(), (std::vector<std::string> { "8:alpha", "2:Evening", "1:Morning" }));
    const RoutineDetailModel& detail = controller->routineDetails().at(8);
    ASSERT_EQ(detail.steps.size(), 2u);
    EXPECT_EQ(detail.steps[0].tagId, "7");
    EXPECT_EQ(detail.steps[1].stepId, 5u);
    EXPECT_EQ(detail.steps[1].position, 1);
    EXPECT_EQ(detail.expectedStepCount, 2);
    EXPECT_EQ(probe().nextLocalRoutineId(), 9u);

    // Without an id or a label only the error is cleared.
    controller->createRoutine(newDraft(""));
    deliver({ { "type", "routine_detail" }, { "label", "orphan" } });
    EXPECT_EQ(controller->routineError(), std::nullopt);
    EXPECT_EQ(controller->routineSummaries().size(), 3u);
}

TEST_F(ControllerRoutineTest, ActiveRoutineFollowsTheDevice)
{
    deliver({ { "type", "routines_state" },
        { "routines", Json::array({ { { "id", 1 }, { "label", "Morning" } }, { { "id", 2 }, { "label", "Evening" } } }) },
        { "active", { { "id", 2 }, { "step", 0 } } } });
    EXPECT_EQ(controller->activeRoutineContext(),
        (ActiveRoutineContext { 2, "Evening", 0, 2, std::string("Read"), std::string("Bed"), true }));

    // A rename elsewhere reaches the active record at once.
    RoutineDraft draft = draftOf(2);
    draft.label = "Night";
    draft.steps[0].tagId = "abc";
    controller->updateRoutine(2, draft);
    EXPECT_EQ(controller->routineError(), "Routine 2 step 1 must reference a numeric tag id");
    draft.steps[0].tagId = " 7 ";
    controller->updateRoutine(2, draft);
    EXPECT_EQ(controller->activeRoutineContext(),
        (ActiveRoutineContext { 2, "Night", 0, 2, std::string("Read"), std::string("Desk"), true }));

    // A step whose tag is not saved is shown with an unlinked tag.
    deliver({ { "type", "routine_detail" }, { "id", 3 }, { "label", "Spare" },
        { "steps",
            Json::array({ { { "id", 1 }, { "position", 0 }, { "parentId", 0 }, { "tagId", "99" }, { "seconds", 30 },
                { "instruction", "Sweep" }, { "unstoppable", 0 } } }) } });
    deliver({ { "type", "routine_event" }, { "event", "trigger" }, { "id", 3 } });
    EXPECT_EQ(controller->activeRoutineContext(),
        (ActiveRoutineContext { 3, "Spare", 0, 1, std::string("Sweep"), std::string("Unlinked tag"), true }));

    deliver({ { "type", "routines_state" }, { "routines", Json::array() } });
    EXPECT_EQ(controller->activeRoutineContext(), std::nullopt);
}

TEST_F(ControllerRoutineTest, ResettingRoutineStateLeavesNothingOfTheRoutines)
{
    deliver({ { "type", "routines_state" },
        { "routines", Json::array({ { { "id", 1 }, { "label", "Morning" } }, { { "id", 2 }, { "label", "Evening" } } }) },
        { "active", { { "id", 2 }, { "step", 0 } } } });
    EXPECT_FALSE(controller->createRoutine(newDraft("")));
    ASSERT_TRUE(controller->routineError());
    ASSERT_TRUE(controller->activeRoutineContext());
    ASSERT_FALSE(controller->routineDetails().empty());
    const std::vector<TagInfo> tags = controller->tags();

    int summaryChanges = 0;
    QObject::connect(controller.get(), &TavrikBleCentral::routineSummariesChanged, [&] { ++summaryChanges; });
    probe().resetRoutineState();
    EXPECT_TRUE(controller->routineSummaries().empty());
    EXPECT_TRUE(controller->routineDetails().empty());
    EXPECT_EQ(controller->routineError(), std::nullopt);
    // The summaries' observer runs before the context goes, so it cannot bring the context back.
    EXPECT_EQ(controller->activeRoutineContext(), std::nullopt);
    EXPECT_EQ(summaryChanges, 1);
    EXPECT_EQ(controller->tags(), tags);
}

TEST_F(ControllerRoutineTest, RoutineEventsEndTheControlExchange)
{
    struct Case {
        Json event;
        std::optional<ActiveRoutineContext> context;
        std::optional<std::string> error;
        // Exchanges run first, each a start answered by this event.
        std::vector<Json> earlier {};
    };
    const ActiveRoutineContext unknown { 77, "Routine 77", 0, std::nullopt, std::nullopt, std::nullopt, true };
    const Json resumeAtStep3 { { "event", "resume" }, { "id", 1 }, { "step", 3 } };
    const std::vector<Case> cases {
        { { { "event", "trigger" }, { "id", 77 } }, unknown, std::nullopt },
        { resumeAtStep3, ActiveRoutineContext { 1, "Morning", 3, 1, std::nullopt, std::nullopt, true }, std::nullopt },
        // Keeps the step the resumed routine is at.
        { { { "event", "escape_required" }, { "id", 1 } },
            ActiveRoutineContext { 1, "Morning", 3, 1, std::nullopt, std::nullopt, true },
            "Strict escape armed on Tavrik. Hold the A button to begin.", { resumeAtStep3 } },
        { { { "event", "stop" }, { "id", 1 } }, std::nullopt, std::nullopt },
        { { { "event", "trigger" }, { "id", 1 } },
            ActiveRoutineContext { 1, "Morning", 0, 1, std::string("Stretch"), std::string("Desk"), true }, std::nullopt },
        { { { "event", "complete" }, { "id", 1 } }, std::nullopt, std::nullopt },
        { { { "event", "paused" }, { "id", 1 } }, std::nullopt, std::nullopt },
    };
    const auto startAnsweredBy = [this](Json event) {
        controller->triggerRoutine(1);
        event["type"] = "routine_event";
        deliver(event);
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.event.dump());
        for (const Json& event : test.earlier) {
            startAnsweredBy(event);
        }
        startAnsweredBy(test.event);
        EXPECT_EQ(controller->activeRoutineContext(), test.context);
        EXPECT_EQ(controller->routineError(), test.error);
        EXPECT_EQ(controller->syncStage(), SyncStage::completed());
        EXPECT_EQ(controller->syncMode(), std::nullopt);
        EXPECT_EQ(probe().pendingRoutineCommand(), std::nullopt);
        // The exchange no longer holds the link; the next case starts on the link of the load that follows.
        EXPECT_TRUE(idleMinuteEndsLink());
        scheduler.advance(std::chrono::seconds(1));
        ASSERT_TRUE(controller->hasLoadedData());
    }

    // An event without its name or id is ignored entirely: the exchange still holds the link.
    controller->triggerRoutine(1);
    deliver({ { "type", "routine_event" }, { "event", "stop" } });
    deliver({ { "type", "routine_event" }, { "id", 1 } });
    EXPECT_FALSE(idleMinuteEndsLink());
}

TEST_F(ControllerRoutineTest, DeviceErrorsAndUnreadableMessagesFailTheExchange)
{
    // A device "error" is the routine handler's once a routine command went out last.
    controller->deleteRoutine(2);
    controller->triggerRoutine(1);
    deliver({ { "type", "error" } });
    EXPECT_EQ(controller->routineError(), "Routine error");
    // With data loaded the refusal shows at the routine only: the window stays connected.
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    // Over: the idle minute ends the link, and the load that follows opens the next one.
    EXPECT_TRUE(idleMinuteEndsLink());
    scheduler.advance(std::chrono::seconds(1));
    ASSERT_TRUE(controller->hasLoadedData());

    controller->triggerRoutine(1);
    deliver({ { "type", "error" }, { "message", "Routine busy" } });
    EXPECT_EQ(controller->routineError(), "Routine busy");
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());

    controller->triggerRoutine(1);
    const auto summaries = controller->routineSummaries();
    deliver({ { "type", "routines_state" }, { "routines", "not a list" } });
    EXPECT_EQ(controller->routineError(), "Invalid routine payload");
    EXPECT_EQ(controller->routineSummaries(), summaries);

    deliver({ { "type", "routine_steps_state" } });
    EXPECT_EQ(controller->routineError(), std::nullopt);
    // The unreadable answer ended the exchange.
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerRoutineTest, TriggerWaitsForOtherBluetoothWork)
{
    controller->beginSession(SyncMode::load);
    controller->triggerRoutine(2);
    EXPECT_EQ(controller->routineError(), "Finish the current Bluetooth task first");
    EXPECT_EQ(probe().pendingRoutineCommand(), std::nullopt);
    // Once the load is done, nothing of the refused start holds the link or reaches the device.
    settle();
    ASSERT_TRUE(controller->hasLoadedData());
    EXPECT_TRUE(idleMinuteEndsLink());
    const std::vector<std::string> commands = device->receivedCommands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "routine:trigger id=2"), 0);
}

TEST_F(ControllerRoutineTest, TriggerWhileConnectedTakesTheCommandAtOnce)
{
    controller->createRoutine(newDraft(""));
    controller->triggerRoutine(2);
    EXPECT_EQ(controller->routineError(), std::nullopt);
    EXPECT_EQ(probe().pendingRoutineCommand(), std::nullopt);
    // Open until the device answers.
    EXPECT_FALSE(idleMinuteEndsLink());
}

} // namespace
} // namespace tavrik::test
