#include "TavrikLink/Views/WifiSettingsPresenter.hpp"
#include "tests/views/PaneQuestionSupport.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace tavrik::test {
namespace {

// The section over plain values, recording the controller operations it calls. A test changes
// `inputs` and hands them over with observe(), as the controller's signals do.
class WifiSettingsTest : public ::testing::Test {
protected:
    WifiSettingsPresenter::Inputs inputs;
    std::vector<std::string> calls;
    std::unique_ptr<ContentViewPresenter> window;
    std::unique_ptr<WifiSettingsPresenter> wifi;

    void SetUp() override
    {
        window = std::make_unique<ContentViewPresenter>(ContentViewPresenter::Actions {});
        WifiSettingsPresenter::Operations ops;
        ops.scanWifiNetworks = [this] { calls.push_back("scan"); };
        ops.checkSavedWifiCredentials = [this] { calls.push_back("check"); };
        ops.validateAndSaveWifiCredential = [this](const std::string& ssid, const std::string& password) {
            calls.push_back("validate " + ssid + "/" + password);
        };
        ops.sendWifiUpsert = [this](const WifiCandidate& candidate, bool verified) {
            calls.push_back(
                "upsert " + candidate.ssid + "/" + candidate.password + (verified ? " verified" : " unverified"));
        };
        ops.removeWifiCredential = [this](const std::string& ssid) { calls.push_back("remove " + ssid); };
        ops.resetWifiRequestState = [this] { calls.push_back("reset"); };
        ops.clearFailedWifiCandidate = [this] { calls.push_back("clearCandidate"); };
        ops.clearWifiValidationFailure = [this] { calls.push_back("clearFailure"); };
        ops.clearWifiSettingsMessage = [this] { calls.push_back("clearMessage"); };
        wifi = std::make_unique<WifiSettingsPresenter>(*window, inputs, std::move(ops));
    }

    void TearDown() override
    {
        wifi.reset();
        window.reset();
    }

    static WifiRequestActivityState activity(std::optional<WifiRequestActivityKind> kind)
    {
        WifiRequestActivityState state;
        if (kind) {
            state.begin("request", *kind);
        }
        return state;
    }

