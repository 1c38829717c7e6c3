#include "TavrikLink/Views/WifiSettingsPresenter.hpp"

#include "TavrikCore/Support/Text.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

WifiSettingsPresenter::WifiSettingsPresenter(
    ContentViewPresenter& window, Inputs inputs, Operations operations, QObject* parent)
    : QObject(parent)
    , window(window)
    , observed(std::move(inputs))
    , ops(std::move(operations))
    , questions(window.alerts())
{
    connect(&window, &ContentViewPresenter::changed, this, &WifiSettingsPresenter::changed);
}

WifiSettingsPresenter::WifiSettingsPresenter(TavrikBleCentral& controller, ContentViewPresenter& window, QObject* parent)
    : WifiSettingsPresenter(window, read(controller), operations(controller), parent)
{
    using C = TavrikBleCentral;
    for (auto signal :
        { &C::savedWifiCredentialsChanged, &C::wifiCredentialCapacityChanged, &C::wifiRequestActivityChanged,
            &C::wifiSettingsMessageChanged, &C::nearbyWifiNetworksChanged, &C::wifiValidationFailureChanged }) {
        connect(&controller, signal, this, [this, &controller] { observe(read(controller)); });
    }
}

void WifiSettingsPresenter::observe(Inputs inputs)
{
    if (inputs == observed) {
        return;
    }
    observed = std::move(inputs);
    emit changed();
}

WifiSettingsPresenter::Inputs WifiSettingsPresenter::read(const TavrikBleCentral& controller)
{
    return { controller.savedWifiCredentials(), controller.wifiCredentialCapacity(), controller.wifiRequestActivity(),
        controller.wifiSettingsMessage(), controller.nearbyWifiNetworks(), controller.wifiValidationFailure(),
        controller.failedWifiCandidate() };
}

WifiSettingsPresenter::Operations WifiSettingsPresenter::operations(TavrikBleCentral& controller)
{
    TavrikBleCentral* c = &controller;
    Operations result;
    result.scanWifiNetworks = [c] { c->scanWifiNetworks(); };
    result.checkSavedWifiCredentials = [c] { c->checkSavedWifiCredentials(); };
    result.validateAndSaveWifiCredential = [c](const std::string& ssid, const std::string& password) {
        c->validateAndSaveWifiCredential(ssid, password);
    };
    result.sendWifiUpsert
        = [c](const WifiCandidate& candidate, bool verified) { c->sendWifiUpsert(candidate, verified); };
    result.removeWifiCredential = [c](const std::string& ssid) { c->removeWifiCredential(ssid); };
    result.resetWifiRequestState = [c] { c->resetWifiRequestState(); };
    result.clearFailedWifiCandidate = [c] { c->clearFailedWifiCandidate(); };
    result.clearWifiValidationFailure = [c] { c->clearWifiValidationFailure(); };
    result.clearWifiSettingsMessage = [c] { c->clearWifiSettingsMessage(); };
    return result;
}

std::string_view WifiSettingsPresenter::statusLine(SavedStatus status)
{
    switch (status) {
    case SavedStatus::lastSuccessful:
        return "Last successful time sync";
    case SavedStatus::verified:
        return "Verified";
    case SavedStatus::unverified:
        return "Saved without verification";
    }
    return "Saved without verification";
}

WifiSettingsPresenter::SavedStatus WifiSettingsPresenter::status(const WifiCredentialSummary& credential)
{
    if (credential.lastSuccessful != 0) {
        return SavedStatus::lastSuccessful;
    }
    return credential.verified != 0 ? SavedStatus::verified : SavedStatus::unverified;
}

bool WifiSettingsPresenter::canAdd() const
{
    const Inputs& now = observed;
    return static_cast<std::int64_t>(now.savedWifiCredentials.size()) < now.wifiCredentialCapacity
        && !now.wifiRequestActivity.isSaving();
}

bool WifiSettingsPresenter::canRemove() const
{
    return window.state().selectedWifiCredentialSsid.has_value() && !isSaving();
}

bool WifiSettingsPresenter::canEdit() const
{
    return canRemove();
}

bool WifiSettingsPresenter::canCheck() const
{
    const Inputs& now = observed;
    return !now.wifiRequestActivity.kind.has_value() && !now.savedWifiCredentials.empty();
}

