#include "tests/session/SessionTestSupport.hpp"

#include "TavrikCore/Support/Uuid.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

class SessionWifiTest : public SessionTest {
protected:
    // Sample data whose "wifi" member is replaced.
    static Json syncDataWithWifi(const Json& wifi)
    {
        Json data = sampleDeviceData();
        data["wifi"] = wifi;
        return data;
    }

    // One "wifi" action; on success its writes reach the device.
    SessionResponse wifi(Json arguments)
    {
        SessionResponse response = dispatch("wifi", std::move(arguments));
        pump(response);
        return response;
    }

    // The newest message the device received, as text and as JSON.
    std::string lastText() const { return device.receivedTexts().back(); }
    Json lastRequest() const { return parseJson(lastText()); }
    std::string lastRequestId() const { return lastRequest().at("requestId").get<std::string>(); }

    // The device answers; gives the response to the last frame.
    SessionResponse answer(const Json& message)
    {
        deviceSends(message);
        return last;
    }
    SessionResponse answerStatus(const std::string& requestId, const std::string& stage, Json extra = Json::object())
    {
        Json message = { { "type", "wifi_status" }, { "requestId", requestId }, { "operation", "" }, { "stage", stage } };
        for (const auto& [key, value] : extra.items()) {
            message[key] = value;
        }
        return answer(message);
    }

    // Key order does not matter in these comparisons.
    static nlohmann::json plain(const Json& value) { return nlohmann::json::parse(value.dump()); }
    nlohmann::json credentials() const { return plain(state().at("device").at("wifi").at("credentials")); }
    nlohmann::json wifiResult() const { return plain(state().at("wifiResult")); }
    bool busy() const { return state().at("wifiBusy").get<bool>(); }
};

TEST_F(SessionWifiTest, RequestsCarryExactJsonOnThePhysicalLink)
{
    loadOverPhysicalLink(sampleDeviceData());
    clock.zone = "Asia/Kolkata";
    struct Case {
        Json arguments;
        std::string expected; // "@" stands for the request id
    };
    const std::vector<Case> cases {
        { { { "operation", "save" }, { "ssid", " Caf\u00e9 \"Bar\"\n" }, { "password", "p\\w \"x\"" },
              { "timeZone", "Europe/Amsterdam" } },
            R"({"type":"wifi_validate","requestId":"@","ssid":"Café \"Bar\"","password":"p\\w \"x\"",)"
            R"("timezone":"CET-1CEST,M3.5.0,M10.5.0/3"})" },
        // No zone, or one that names nothing: the system's zone.
        { { { "operation", "save" }, { "ssid", "Cafe" } },
            R"({"type":"wifi_validate","requestId":"@","ssid":"Cafe","password":"","timezone":"GMT-5:30"})" },
        { { { "operation", "save" }, { "ssid", "Cafe" }, { "password", "pw" }, { "timeZone", "Mars/Olympus" } },
            R"({"type":"wifi_validate","requestId":"@","ssid":"Cafe","password":"pw","timezone":"GMT-5:30"})" },
        { { { "operation", "save" }, { "ssid", "Cafe" }, { "timeZone", "America/New_York" } },
            R"({"type":"wifi_validate","requestId":"@","ssid":"Cafe","password":"","timezone":"GMT4"})" },
        // Removing never sends the password, even when one is given.
        { { { "operation", "remove" }, { "ssid", "Home" }, { "password", "secret" }, { "timeZone", "UTC" } },
            R"({"type":"wifi_remove","requestId":"@","ssid":"Home","timezone":"GMT-0"})" },
        { { { "operation", "scan" }, { "ssid", "ignored" } }, R"({"type":"wifi_scan","requestId":"@"})" },
        { { { "operation", "check_saved" } }, R"({"type":"wifi_check_saved","requestId":"@"})" },
        { { { "operation", "cancel" } }, R"({"type":"wifi_cancel","requestId":"@"})" },
    };
    std::vector<std::string> ids;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.arguments.dump());
        const SessionResponse response = wifi(row.arguments);
        ASSERT_TRUE(response.ok()) << response.error();
        EXPECT_TRUE(response.state().at("wifiBusy").get<bool>());
        const std::string id = lastRequestId();
        EXPECT_TRUE(Uuid::parse(id).has_value());
        EXPECT_EQ(id, Uuid::parse(id)->text()) << "upper-case UUID text";
        std::string expected = row.expected;
        expected.replace(expected.find('@'), 1, id);
        EXPECT_EQ(lastText(), expected);
        ids.push_back(id);
        answerStatus(id, "failed");
        EXPECT_FALSE(busy());
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "every request has its own id";
}

