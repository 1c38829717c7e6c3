#include "TavrikCore/Model/DeviceCapabilities.hpp"
#include "TavrikCore/Model/SettingsModels.hpp"

#include <gtest/gtest.h>

namespace tavrik {
namespace {

TEST(SyncSettingsPayload, ConstructorStoresOneOrZero)
{
    const SyncSettingsPayload muted(true, std::nullopt);
    EXPECT_EQ(muted.muteNonAlarmSounds, 1);
    EXPECT_EQ(dumpJson(toJson(muted)), R"({"muteNonAlarmSounds":1})");

    const SyncSettingsPayload plain(false, "04 11");
    EXPECT_EQ(plain.muteNonAlarmSounds, 0);
    EXPECT_EQ(dumpJson(toJson(plain)), R"({"muteNonAlarmSounds":0,"killSwitchUid":"04 11"})");
    EXPECT_EQ(muteNonAlarmSoundsDefaultsKey, "tavrik.muteNonAlarmSounds");
}

TEST(SyncSettingsPayload, KeepsTheDeviceValueAsSent)
{
    const SyncSettingsPayload settings = syncSettingsPayloadFromJson(parseJson(R"({"muteNonAlarmSounds":2})"));
    EXPECT_TRUE(settings.isMuteNonAlarmSoundsEnabled());
    EXPECT_FALSE(settings.isKillSwitchSupported());
    EXPECT_EQ(dumpJson(toJson(settings)), R"({"muteNonAlarmSounds":2})");

    const SyncSettingsPayload off
        = syncSettingsPayloadFromJson(parseJson(R"({"muteNonAlarmSounds":0,"killSwitchUid":""})"));
    EXPECT_FALSE(off.isMuteNonAlarmSoundsEnabled());
    EXPECT_TRUE(off.isKillSwitchSupported());
    EXPECT_EQ(off.killSwitchUid, "");
}

TEST(SyncSettingsPayload, RefusesMissingOrMistypedValues)
{
    const char* cases[] = {
        R"({})",
        R"({"killSwitchUid":"04"})",
        R"({"muteNonAlarmSounds":true})",
        R"({"muteNonAlarmSounds":"1"})",
        R"({"muteNonAlarmSounds":1.5})",
        R"({"muteNonAlarmSounds":1,"killSwitchUid":5})",
    };
    for (const char* text : cases) {
        EXPECT_THROW(syncSettingsPayloadFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

TEST(SyncSettingsPayload, SignatureTellsAbsentFromEmptyUid)
{
    const SyncSettingsPayload none(false, std::nullopt);
    const SyncSettingsPayload empty(false, "");
    EXPECT_NE(none, empty);
    EXPECT_NE(none.syncSignature(), empty.syncSignature());
    EXPECT_NE(none.syncSignature(), SyncSettingsPayload(true, std::nullopt).syncSignature());
    EXPECT_EQ(empty.syncSignature(), SyncSettingsPayload(false, "").syncSignature());
}

TEST(DeviceCapabilities, ConstructorAndDerivedFeatures)
{
    struct Case {
        DeviceCapabilities capabilities;
        bool wifi, groups, startTags, restore, ota, killSwitchEnrollment;
    };
    const Case cases[] = {
        { DeviceCapabilities(9, false, false, true, true), false, true, true, true, false, true },
        { DeviceCapabilities(9, false, true, true, true), false, true, true, false, false, false },
        { DeviceCapabilities(9, true, false, true, false), true, true, true, true, true, false },
        { DeviceCapabilities(9, true, true, true, true), false, true, true, false, false, false },
        { DeviceCapabilities(8, true, false, false, false), false, false, true, false, true, false },
        { DeviceCapabilities(7, true, false, true, false), true, false, false, false, true, false },
        { DeviceCapabilities(), false, false, false, false, false, false },
    };
    for (const Case& c : cases) {
        const DeviceCapabilities& caps = c.capabilities;
        SCOPED_TRACE(dumpJson(toJson(caps)));
        EXPECT_EQ(caps.wifi, c.wifi);
        EXPECT_EQ(caps.groups(), c.groups);
        EXPECT_EQ(caps.startTags(), c.startTags);
        EXPECT_EQ(caps.restore(), c.restore);
        EXPECT_EQ(caps.ota(), c.ota);
        EXPECT_EQ(caps.killSwitchEnrollment(), c.killSwitchEnrollment);
    }
}

TEST(DeviceCapabilities, JsonKeepsValuesAsRead)
{
    const DeviceCapabilities read = deviceCapabilitiesFromJson(
        parseJson(R"({"schemaVersion":9,"secure":false,"simulator":true,"wifi":true,"killSwitch":false})"));
    // The Wi-Fi rule belongs to the constructor only.
    EXPECT_TRUE(read.wifi);
    EXPECT_EQ(dumpJson(toJson(read)),
        R"({"schemaVersion":9,"secure":false,"simulator":true,"wifi":true,"killSwitch":false})");
    EXPECT_EQ(deviceCapabilitiesFromJson(toJson(read)), read);

    const char* refused[] = {
        R"({"secure":false,"simulator":false,"wifi":false,"killSwitch":false})",
        R"({"schemaVersion":9,"simulator":false,"wifi":false,"killSwitch":false})",
        R"({"schemaVersion":9,"secure":false,"simulator":false,"wifi":false})",
        R"({"schemaVersion":9,"secure":1,"simulator":false,"wifi":false,"killSwitch":false})",
        R"({"schemaVersion":true,"secure":false,"simulator":false,"wifi":false,"killSwitch":false})",
    };
    for (const char* text : refused) {
        EXPECT_THROW(deviceCapabilitiesFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

} // namespace
} // namespace tavrik
