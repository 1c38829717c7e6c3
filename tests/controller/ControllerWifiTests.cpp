#include "tests/controller/ControllerTestSupport.hpp"

#include "TavrikCore/Support/Json.hpp"

#include <functional>
#include <set>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view amsterdamZone = "CET-1CEST,M3.5.0,M10.5.0/3";

using Credentials = std::vector<WifiCredentialSummary>;

WifiCapabilityPayload savedNetworks()
{
    return { 1, 8, { { "Home", 1, 1 }, { "attic", 1, 0 }, { "Cafe", 0, 0 } } };
}

Json network(const std::string& ssid, int rssi, int supported = 1)
{
    return { { "ssid", ssid }, { "rssi", rssi }, { "security", "wpa2" }, { "supported", supported } };
}

class ControllerWifiTest : public ControllerTest {
protected:
    void SetUp() override
    {
        clock.zone = "Europe/Amsterdam";
        addDevice().data.wifi = savedNetworks();
        loadFromDevice();
        ASSERT_TRUE(controller->wifiSupported());
        ASSERT_TRUE(controller->isConnected());
    }

    std::string outstandingId() const { return controller->wifiRequestActivity().requestId.value_or(""); }

    // Every Wi-Fi request the device received, as sent.
    std::vector<std::string> wifiRequestTexts() const
    {
        std::vector<std::string> texts;
        for (const std::string& text : device->receivedTexts()) {
            if (text.rfind("{\"type\":\"wifi_", 0) == 0) {
                texts.push_back(text);
            }
        }
        return texts;
    }

    void status(const std::string& requestId, const std::string& stage, std::optional<std::string> ssid = std::nullopt,
        std::optional<std::string> reason = std::nullopt, std::optional<std::string> message = std::nullopt)
    {
        Json answer { { "type", "wifi_status" }, { "requestId", requestId }, { "operation", "any" }, { "stage", stage } };
        if (ssid) {
            answer["ssid"] = *ssid;
        }
        if (reason) {
            answer["reason"] = *reason;
        }
        if (message) {
            answer["message"] = *message;
        }
        // Plain frames: a command connection after a load offers no reliable delivery.
        device->send(answer, false);
        settle();
    }

    void scanResults(const std::string& requestId, Json networks)
    {
        device->send(
            { { "type", "wifi_scan_results" }, { "requestId", requestId }, { "networks", std::move(networks) } }, false);
        settle();
    }

    std::vector<std::string> nearbyNames() const
    {
        std::vector<std::string> names;
        for (const WifiScannedNetwork& found : controller->nearbyWifiNetworks()) {
            names.push_back(found.ssid);
        }
        return names;
    }

    // No request is outstanding. Whether one still holds the link shows once the idle minute runs
    // out, which tests do where they leave the link.
    void expectIdle() { EXPECT_EQ(controller->wifiRequestActivity(), WifiRequestActivityState {}); }
};

