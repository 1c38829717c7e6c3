#include "TavrikCore/Model/SyncPayloads.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrik {
namespace {

std::vector<std::string> keysOf(const Json& object)
{
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) {
        keys.push_back(key);
    }
    return keys;
}

// Every member present, nested records written the way their writers write them, so reading and
// writing again must give the same bytes.
const std::string fullSyncData
    = R"({"type":"sync_data","dataVersion":9,"firmwareVersion":"1.4.0",)"
      R"("hardwareTarget":"m5stick-c",)"
      R"("settings":{"muteNonAlarmSounds":1,"killSwitchUid":"04 AA"},)"
      R"("storeSnapshot":{"schemaVersion":1,"entries":[{"key":"volume","type":"u8","value":"7"}]},)"
      R"("wifi":{"supported":1,"capacity":3,"credentials":[{"ssid":"Home","verified":1,"lastSuccessful":1}]},)"
      R"("clock":{"valid":1,"year":2025,"month":3,"day":14,"hour":9,"minute":30,"second":5},)"
      R"("schedules":[{"id":3,"routineId":1,"hour":7,"minute":15,"days":62,"enabled":1}],)"
      R"("tags":[{"id":2,"uid":"04 11 22 33","name":"Blue"}],)"
      R"("routines":[{"id":1,"label":"Morning","steps":[{"id":5,"position":0,"parentId":0,)"
      R"("tagId":"2","seconds":60,"instruction":"Stretch","unstoppable":0}],)"
      R"("groups":[],"startTagIds":[2]}]})";

TEST(SyncDataEnvelope, ReadsAndWritesEveryMemberExactly)
{
    const SyncDataEnvelope envelope = syncDataEnvelopeFromJson(parseJson(fullSyncData));
    EXPECT_EQ(envelope.dataVersion, 9);
    EXPECT_EQ(envelope.hardwareTarget, "m5stick-c");
    ASSERT_TRUE(envelope.storeSnapshot.has_value());
    EXPECT_EQ(envelope.storeSnapshot->entries.size(), 1u);
    ASSERT_TRUE(envelope.wifi.has_value());
    EXPECT_EQ(envelope.wifi->capacity, 3);
    ASSERT_TRUE(envelope.clock.has_value());
    EXPECT_EQ(envelope.clock->second, 5);
    ASSERT_EQ(envelope.routines.size(), 1u);
    EXPECT_EQ(envelope.routines[0].startTagIds, std::vector<std::uint32_t> { 2 });

    EXPECT_EQ(dumpJson(toJson(envelope)), fullSyncData);
    EXPECT_EQ(syncDataEnvelopeFromJson(toJson(envelope)), envelope);
}

TEST(SyncDataEnvelope, OptionalMembersMayBeMissingOrNull)
{
    const SyncDataEnvelope empty = syncDataEnvelopeFromJson(
        parseJson(R"({"type":"sync_data","schedules":[],"tags":[],"routines":[],"clock":null,"extra":{"x":1}})"));
    SyncDataEnvelope expected;
    expected.type = "sync_data";
    EXPECT_EQ(empty, expected);
    EXPECT_EQ(dumpJson(toJson(empty)), R"({"type":"sync_data","schedules":[],"tags":[],"routines":[]})");

    // Without a clock: no key written, and the same record read back.
    SyncDataEnvelope noClock = syncDataEnvelopeFromJson(parseJson(fullSyncData));
    noClock.clock.reset();
    const Json written = toJson(noClock);
    EXPECT_FALSE(written.contains("clock"));
    EXPECT_EQ(syncDataEnvelopeFromJson(written), noClock);

    // The record does not check its type; routing does.
    EXPECT_EQ(syncDataEnvelopeFromJson(parseJson(R"({"type":"other","schedules":[],"tags":[],"routines":[]})")).type,
        "other");
}