    void savedNetworks(std::size_t count, std::int64_t capacity)
    {
        inputs.savedWifiCredentials.clear();
        for (std::size_t index = 0; index < count; ++index) {
            inputs.savedWifiCredentials.push_back({ "Net " + std::to_string(index), 1, 0 });
        }
        inputs.wifiCredentialCapacity = capacity;
        wifi->observe(inputs);
    }
};

TEST_F(WifiSettingsTest, SectionControlsFollowCapacitySelectionAndActivity)
{
    using Kind = WifiRequestActivityKind;
    struct Case {
        const char* name;
        std::size_t saved;
        std::int64_t capacity;
        std::optional<Kind> activity;
        bool selected;
        bool add, remove, edit, check;
    };
    const std::vector<Case> cases {
        { "idle, room left", 2, 3, std::nullopt, true, true, true, true, true },
        { "full", 3, 3, std::nullopt, true, false, true, true, true },
        { "capacity 0", 0, 0, std::nullopt, false, false, false, false, false },
        { "nothing selected", 1, 3, std::nullopt, false, true, false, false, true },
        { "scanning", 1, 3, Kind::scanning, true, true, true, true, false },
        { "checking", 1, 3, Kind::checking, true, true, true, true, false },
        { "saving", 1, 3, Kind::saving, true, false, false, false, false },
        { "nothing saved", 0, 3, std::nullopt, false, true, false, false, false },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        savedNetworks(test.saved, test.capacity);
        inputs.wifiRequestActivity = activity(test.activity);
        wifi->observe(inputs);
        wifi->select(test.selected ? std::optional<std::string>("Net 0") : std::nullopt);
        EXPECT_EQ(wifi->canAdd(), test.add);
        EXPECT_EQ(wifi->canRemove(), test.remove);
        EXPECT_EQ(wifi->canEdit(), test.edit);
        EXPECT_EQ(wifi->canCheck(), test.check);
    }
}

TEST_F(WifiSettingsTest, RedrawsOnlyWhenWhatItObservedChanges)
{
    int redraws = 0;
    QObject::connect(wifi.get(), &WifiSettingsPresenter::changed, [&] { ++redraws; });
    savedNetworks(1, 3);
    EXPECT_EQ(redraws, 1);
    wifi->observe(inputs);
    EXPECT_EQ(redraws, 1) << "the same reading is no change";
    EXPECT_TRUE(wifi->canAdd());

    // It answers from what it observed until told otherwise.
    inputs.wifiCredentialCapacity = 1;
    EXPECT_TRUE(wifi->canAdd());
    wifi->observe(inputs);
    EXPECT_EQ(redraws, 2);
    EXPECT_FALSE(wifi->canAdd());
}

TEST_F(WifiSettingsTest, SavedNetworkStatusByFirstRuleThatApplies)
{
    struct Case {
        WifiCredentialSummary credential;
        std::string line;
    };
    const std::vector<Case> cases {
        { { "A", 1, 1 }, "Last successful time sync" },
        { { "B", 0, 1 }, "Last successful time sync" },
        { { "C", 1, 0 }, "Verified" },
        { { "D", 0, 0 }, "Saved without verification" },
    };
    for (const Case& test : cases) {
        EXPECT_EQ(WifiSettingsPresenter::statusLine(WifiSettingsPresenter::status(test.credential)), test.line)
            << test.credential.ssid;
    }
}

TEST_F(WifiSettingsTest, AddingOpensWithAFreshScanAndCancelClearsEverything)
{
    window->modify([](ContentViewPresenter::State& state) {
        state.editingWifiCredentialSsid = "Old";
        state.wifiDraftSsid = "Old";
        state.wifiDraftPassword = "secret";
        state.wifiDraftUsesOtherNetwork = true;
    });
    inputs.wifiSettingsMessage = "Tavrik checked its networks";
    wifi->observe(inputs);
    EXPECT_EQ(wifi->sectionMessage(), "Tavrik checked its networks");
    wifi->beginAddingWifiCredential();
    const auto& state = window->state();
    EXPECT_TRUE(state.showingWifiCredentialEditor);
    EXPECT_FALSE(state.editingWifiCredentialSsid.has_value());
    EXPECT_EQ(state.wifiDraftSsid, "");
    EXPECT_EQ(state.wifiDraftPassword, "");
    EXPECT_FALSE(state.wifiDraftUsesOtherNetwork);
    EXPECT_EQ(wifi->sheetTitle(), "Add Wi-Fi Network");
    EXPECT_EQ(calls, (std::vector<std::string> { "clearCandidate", "clearFailure", "reset", "clearMessage", "scan" }));
    EXPECT_FALSE(wifi->sectionMessage().has_value()) << "the section's message row hides while the sheet is open";

    // While the scan runs the list is empty: a typed-name row and the activity row.
    inputs.wifiRequestActivity = activity(WifiRequestActivityKind::scanning);
    inputs.wifiSettingsMessage.reset();
    wifi->observe(inputs);
    EXPECT_EQ(wifi->networkChoice(), WifiSettingsPresenter::NetworkChoice::typedName);
    EXPECT_EQ(wifi->activityText(), "Scanning for nearby networks\u2026");
    EXPECT_FALSE(wifi->canScanAgain());
    calls.clear();
    wifi->cancel();
    EXPECT_FALSE(state.showingWifiCredentialEditor);
    EXPECT_EQ(calls, (std::vector<std::string> { "clearCandidate", "clearFailure", "reset", "clearMessage" }));
}

TEST_F(WifiSettingsTest, EditingFixesTheNameAndStartsNoScan)
{
    wifi->beginEditingSelectedWifiCredential();
    EXPECT_FALSE(window->state().showingWifiCredentialEditor) << "nothing selected, nothing opens";
    savedNetworks(2, 3);
    wifi->select("Net 1");
    wifi->beginEditingSelectedWifiCredential();
    const auto& state = window->state();
    EXPECT_TRUE(state.showingWifiCredentialEditor);
    EXPECT_EQ(state.editingWifiCredentialSsid, "Net 1");
    EXPECT_EQ(state.wifiDraftSsid, "Net 1");
    EXPECT_TRUE(state.wifiDraftUsesOtherNetwork);
    EXPECT_EQ(wifi->sheetTitle(), "Edit Wi-Fi Network");
    EXPECT_EQ(wifi->networkChoice(), WifiSettingsPresenter::NetworkChoice::editing);
    wifi->typeNetworkName("Renamed");
    EXPECT_EQ(state.wifiDraftSsid, "Net 1") << "a saved network keeps its name";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "scan"), 0);
}