TEST_F(ControllerWifiTest, EachOperationSendsItsRequestWithAFreshId)
{
    struct Case {
        const char* name;
        std::function<void(TavrikBleCentral&)> start;
        std::string bodyAfterId; // the JSON text after the request id
        WifiRequestActivityKind kind;
        std::string message;
    };
    const std::string zone(amsterdamZone);
    const std::vector<Case> cases {
        { "scan", [](TavrikBleCentral& c) { c.scanWifiNetworks(); }, "}", WifiRequestActivityKind::scanning,
            "Scanning for nearby networks…" },
        { "check", [](TavrikBleCentral& c) { c.checkSavedWifiCredentials(); }, "}", WifiRequestActivityKind::checking,
            "Checking saved Wi-Fi networks…" },
        // Blanks around the name go; the password is sent as typed.
        { "validate", [](TavrikBleCentral& c) { c.validateAndSaveWifiCredential(" \tOffice 2\n", " p\"w "); },
            R"(,"ssid":"Office 2","password":" p\"w ","timezone":")" + zone + "\"}", WifiRequestActivityKind::saving,
            "Checking Office 2…" },
        { "upsert",
            [](TavrikBleCentral& c) {
                c.sendWifiUpsert({ " Lab ", "secret" }, false);
            },
            R"(,"ssid":" Lab ","password":"secret","timezone":")" + zone + R"(","verified":false})",
            WifiRequestActivityKind::saving, "Saving  Lab …" },
        { "remove", [](TavrikBleCentral& c) { c.removeWifiCredential("Cafe"); }, R"(,"ssid":"Cafe"})",
            WifiRequestActivityKind::saving, "Removing Cafe…" },
    };
    const std::map<std::string, std::string> types { { "scan", "wifi_scan" }, { "check", "wifi_check_saved" },
        { "validate", "wifi_validate" }, { "upsert", "wifi_upsert" }, { "remove", "wifi_remove" } };
    std::set<std::string> ids;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.start(*controller);
        settle();
        const std::string id = outstandingId();
        ASSERT_TRUE(Uuid::parse(id)) << id;
        EXPECT_TRUE(ids.insert(id).second) << "request id reused";
        ASSERT_FALSE(wifiRequestTexts().empty());
        EXPECT_EQ(wifiRequestTexts().back(),
            R"({"type":")" + types.at(c.name) + R"(","requestId":")" + id + "\"" + c.bodyAfterId);
        EXPECT_EQ(controller->wifiRequestActivity().kind, c.kind);
        EXPECT_EQ(controller->wifiSettingsMessage(), c.message);
        // The outstanding request holds the link.
        EXPECT_FALSE(idleMinuteEndsLink());
    }
    EXPECT_EQ(wifiRequestTexts().size(), cases.size());
}

TEST_F(ControllerWifiTest, ValidationChainsIntoAVerifiedSaveThatListsTheNetworkFirst)
{
    controller->validateAndSaveWifiCredential("  Office ", " pw");
    settle();
    const std::string validateId = outstandingId();

    status(validateId, "connecting", "Office");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Connecting to Office…");
    status(validateId, "waiting_for_ntp");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Connected to Wi-Fi; waiting for time sync…");
    status(validateId, "connecting");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Connecting to Wi-Fi…");
    status(validateId, "success", "Office");

    const std::string upsertId = outstandingId();
    EXPECT_NE(upsertId, validateId);
    EXPECT_EQ(controller->wifiRequestActivity().kind, WifiRequestActivityKind::saving);
    EXPECT_EQ(controller->wifiSettingsMessage(), "Saving Office…");
    const Json upsert = parseJson(wifiRequestTexts().back());
    EXPECT_EQ(upsert["type"], "wifi_upsert");
    EXPECT_EQ(upsert["requestId"], upsertId);
    EXPECT_EQ(upsert["ssid"], "Office");
    EXPECT_EQ(upsert["password"], " pw");
    EXPECT_EQ(upsert["verified"], true);
    EXPECT_FALSE(idleMinuteEndsLink());

    // The finished validation's answers no longer count.
    status(validateId, "failed", std::nullopt, "authentication_failure");
    EXPECT_TRUE(logContains("Received an unexpected Wi-Fi status"));
    EXPECT_EQ(outstandingId(), upsertId);

    status(upsertId, "success", "Office");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Office was verified and saved.");
    EXPECT_EQ(controller->wifiLastSavedSsid(), "Office");
    EXPECT_EQ(controller->savedWifiCredentials(),
        (Credentials { { "Office", 1, 1 }, { "attic", 1, 0 }, { "Cafe", 0, 0 }, { "Home", 1, 0 } }));
    EXPECT_FALSE(controller->wifiValidationFailure());
    EXPECT_FALSE(controller->failedWifiCandidate());
    expectIdle();
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerWifiTest, FailedValidationOffersSavingWithoutVerification)
{
    controller->validateAndSaveWifiCredential("Office", "wrong");
    settle();
    status(outstandingId(), "failed", "Office", "authentication_failure", "ignored for a known reason");
    const std::string text = "The Wi-Fi password was not accepted.";
    EXPECT_EQ(controller->wifiSettingsMessage(), text);
    ASSERT_TRUE(controller->wifiValidationFailure());
    EXPECT_EQ(controller->wifiValidationFailure()->ssid, "Office");
    EXPECT_EQ(controller->wifiValidationFailure()->message, text);
    EXPECT_EQ(controller->failedWifiCandidate(), (WifiCandidate { "Office", "wrong" }));
    EXPECT_FALSE(controller->wifiConnectionNotice());
    expectIdle();

    // "Save Anyway".
    const WifiCandidate candidate = *controller->failedWifiCandidate();
    controller->clearWifiValidationFailure();
    controller->sendWifiUpsert(candidate, false);
    settle();
    EXPECT_EQ(parseJson(wifiRequestTexts().back())["verified"], false);
    status(outstandingId(), "success");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Office was saved without verification.");
    // The last network that worked stays first.
    EXPECT_EQ(controller->savedWifiCredentials(),
        (Credentials { { "Home", 1, 1 }, { "attic", 1, 0 }, { "Cafe", 0, 0 }, { "Office", 0, 0 } }));
    EXPECT_FALSE(controller->failedWifiCandidate());
    EXPECT_FALSE(controller->wifiValidationFailure());
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerWifiTest, FailedSaveKeepsTheCandidateAndNamesTheLimit)
{
    controller->sendWifiUpsert({ "Ninth", "pw" }, true);
    settle();
    status(outstandingId(), "failed", std::nullopt, "capacity_reached");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Tavrik can store up to eight Wi-Fi networks.");
    EXPECT_EQ(controller->wifiValidationFailure()->ssid, "Ninth");
    EXPECT_EQ(controller->failedWifiCandidate(), (WifiCandidate { "Ninth", "pw" }));
    EXPECT_EQ(controller->savedWifiCredentials().size(), 3u);
}

