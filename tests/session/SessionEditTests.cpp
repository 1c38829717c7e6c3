#include "tests/session/SessionEditTestSupport.hpp"
#include "tests/session/SessionFirmwareTestSupport.hpp"

namespace tavrik::test {
namespace {

using SessionEditGuardTest = SessionEditTest;
using SessionTagEditTest = SessionEditTest;
using SessionRoutineEditTest = SessionEditTest;

const std::vector<std::string> editActions { "saveTag", "deleteTag", "saveRoutine", "deleteRoutine", "saveSchedule",
    "deleteSchedule", "settings", "scanTag", "cancelScan", "triggerRoutine", "stopRoutine", "clock", "wifi" };

// The sample data written as firmware of an older schema: no groups before 8 keeps them as "timeboxes".
Json sampleAtSchema(int version)
{
    Json data = sampleDeviceData();
    data["dataVersion"] = version;
    for (Json& routine : data["routines"]) {
        routine["timeboxes"] = routine["groups"];
        routine.erase("groups");
        if (version < 8) {
            routine.erase("startTagIds");
        }
    }
    if (version < 8) {
        // Routine 2's group would not survive an older schema; leave it without one.
        data["routines"][1]["timeboxes"] = Json::array();
        data["routines"][1]["steps"][0]["parentId"] = 0;
    }
    return data;
}

TEST_F(SessionEditGuardTest, EveryEditWaitsForALoadedIdleDevice)
{
    for (const std::string& action : editActions) {
        SCOPED_TRACE(action);
        makeSession(true);
        SessionResponse response = dispatch(action, { { "id", 1 } });
        EXPECT_EQ(response.error(), "Connect and finish loading Tavrik first");

        connect();
        response = dispatch(action, { { "id", 1 } });
        EXPECT_EQ(response.error(), "Connect and finish loading Tavrik first") << "connected, nothing loaded";

        loadOverSimulator(sampleDeviceData());
        dispatch("load");
        response = dispatch(action, { { "id", 1 } }, dataOf(Json { { "id", 0 }, { "uid", "A" }, { "name", "B" } }));
        EXPECT_EQ(response.error(), "Connect and finish loading Tavrik first") << "while a sync runs";
        EXPECT_TRUE(response.applicationWrites().empty());
    }
}

using SessionEditWhileInstallingTest = SessionFirmwareTest;

TEST_F(SessionEditWhileInstallingTest, EveryEditWaitsUntilTheFirmwareIsInstalled)
{
    offerFirmware();
    const SessionResponse downloading = dispatch("firmwareInstall");
    ASSERT_TRUE(downloading.ok()) << downloading.error();
    const auto expectRefusedEdits = [&](const char* phase) {
        for (const std::string& action : editActions) {
            SCOPED_TRACE(std::string(phase) + " " + action);
            const SessionResponse response = dispatch(action, { { "id", 1 } });
            EXPECT_EQ(response.error(), "Connect and finish loading Tavrik first");
            EXPECT_TRUE(response.effects().empty());
        }
    };
    expectRefusedEdits("image download");
    pump(answer(downloading, image));
    ASSERT_EQ(firmwareState().at("active"), true);
    expectRefusedEdits("transfer");
}

TEST_F(SessionEditGuardTest, AMalformedPayloadEndsTheActionWithTheDecoderError)
{
    for (const std::string action : { "saveTag", "saveRoutine", "saveSchedule" }) {
        SCOPED_TRACE(action);
        LinkRun run = runOnSimulator(action, Json::object(), dataOf(std::string_view("{\"id\":")));
        EXPECT_FALSE(run.response.ok());
        EXPECT_FALSE(run.response.error().empty());
        EXPECT_TRUE(run.commands.empty());

        run = runOnSimulator(action, Json::object(), dataOf(Json { { "id", "seven" } }));
        EXPECT_FALSE(run.response.ok());
        EXPECT_TRUE(run.commands.empty());
    }
}

TEST_F(SessionEditGuardTest, ActionsThatNameASavedItemNeedAUsableId)
{
    const std::vector<Json> unusable { Json(), Json(0), Json(-1), Json(1.5), Json("1"), Json(true), Json(4294967296LL),
        Json::array({ 1 }) };
    for (const std::string action : { "deleteTag", "deleteRoutine", "deleteSchedule", "triggerRoutine" }) {
        for (const Json& id : unusable) {
            SCOPED_TRACE(action + " " + id.dump());
            Json arguments = Json::object();
            if (!id.is_null()) {
                arguments["id"] = id;
            }
            expectRefusal(action, arguments, {}, "Choose a saved item first");
        }
    }
    // A whole number written as a float is still that id.
    expectCommandsOnBothLinks("triggerRoutine", { { "id", 2.0 } }, {}, { "routine:trigger id=2" });
}

TEST_F(SessionTagEditTest, SavesTagsWithTrimmedQuotedValues)
{
    struct Case {
        const char* name;
        Json tag;
        std::string command;
    };
    const std::vector<Case> cases {
        { "new tag takes the next id", { { "id", 0 }, { "uid", "  04 ab cd \n" }, { "name", " Hall\t" } },
            R"(tag:create id=3 uid="04 AB CD" name="Hall")" },
        { "own name in another case", { { "id", 2 }, { "uid", "04 aa bb cc dd ee ff" }, { "name", "DESK" } },
            R"(tag:update id=2 uid="04 AA BB CC DD EE FF" name="DESK")" },
        { "quote and backslash", { { "id", 1 }, { "uid", "x\"1" }, { "name", R"(Say "hi" \ bye)" } },
            R"(tag:update id=1 uid="X\"1" name="Say \"hi\" \\ bye")" },
        { "unknown id is created under it", { { "id", 9 }, { "uid", "09" }, { "name", "Shed" } },
            R"(tag:create id=9 uid="09" name="Shed")" },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        expectCommandsOnBothLinks("saveTag", Json::object(), dataOf(testCase.tag), { testCase.command });
        // The device's tag list answer brings the change, not the save itself.
        EXPECT_EQ(plain(state().at("device").at("tags")), plain(sampleDeviceData().at("tags")));
    }
}

TEST_F(SessionTagEditTest, RefusesEmptyAndClashingTags)
{
    struct Case {
        Json tag;
        std::string error;
    };
    const std::vector<Case> cases {
        { { { "id", 0 }, { "uid", "04 01" }, { "name", " \n " } }, "Tag name and UID are required" },
        { { { "id", 0 }, { "uid", "\t" }, { "name", "Hall" } }, "Tag name and UID are required" },
        { { { "id", 0 }, { "uid", "04 01" }, { "name", "kitchen" } }, "A tag with that name or UID already exists" },
        { { { "id", 1 }, { "uid", "04 11 22 33 44 55 66" }, { "name", "desk" } },
            "A tag with that name or UID already exists" },
        { { { "id", 1 }, { "uid", " 04 aa bb cc dd ee ff" }, { "name", "Kitchen" } },
            "A tag with that name or UID already exists" },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.tag.dump());
        expectRefusal("saveTag", Json::object(), dataOf(testCase.tag), testCase.error);
    }