TEST_F(SessionWifiTest, RefusedWithoutWifiSupport)
{
    const Json unsupported
        = syncDataWithWifi({ { "supported", 0 }, { "capacity", 3 }, { "credentials", Json::array() } });
    Json withoutWifi = sampleDeviceData();
    withoutWifi.erase("wifi");
    for (const std::string link : { "simulator", "physical unsupported", "physical without wifi" }) {
        SCOPED_TRACE(link);
        if (link == "simulator") {
            loadOverSimulator(sampleDeviceData());
        } else {
            loadOverPhysicalLink(link == "physical unsupported" ? unsupported : withoutWifi);
        }
        ASSERT_TRUE(state().contains("device"));
        device.forgetReceived();
        for (const std::string operation :
            { "dismiss", "scan", "check_saved", "save", "saveAnyway", "remove", "cancel" }) {
            const SessionResponse response = wifi({ { "operation", operation }, { "ssid", "Cafe" } });
            EXPECT_EQ(response.error(), "Wi-Fi management requires a secure supported Tavrik") << operation;
            EXPECT_TRUE(response.applicationWrites().empty());
            EXPECT_TRUE(response.writes().empty());
        }
        EXPECT_TRUE(device.receivedTexts().empty());
    }
}

TEST_F(SessionWifiTest, RefusesUnknownOperationsAndBadNames)
{
    loadOverPhysicalLink(sampleDeviceData());
    const std::string tooLong = "Network name must contain 1–32 UTF-8 bytes";
    struct Case {
        Json arguments;
        std::string error; // empty: accepted
    };
    std::string euros10;
    for (int index = 0; index < 10; ++index) {
        euros10 += "\u20ac";
    }
    const std::vector<Case> cases {
        { { { "operation", "save" }, { "ssid", std::string(32, 'a') } }, "" },
        { { { "operation", "save" }, { "ssid", std::string(33, 'a') } }, tooLong },
        { { { "operation", "save" }, { "ssid", euros10 } }, "" },
        { { { "operation", "save" }, { "ssid", euros10 + "\u20ac" } }, tooLong },
        // Trimming comes first: blanks around a 32-byte name do not count.
        { { { "operation", "save" }, { "ssid", "  " + std::string(32, 'b') + "\t\n" } }, "" },
        { { { "operation", "remove" }, { "ssid", " \t\n " } }, tooLong },
        { { { "operation", "save" } }, tooLong },
        { { { "operation", "remove" }, { "ssid", "" } }, tooLong },
        { { { "operation", "forget" }, { "ssid", "Home" } }, "Unknown Wi-Fi operation" },
        { Json::object(), "Unknown Wi-Fi operation" },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.arguments.dump());
        device.forgetReceived();
        const SessionResponse response = wifi(row.arguments);
        EXPECT_EQ(response.error(), row.error);
        if (row.error.empty()) {
            ASSERT_EQ(device.receivedTexts().size(), 1U);
            answerStatus(lastRequestId(), "failed");
        } else {
            EXPECT_TRUE(device.receivedTexts().empty());
            EXPECT_FALSE(response.state().at("wifiBusy").get<bool>());
        }
    }
}

