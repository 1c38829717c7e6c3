#include "TavrikCore/Model/RoutinePayloads.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tavrik {
namespace {

RoutineStepPayload readStep(const std::string& text)
{
    return routineStepPayloadFromJson(parseJson(text));
}

TEST(RoutineStepPayload, ReadsCurrentAndLegacyKeys)
{
    struct Case {
        std::string json;
        RoutineStepPayload expected;
    };
    const Case cases[] = {
        { R"({"id":4,"position":2,"parentId":9,"tagId":"12","seconds":60,"instruction":"Brush","unstoppable":1})",
            { 4, 2, 9, "12", 60, "Brush", 1 } },
        { R"({"stepId":5,"position":0,"tag":"3","seconds":30,"instruction":"Wash"})", { 5, 0, 0, "3", 30, "Wash", 0 } },
        { R"({"id":6,"stepId":9,"position":0,"tagId":"1","tag":"2","seconds":1,"instruction":""})",
            { 6, 0, 0, "1", 1, "", 0 } },
        { R"({"id":null,"stepId":9,"position":0,"tagId":null,"tag":"2","seconds":1,"instruction":"x"})",
            { 9, 0, 0, "2", 1, "x", 0 } },
        { R"({"position":1,"seconds":5,"instruction":"x","parentId":null,"unstoppable":null})",
            { 0, 1, 0, "", 5, "x", 0 } },
        { R"({"id":4294967295,"position":-1,"seconds":5.0,"instruction":"x","unstoppable":7})",
            { 4294967295u, -1, 0, "", 5, "x", 7 } },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(readStep(c.json), c.expected) << c.json;
    }
}

TEST(RoutineStepPayload, RefusesMissingOrWronglyTypedValues)
{
    const char* cases[] = {
        R"({"id":1,"seconds":30,"instruction":"x"})",
        R"({"id":1,"position":0,"instruction":"x"})",
        R"({"id":1,"position":0,"seconds":30})",
        R"({"id":1,"position":0,"seconds":30,"instruction":"x","unstoppable":true})",
        R"({"id":-1,"position":0,"seconds":30,"instruction":"x"})",
        R"({"id":4294967296,"position":0,"seconds":30,"instruction":"x"})",
        // A present primary key of the wrong type is not rescued by its legacy alias.
        R"({"id":"5","stepId":5,"position":0,"seconds":30,"instruction":"x"})",
        R"({"tagId":3,"tag":"3","position":0,"seconds":30,"instruction":"x"})",
        R"({"position":"0","seconds":30,"instruction":"x"})",
        R"({"position":0.5,"seconds":30,"instruction":"x"})",
        R"([1,2])",
    };
    for (const char* text : cases) {
        EXPECT_THROW(readStep(text), JsonDecodeError) << text;
    }
}

TEST(RoutineStepPayload, WritesAllSevenCurrentKeysInOrder)
{
    const RoutineStepPayload step = readStep(R"({"stepId":5,"position":0,"tag":"3","seconds":30,"instruction":"Wash"})");
    EXPECT_EQ(dumpJson(toJson(step)),
        R"({"id":5,"position":0,"parentId":0,"tagId":"3","seconds":30,"instruction":"Wash","unstoppable":0})");
    EXPECT_EQ(routineStepPayloadFromJson(toJson(step)), step);
}

TEST(RoutineGroupPayload, DefaultsFollowTheMode)
{
    struct Case {
        std::string json;
        RoutineGroupPayload expected;
    };
    const Case cases[] = {
        { R"({"id":2,"label":"Morning"})", { 2, 0, "Morning", RoutineGroupMode::timebox, 900 } },
        { R"({"id":2,"label":"M","mode":"rotation"})", { 2, 0, "M", RoutineGroupMode::rotation, 0 } },
        { R"({"id":2,"label":"M","mode":"rotation","timeLimitSeconds":120})",
            { 2, 0, "M", RoutineGroupMode::rotation, 120 } },
        { R"({"id":2,"label":"M","timeLimitSeconds":120,"position":3})", { 2, 3, "M", RoutineGroupMode::timebox, 120 } },
        { R"({"id":2,"label":"M","mode":null,"timeLimitSeconds":null,"position":null})",
            { 2, 0, "M", RoutineGroupMode::timebox, 900 } },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(routineGroupPayloadFromJson(parseJson(c.json)), c.expected) << c.json;
    }
}

TEST(RoutineGroupPayload, RefusesBadGroups)
{
    const char* cases[] = {
        R"({"label":"M"})",
        R"({"id":2})",
        R"({"id":2,"label":"M","mode":"timeboxes"})",
        R"({"id":2,"label":"M","mode":"Timebox"})",
        R"({"id":2,"label":"M","mode":0})",
        R"({"id":2,"label":"M","timeLimitSeconds":"900"})",
    };
    for (const char* text : cases) {
        EXPECT_THROW(routineGroupPayloadFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

TEST(RoutineGroupPayload, WritesKeysInOrder)
{
    const RoutineGroupPayload group { 7, 1, "Chores", RoutineGroupMode::rotation, 0 };
    EXPECT_EQ(
        dumpJson(toJson(group)), R"({"id":7,"position":1,"label":"Chores","mode":"rotation","timeLimitSeconds":0})");
    EXPECT_EQ(routineGroupPayloadFromJson(toJson(group)), group);
}

TEST(RoutinePayload, GroupsFallBackToTimeboxes)
{
    const std::string g1 = R"({"id":1,"label":"A"})";
    const std::string g2 = R"({"id":2,"label":"B"})";
    struct Case {
        std::string json;
        std::vector<std::uint32_t> groupIds;
    };
    const Case cases[] = {
        { R"({"id":3,"label":"R","timeboxes":[)" + g1 + "]}", { 1 } },
        { R"({"id":3,"label":"R","groups":[)" + g2 + R"(],"timeboxes":[)" + g1 + "]}", { 2 } },
        { R"({"id":3,"label":"R","groups":null,"timeboxes":[)" + g1 + "]}", { 1 } },
        { R"({"id":3,"label":"R","groups":[],"timeboxes":[)" + g1 + "]}", {} },
        { R"({"id":3,"label":"R"})", {} },
    };
    for (const Case& c : cases) {
        const RoutinePayload routine = routinePayloadFromJson(parseJson(c.json));
        std::vector<std::uint32_t> ids;
        for (const RoutineGroupPayload& group : routine.groups) {
            ids.push_back(group.id);
        }
        EXPECT_EQ(ids, c.groupIds) << c.json;
        EXPECT_TRUE(routine.steps.empty());
        EXPECT_TRUE(routine.startTagIds.empty());
    }
}

TEST(RoutinePayload, WritesCurrentFormWithEmptyLists)
{
    const RoutinePayload legacy = routinePayloadFromJson(parseJson(
        R"({"label":"R","id":3,"timeboxes":[{"id":1,"label":"A"}],"steps":[{"stepId":4,"position":0,"seconds":9,"instruction":"i","tag":"2"}]})"));
    EXPECT_EQ(dumpJson(toJson(legacy)),
        R"({"id":3,"label":"R","steps":[{"id":4,"position":0,"parentId":0,"tagId":"2","seconds":9,"instruction":"i","unstoppable":0}],)"
        R"("groups":[{"id":1,"position":0,"label":"A","mode":"timebox","timeLimitSeconds":900}],"startTagIds":[]})");

    const RoutinePayload empty { 1, "E", {}, {}, {} };
    EXPECT_EQ(dumpJson(toJson(empty)), R"({"id":1,"label":"E","steps":[],"groups":[],"startTagIds":[]})");

    const RoutinePayload full { 8, "F", { { 1, 0, 2, "5", 30, "x", 1 } },
        { { 2, 0, "G", RoutineGroupMode::rotation, 0 } }, { 5, 3 } };
    EXPECT_EQ(routinePayloadFromJson(toJson(full)), full);
}

TEST(RoutinePayload, OneBadNestedRecordFailsTheRoutine)
{
    const char* cases[] = {
        R"({"label":"R"})",
        R"({"id":3})",
        R"({"id":3,"label":"R","steps":[{"position":0,"seconds":9,"instruction":"i"},{"position":1,"seconds":9}]})",
        R"({"id":3,"label":"R","groups":[{"id":1,"label":"A","mode":"timeboxes"}]})",
        R"({"id":3,"label":"R","timeboxes":[{"id":1}]})",
        R"({"id":3,"label":"R","groups":{},"timeboxes":[]})",
        R"({"id":3,"label":"R","startTagIds":[1,-2]})",
        R"({"id":3,"label":"R","steps":{}})",
    };
    for (const char* text : cases) {
        EXPECT_THROW(routinePayloadFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

TEST(RoutineSummary, CountsDefaultAndGroupCountFallsBack)
{
    struct Case {
        std::string json;
        RoutineSummary expected;
    };
    const Case cases[] = {
        { R"({"id":1,"label":"A"})", { 1, "A", 0, 0, 0 } },
        { R"({"id":1,"label":"A","timeboxCount":3})", { 1, "A", 0, 3, 0 } },
        { R"({"id":1,"label":"A","groupCount":2,"timeboxCount":3})", { 1, "A", 0, 2, 0 } },
        { R"({"id":1,"label":"A","groupCount":null,"timeboxCount":3})", { 1, "A", 0, 3, 0 } },
        { R"({"id":1,"label":"A","stepCount":4,"groupCount":2,"startTagCount":1})", { 1, "A", 4, 2, 1 } },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(routineSummaryFromJson(parseJson(c.json)), c.expected) << c.json;
    }
    EXPECT_THROW(routineSummaryFromJson(parseJson(R"({"id":1})")), JsonDecodeError);
    EXPECT_THROW(routineSummaryFromJson(parseJson(R"({"label":"A"})")), JsonDecodeError);
    EXPECT_THROW(routineSummaryFromJson(parseJson(R"({"id":1,"label":"A","groupCount":"2","timeboxCount":3})")),
        JsonDecodeError);

    EXPECT_EQ(dumpJson(toJson(RoutineSummary { 1, "A", 0, 3, 0 })),
        R"({"id":1,"label":"A","stepCount":0,"groupCount":3,"startTagCount":0})");
}

TEST(RoutineActiveState, OptionalsAreLeftOutWhenAbsent)
{
    const RoutineActiveState bare = routineActiveStateFromJson(parseJson(R"({"step":2,"id":5,"label":null})"));
    EXPECT_EQ(bare, (RoutineActiveState { 5, 2, std::nullopt, std::nullopt }));
    EXPECT_EQ(dumpJson(toJson(bare)), R"({"id":5,"step":2})");

    const RoutineActiveState full { 5, 2, "Morning", 6 };
    EXPECT_EQ(dumpJson(toJson(full)), R"({"id":5,"step":2,"label":"Morning","stepCount":6})");
    EXPECT_EQ(routineActiveStateFromJson(toJson(full)), full);

    EXPECT_THROW(routineActiveStateFromJson(parseJson(R"({"id":5})")), JsonDecodeError);
    EXPECT_THROW(routineActiveStateFromJson(parseJson(R"({"step":2})")), JsonDecodeError);
}

RoutineEnvelope envelopeOfType(std::string type)
{
    RoutineEnvelope envelope;
    envelope.type = std::move(type);
    return envelope;
}

TEST(RoutineEnvelope, OnlyTypeIsRequired)
{
    const RoutineEnvelope bare = routineEnvelopeFromJson(parseJson(R"({"type":"routines_state"})"));
    EXPECT_EQ(bare, envelopeOfType("routines_state"));
    EXPECT_EQ(dumpJson(toJson(bare)), R"({"type":"routines_state"})");

    const RoutineEnvelope nulls = routineEnvelopeFromJson(
        parseJson(R"({"type":"routine_event","message":null,"steps":null,"active":null,"groupCount":null})"));
    EXPECT_EQ(nulls, envelopeOfType("routine_event"));

    EXPECT_THROW(routineEnvelopeFromJson(parseJson(R"({"message":"x"})")), JsonDecodeError);
    EXPECT_THROW(routineEnvelopeFromJson(parseJson(R"({"type":null})")), JsonDecodeError);
}

TEST(RoutineEnvelope, ReadsLegacyGroupKeysAndWritesCurrentOnes)
{
    const RoutineEnvelope envelope = routineEnvelopeFromJson(parseJson(
        R"({"type":"routine_detail","id":4,"label":"R","timeboxCount":1,"timeboxes":[{"id":9,"label":"G"}]})"));
    ASSERT_TRUE(envelope.groups);
    ASSERT_EQ(envelope.groups->size(), 1u);
    EXPECT_EQ(envelope.groups->front().id, 9u);
    EXPECT_EQ(envelope.groupCount, 1);
    EXPECT_EQ(dumpJson(toJson(envelope)),
        R"({"type":"routine_detail","id":4,"label":"R","groupCount":1,)"
        R"("groups":[{"id":9,"position":0,"label":"G","mode":"timebox","timeLimitSeconds":900}]})");

    const RoutineEnvelope both = routineEnvelopeFromJson(
        parseJson(R"({"type":"t","groupCount":2,"timeboxCount":1,"groups":[],"timeboxes":[{"id":9,"label":"G"}]})"));
    EXPECT_EQ(both.groupCount, 2);
    EXPECT_EQ(both.groups, std::vector<RoutineGroupPayload> {});
}

TEST(RoutineEnvelope, WritesAllSeventeenKeysInDeclarationOrder)
{
    RoutineEnvelope envelope;
    envelope.active = RoutineActiveState { 4, 1, std::nullopt, 3 };
    envelope.step = 1;
    envelope.event = "trigger";
    envelope.count = 2;
    envelope.state = "idle";
    envelope.startTagIds = std::vector<std::uint32_t> { 8, 2 };
    envelope.groups = std::vector<RoutineGroupPayload> { { 1, 0, "G", RoutineGroupMode::timebox, 60 } };
    envelope.steps = std::vector<RoutineStepPayload> { { 3, 0, 1, "8", 10, "Go", 0 } };
    envelope.index = 0;
    envelope.startTagCount = 2;
    envelope.groupCount = 1;
    envelope.stepCount = 1;
    envelope.label = "R";
    envelope.id = 4;
    envelope.routines = std::vector<RoutineSummary> { { 4, "R", 1, 1, 2 } };
    envelope.message = "ok";
    envelope.type = "routine_detail";

    const Json written = toJson(envelope);
    std::vector<std::string> keys;
    for (const auto& item : written.items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys,
        (std::vector<std::string> { "type", "message", "routines", "id", "label", "stepCount", "groupCount",
            "startTagCount", "index", "steps", "groups", "startTagIds", "state", "count", "event", "step", "active" }));
    EXPECT_EQ(routineEnvelopeFromJson(parseJson(dumpJson(written))), envelope);
}

TEST(RoutineEnvelope, OneBadEntryFailsTheMessage)
{
    const char* cases[] = {
        R"({"type":"routine_steps_state","index":0,"steps":[{"position":0,"seconds":5,"instruction":"a"},{"position":1,"instruction":"b"}]})",
        R"({"type":"routines_state","routines":[{"id":1,"label":"A"},{"id":-1,"label":"B"}]})",
        R"({"type":"routine_detail","timeboxes":[{"id":1,"label":"A","mode":"timeboxes"}]})",
        R"({"type":"routine_event","active":{"id":1}})",
        R"({"type":"routine_event","event":3})",
        R"({"type":"routine_event","step":true})",
        R"({"type":7})",
    };
    for (const char* text : cases) {
        EXPECT_THROW(routineEnvelopeFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

} // namespace
} // namespace tavrik