    // A UID the device stored with a trailing blank is still that tag's.
    Json data = sampleDeviceData();
    data["tags"][1]["uid"] = "04 AA BB CC DD EE FF ";
    expectRefusal("saveTag", Json::object(),
        dataOf(Json { { "id", 0 }, { "uid", "04 aa bb cc dd ee ff" }, { "name", "Hall" } }),
        "A tag with that name or UID already exists", data);
}

TEST_F(SessionTagEditTest, ANewTagAfterTheLargestIdTakesTheLowestFreeOne)
{
    Json data = sampleDeviceData();
    data["tags"].push_back({ { "id", 4294967295U }, { "uid", "04 FF" }, { "name", "Last" } });
    expectCommandsOnBothLinks("saveTag", Json::object(),
        dataOf(Json { { "id", 0 }, { "uid", "04 01" }, { "name", "Hall" } }),
        { R"(tag:create id=3 uid="04 01" name="Hall")" }, data);
}

TEST_F(SessionTagEditTest, DeletesOnlyTagsNoRoutineUses)
{
    Json data = sampleDeviceData();
    data["tags"].push_back({ { "id", 3 }, { "uid", "04 33" }, { "name", "Spare" } });
    expectCommandsOnBothLinks("deleteTag", { { "id", 3 } }, {}, { "tag:delete id=3" }, data);
    EXPECT_EQ(state().at("device").at("tags").size(), 3U) << "the device's answer removes it";

    // Tag 1 is a step's tag, tag 2 a start tag.
    for (const int used : { 1, 2 }) {
        SCOPED_TRACE(used);
        expectRefusal("deleteTag", { { "id", used } }, {},
            "Remove this tag from routine steps and start tags before deleting it", data);
    }
}

TEST_F(SessionTagEditTest, AStepNamesATagByTheNumberItsTextReads)
{
    // "03" is tag 3 to the device, though the text differs from the id's own.
    Json data = sampleDeviceData();
    data["tags"].push_back({ { "id", 3 }, { "uid", "04 33" }, { "name", "Spare" } });
    data["routines"][0]["steps"].push_back({ { "id", 2 }, { "position", 1 }, { "parentId", 0 }, { "tagId", "03" },
        { "seconds", 10 }, { "instruction", "" }, { "unstoppable", 0 } });
    expectRefusal(
        "deleteTag", { { "id", 3 } }, {}, "Remove this tag from routine steps and start tags before deleting it", data);
    EXPECT_TRUE(state().contains("device"));
}

TEST_F(SessionRoutineEditTest, SavesANewRoutineAndKeepsItUntilTheDeviceConfirmsIt)
{
    const Json routine = parseJson(R"({"id": 0, "label": " Night ", "startTagIds": [], "groups": [],
        "steps": [{"id": 7, "position": 0, "parentId": 0, "tagId": "2", "seconds": 45,
                   "instruction": "Brush \"teeth\"", "unstoppable": 0}]})");
    expectCommandsOnBothLinks("saveRoutine", Json::object(), dataOf(routine),
        {
            R"(routine:create id=3 label="Night" startTagIds="")",
            R"(steps:create routineId=3 id=7 parentId=0 position=0 tagId="2" seconds=45 instruction="Brush \"teeth\"" unstoppable=0)",
            "steps:move routineId=3 id=7 parentId=0 position=0",
        });
    const Json routines = state().at("device").at("routines");
    ASSERT_EQ(routines.size(), 3U);
    EXPECT_EQ(routines.back().at("id"), 3);
    EXPECT_EQ(routines.back().at("label"), "Night");
    EXPECT_EQ(routines.back().at("steps").size(), 1U);

    // An older answer about routine 3 does not undo the save; the matching one settles it.
    Json stale = { { "type", "routine_detail" }, { "id", 3 }, { "label", "Night" }, { "steps", Json::array() },
        { "groups", Json::array() }, { "startTagIds", Json::array() } };
    simulatorSends(stale);
    EXPECT_EQ(stateRoutine(state(), 3)->at("steps").size(), 1U);
    Json confirmed = stale;
    confirmed["steps"] = routines.back().at("steps");
    simulatorSends(confirmed);
    simulatorSends(stale);
    EXPECT_EQ(stateRoutine(state(), 3)->at("steps").size(), 0U) << "once confirmed, later answers count";
}