TEST_F(SessionWifiTest, CapacityCountsOnlyNewNetworks)
{
    loadOverPhysicalLink(syncDataWithWifi({ { "supported", 1 }, { "capacity", 2 },
        { "credentials",
            Json::array({ { { "ssid", "Home" }, { "verified", 1 }, { "lastSuccessful", 1 } },
                { { "ssid", "Office" }, { "verified", 0 }, { "lastSuccessful", 0 } } }) } }));

    EXPECT_EQ(wifi({ { "operation", "save" }, { "ssid", "Cafe" } }).error(), "Tavrik's saved network capacity is full");
    // The comparison is exact: another letter case is another network.
    EXPECT_EQ(wifi({ { "operation", "save" }, { "ssid", "home" } }).error(), "Tavrik's saved network capacity is full");
    EXPECT_FALSE(busy());

    const SessionResponse again = wifi({ { "operation", "save" }, { "ssid", " Home " }, { "password", "new" } });
    ASSERT_TRUE(again.ok()) << again.error();
    EXPECT_EQ(lastRequest().at("ssid"), "Home");
    answerStatus(lastRequestId(), "failed");

    const SessionResponse removal = wifi({ { "operation", "remove" }, { "ssid", "Office" } });
    EXPECT_TRUE(removal.ok()) << removal.error();
}

TEST_F(SessionWifiTest, SaveTriesTheNetworkThenStoresItVerified)
{
    loadOverPhysicalLink(syncDataWithWifi({ { "supported", 1 }, { "capacity", 3 },
        { "credentials",
            Json::array({ { { "ssid", "Home" }, { "verified", 1 }, { "lastSuccessful", 1 } },
                { { "ssid", "Cafe" }, { "verified", 0 }, { "lastSuccessful", 0 } } }) } }));
    ASSERT_TRUE(wifi({ { "operation", "save" }, { "ssid", "Cafe" }, { "password", "pw" }, { "timeZone", "UTC" } }).ok());
    const std::string validateId = lastRequestId();

    answerStatus(validateId, "connecting");
    EXPECT_TRUE(busy()) << "an intermediate stage keeps the request open";
    EXPECT_EQ(state().at("wifiResult").at("stage"), "connecting");

    answerStatus(validateId, "success", { { "message", "Network works" } });
    const Json upsert = lastRequest();
    EXPECT_EQ(upsert.at("type"), "wifi_upsert");
    EXPECT_NE(upsert.at("requestId"), validateId);
    EXPECT_EQ(lastText(),
        R"({"type":"wifi_upsert","requestId":")" + upsert.at("requestId").get<std::string>()
            + R"(","ssid":"Cafe","password":"pw","timezone":"GMT-0","verified":true})");
    EXPECT_TRUE(busy());
    EXPECT_FALSE(state().contains("wifiSaved"));

    // The trial's own id is finished: a repeated answer to it changes nothing.
    answerStatus(validateId, "failed", { { "message", "late" } });
    EXPECT_TRUE(busy());

    answerStatus(upsert.at("requestId").get<std::string>(), "success", { { "message", "Saved" } });
    EXPECT_FALSE(busy());
    EXPECT_EQ(state().at("wifiSaved"), "Cafe");
    EXPECT_EQ(state().at("status"), "Saved");
    EXPECT_EQ(credentials(), nlohmann::json::parse(R"([{"ssid":"Home","verified":1,"lastSuccessful":0},
                                           {"ssid":"Cafe","verified":1,"lastSuccessful":1}])"));
    EXPECT_EQ(state().at("device").at("wifi").at("capacity"), 3);
}

