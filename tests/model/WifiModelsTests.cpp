#include "TavrikCore/Model/WifiModels.hpp"

#include <gtest/gtest.h>

namespace tavrik {
namespace {

TEST(WifiRecords, CapabilityReadsAndWritesEveryKeyInOrder)
{
    const std::string text = R"({"supported":1,"capacity":5,"credentials":[)"
                             R"({"ssid":"Home","verified":2,"lastSuccessful":0},)"
                             R"({"ssid":"Cafe","verified":0,"lastSuccessful":1}]})";
    const WifiCapabilityPayload payload = wifiCapabilityPayloadFromJson(parseJson(text));
    ASSERT_EQ(payload.credentials.size(), 2u);
    EXPECT_TRUE(payload.isSupported());
    EXPECT_EQ(payload.capacity, 5);
    EXPECT_TRUE(payload.credentials[0].isVerified());
    EXPECT_FALSE(payload.credentials[0].isLastSuccessful());
    EXPECT_FALSE(payload.credentials[1].isVerified());
    EXPECT_TRUE(payload.credentials[1].isLastSuccessful());
    EXPECT_EQ(payload.credentials[1].id(), "Cafe");
    EXPECT_EQ(dumpJson(toJson(payload)), text);
    EXPECT_EQ(wifiCapabilityPayloadFromJson(toJson(payload)), payload);
}

TEST(WifiRecords, StrictDecodingFailsTheWholeRecord)
{
    const std::string refused[] = {
        // One saved network without "lastSuccessful" takes the whole member down.
        R"({"supported":1,"capacity":5,"credentials":[{"ssid":"Home","verified":1}]})",
        R"({"supported":1,"capacity":5})",
        R"({"supported":true,"capacity":5,"credentials":[]})",
        R"({"supported":1,"capacity":"5","credentials":[]})",
        R"({"supported":1,"capacity":5,"credentials":[{"ssid":7,"verified":1,"lastSuccessful":1}]})",
        R"([])",
    };
    for (const std::string& text : refused) {
        EXPECT_THROW(wifiCapabilityPayloadFromJson(parseJson(text)), JsonDecodeError) << text;
    }
    const Json extraKeys = parseJson(R"({"supported":0,"capacity":0,"credentials":[],"future":"x"})");
    EXPECT_FALSE(wifiCapabilityPayloadFromJson(extraKeys).isSupported());
}

TEST(WifiRecords, RequestWritesOnlyPresentMembers)
{
    EXPECT_EQ(dumpJson(toJson(WifiRequestEnvelope { "wifi_scan", "A-1", {}, {}, {}, {} })),
        R"({"type":"wifi_scan","requestId":"A-1"})");
    EXPECT_EQ(dumpJson(toJson(WifiRequestEnvelope { "wifi_upsert", "B-2", "Home", "pa\"ss", "GMT-1", false })),
        R"({"type":"wifi_upsert","requestId":"B-2","ssid":"Home","password":"pa\"ss","timezone":"GMT-1","verified":false})");
    EXPECT_EQ(dumpJson(toJson(WifiRequestEnvelope { "wifi_remove", "C-3", "Home", {}, {}, {} })),
        R"({"type":"wifi_remove","requestId":"C-3","ssid":"Home"})");
}

TEST(WifiRecords, DeviceAnswers)
{
    const WifiScanResultsEnvelope results = wifiScanResultsEnvelopeFromJson(parseJson(
        R"({"type":"wifi_scan_results","requestId":"R","networks":[{"ssid":"Lab","rssi":-61,"security":"wpa2","supported":1}]})"));
    EXPECT_EQ(results,
        (WifiScanResultsEnvelope { "wifi_scan_results", "R", { WifiScannedNetwork { "Lab", -61, "wpa2", 1 } } }));
    EXPECT_TRUE(results.networks[0].isSupported());
    // Scanned networks are also written, every key in field order.
    EXPECT_EQ(dumpJson(toJson(results.networks[0])), R"({"ssid":"Lab","rssi":-61,"security":"wpa2","supported":1})");
    EXPECT_THROW(wifiScannedNetworkFromJson(parseJson(R"({"ssid":"Lab","rssi":-61,"supported":1})")), JsonDecodeError);

    const WifiStatusEnvelope failed = wifiStatusEnvelopeFromJson(parseJson(
        R"({"type":"wifi_status","requestId":"R","operation":"validate","stage":"failed","reason":"ntp_timeout","ssid":null})"));
    EXPECT_EQ(failed,
        (WifiStatusEnvelope { "wifi_status", "R", "validate", "failed", std::nullopt, "ntp_timeout", std::nullopt }));

    EXPECT_THROW(wifiStatusEnvelopeFromJson(parseJson(R"({"type":"wifi_status","requestId":"R","stage":"success"})")),
        JsonDecodeError);
    EXPECT_THROW(wifiStatusEnvelopeFromJson(parseJson(
                     R"({"type":"wifi_status","requestId":"R","operation":"scan","stage":"failed","message":3})")),
        JsonDecodeError);
    EXPECT_THROW(
        wifiScanResultsEnvelopeFromJson(parseJson(R"({"type":"wifi_scan_results","requestId":"R"})")), JsonDecodeError);
}

TEST(WifiRequestContext, ActivityKinds)
{
    const WifiCandidate candidate { "Home", "secret" };
    EXPECT_EQ(WifiRequestContext::validate(candidate).activityKind(), WifiRequestActivityKind::saving);
    EXPECT_EQ(WifiRequestContext::upsert(candidate, true).activityKind(), WifiRequestActivityKind::saving);
    EXPECT_EQ(WifiRequestContext::remove("Home").activityKind(), WifiRequestActivityKind::saving);
    EXPECT_EQ(WifiRequestContext::scan().activityKind(), WifiRequestActivityKind::scanning);
    EXPECT_EQ(WifiRequestContext::checkSaved().activityKind(), WifiRequestActivityKind::checking);
    EXPECT_NE(WifiRequestContext::upsert(candidate, true), WifiRequestContext::upsert(candidate, false));
}

TEST(WifiRequestActivityState, FinishOnlyClearsTheCurrentRequest)
{
    WifiRequestActivityState state;
    EXPECT_FALSE(state.isActive());
    EXPECT_FALSE(state.isScanning());
    EXPECT_FALSE(state.finish("old"));

    state.begin("old", WifiRequestActivityKind::checking);
    state.begin("new", WifiRequestActivityKind::scanning);
    EXPECT_TRUE(state.isScanning());
    EXPECT_FALSE(state.isChecking());

    EXPECT_FALSE(state.finish("old"));
    EXPECT_EQ(state, (WifiRequestActivityState { "new", WifiRequestActivityKind::scanning }));

    EXPECT_TRUE(state.finish("new"));
    EXPECT_EQ(state, WifiRequestActivityState {});
    EXPECT_FALSE(state.finish("new"));

    state.begin("save", WifiRequestActivityKind::saving);
    EXPECT_TRUE(state.isSaving());
    state.clear();
    EXPECT_FALSE(state.isActive());
}

TEST(WifiNotices, EachNoticeIsDistinct)
{
    EXPECT_NE(WifiValidationFailure("Home", "Wrong password"), WifiValidationFailure("Home", "Wrong password"));
    EXPECT_NE(WifiConnectionNotice("Connected"), WifiConnectionNotice("Connected"));
    const WifiConnectionNotice notice("Connected");
    EXPECT_EQ(notice, notice);
}

} // namespace
} // namespace tavrik