TEST_F(ControllerWifiTest, SavingAgainReplacesTheEntryOfTheSameName)
{
    controller->sendWifiUpsert({ "Cafe", "new" }, true);
    settle();
    status(outstandingId(), "success");
    EXPECT_EQ(
        controller->savedWifiCredentials(), (Credentials { { "Cafe", 1, 1 }, { "attic", 1, 0 }, { "Home", 1, 0 } }));
}

TEST_F(ControllerWifiTest, FailureReasonsBecomeUserTexts)
{
    struct Case {
        std::optional<std::string> reason;
        std::optional<std::string> message;
        std::string text;
    };
    const std::vector<Case> cases {
        { "no_credentials", std::nullopt, "No Wi-Fi credentials are saved." },
        { "no_visible_saved_network", std::nullopt, "None of the saved Wi-Fi networks are available." },
        { "authentication_failure", std::nullopt, "The Wi-Fi password was not accepted." },
        { "connection_timeout", std::nullopt, "The Wi-Fi connection timed out." },
        { "ntp_timeout", std::nullopt, "Wi-Fi connected, but no NTP response was received." },
        { "request_timeout", std::nullopt, "The Wi-Fi request timed out." },
        { "unsupported_security", std::nullopt, "This network uses unsupported enterprise or legacy security." },
        { "cancellation", std::nullopt, "The Wi-Fi check was cancelled." },
        { "capacity_reached", "Device text", "Tavrik can store up to eight Wi-Fi networks." },
        { std::nullopt, "Device text", "The Wi-Fi connection timed out." },
        { "disk_full", "Flash is full", "Flash is full" },
        { "disk_full", std::nullopt, "The Wi-Fi operation failed." },
        { "Connection_Timeout", std::nullopt, "The Wi-Fi operation failed." },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason.value_or("(none)"));
        controller->removeWifiCredential("Cafe");
        settle();
        status(outstandingId(), "failed", std::nullopt, c.reason, c.message);
        EXPECT_EQ(controller->wifiSettingsMessage(), c.text);
        EXPECT_FALSE(controller->wifiValidationFailure());
        expectIdle();
        EXPECT_TRUE(idleMinuteEndsLink());
        // The next case runs on the link of the load that follows.
        scheduler.advance(1s);
        ASSERT_TRUE(controller->hasLoadedData());
    }
    EXPECT_EQ(controller->savedWifiCredentials().size(), 3u);
}