std::optional<std::string> WifiSettingsPresenter::sectionMessage() const
{
    if (window.state().showingWifiCredentialEditor) {
        return std::nullopt;
    }
    return observed.wifiSettingsMessage;
}

bool WifiSettingsPresenter::sectionShowsProgress() const
{
    return sectionMessage().has_value() && observed.wifiRequestActivity.kind.has_value();
}

void WifiSettingsPresenter::select(std::optional<std::string> ssid)
{
    window.modify([&](ContentViewPresenter::State& state) { state.selectedWifiCredentialSsid = std::move(ssid); });
}

void WifiSettingsPresenter::resetEditorMessages()
{
    call(ops.clearFailedWifiCandidate);
    call(ops.clearWifiValidationFailure);
    call(ops.resetWifiRequestState);
    call(ops.clearWifiSettingsMessage);
}

void WifiSettingsPresenter::beginAddingWifiCredential()
{
    window.modify([](ContentViewPresenter::State& state) {
        state.editingWifiCredentialSsid.reset();
        state.wifiDraftSsid.clear();
        state.wifiDraftPassword.clear();
        state.wifiDraftPasswordVisible = false;
        state.wifiDraftUsesOtherNetwork = false;
    });
    resetEditorMessages();
    window.modify([](ContentViewPresenter::State& state) { state.showingWifiCredentialEditor = true; });
    call(ops.scanWifiNetworks);
}

void WifiSettingsPresenter::beginEditingSelectedWifiCredential()
{
    const auto selected = window.state().selectedWifiCredentialSsid;
    if (!selected) {
        return;
    }
    window.modify([&](ContentViewPresenter::State& state) {
        state.editingWifiCredentialSsid = *selected;
        state.wifiDraftSsid = *selected;
        state.wifiDraftPassword.clear();
        state.wifiDraftPasswordVisible = false;
        state.wifiDraftUsesOtherNetwork = true;
    });
    resetEditorMessages();
    window.modify([](ContentViewPresenter::State& state) { state.showingWifiCredentialEditor = true; });
}

std::optional<WifiSettingsPresenter::Question> WifiSettingsPresenter::removeQuestion() const
{
    const auto selected = window.state().selectedWifiCredentialSsid;
    if (!selected) {
        return std::nullopt;
    }
    return Question { "Remove Wi-Fi Network?", "Tavrik will forget \u201C" + *selected + "\u201D.", "Remove", "Cancel" };
}

void WifiSettingsPresenter::askToRemoveSelectedWifiCredential()
{
    const auto question = removeQuestion();
    if (!question) {
        return;
    }
    const std::string ssid = *window.state().selectedWifiCredentialSsid;
    questions.askCarefully("removeWifiNetwork:" + ssid, question->message, question->informativeText,
        question->confirmButton, question->cancelButton, [this, ssid] { removeWifiCredential(ssid); });
}

void WifiSettingsPresenter::confirmRemoveSelectedWifiCredential(bool confirmed)
{
    const auto selected = window.state().selectedWifiCredentialSsid;
    if (!selected || !confirmed) {
        return;
    }
    removeWifiCredential(*selected);
}

void WifiSettingsPresenter::removeWifiCredential(const std::string& ssid)
{
    window.modify([&](ContentViewPresenter::State& state) {
        if (state.selectedWifiCredentialSsid == ssid) {
            state.selectedWifiCredentialSsid.reset();
        }
    });
    call(ops.removeWifiCredential, ssid);
}

void WifiSettingsPresenter::checkNow()
{
    if (canCheck()) {
        call(ops.checkSavedWifiCredentials);
    }
}

std::string WifiSettingsPresenter::sheetTitle() const
{
    return window.state().editingWifiCredentialSsid ? "Edit Wi-Fi Network" : "Add Wi-Fi Network";
}

WifiSettingsPresenter::NetworkChoice WifiSettingsPresenter::networkChoice() const
{
    const auto& state = window.state();
    if (state.editingWifiCredentialSsid) {
        return NetworkChoice::editing;
    }
    if (!state.wifiDraftUsesOtherNetwork && !observed.nearbyWifiNetworks.empty()) {
        return NetworkChoice::picker;
    }
    return NetworkChoice::typedName;
}

