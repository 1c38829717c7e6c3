#include "tests/session/SessionEditTestSupport.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

namespace tavrik::test {
namespace {

// Root: step 11, step 12, group 20 (steps 13 and 14), step 15.
Json flowRoutine()
{
    return parseJson(R"({"id": 5, "label": "Flow", "startTagIds": [1],
        "steps": [
            {"id": 11, "position": 0, "parentId": 0, "tagId": "1", "seconds": 30, "instruction": "One", "unstoppable": 0},
            {"id": 12, "position": 1, "parentId": 0, "tagId": "2", "seconds": 40, "instruction": "Two", "unstoppable": 1},
            {"id": 13, "position": 0, "parentId": 20, "tagId": "1", "seconds": 50, "instruction": "Three", "unstoppable": 0},
            {"id": 14, "position": 1, "parentId": 20, "tagId": "2", "seconds": 60, "instruction": "Four", "unstoppable": 0},
            {"id": 15, "position": 3, "parentId": 0, "tagId": "1", "seconds": 70, "instruction": "Five", "unstoppable": 0}
        ],
        "groups": [{"id": 20, "position": 2, "label": "Block", "mode": "timebox", "timeLimitSeconds": 600}]})");
}

// The root entries by position, as "step:11" and "group:20".
std::vector<std::string> rootOrder(const Json& routine)
{
    std::vector<std::pair<std::int64_t, std::string>> entries;
    for (const Json& step : routine.at("steps")) {
        if (step.at("parentId") == 0) {
            entries.emplace_back(step.at("position"), "step:" + step.at("id").dump());
        }
    }
    for (const Json& group : routine.at("groups")) {
        entries.emplace_back(group.at("position"), "group:" + group.at("id").dump());
    }
    std::sort(entries.begin(), entries.end());
    std::vector<std::string> names;
    for (auto& entry : entries) {
        names.push_back(std::move(entry.second));
    }
    return names;
}

std::vector<std::uint32_t> childrenOf(const Json& routine, std::uint32_t groupId)
{
    std::vector<std::pair<std::int64_t, std::uint32_t>> children;
    for (const Json& step : routine.at("steps")) {
        if (step.at("parentId") == groupId) {
            children.emplace_back(step.at("position"), step.at("id"));
        }
    }
    std::sort(children.begin(), children.end());
    std::vector<std::uint32_t> ids;
    for (const auto& child : children) {
        ids.push_back(child.second);
    }
    return ids;
}

const Json* findStep(const Json& routine, std::uint32_t stepId)
{
    for (const Json& step : routine.at("steps")) {
        if (step.at("id") == stepId) {
            return &step;
        }
    }
    return nullptr;
}

// The step whose id the original routine does not have.
const Json* newStep(const Json& routine, const Json& original)
{
    for (const Json& step : routine.at("steps")) {
        if (!findStep(original, step.at("id").get<std::uint32_t>())) {
            return &step;
        }
    }
    return nullptr;
}

class SessionDraftTest : public SessionTest {
protected:
    // One draft operation on the routine; gives the edited routine, or null when the action failed.
    Json edit(Json request, const Json& routine = flowRoutine())
    {
        const SessionResponse response = dispatch("editRoutineDraft", std::move(request), dataOf(routine));
        lastError = response.error();
        EXPECT_TRUE(response.effects().empty());
        return response.ok() ? response.state().at("editedRoutine") : Json();
    }

