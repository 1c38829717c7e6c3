#include "TavrikCore/Model/TagModels.hpp"

#include <gtest/gtest.h>

namespace tavrik {
namespace {

TEST(TagInfo, ReadsMissingIdAsZeroAndWritesEveryKey)
{
    const TagInfo tag = tagInfoFromJson(parseJson(R"({"uid":"04 11 22 33","name":"Kitchen"})"));
    EXPECT_EQ(tag, (TagInfo { 0, "04 11 22 33", "Kitchen" }));
    EXPECT_EQ(dumpJson(toJson(tag)), R"({"id":0,"uid":"04 11 22 33","name":"Kitchen"})");

    EXPECT_EQ(tagInfoFromJson(parseJson(R"({"id":null,"uid":"A","name":"B"})")).id, 0u);
    const TagInfo full { 4294967295u, "04 AA", "Door \"front\"" };
    EXPECT_EQ(tagInfoFromJson(toJson(full)), full);
}

TEST(TagInfo, RefusesMissingOrMistypedFields)
{
    const char* cases[] = {
        R"({"id":1,"uid":"04"})",
        R"({"id":1,"name":"Door"})",
        R"({"id":-1,"uid":"04","name":"Door"})",
        R"({"id":4294967296,"uid":"04","name":"Door"})",
        R"({"id":"1","uid":"04","name":"Door"})",
        R"({"id":1,"uid":"04","name":7})",
        R"({"id":1,"uid":null,"name":"Door"})",
        R"(["04","Door"])",
    };
    for (const char* text : cases) {
        EXPECT_THROW(tagInfoFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

TEST(TagInfo, SignatureFollowsEveryField)
{
    const TagInfo tag { 3, "04 11", "Desk" };
    EXPECT_EQ(tag.syncSignature(), (TagInfo { 3, "04 11", "Desk" }).syncSignature());
    EXPECT_NE(tag.syncSignature(), (TagInfo { 3, "04 11", "Desk2" }).syncSignature());
    EXPECT_NE(tag.syncSignature(), (TagInfo { 4, "04 11", "Desk" }).syncSignature());
    EXPECT_NE(tag.syncSignature(), (TagInfo { 3, "04 12", "Desk" }).syncSignature());
    // Field boundaries count: moving text from one field to the next is a change.
    EXPECT_NE((TagInfo { 3, "04 1", "1Desk" }).syncSignature(), tag.syncSignature());
}

TEST(TagEnvelope, ReadsOnlyWhatTheMessageCarries)
{
    const TagEnvelope pending = tagEnvelopeFromJson(parseJson(R"({"type":"scan_pending"})"));
    EXPECT_EQ(pending, TagEnvelope { "scan_pending" });

    const TagEnvelope state = tagEnvelopeFromJson(parseJson(
        R"({"type":"tags_state","tags":[{"id":1,"uid":"04 01","name":"A"},{"uid":"04 02","name":"B"}],"extra":1})"));
    ASSERT_TRUE(state.tags.has_value());
    EXPECT_EQ(*state.tags, (std::vector<TagInfo> { { 1, "04 01", "A" }, { 0, "04 02", "B" } }));

    const TagEnvelope result = tagEnvelopeFromJson(
        parseJson(R"({"type":"scan_result","uid":"04 AB","tagType":"NTAG215","name":null,"message":"ok"})"));
    EXPECT_EQ(result.uid, "04 AB");
    EXPECT_EQ(result.tagType, "NTAG215");
    EXPECT_EQ(result.name, std::nullopt);
    EXPECT_EQ(result.message, "ok");
}

TEST(TagEnvelope, RefusesMissingTypeAndAnyBrokenTag)
{
    const char* cases[] = {
        R"({"message":"no type"})",
        R"({"type":"tags_state","tags":[{"id":1,"uid":"04 01","name":"A"},{"id":2,"uid":"04 02"}]})",
        R"({"type":"tags_state","tags":{"id":1,"uid":"04 01","name":"A"}})",
        R"({"type":"scan_result","uid":4})",
        R"({"type":1})",
    };
    for (const char* text : cases) {
        EXPECT_THROW(tagEnvelopeFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

TEST(TagEnvelope, WritesPresentKeysInOrder)
{
    EXPECT_EQ(dumpJson(toJson(TagEnvelope { "scan_timeout" })), R"({"type":"scan_timeout"})");

    TagEnvelope envelope { "scan_result" };
    envelope.name = "Door";
    envelope.uid = "04 11";
    envelope.tags = std::vector<TagInfo> {};
    envelope.message = "m";
    EXPECT_EQ(
        dumpJson(toJson(envelope)), R"({"type":"scan_result","message":"m","tags":[],"uid":"04 11","name":"Door"})");
    EXPECT_EQ(tagEnvelopeFromJson(toJson(envelope)), envelope);
}

TEST(TagScanState, FailedStatesCompareByText)
{
    EXPECT_EQ(TagScanState(), TagScanState::idle());
    EXPECT_EQ(TagScanState::failed("A"), TagScanState::failed("A"));
    EXPECT_NE(TagScanState::failed("A"), TagScanState::failed("B"));
    EXPECT_NE(TagScanState::idle(), TagScanState::failed(""));
    EXPECT_NE(TagScanState::pending(), TagScanState::received());
    EXPECT_EQ(TagScanState::failed("Timed out").failureMessage(), "Timed out");
    EXPECT_TRUE(TagScanState::failed("").isFailed());
    EXPECT_FALSE(TagScanState::requesting().isFailed());
    EXPECT_EQ(TagScanState::connecting().kind(), TagScanState::Kind::connecting);
    EXPECT_EQ(TagScanState::waitingForDevice().kind(), TagScanState::Kind::waitingForDevice);
}

TEST(TagScanPurpose, CommandTexts)
{
    EXPECT_EQ(command(TagScanPurpose::generic), "scan");
    EXPECT_EQ(command(TagScanPurpose::killSwitch), "scan purpose=kill_switch");
    EXPECT_EQ(allTagScanPurposes[0], TagScanPurpose::generic);
}

TEST(TagScanResult, ComparesAllFields)
{
    const TagScanResult result { "04 11", "NTAG213", std::nullopt };
    EXPECT_EQ(result, (TagScanResult { "04 11", "NTAG213", std::nullopt }));
    EXPECT_NE(result, (TagScanResult { "04 11", std::nullopt, std::nullopt }));
    EXPECT_NE(result, (TagScanResult { "04 11", "NTAG213", "" }));
}

} // namespace
} // namespace tavrik