TEST(SyncDataEnvelope, RefusesMissingListsAndWrongTypes)
{
    const std::string refused[] = {
        R"({"type":"sync_data","schedules":[],"routines":[]})",
        R"({"type":"sync_data","tags":[],"routines":[]})",
        R"({"type":"sync_data","schedules":[],"tags":[]})",
        R"({"type":"sync_data","schedules":[],"tags":null,"routines":[]})",
        R"({"schedules":[],"tags":[],"routines":[]})",
        R"({"type":"sync_data","dataVersion":"9","schedules":[],"tags":[],"routines":[]})",
        R"({"type":"sync_data","dataVersion":9.5,"schedules":[],"tags":[],"routines":[]})",
        R"({"type":"sync_data","firmwareVersion":1,"schedules":[],"tags":[],"routines":[]})",
        R"({"type":"sync_data","schedules":{},"tags":[],"routines":[]})",
        // A nested record that fails takes the whole envelope with it.
        R"({"type":"sync_data","wifi":{"supported":1,"capacity":3,"credentials":[{"ssid":"Home","verified":1}]},)"
        R"("schedules":[],"tags":[],"routines":[]})",
        R"({"type":"sync_data","storeSnapshot":{"entries":[]},"schedules":[],"tags":[],"routines":[]})",
        R"({"type":"sync_data","schedules":[],"tags":[{"id":1,"name":"No uid"}],"routines":[]})",
        R"([])",
    };
    for (const std::string& text : refused) {
        EXPECT_THROW(syncDataEnvelopeFromJson(parseJson(text)), JsonDecodeError) << text;
    }
    // A whole-number float is an integer.
    EXPECT_EQ(syncDataEnvelopeFromJson(
                  parseJson(R"({"type":"sync_data","dataVersion":9.0,"schedules":[],"tags":[],"routines":[]})"))
                  .dataVersion,
        9);
}

TEST(SyncStartEnvelope, OfferIsWrittenOnlyWhenPresent)
{
    EXPECT_EQ(
        dumpJson(toJson(SyncStartEnvelope("load", "0421"))), R"({"type":"sync_start","mode":"load","code":"0421"})");
    const SyncStartEnvelope offered("restore", "9876", ReliableDeliveryOffer { 1, 305419896, 4 });
    EXPECT_EQ(dumpJson(toJson(offered)),
        R"({"type":"sync_start","mode":"restore","code":"9876","delivery":{"version":1,"session":305419896,"window":4}})");
}

TEST(SyncRestoreEnvelope, AlwaysCurrentVersionAndNoSnapshotKeyWhenAbsent)
{
    const TagInfo tag { 2, "04 11 22 33", "Blue" };
    const RoutinePayload routine { 1, "Morning", {}, {}, { 2 } };
    const SyncRestoreEnvelope envelope(
        "1234", SyncSettingsPayload(true, std::nullopt), std::nullopt, {}, { tag }, { routine });
    EXPECT_EQ(envelope.type, "sync_restore");
    EXPECT_EQ(envelope.dataVersion, 9);

    const Json json = toJson(envelope);
    EXPECT_EQ(keysOf(json),
        (std::vector<std::string> { "type", "dataVersion", "code", "settings", "schedules", "tags", "routines" }));
    EXPECT_EQ(json["dataVersion"], 9);
    EXPECT_EQ(json["settings"], toJson(SyncSettingsPayload(true, std::nullopt)));
    EXPECT_EQ(json["schedules"], Json::array());
    EXPECT_EQ(json["tags"], Json::array({ toJson(tag) }));
    EXPECT_EQ(json["routines"], Json::array({ toJson(routine) }));

    const StoreSnapshotPayload snapshot { 1, { { "volume", "u8", "7" } } };
    const Json withSnapshot = toJson(SyncRestoreEnvelope("1234", {}, snapshot, {}, {}, {}));
    EXPECT_EQ(keysOf(withSnapshot),
        (std::vector<std::string> {
            "type", "dataVersion", "code", "settings", "storeSnapshot", "schedules", "tags", "routines" }));
    EXPECT_EQ(withSnapshot["storeSnapshot"], toJson(snapshot));
}