TEST_F(SessionRoutineEditTest, UpdatesSendOnlyWhatChanged)
{
    struct Case {
        const char* name;
        const char* routine;
        std::vector<std::string> commands;
    };
    const std::vector<Case> cases {
        { "rename only: no node commands",
            R"({"id": 1, "label": " Sunrise ", "startTagIds": [2], "groups": [],
                "steps": [{"id": 1, "position": 0, "parentId": 0, "tagId": "1", "seconds": 60, "instruction": "Wash", "unstoppable": 0}]})",
            { R"(routine:update id=1 label="Sunrise" startTagIds="2")" } },
        { "duration and start tags",
            R"({"id": 1, "label": "Morning", "startTagIds": [2, 1], "groups": [],
                "steps": [{"id": 1, "position": 0, "parentId": 0, "tagId": "1", "seconds": 90, "instruction": "Wash", "unstoppable": 0}]})",
            { R"(routine:update id=1 label="Morning" startTagIds="2,1")", "steps:update routineId=1 id=1 seconds=90",
                "steps:move routineId=1 id=1 parentId=0 position=0" } },
        { "group renamed",
            R"({"id": 2, "label": "Evening", "startTagIds": [],
                "groups": [{"id": 3, "position": 0, "label": "Calm", "mode": "timebox", "timeLimitSeconds": 600}],
                "steps": [{"id": 5, "position": 0, "parentId": 3, "tagId": "2", "seconds": 30, "instruction": "Read", "unstoppable": 1}]})",
            { R"(routine:update id=2 label="Evening" startTagIds="")", R"(groups:update routineId=2 id=3 label="Calm")",
                "groups:move routineId=2 id=3 position=0", "steps:move routineId=2 id=5 parentId=3 position=0" } },
        { "step replaced",
            R"({"id": 1, "label": "Morning", "startTagIds": [2], "groups": [],
                "steps": [{"id": 8, "position": 0, "parentId": 0, "tagId": "2", "seconds": 65535, "instruction": "", "unstoppable": 1}]})",
            { R"(routine:update id=1 label="Morning" startTagIds="2")",
                R"(steps:create routineId=1 id=8 parentId=0 position=0 tagId="2" seconds=65535 instruction="" unstoppable=1)",
                "steps:move routineId=1 id=8 parentId=0 position=0", "steps:delete routineId=1 id=1" } },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const Json routine = parseJson(testCase.routine);
        expectCommandsOnBothLinks("saveRoutine", Json::object(), dataOf(routine), testCase.commands);
        const Json& routines = state().at("device").at("routines");
        EXPECT_EQ(routines.back().at("id"), routine.at("id")) << "a replaced routine moves to the end";
        EXPECT_EQ(routines.size(), 2U);
    }
}