    std::string lastError;
};

TEST_F(SessionDraftTest, WritesTheDraftBackWithoutAConnection)
{
    Json routine = flowRoutine();
    routine["groups"].push_back(
        parseJson(R"({"id": 21, "position": 4, "label": "Spin", "mode": "rotation", "timeLimitSeconds": 300})"));
    routine["steps"][0]["unstoppable"] = 7;

    const Json edited = edit({ { "operation", "move" } }, routine);
    ASSERT_FALSE(edited.is_null()) << lastError;
    EXPECT_FALSE(state().at("connected"));
    EXPECT_EQ(edited.at("id"), 5);
    EXPECT_EQ(edited.at("label"), "Flow");
    EXPECT_EQ(edited.at("startTagIds"), Json::array({ 1 }));
    EXPECT_EQ(plain(edited.at("steps")[0]), plain(parseJson(R"({"id": 11, "position": 0, "parentId": 0, "tagId": "1",
        "seconds": 30, "instruction": "One", "unstoppable": 1})")));
    EXPECT_EQ(edited.at("steps").size(), 5U);
    EXPECT_EQ(plain(edited.at("groups")[1]),
        plain(parseJson(R"({"id": 21, "position": 4, "label": "Spin", "mode": "rotation", "timeLimitSeconds": 0})")));
    EXPECT_EQ(rootOrder(edited), (std::vector<std::string> { "step:11", "step:12", "group:20", "step:15", "group:21" }));
}

TEST_F(SessionDraftTest, AppendsStepsWithTheFirstTagOfTheDevice)
{
    const Json original = flowRoutine();
    Json edited = edit({ { "operation", "appendStep" } });
    ASSERT_FALSE(edited.is_null()) << lastError;
    const Json* step = newStep(edited, original);
    ASSERT_NE(step, nullptr);
    EXPECT_NE(step->at("id"), 0);
    EXPECT_EQ(step->at("tagId"), "") << "no device data";
    EXPECT_EQ(step->at("seconds"), 60);
    EXPECT_EQ(rootOrder(edited).back(), "step:" + step->at("id").dump());

    Json data = sampleDeviceData();
    const Json porch = { { "id", 9 }, { "uid", "04 09" }, { "name", "Porch" } };
    data["tags"].insert(data["tags"].begin(), porch);
    loadOverSimulator(data);
    ASSERT_TRUE(state().contains("device")) << state().at("status");
    edited = edit({ { "operation", "appendStep" }, { "parentId", 0 } });
    step = newStep(edited, original);
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(step->at("tagId"), "9") << "the first tag, not the lowest id";
    EXPECT_EQ(step->at("parentId"), 0);

    edited = edit({ { "operation", "appendStep" }, { "parentId", 20 } });
    step = newStep(edited, original);
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(childrenOf(edited, 20), (std::vector<std::uint32_t> { 13, 14, step->at("id").get<std::uint32_t>() }));
}

TEST_F(SessionDraftTest, AppendsStepsWithoutATagWhenTheDeviceHasNone)
{
    Json data = sampleDeviceData();
    data["tags"] = Json::array();
    data["routines"] = Json::array();
    data["schedules"] = Json::array();
    loadOverSimulator(data);
    ASSERT_TRUE(state().contains("device")) << state().at("status");
    const Json edited = edit({ { "operation", "appendStep" } });
    ASSERT_FALSE(edited.is_null()) << lastError;
    const Json* step = newStep(edited, flowRoutine());
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(step->at("tagId"), "");
}

// The session is pinned to a source that only ever gives 41 (node id 42); the process-wide source
// would give 100.
class SessionDraftRandomTest : public SessionDraftTest {
protected:
    SessionDraftRandomTest() { current = std::make_unique<CompanionSession>(true, clock, sessionSource); }
    void TearDown() override { current.reset(); }

    SequenceRandomSource sessionSource { { 41 } };
};

TEST_F(SessionDraftRandomTest, NewNodeIdsComeFromTheSessionsOwnSource)
{
    SequenceRandomSource processWide({ 99 });
    ScopedDefaultRandomSource scoped(processWide);

    const Json withStep = edit({ { "operation", "appendStep" } });
    ASSERT_FALSE(withStep.is_null()) << lastError;
    const Json* step = newStep(withStep, flowRoutine());
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(step->at("id"), 42);

    const Json withGroup = edit({ { "operation", "appendGroup" } });
    ASSERT_FALSE(withGroup.is_null()) << lastError;
    ASSERT_EQ(withGroup.at("groups").size(), 2U);
    EXPECT_EQ(withGroup.at("groups")[1].at("id"), 42);
}

TEST_F(SessionDraftTest, AppendingIntoAMissingGroupKeepsTheLastEditedRoutine)
{
    const Json before = edit({ { "operation", "appendGroup" } });
    ASSERT_FALSE(before.is_null()) << lastError;
    EXPECT_TRUE(edit({ { "operation", "appendStep" }, { "parentId", 99 } }).is_null());
    EXPECT_EQ(lastError, "Group not found");
    EXPECT_EQ(state().at("editedRoutine"), before);
}

TEST_F(SessionDraftTest, AppendsAndRemovesGroups)
{
    const Json appended = edit({ { "operation", "appendGroup" } });
    ASSERT_FALSE(appended.is_null()) << lastError;
    ASSERT_EQ(appended.at("groups").size(), 2U);
    const Json& group = appended.at("groups")[1];
    EXPECT_EQ(group.at("label"), "Group");
    EXPECT_EQ(group.at("mode"), "timebox");
    EXPECT_EQ(group.at("timeLimitSeconds"), 900);
    EXPECT_EQ(rootOrder(appended).back(), "group:" + group.at("id").dump());

    const Json removed = edit({ { "operation", "removeGroup" }, { "nodeId", 20 } });
    ASSERT_FALSE(removed.is_null()) << lastError;
    EXPECT_TRUE(removed.at("groups").empty());
    EXPECT_EQ(rootOrder(removed), (std::vector<std::string> { "step:11", "step:12", "step:13", "step:14", "step:15" }));
}

TEST_F(SessionDraftTest, RemovesStepsAndMovesThemBetweenParents)
{
    struct Case {
        const char* name;
        Json request;
        std::vector<std::string> root;
        std::vector<std::uint32_t> children;
    };
    const std::vector<Case> cases {
        { "remove a child", { { "operation", "removeStep" }, { "nodeId", 13 } },
            { "step:11", "step:12", "group:20", "step:15" }, { 14 } },
        { "remove an unknown step", { { "operation", "removeStep" }, { "nodeId", 99 } },
            { "step:11", "step:12", "group:20", "step:15" }, { 13, 14 } },
        { "into a group, last", { { "operation", "parent" }, { "nodeId", 11 }, { "parentId", 20 } },
            { "step:12", "group:20", "step:15" }, { 13, 14, 11 } },
        { "out to the root, last", { { "operation", "parent" }, { "nodeId", 13 } },
            { "step:11", "step:12", "group:20", "step:15", "step:13" }, { 14 } },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const Json edited = edit(testCase.request);
        ASSERT_FALSE(edited.is_null()) << lastError;
        EXPECT_EQ(rootOrder(edited), testCase.root);
        EXPECT_EQ(childrenOf(edited, 20), testCase.children);
    }
}

TEST_F(SessionDraftTest, DropsStepsAndGroups)
{
    struct Case {
        const char* name;
        Json request;
        std::vector<std::string> root;
        std::vector<std::uint32_t> children;
    };
    const std::vector<Case> cases {
        { "a root step further down leaves a gap", { { "operation", "drop" }, { "nodeId", 11 }, { "position", 3 } },
            { "step:12", "group:20", "step:11", "step:15" }, { 13, 14 } },
        { "a root step further up", { { "operation", "drop" }, { "nodeId", 15 }, { "position", 1 } },
            { "step:11", "step:15", "step:12", "group:20" }, { 13, 14 } },
        { "inside its group", { { "operation", "drop" }, { "nodeId", 13 }, { "parentId", 20 }, { "position", 2 } },
            { "step:11", "step:12", "group:20", "step:15" }, { 14, 13 } },
        { "from the root into a group",
            { { "operation", "drop" }, { "nodeId", 11 }, { "parentId", 20 }, { "position", 0 } },
            { "step:12", "group:20", "step:15" }, { 11, 13, 14 } },
        { "a group to the front", { { "operation", "drop" }, { "kind", "groups" }, { "nodeId", 20 }, { "position", 0 } },
            { "group:20", "step:11", "step:12", "step:15" }, { 13, 14 } },
        { "a group just past its place stays",
            { { "operation", "drop" }, { "kind", "groups" }, { "nodeId", 20 }, { "position", 3 } },
            { "step:11", "step:12", "group:20", "step:15" }, { 13, 14 } },
        { "a group beyond the end goes last",
            { { "operation", "drop" }, { "kind", "groups" }, { "nodeId", 20 }, { "position", 100 } },
            { "step:11", "step:12", "step:15", "group:20" }, { 13, 14 } },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const Json edited = edit(testCase.request);
        ASSERT_FALSE(edited.is_null()) << lastError;
        EXPECT_EQ(rootOrder(edited), testCase.root);
        EXPECT_EQ(childrenOf(edited, 20), testCase.children);
    }
}

TEST_F(SessionDraftTest, RefusesDropsThatCannotLand)
{
    struct Case {
        Json request;
        std::string error;
    };
    const std::vector<Case> cases {
        { { { "nodeId", 11 } }, "Invalid drop position" },
        { { { "nodeId", 11 }, { "position", -1 } }, "Invalid drop position" },
        { { { "nodeId", 11 }, { "position", 1.5 } }, "Invalid drop position" },
        { { { "nodeId", 11 }, { "position", "1" } }, "Invalid drop position" },
        { { { "nodeId", 11 }, { "position", true } }, "Invalid drop position" },
        { { { "nodeId", 99 }, { "position", 0 } }, "Invalid step destination" },
        { { { "nodeId", 11 }, { "parentId", 99 }, { "position", 0 } }, "Invalid step destination" },
        { { { "kind", "groups" }, { "nodeId", 20 }, { "parentId", 7 }, { "position", 0 } },
            "Groups must stay outside other groups" },
        { { { "kind", "groups" }, { "nodeId", 99 }, { "position", 0 } }, "Groups must stay outside other groups" },
        { { { "kind", "folders" }, { "nodeId", 20 }, { "position", 0 } }, "Groups must stay outside other groups" },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.request.dump());
        Json request = testCase.request;
        request["operation"] = "drop";
        EXPECT_TRUE(edit(request).is_null());
        EXPECT_EQ(lastError, testCase.error);
        EXPECT_FALSE(state().contains("editedRoutine"));
    }
}

TEST_F(SessionDraftTest, MovesByDirectionHeldWithinRange)
{
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t least = std::numeric_limits<std::int64_t>::min();
    struct Case {
        const char* name;
        Json request;
        std::vector<std::string> root;
        std::vector<std::uint32_t> children;
    };
    const std::vector<Case> cases {
        { "a group up one", { { "kind", "groups" }, { "nodeId", 20 }, { "direction", -1 } },
            { "step:11", "group:20", "step:12", "step:15" }, { 13, 14 } },
        { "a root step up one", { { "nodeId", 15 }, { "direction", -1 } },
            { "step:11", "step:12", "step:15", "group:20" }, { 13, 14 } },
        { "a child down one", { { "nodeId", 13 }, { "direction", 1 } }, { "step:11", "step:12", "group:20", "step:15" },
            { 14, 13 } },
        { "an unknown kind counts as steps", { { "kind", "folders" }, { "nodeId", 11 }, { "direction", 1 } },
            { "step:12", "step:11", "group:20", "step:15" }, { 13, 14 } },
        { "far down", { { "nodeId", 12 }, { "direction", most } }, { "step:11", "group:20", "step:15", "step:12" },
            { 13, 14 } },
        { "far up", { { "nodeId", 15 }, { "direction", least } }, { "step:15", "step:11", "step:12", "group:20" },
            { 13, 14 } },
        { "a child far down", { { "nodeId", 14 }, { "direction", most } },
            { "step:11", "step:12", "group:20", "step:15" }, { 13, 14 } },
        { "a child far up", { { "nodeId", 14 }, { "direction", least } },
            { "step:11", "step:12", "group:20", "step:15" }, { 14, 13 } },
        { "an unknown node stays put", { { "nodeId", 99 }, { "direction", 1 } },
            { "step:11", "step:12", "group:20", "step:15" }, { 13, 14 } },
        { "a direction of another type is 0", { { "nodeId", 11 }, { "direction", "2" } },
            { "step:11", "step:12", "group:20", "step:15" }, { 13, 14 } },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        Json request = testCase.request;
        request["operation"] = "move";
        const Json edited = edit(request);
        ASSERT_FALSE(edited.is_null()) << lastError;
        EXPECT_EQ(rootOrder(edited), testCase.root);
        EXPECT_EQ(childrenOf(edited, 20), testCase.children);
    }
}

TEST_F(SessionDraftTest, RefusesUnknownOperationsAndPayloads)
{
    for (const Json& request : { Json::object(), Json { { "operation", "rename" } }, Json { { "operation", 5 } } }) {
        SCOPED_TRACE(request.dump());
        EXPECT_TRUE(edit(request).is_null());
        EXPECT_EQ(lastError, "Unknown draft operation");
    }
    const SessionResponse response
        = dispatch("editRoutineDraft", { { "operation", "appendGroup" } }, dataOf(std::string_view("{\"id\": 5}")));
    EXPECT_FALSE(response.ok());
    EXPECT_FALSE(response.error().empty());
    EXPECT_FALSE(state().contains("editedRoutine"));
}

} // namespace
} // namespace tavrik::test