bool WifiSettingsPresenter::isSaving() const
{
    return observed.wifiRequestActivity.isSaving();
}

bool WifiSettingsPresenter::isScanning() const
{
    return observed.wifiRequestActivity.isScanning();
}

bool WifiSettingsPresenter::isOpen(const WifiScannedNetwork& network)
{
    return network.security == "open";
}

std::optional<std::string> WifiSettingsPresenter::activityText() const
{
    const Inputs& now = observed;
    if (!now.wifiRequestActivity.isScanning() && !now.wifiRequestActivity.isSaving()) {
        // A refusal (no device, the legacy profile, a send that failed) must not leave Save looking
        // as if it did nothing.
        if (now.wifiRequestActivity.kind || now.wifiValidationFailure) {
            return std::nullopt;
        }
        return now.wifiSettingsMessage;
    }
    if (now.wifiSettingsMessage) {
        return now.wifiSettingsMessage;
    }
    return std::string(now.wifiRequestActivity.isScanning() ? "Scanning for nearby networks\u2026"
                                                            : "Checking Wi-Fi connectivity\u2026");
}

std::optional<WifiValidationFailure> WifiSettingsPresenter::shownFailure() const
{
    auto failure = observed.wifiValidationFailure;
    if (failure && failure->ssid == window.state().wifiDraftSsid) {
        return failure;
    }
    return std::nullopt;
}

bool WifiSettingsPresenter::canCancel() const
{
    return shownFailure().has_value() || !isSaving();
}

bool WifiSettingsPresenter::canSave() const
{
    return !text::trimmed(window.state().wifiDraftSsid).empty() && !isSaving();
}

void WifiSettingsPresenter::chooseNetwork(const std::string& ssid)
{
    const auto& networks = observed.nearbyWifiNetworks;
    const auto found = std::find_if(
        networks.begin(), networks.end(), [&](const WifiScannedNetwork& network) { return network.ssid == ssid; });
    // A network the device cannot join is listed but cannot be chosen.
    if (found == networks.end() || found->supported == 0) {
        emit changed();
        return;
    }
    window.modify([&](ContentViewPresenter::State& state) { state.wifiDraftSsid = ssid; });
}

void WifiSettingsPresenter::typeNetworkName(const std::string& ssid)
{
    if (window.state().editingWifiCredentialSsid) {
        return;
    }
    window.modify([&](ContentViewPresenter::State& state) { state.wifiDraftSsid = ssid; });
}

void WifiSettingsPresenter::typePassword(const std::string& password)
{
    window.modify([&](ContentViewPresenter::State& state) { state.wifiDraftPassword = password; });
}

void WifiSettingsPresenter::togglePasswordVisible()
{
    window.modify(
        [](ContentViewPresenter::State& state) { state.wifiDraftPasswordVisible = !state.wifiDraftPasswordVisible; });
}

void WifiSettingsPresenter::chooseOtherNetwork()
{
    window.modify([](ContentViewPresenter::State& state) {
        state.wifiDraftUsesOtherNetwork = true;
        state.wifiDraftSsid.clear();
    });
}

void WifiSettingsPresenter::scanAgain()
{
    if (isScanning()) {
        return;
    }
    if (networkChoice() == NetworkChoice::typedName) {
        window.modify([](ContentViewPresenter::State& state) { state.wifiDraftUsesOtherNetwork = false; });
    }
    call(ops.scanWifiNetworks);
}

void WifiSettingsPresenter::save()
{
    if (!canSave()) {
        return;
    }
    const auto& state = window.state();
    call(ops.validateAndSaveWifiCredential, state.wifiDraftSsid, state.wifiDraftPassword);
}

void WifiSettingsPresenter::tryAgain()
{
    const auto& state = window.state();
    call(ops.validateAndSaveWifiCredential, state.wifiDraftSsid, state.wifiDraftPassword);
}

void WifiSettingsPresenter::saveAnyway()
{
    const auto candidate = observed.failedWifiCandidate;
    if (!candidate) {
        return;
    }
    call(ops.clearWifiValidationFailure);
    call(ops.sendWifiUpsert, *candidate, false);
}

void WifiSettingsPresenter::cancel()
{
    resetEditorMessages();
    window.modify([](ContentViewPresenter::State& state) { state.showingWifiCredentialEditor = false; });
}

} // namespace tavrik