TEST_F(WifiSettingsTest, PickerChoosesOnlySupportedNetworksAndOtherNetworkTypesAName)
{
    wifi->beginAddingWifiCredential();
    inputs.nearbyWifiNetworks
        = { { "Cafe", -40, "open", 1 }, { "Office", -50, "wpa2", 1 }, { "Lab", -60, "wpa3-enterprise", 0 } };
    wifi->observe(inputs);
    EXPECT_EQ(wifi->networkChoice(), WifiSettingsPresenter::NetworkChoice::picker);
    EXPECT_TRUE(WifiSettingsPresenter::isOpen(inputs.nearbyWifiNetworks[0]));
    EXPECT_FALSE(WifiSettingsPresenter::isOpen(inputs.nearbyWifiNetworks[1]));
    wifi->chooseNetwork("Office");
    EXPECT_EQ(window->state().wifiDraftSsid, "Office");
    wifi->chooseNetwork("Lab");
    EXPECT_EQ(window->state().wifiDraftSsid, "Office") << "an unsupported network cannot be chosen";

    wifi->chooseOtherNetwork();
    EXPECT_EQ(wifi->networkChoice(), WifiSettingsPresenter::NetworkChoice::typedName);
    EXPECT_EQ(window->state().wifiDraftSsid, "");
    EXPECT_FALSE(wifi->canSave());
    wifi->typeNetworkName("  \n");
    EXPECT_FALSE(wifi->canSave()) << "a blank name cannot be saved";
    wifi->typeNetworkName(" Hidden ");
    wifi->typePassword(" pass word ");
    EXPECT_TRUE(wifi->canSave());
    calls.clear();
    wifi->save();
    EXPECT_EQ(calls, (std::vector<std::string> { "validate  Hidden / pass word " })) << "sent as typed";

    // Scanning again from the typed-name row returns to the picker.
    calls.clear();
    wifi->scanAgain();
    EXPECT_FALSE(window->state().wifiDraftUsesOtherNetwork);
    EXPECT_EQ(calls, (std::vector<std::string> { "scan" }));
}

TEST_F(WifiSettingsTest, AFailedValidationOffersTryAgainAndSaveAnywayForThatNetworkOnly)
{
    wifi->beginAddingWifiCredential();
    wifi->chooseOtherNetwork();
    wifi->typeNetworkName("Home");
    wifi->typePassword("wrong");
    inputs.wifiRequestActivity = activity(WifiRequestActivityKind::saving);
    wifi->observe(inputs);
    EXPECT_FALSE(wifi->canSave());
    EXPECT_FALSE(wifi->canCancel());
    EXPECT_EQ(wifi->activityText(), "Checking Wi-Fi connectivity\u2026");
    inputs.wifiSettingsMessage = "Checking Home\u2026";
    wifi->observe(inputs);
    EXPECT_EQ(wifi->activityText(), "Checking Home\u2026");

    inputs.wifiRequestActivity = activity(std::nullopt);
    inputs.wifiValidationFailure = WifiValidationFailure("Home", "Tavrik couldn\u2019t join Home.");
    inputs.failedWifiCandidate = WifiCandidate { "Home", "wrong" };
    wifi->observe(inputs);
    ASSERT_TRUE(wifi->shownFailure().has_value());
    EXPECT_EQ(wifi->shownFailure()->message, "Tavrik couldn\u2019t join Home.");
    wifi->typeNetworkName("Home 2");
    EXPECT_FALSE(wifi->shownFailure().has_value()) << "a failure of another name is not shown";
    wifi->typeNetworkName("Home");

    calls.clear();
    wifi->tryAgain();
    wifi->saveAnyway();
    EXPECT_EQ(
        calls, (std::vector<std::string> { "validate Home/wrong", "clearFailure", "upsert Home/wrong unverified" }));
    inputs.failedWifiCandidate.reset();
    wifi->observe(inputs);
    calls.clear();
    wifi->saveAnyway();
    EXPECT_TRUE(calls.empty()) << "nothing to save without the failed candidate";
}