TEST_F(SessionWifiTest, FailedTrialCanBeSavedAnywayUnverified)
{
    loadOverPhysicalLink(sampleDeviceData());
    ASSERT_TRUE(wifi({ { "operation", "save" }, { "ssid", "Cafe" }, { "password", "pw" }, { "timeZone", "UTC" } }).ok());
    answerStatus(lastRequestId(), "failed", { { "reason", "auth_failed" } });
    EXPECT_FALSE(busy());
    EXPECT_EQ(state().at("wifiFailure"), "auth_failed");
    EXPECT_EQ(state().at("status"), "auth_failed");

    const SessionResponse anyway = wifi({ { "operation", "saveAnyway" } });
    ASSERT_TRUE(anyway.ok()) << anyway.error();
    EXPECT_FALSE(anyway.state().contains("wifiFailure"));
    EXPECT_EQ(lastText(),
        R"({"type":"wifi_upsert","requestId":")" + lastRequestId()
            + R"(","ssid":"Cafe","password":"pw","timezone":"GMT-0","verified":false})");

    answerStatus(lastRequestId(), "success");
    EXPECT_EQ(state().at("status"), "Wi-Fi request completed");
    EXPECT_EQ(state().at("wifiSaved"), "Cafe");
    // The other networks keep their last-successful marks: the new one never connected.
    EXPECT_EQ(credentials(), nlohmann::json::parse(R"([{"ssid":"Home","verified":1,"lastSuccessful":1},
                                           {"ssid":"Cafe","verified":0,"lastSuccessful":0}])"));

    // The stored network is no longer a candidate.
    EXPECT_EQ(wifi({ { "operation", "saveAnyway" } }).error(), "No network to save");
}

TEST_F(SessionWifiTest, DismissForgetsTheFailedCandidate)
{
    loadOverPhysicalLink(sampleDeviceData());
    EXPECT_EQ(wifi({ { "operation", "saveAnyway" } }).error(), "No network to save");

    ASSERT_TRUE(wifi({ { "operation", "save" }, { "ssid", "Cafe" } }).ok());
    answerStatus(lastRequestId(), "failed");
    EXPECT_EQ(state().at("wifiFailure"), "Wi-Fi request failed");

    const SessionResponse dismissed = wifi({ { "operation", "dismiss" } });
    ASSERT_TRUE(dismissed.ok()) << dismissed.error();
    EXPECT_FALSE(dismissed.state().contains("wifiFailure"));
    EXPECT_TRUE(dismissed.effects().empty());
    EXPECT_EQ(wifi({ { "operation", "saveAnyway" } }).error(), "No network to save");
}

TEST_F(SessionWifiTest, RefusedRequestForgetsTheLastOutcomeButKeepsTheCandidate)
{
    loadOverPhysicalLink(syncDataWithWifi({ { "supported", 1 }, { "capacity", 1 },
        { "credentials", Json::array({ { { "ssid", "Home" }, { "verified", 1 }, { "lastSuccessful", 1 } } }) } }));
    ASSERT_TRUE(wifi({ { "operation", "save" }, { "ssid", "Home" }, { "password", "pw" } }).ok());
    answerStatus(lastRequestId(), "failed", { { "message", "Wrong password" } });
    ASSERT_EQ(state().at("wifiFailure"), "Wrong password");

    // A refusal after the request was accepted still clears the failure shown; the candidate is only
    // replaced by a request that passed its checks.
    for (const Json& refused :
        { Json { { "operation", "forget" } }, Json { { "operation", "save" }, { "ssid", std::string(33, 'x') } },
            Json { { "operation", "save" }, { "ssid", "Cafe" } } }) {
        SCOPED_TRACE(refused.dump());
        ASSERT_TRUE(wifi({ { "operation", "save" }, { "ssid", "Home" }, { "password", "pw" } }).ok());
        answerStatus(lastRequestId(), "failed", { { "message", "Wrong password" } });
        device.forgetReceived();

        EXPECT_FALSE(wifi(refused).ok());
        EXPECT_FALSE(state().contains("wifiFailure"));
        EXPECT_FALSE(busy());
        EXPECT_TRUE(device.receivedTexts().empty());
        ASSERT_TRUE(wifi({ { "operation", "saveAnyway" } }).ok());
        EXPECT_EQ(lastRequest().at("ssid"), "Home");
        EXPECT_EQ(lastRequest().at("password"), "pw");
        answerStatus(lastRequestId(), "success");
        EXPECT_EQ(state().at("wifiSaved"), "Home");
    }
    // The next request of any kind forgets the name last saved.
    ASSERT_TRUE(wifi({ { "operation", "scan" } }).ok());
    EXPECT_FALSE(state().contains("wifiSaved"));
}