TEST_F(ControllerWifiTest, RemovingDropsTheNetwork)
{
    controller->removeWifiCredential("attic");
    settle();
    status(outstandingId(), "success");
    EXPECT_EQ(controller->wifiSettingsMessage(), "attic was removed.");
    EXPECT_EQ(controller->savedWifiCredentials(), (Credentials { { "Home", 1, 1 }, { "Cafe", 0, 0 } }));
    expectIdle();
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerWifiTest, CheckingSavedNetworksMarksTheOneThatWorked)
{
    controller->checkSavedWifiCredentials();
    settle();
    status(outstandingId(), "scanning");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Looking for saved Wi-Fi networks…");
    status(outstandingId(), "success", "Cafe");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Time synchronized using Cafe.");
    // The order stays as it was.
    EXPECT_EQ(
        controller->savedWifiCredentials(), (Credentials { { "Home", 1, 0 }, { "attic", 1, 0 }, { "Cafe", 1, 1 } }));
    expectIdle();

    controller->checkSavedWifiCredentials();
    settle();
    status(outstandingId(), "success");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Wi-Fi time synchronization completed.");
    EXPECT_EQ(
        controller->savedWifiCredentials(), (Credentials { { "Home", 1, 0 }, { "attic", 1, 0 }, { "Cafe", 1, 1 } }));
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerWifiTest, FailedCheckRaisesOneNoticePerSession)
{
    const auto failCheck = [&](const std::string& reason) {
        controller->checkSavedWifiCredentials();
        settle();
        status(outstandingId(), "failed", std::nullopt, reason);
    };

    failCheck("cancellation");
    EXPECT_EQ(controller->wifiSettingsMessage(), "The Wi-Fi check was cancelled.");
    EXPECT_FALSE(controller->wifiConnectionNotice());

    failCheck("no_visible_saved_network");
    ASSERT_TRUE(controller->wifiConnectionNotice());
    EXPECT_EQ(controller->wifiConnectionNotice()->message, "None of the saved Wi-Fi networks are available.");
    controller->dismissWifiConnectionNotice();
    EXPECT_FALSE(controller->wifiConnectionNotice());

    failCheck("ntp_timeout");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Wi-Fi connected, but no NTP response was received.");
    EXPECT_FALSE(controller->wifiConnectionNotice());

    // Starting over with fresh data allows the next notice.
    probe().resetLocalData(false);
    settle();
    controller->applySyncData(device->data, true, 9);
    failCheck("no_credentials");
    ASSERT_TRUE(controller->wifiConnectionNotice());
    EXPECT_EQ(controller->wifiConnectionNotice()->message, "No Wi-Fi credentials are saved.");
}

TEST_F(ControllerWifiTest, ScanResultsSortBySignalThenNameAsTheUserReads)
{
    controller->scanWifiNetworks();
    settle();
    scanResults(outstandingId(),
        Json::array({ network("b", -40), network("Zebra", -55), network("", -30), network("A", -40), network("c", -70),
            network("Äpfel", -55), network("NET", -60), network("net", -60) }));
    EXPECT_EQ(nearbyNames(), (std::vector<std::string> { "A", "b", "Äpfel", "Zebra", "NET", "net", "c" }));
    EXPECT_EQ(controller->wifiSettingsMessage(), "Found 7 nearby networks.");
    expectIdle();
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());

    // In Swedish, Ä comes after Z.
    clock.locale = "sv_SE";
    controller->scanWifiNetworks();
    settle();
    EXPECT_TRUE(controller->nearbyWifiNetworks().empty());
    scanResults(outstandingId(), Json::array({ network("Äpfel", -55), network("Zebra", -55) }));
    EXPECT_EQ(nearbyNames(), (std::vector<std::string> { "Zebra", "Äpfel" }));
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerWifiTest, ScanResultCountsItsNetworks)
{
    const std::vector<std::pair<Json, std::string>> cases {
        { Json::array({ network("One", -50) }), "Found 1 nearby network." },
        { Json::array({ network("", -50) }), "No nearby Wi-Fi networks found." },
        { Json::array(), "No nearby Wi-Fi networks found." },
    };
    for (const auto& [networks, text] : cases) {
        controller->scanWifiNetworks();
        settle();
        status(outstandingId(), "scanning");
        EXPECT_EQ(controller->wifiSettingsMessage(), "Scanning for nearby networks…");
        scanResults(outstandingId(), networks);
        EXPECT_EQ(controller->wifiSettingsMessage(), text);
    }
}