TEST_F(WifiSettingsTest, TheSheetsStatusRowKeepsTheLastOutcomeUnlessTheFailureShowsIt)
{
    wifi->beginAddingWifiCredential();
    struct Case {
        const char* name;
        std::optional<WifiRequestActivityKind> activity;
        std::optional<std::string> message;
        bool failure;
        std::optional<std::string> shown;
        bool progress;
    };
    const std::string refusal = "Wi-Fi management requires secure Bluetooth.";
    const std::vector<Case> cases {
        { "saving", WifiRequestActivityKind::saving, "Checking Home\u2026", false, "Checking Home\u2026", true },
        { "refused", std::nullopt, refusal, false, refusal, false },
        { "failed validation", std::nullopt, "The Wi-Fi password was not accepted.", true, std::nullopt, false },
        { "nothing to say", std::nullopt, std::nullopt, false, std::nullopt, false },
        { "another request", WifiRequestActivityKind::checking, refusal, false, std::nullopt, false },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        inputs.wifiRequestActivity = activity(test.activity);
        inputs.wifiSettingsMessage = test.message;
        inputs.wifiValidationFailure.reset();
        if (test.failure) {
            inputs.wifiValidationFailure = WifiValidationFailure("Home", *test.message);
        }
        wifi->observe(inputs);
        EXPECT_EQ(wifi->activityText(), test.shown);
        EXPECT_EQ(wifi->activityShowsProgress(), test.progress);
    }
}

TEST_F(WifiSettingsTest, RemovingAsksFirst)
{
    EXPECT_FALSE(wifi->removeQuestion().has_value());
    savedNetworks(2, 3);
    wifi->select("Net 1");
    EXPECT_EQ(wifi->removeQuestion(),
        (WifiSettingsPresenter::Question {
            "Remove Wi-Fi Network?", "Tavrik will forget \u201CNet 1\u201D.", "Remove", "Cancel" }));
    wifi->confirmRemoveSelectedWifiCredential(false);
    EXPECT_EQ(window->state().selectedWifiCredentialSsid, "Net 1");
    EXPECT_TRUE(calls.empty());
    wifi->confirmRemoveSelectedWifiCredential(true);
    EXPECT_FALSE(window->state().selectedWifiCredentialSsid.has_value());
    EXPECT_EQ(calls, (std::vector<std::string> { "remove Net 1" }));
    calls.clear();
    wifi->checkNow();
    EXPECT_EQ(calls, (std::vector<std::string> { "check" }));
}

TEST_F(WifiSettingsTest, RemovingAsksInTheWindowsQueueAndForgetsTheNetworkItNames)
{
    wifi->askToRemoveSelectedWifiCredential();
    EXPECT_EQ(window->alerts().current(), nullptr) << "nothing selected, nothing asked";
    savedNetworks(3, 3);
    wifi->select("Net 1");
    wifi->askToRemoveSelectedWifiCredential();
    expectAsked(
        window->alerts(), { "Remove Wi-Fi Network?", "Tavrik will forget \u201CNet 1\u201D.", "Remove", "Cancel" });
    window->alerts().dismiss();
    wifi->askToRemoveSelectedWifiCredential();
    answerWith(window->alerts(), "Cancel");
    EXPECT_EQ(window->state().selectedWifiCredentialSsid, "Net 1");
    EXPECT_TRUE(calls.empty());

    // The answer forgets the network the question named, even if the selection moved meanwhile.
    wifi->askToRemoveSelectedWifiCredential();
    wifi->select("Net 2");
    answerWith(window->alerts(), "Remove");
    EXPECT_EQ(calls, (std::vector<std::string> { "remove Net 1" }));
    EXPECT_EQ(window->state().selectedWifiCredentialSsid, "Net 2");

    wifi->askToRemoveSelectedWifiCredential();
    ASSERT_NE(window->alerts().current(), nullptr);
    wifi.reset();
    EXPECT_EQ(window->alerts().current(), nullptr) << "the section took its question back";
}

} // namespace
} // namespace tavrik::test