TEST_F(SessionWifiTest, FailureOfAnotherOperationDropsTheCandidate)
{
    loadOverPhysicalLink(sampleDeviceData());
    ASSERT_TRUE(wifi({ { "operation", "remove" }, { "ssid", "Home" } }).ok());
    answerStatus(lastRequestId(), "failed", { { "message", "Not stored" }, { "reason", "missing" } });
    EXPECT_EQ(state().at("status"), "Not stored");
    EXPECT_FALSE(state().contains("wifiFailure"));
    EXPECT_EQ(credentials().size(), 1U);
    EXPECT_EQ(wifi({ { "operation", "saveAnyway" } }).error(), "No network to save");
}

TEST_F(SessionWifiTest, SuccessUpdatesTheSavedNetworks)
{
    const Json three = { { "supported", 1 }, { "capacity", 3 },
        { "credentials",
            Json::array({ { { "ssid", "Home" }, { "verified", 1 }, { "lastSuccessful", 1 } },
                { { "ssid", "Office" }, { "verified", 0 }, { "lastSuccessful", 0 } },
                { { "ssid", "Lab" }, { "verified", 0 }, { "lastSuccessful", 0 } } }) } };
    struct Case {
        Json arguments;
        Json answer;
        std::string expected;
    };
    const std::vector<Case> cases {
        { { { "operation", "remove" }, { "ssid", "Office" } }, Json::object(),
            R"([{"ssid":"Home","verified":1,"lastSuccessful":1},{"ssid":"Lab","verified":0,"lastSuccessful":0}])" },
        { { { "operation", "check_saved" } }, { { "ssid", "Office" } },
            R"([{"ssid":"Home","verified":1,"lastSuccessful":0},{"ssid":"Office","verified":1,"lastSuccessful":1},)"
            R"({"ssid":"Lab","verified":0,"lastSuccessful":0}])" },
        // Without a working network's name the list stays as it was.
        { { { "operation", "check_saved" } }, Json::object(), three.at("credentials").dump() },
        { { { "operation", "scan" } }, { { "ssid", "Office" } }, three.at("credentials").dump() },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.arguments.dump());
        loadOverPhysicalLink(syncDataWithWifi(three));
        ASSERT_TRUE(wifi(row.arguments).ok());
        answerStatus(lastRequestId(), "success", row.answer);
        EXPECT_FALSE(busy());
        EXPECT_EQ(credentials(), nlohmann::json::parse(row.expected));
        EXPECT_EQ(state().at("status"), "Wi-Fi request completed");
        EXPECT_FALSE(state().contains("wifiSaved"));
    }
}

TEST_F(SessionWifiTest, OneRequestAtATimeAndCancelMakesLateAnswersHarmless)
{
    loadOverPhysicalLink(sampleDeviceData());
    ASSERT_TRUE(wifi({ { "operation", "save" }, { "ssid", "Cafe" } }).ok());
    const std::string trialId = lastRequestId();

    for (const std::string operation : { "scan", "check_saved", "save", "saveAnyway", "remove" }) {
        device.forgetReceived();
        const SessionResponse refused = wifi({ { "operation", operation }, { "ssid", "Other" } });
        EXPECT_EQ(refused.error(), "Wait for the current Wi-Fi operation") << operation;
        EXPECT_TRUE(device.receivedTexts().empty());
    }
    ASSERT_TRUE(wifi({ { "operation", "dismiss" } }).ok()) << "dismiss is allowed while a request runs";
    EXPECT_TRUE(busy());

    const SessionResponse cancelled = wifi({ { "operation", "cancel" } });
    ASSERT_TRUE(cancelled.ok()) << cancelled.error();
    EXPECT_EQ(lastRequest().at("type"), "wifi_cancel");
    const std::string cancelId = lastRequestId();
    EXPECT_NE(cancelId, trialId);
    EXPECT_TRUE(busy());

    // The trial's late success must not chain into storing the network.
    device.forgetReceived();
    answerStatus(trialId, "success");
    EXPECT_TRUE(device.receivedTexts().empty());
    EXPECT_FALSE(state().contains("wifiResult"));
    EXPECT_TRUE(busy());
    // Neither is an answer without any id while a request is open.
    answer({ { "type", "wifi_status" }, { "stage", "failed" }, { "message", "stray" } });
    EXPECT_TRUE(busy());
    EXPECT_NE(state().at("status"), "stray");

    answerStatus(cancelId, "success", { { "message", "Cancelled" } });
    EXPECT_FALSE(busy());
    EXPECT_EQ(state().at("status"), "Cancelled");
    EXPECT_EQ(credentials().size(), 1U);
}