TEST_F(ControllerWifiTest, AScanResultForAnotherRequestEndsThatRequest)
{
    controller->validateAndSaveWifiCredential("Office", "pw");
    settle();
    scanResults(outstandingId(), Json::array({ network("Office", -40) }));
    EXPECT_TRUE(logContains("Received an unexpected Wi-Fi scan result"));
    EXPECT_TRUE(controller->nearbyWifiNetworks().empty());
    EXPECT_EQ(controller->wifiSettingsMessage(), "The Wi-Fi operation failed.");
    expectIdle();
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    // Nothing more is sent for it, and it no longer holds the link.
    EXPECT_EQ(wifiRequestTexts().size(), 1u);
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerWifiTest, AnswersOfNoOutstandingRequestAreOnlyLogged)
{
    controller->scanWifiNetworks();
    settle();
    const std::string scanId = outstandingId();
    // A newer request replaces the scan without a word.
    controller->checkSavedWifiCredentials();
    settle();
    const std::string checkId = outstandingId();
    scanResults(scanId, Json::array({ network("Late", -40) }));
    EXPECT_TRUE(logContains("Received an unexpected Wi-Fi scan result"));
    EXPECT_TRUE(controller->nearbyWifiNetworks().empty());

    status("no-such-request", "success", "Home");
    device->sendPayload(dataFromString(R"({"type":"wifi_status","requestId":")" + checkId + R"("})"));
    settle();
    const std::vector<std::string> log = logTexts();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Received an unexpected Wi-Fi status"), 2);
    EXPECT_EQ(outstandingId(), checkId);
    EXPECT_EQ(controller->wifiSettingsMessage(), "Checking saved Wi-Fi networks…");
    EXPECT_EQ(
        controller->savedWifiCredentials(), (Credentials { { "Home", 1, 1 }, { "attic", 1, 0 }, { "Cafe", 0, 0 } }));

    // Stages the controller does not know change nothing.
    status(checkId, "rebooting");
    EXPECT_EQ(outstandingId(), checkId);
    EXPECT_EQ(controller->wifiSettingsMessage(), "Checking saved Wi-Fi networks…");
}

TEST_F(ControllerWifiTest, RequestTimesOutAfterSixtyFiveSecondsWhateverItsProgress)
{
    controller->validateAndSaveWifiCredential("Office", "pw");
    settle();
    const std::string id = outstandingId();
    scheduler.advance(64s);
    status(id, "connecting", "Office");
    status(id, "waiting_for_ntp", "Office");
    scheduler.advance(999ms);
    EXPECT_EQ(outstandingId(), id);
    scheduler.advance(1ms);
    settle();
    EXPECT_EQ(controller->wifiSettingsMessage(), "The Wi-Fi request timed out.");
    EXPECT_EQ(controller->wifiValidationFailure()->message, "The Wi-Fi request timed out.");
    expectIdle();

    // The device's late answer finds nothing to finish.
    status(id, "success", "Office");
    EXPECT_TRUE(logContains("Received an unexpected Wi-Fi status"));
    EXPECT_EQ(wifiRequestTexts().size(), 1u);
    EXPECT_EQ(controller->wifiSettingsMessage(), "The Wi-Fi request timed out.");
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerWifiTest, TimedOutCheckRaisesTheConnectionNotice)
{
    controller->checkSavedWifiCredentials();
    settle();
    scheduler.advance(TavrikBleCentral::wifiRequestTimeout);
    settle();
    ASSERT_TRUE(controller->wifiConnectionNotice());
    EXPECT_EQ(controller->wifiConnectionNotice()->message, "The Wi-Fi request timed out.");
}