TEST_F(SessionRoutineEditTest, RefusesRoutinesTheDeviceCouldNotHold)
{
    const std::string stepMessage
        = "Each step needs a tag and a duration of 1–65535 seconds; groups need a name and valid time limit";
    const auto withStep = [](const char* step) {
        return std::string(R"({"id": 0, "label": "Night", "startTagIds": [], "groups": [], "steps": [)") + step + "]}";
    };
    struct Case {
        std::string routine;
        std::string error;
    };
    const std::vector<Case> cases {
        { R"({"id": 0, "label": " \n", "steps": []})", "Routine title is required" },
        { R"({"id": 0, "label": "morning", "steps": []})", "Routine title already exists" },
        { R"({"id": 1, "label": "EVENING", "steps": []})", "Routine title already exists" },
        { withStep(R"({"id": 7, "position": 0, "tagId": "1", "seconds": 0, "instruction": ""})"), stepMessage },
        { withStep(R"({"id": 7, "position": 0, "tagId": "1", "seconds": 65536, "instruction": ""})"), stepMessage },
        { withStep(R"({"id": 7, "position": 0, "tagId": "", "seconds": 60, "instruction": ""})"), stepMessage },
        { R"({"id": 0, "label": "Night", "steps": [],
              "groups": [{"id": 4, "position": 0, "label": "  ", "mode": "timebox", "timeLimitSeconds": 60}]})",
            stepMessage },
        { R"({"id": 0, "label": "Night", "steps": [],
              "groups": [{"id": 4, "position": 0, "label": "Go", "mode": "timebox", "timeLimitSeconds": 86401}]})",
            stepMessage },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.routine);
        expectRefusal("saveRoutine", Json::object(), dataOf(std::string_view(testCase.routine)), testCase.error);
        EXPECT_EQ(state().at("device").at("routines").size(), 2U);
    }
    // Renaming a routine to its own name in another case is no clash.
    expectCommandsOnBothLinks("saveRoutine", Json::object(),
        dataOf(std::string_view(R"({"id": 1, "label": "MORNING", "startTagIds": [2], "groups": [],
            "steps": [{"id": 1, "position": 0, "parentId": 0, "tagId": "1", "seconds": 60, "instruction": "Wash"}]})")),
        { R"(routine:update id=1 label="MORNING" startTagIds="2")" });
}