TEST(SyncEnvelopes, ApplicationMessagesReadBackAsWritten)
{
    const SyncStartEnvelope plain("load", "0421");
    const SyncStartEnvelope offered("control", "0007", ReliableDeliveryOffer { 1, 4294967295u, 4 });
    for (const SyncStartEnvelope& envelope : { plain, offered }) {
        EXPECT_EQ(syncStartEnvelopeFromJson(toJson(envelope)), envelope) << envelope.mode;
    }

    const SyncDataEnvelope data = syncDataEnvelopeFromJson(parseJson(fullSyncData));
    const SyncRestoreEnvelope restore(
        "1234", *data.settings, data.storeSnapshot, data.schedules, data.tags, data.routines);
    EXPECT_EQ(syncRestoreEnvelopeFromJson(toJson(restore)), restore);
    const SyncRestoreEnvelope bare("", {}, std::nullopt, {}, {}, {});
    EXPECT_EQ(syncRestoreEnvelopeFromJson(toJson(bare)), bare);

    // What was read is kept, not replaced by what this application would write.
    const SyncRestoreEnvelope older = syncRestoreEnvelopeFromJson(parseJson(
        R"({"type":"sync_restore","dataVersion":8,"code":"","settings":{"muteNonAlarmSounds":0},"schedules":[],"tags":[],"routines":[]})"));
    EXPECT_EQ(older.dataVersion, 8);

    const std::string refusedStarts[] = {
        R"({"type":"sync_start","mode":"load"})",
        R"({"mode":"load","code":"1"})",
        R"({"type":"sync_start","mode":"load","code":1})",
        R"({"type":"sync_start","mode":"load","code":"1","delivery":{"version":1,"window":4}})",
        R"({"type":"sync_start","mode":"load","code":"1","delivery":{"version":1,"session":-1,"window":4}})",
        R"({"type":"sync_start","mode":"load","code":"1","delivery":{"version":1,"session":1,"window":4294967296}})",
    };
    for (const std::string& text : refusedStarts) {
        EXPECT_THROW(syncStartEnvelopeFromJson(parseJson(text)), JsonDecodeError) << text;
    }
    const std::string refusedRestores[] = {
        R"({"type":"sync_restore","code":"","settings":{"muteNonAlarmSounds":0},"schedules":[],"tags":[],"routines":[]})",
        R"({"type":"sync_restore","dataVersion":9,"code":"","schedules":[],"tags":[],"routines":[]})",
        R"({"type":"sync_restore","dataVersion":9,"code":"","settings":{"muteNonAlarmSounds":0},"tags":[],"routines":[]})",
        R"({"type":"sync_restore","dataVersion":9,"code":"","settings":{"muteNonAlarmSounds":0},"storeSnapshot":[],)"
        R"("schedules":[],"tags":[],"routines":[]})",
    };
    for (const std::string& text : refusedRestores) {
        EXPECT_THROW(syncRestoreEnvelopeFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

TEST(SyncControlEnvelope, OnlyTypeIsRequired)
{
    EXPECT_EQ(syncControlEnvelopeFromJson(parseJson(R"({"type":"sync_error","reason":"timeout","code":"12","other":3})")),
        (SyncControlEnvelope { "sync_error", std::nullopt, std::nullopt, "timeout", "12" }));
    EXPECT_THROW(syncControlEnvelopeFromJson(parseJson(R"({"mode":"load"})")), JsonDecodeError);
    EXPECT_THROW(syncControlEnvelopeFromJson(parseJson(R"({"type":"sync_error","code":12})")), JsonDecodeError);
}

TEST(SyncStage, FailedComparesItsMessage)
{
    EXPECT_EQ(SyncStage::idle(), SyncStage());
    EXPECT_NE(SyncStage::idle(), SyncStage::completed());
    EXPECT_EQ(SyncStage::failed("a"), SyncStage::failed("a"));
    EXPECT_NE(SyncStage::failed("a"), SyncStage::failed("b"));
    EXPECT_NE(SyncStage::failed(""), SyncStage::idle());
    EXPECT_EQ(SyncStage::failed("Lost").failureMessage(), "Lost");
    EXPECT_TRUE(SyncStage::failed("Lost").isFailed());
    EXPECT_EQ(SyncStage::transferring().kind(), SyncStage::Kind::transferring);
}

TEST(SyncMode, TextsAndVersions)
{
    EXPECT_EQ(syncModeText(SyncMode::load), "load");
    EXPECT_EQ(syncModeText(SyncMode::restore), "restore");
    EXPECT_EQ(syncModeText(SyncMode::control), "control");
    EXPECT_EQ(currentSyncDataVersion, 9);
    EXPECT_EQ(routineGroupsSyncDataVersion, 9);
    EXPECT_EQ(routineStartTagsSyncDataVersion, 8);
    EXPECT_EQ(currentStoreSnapshotSchemaVersion, 1);
}

TEST(SyncSnapshot, ComparesEveryListInOrder)
{
    const TagInfo blue { 1, "04 01", "Blue" };
    const TagInfo red { 2, "04 02", "Red" };
    const SyncSnapshot base { SyncSettingsPayload(false, ""), {}, { blue, red }, {} };
    SyncSnapshot same = base;
    EXPECT_EQ(same, base);

    SyncSnapshot reordered = base;
    reordered.tags = { red, blue };
    EXPECT_NE(reordered, base);

    SyncSnapshot otherSettings = base;
    otherSettings.settings.killSwitchUid.reset();
    EXPECT_NE(otherSettings, base);
}

} // namespace
} // namespace tavrik