TEST_F(SessionWifiTest, ScanResultsAreMatchedByRequestId)
{
    loadOverPhysicalLink(sampleDeviceData());
    ASSERT_TRUE(wifi({ { "operation", "scan" } }).ok());
    const std::string scanId = lastRequestId();
    const Json networks = parseJson(R"([{"ssid":"Cafe","rssi":-60,"security":"wpa2","supported":1}])");

    answer({ { "type", "wifi_scan_results" }, { "requestId", "00000000-0000-4000-8000-000000000000" },
        { "networks", networks } });
    EXPECT_TRUE(busy());
    EXPECT_FALSE(state().contains("wifiResult"));

    const Json results = { { "type", "wifi_scan_results" }, { "requestId", scanId }, { "networks", networks } };
    answer(results);
    EXPECT_FALSE(busy());
    EXPECT_EQ(wifiResult(), plain(results));

    // With nothing outstanding, an answer without an id is taken; one with an id is not.
    answer({ { "type", "wifi_status" }, { "requestId", scanId }, { "stage", "failed" }, { "message", "old" } });
    EXPECT_EQ(wifiResult(), plain(results));
    const Json unsolicited = { { "type", "wifi_status" }, { "stage", "success" }, { "message", "NTP synced" } };
    answer(unsolicited);
    EXPECT_EQ(wifiResult(), plain(unsolicited));
    EXPECT_EQ(state().at("status"), "NTP synced");

    // A new request forgets the previous result.
    ASSERT_TRUE(wifi({ { "operation", "check_saved" } }).ok());
    EXPECT_FALSE(state().contains("wifiResult"));
}

TEST_F(SessionWifiTest, OutstandingRequestTimesOutAfter65Seconds)
{
    loadOverPhysicalLink(sampleDeviceData());
    // The time-out counts from the request, not from the device's last message before it.
    advance(std::chrono::minutes(5));
    ASSERT_TRUE(wifi({ { "operation", "scan" } }).ok());
    advance(std::chrono::seconds(65));
    ASSERT_TRUE(dispatch("tick").effects().empty());
    ASSERT_TRUE(busy());
    const std::string scanId = lastRequestId();

    answer({ { "type", "wifi_status" }, { "requestId", scanId }, { "stage", "scanning" } });
    advance(std::chrono::seconds(65));
    SessionResponse tick = dispatch("tick");
    EXPECT_TRUE(tick.effects().empty()) << "a device answer counts as progress";
    EXPECT_TRUE(busy());

    advance(std::chrono::milliseconds(1));
    tick = dispatch("tick");
    EXPECT_EQ(tick.effectsOfType("disconnect").size(), 1U);
    EXPECT_FALSE(busy());
    EXPECT_EQ(state().at("status"), "Device operation timed out. Retry after reconnecting.");
    EXPECT_TRUE(state().at("connected").get<bool>());

    answer({ { "type", "wifi_scan_results" }, { "requestId", scanId }, { "networks", Json::array() } });
    EXPECT_EQ(state().at("wifiResult").at("type"), "wifi_status") << "the timed-out request's answer is ignored";
}

} // namespace
} // namespace tavrik::test