TEST_F(SessionRoutineEditTest, TheWholeDataSetMustStayValidBeforeAnythingIsSent)
{
    // Tag 99 does not exist: the step passes the draft's own checks but breaks a reference.
    const std::string routine = R"({"id": 0, "label": "Night", "startTagIds": [99], "groups": [],
        "steps": [{"id": 7, "position": 0, "tagId": "1", "seconds": 60, "instruction": ""}]})";
    const LinkRun run = runOnSimulator("saveRoutine", Json::object(), dataOf(std::string_view(routine)));
    EXPECT_FALSE(run.response.ok());
    EXPECT_NE(run.response.error().find("99"), std::string::npos) << run.response.error();
    EXPECT_TRUE(run.commands.empty());
    EXPECT_EQ(state().at("device").at("routines").size(), 2U);
}

TEST_F(SessionRoutineEditTest, ACommandThatCannotBeSentLeavesTheDataAsItWas)
{
    // The step's instruction is over the link's message limit: the routine line goes out, the step does not.
    Json routine = parseJson(R"({"id": 0, "label": "Night", "startTagIds": [], "groups": [],
        "steps": [{"id": 7, "position": 0, "parentId": 0, "tagId": "2", "seconds": 45, "instruction": "", "unstoppable": 0}]})");
    routine["steps"][0]["instruction"] = std::string(BleDataChannel::maximumMessageLength, 'x');
    const LinkRun run = runOnPhysicalLink("saveRoutine", Json::object(), dataOf(routine));
    EXPECT_EQ(run.response.error(), "Could not send to Tavrik");
    EXPECT_EQ(run.commands, std::vector<std::string> { R"(routine:create id=3 label="Night" startTagIds="")" });
    EXPECT_EQ(state().at("device").at("routines").size(), 2U);
    EXPECT_EQ(stateRoutine(state(), 3), nullptr);
}

TEST_F(SessionRoutineEditTest, OlderFirmwareRefusesGroupsAndStartTags)
{
    const std::string message = "Update Tavrik firmware before editing groups or start tags";
    const char* withGroup = R"({"id": 0, "label": "Night", "startTagIds": [], "steps": [],
        "groups": [{"id": 4, "position": 0, "label": "Go", "mode": "timebox", "timeLimitSeconds": 60}]})";
    const char* withStartTag = R"({"id": 0, "label": "Night", "startTagIds": [1], "groups": [], "steps": []})";
    // Routine 2 holds a group on schema 8: even dropping it is a group edit.
    const char* emptiedGroupRoutine = R"({"id": 2, "label": "Evening", "startTagIds": [], "groups": [], "steps": []})";

    expectRefusal("saveRoutine", Json::object(), dataOf(std::string_view(withGroup)), message, sampleAtSchema(8));
    expectRefusal(
        "saveRoutine", Json::object(), dataOf(std::string_view(emptiedGroupRoutine)), message, sampleAtSchema(8));
    expectRefusal("saveRoutine", Json::object(), dataOf(std::string_view(withStartTag)), message, sampleAtSchema(7));

    // Start tags are fine from schema 8 on; below it the routine line carries none.
    expectCommandsOnBothLinks("saveRoutine", Json::object(), dataOf(std::string_view(withStartTag)),
        { R"(routine:create id=3 label="Night" startTagIds="1")" }, sampleAtSchema(8));
    expectCommandsOnBothLinks("saveRoutine", Json::object(),
        dataOf(std::string_view(R"({"id": 0, "label": "Night", "steps": []})")),
        { R"(routine:create id=3 label="Night")" }, sampleAtSchema(7));
}

TEST_F(SessionRoutineEditTest, DeletesARoutineWithItsSchedules)
{
    expectCommandsOnBothLinks("deleteRoutine", { { "id", 1 } }, {}, { "routine:delete id=1" });
    EXPECT_EQ(state().at("device").at("routines").size(), 1U);
    EXPECT_EQ(stateRoutine(state(), 1), nullptr);
    EXPECT_TRUE(state().at("device").at("schedules").empty());

    // An id no routine has is still sent; the data keeps everything.
    expectCommandsOnBothLinks("deleteRoutine", { { "id", 9 } }, {}, { "routine:delete id=9" });
    EXPECT_EQ(state().at("device").at("routines").size(), 2U);
    EXPECT_EQ(state().at("device").at("schedules").size(), 1U);
}

} // namespace
} // namespace tavrik::test