TEST_F(ControllerWifiTest, FinishedOrCancelledRequestsStayQuiet)
{
    controller->removeWifiCredential("Cafe");
    settle();
    status(outstandingId(), "success");
    // An editor's Cancel forgets the request.
    controller->scanWifiNetworks();
    settle();
    const std::string scanId = outstandingId();
    controller->resetWifiRequestState();
    EXPECT_EQ(controller->wifiRequestActivity(), WifiRequestActivityState {});
    // The user stays at the window, so the link stays up past the request's time-out.
    for (int step = 0; step < 5; ++step) {
        controller->recordUserInteraction();
        scheduler.advance(std::chrono::seconds(30));
    }
    settle();
    EXPECT_EQ(controller->wifiSettingsMessage(), "Scanning for nearby networks…");
    EXPECT_FALSE(controller->wifiValidationFailure());

    // Its late answer is only logged.
    scanResults(scanId, Json::array({ network("Late", -40) }));
    EXPECT_TRUE(logContains("Received an unexpected Wi-Fi scan result"));
    EXPECT_TRUE(controller->nearbyWifiNetworks().empty());
    EXPECT_EQ(controller->wifiSettingsMessage(), "Scanning for nearby networks…");
}

TEST_F(ControllerWifiTest, EmptyNameIsRefusedWithoutSending)
{
    controller->sendWifiUpsert({ "Old", "pw" }, true);
    settle();
    status(outstandingId(), "success");
    ASSERT_EQ(controller->wifiLastSavedSsid(), "Old");
    for (const std::string name : { "", "   ", " \n\t\u2003" }) {
        controller->validateAndSaveWifiCredential(name, "pw");
        settle();
        ASSERT_TRUE(controller->wifiValidationFailure());
        EXPECT_EQ(controller->wifiValidationFailure()->ssid, "");
        EXPECT_EQ(controller->wifiValidationFailure()->message, "Enter a Wi-Fi network name.");
        expectIdle();
    }
    EXPECT_EQ(wifiRequestTexts().size(), 1u);
    EXPECT_EQ(controller->wifiLastSavedSsid(), "Old");
    EXPECT_EQ(controller->wifiSettingsMessage(), "Old was verified and saved.");
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerWifiTest, RefusedSendEndsTheRequest)
{
    // Text that is not UTF-8 cannot be sent as JSON.
    controller->validateAndSaveWifiCredential("Office", "p\xff");
    settle();
    EXPECT_EQ(controller->wifiSettingsMessage(), "Could not send the Wi-Fi request.");
    EXPECT_FALSE(controller->wifiValidationFailure());
    EXPECT_TRUE(wifiRequestTexts().empty());
    expectIdle();
    // Past the request's time-out, with the user active so the idle disconnect stays away.
    scheduler.advance(std::chrono::seconds(40));
    controller->recordUserInteraction();
    scheduler.advance(TavrikBleCentral::wifiRequestTimeout - std::chrono::seconds(39));
    EXPECT_EQ(controller->wifiSettingsMessage(), "Could not send the Wi-Fi request.");
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerWifiTest, ViewsClearMessagesAndNotices)
{
    controller->validateAndSaveWifiCredential("Office", "pw");
    settle();
    status(outstandingId(), "failed", std::nullopt, "authentication_failure");
    controller->clearWifiSettingsMessage();
    controller->clearWifiValidationFailure();
    controller->clearFailedWifiCandidate();
    EXPECT_FALSE(controller->wifiSettingsMessage());
    EXPECT_FALSE(controller->wifiValidationFailure());
    EXPECT_FALSE(controller->failedWifiCandidate());
}

TEST_F(ControllerWifiTest, DeviceWithoutWifiGetsNoRequests)
{
    controller.reset();
    device->data.wifi = WifiCapabilityPayload { 0, 0, {} };
    loadFromDevice();
    ASSERT_FALSE(controller->wifiSupported());
    controller->scanWifiNetworks();
    controller->checkSavedWifiCredentials();
    controller->validateAndSaveWifiCredential("Office", "pw");
    controller->removeWifiCredential("Home");
    settle();
    EXPECT_TRUE(wifiRequestTexts().empty());
    EXPECT_FALSE(controller->wifiSettingsMessage());
    EXPECT_FALSE(controller->wifiValidationFailure());
    EXPECT_EQ(controller->wifiRequestActivity(), WifiRequestActivityState {});
}

class ControllerWifiConnectionTest : public ControllerWifiTest {
protected:
    void SetUp() override { clock.zone = "Europe/Amsterdam"; }

    // Device data known, no connection open.
    void knowWifiWithoutConnection()
    {
        makeController();
        SyncDataEnvelope data;
        data.type = "sync_data";
        data.wifi = savedNetworks();
        ASSERT_TRUE(controller->applySyncData(data, true, 9));
        ASSERT_TRUE(controller->wifiSupported());
        ASSERT_FALSE(controller->isConnected());
    }
};

TEST_F(ControllerWifiConnectionTest, RequestWaitsForACommandConnection)
{
    addDevice();
    knowWifiWithoutConnection();
    controller->scanWifiNetworks();
    EXPECT_EQ(controller->wifiRequestActivity().kind, WifiRequestActivityKind::scanning);
    EXPECT_EQ(controller->syncStage(), SyncStage::connecting());
    EXPECT_TRUE(central.isScanning());
    const std::string id = outstandingId();
    settle();
    ASSERT_EQ(wifiRequestTexts(), (std::vector<std::string> { R"({"type":"wifi_scan","requestId":")" + id + "\"}" }));
    EXPECT_FALSE(device->lastSyncStart());
    EXPECT_FALSE(idleMinuteEndsLink());
    scanResults(id, Json::array({ network("Home", -50) }));
    EXPECT_EQ(nearbyNames(), (std::vector<std::string> { "Home" }));
    expectIdle();
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerWifiConnectionTest, HeldRequestTimesOutWhenNoDeviceAnswers)
{
    knowWifiWithoutConnection();
    controller->validateAndSaveWifiCredential("Office", "pw");
    scheduler.advance(TavrikBleCentral::wifiRequestTimeout);
    settle();
    EXPECT_EQ(controller->wifiSettingsMessage(), "The Wi-Fi request timed out.");
    EXPECT_EQ(controller->failedWifiCandidate(), (WifiCandidate { "Office", "pw" }));
    expectIdle();
    EXPECT_FALSE(bluetoothReturningLooksForTheDevice());

    // The dropped copy is not sent when a device turns up later.
    addDevice();
    probe().startCommandConnection();
    settle();
    EXPECT_TRUE(wifiRequestTexts().empty());
}

TEST_F(ControllerWifiConnectionTest, LegacyDeviceIsRefused)
{
    // A request held for a connection that turns out to be legacy.
    addDevice(TavrikBleProtocolProfile::legacyUnencryptedV1);
    knowWifiWithoutConnection();
    controller->checkSavedWifiCredentials();
    settle();
    EXPECT_EQ(controller->wifiSettingsMessage(), "Wi-Fi management requires secure Bluetooth.");
    EXPECT_TRUE(wifiRequestTexts().empty());
    expectIdle();

    // On the open legacy connection the save is refused at once.
    ASSERT_TRUE(controller->isConnected());
    controller->clearWifiSettingsMessage();
    controller->sendWifiUpsert({ "Office", "pw" }, false);
    settle();
    EXPECT_EQ(controller->wifiSettingsMessage(), "Wi-Fi management requires secure Bluetooth.");
    EXPECT_TRUE(wifiRequestTexts().empty());
    expectIdle();
    EXPECT_TRUE(idleMinuteEndsLink());
}

} // namespace
} // namespace tavrik::test
