#pragma once

#include "TavrikCore/Model/WifiModels.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/PaneQuestions.hpp"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

class TavrikBleCentral;

// The settings pane's "Wi-Fi Time Sync" section and the sheet that adds a network or replaces its
// password. The sheet's drafts are the window's; the device does every check, this only enables,
// shows and forwards.
class WifiSettingsPresenter : public QObject {
    Q_OBJECT
public:
    // What the section reads of the controller.
    struct Inputs {
        std::vector<WifiCredentialSummary> savedWifiCredentials;
        std::int64_t wifiCredentialCapacity = 0;
        WifiRequestActivityState wifiRequestActivity;
        std::optional<std::string> wifiSettingsMessage;
        std::vector<WifiScannedNetwork> nearbyWifiNetworks;
        std::optional<WifiValidationFailure> wifiValidationFailure;
        std::optional<WifiCandidate> failedWifiCandidate;
        bool operator==(const Inputs&) const = default;
    };

    // The controller operations it calls.
    struct Operations {
        std::function<void()> scanWifiNetworks;
        std::function<void()> checkSavedWifiCredentials;
        std::function<void(const std::string& ssid, const std::string& password)> validateAndSaveWifiCredential;
        std::function<void(const WifiCandidate&, bool verified)> sendWifiUpsert;
        std::function<void(const std::string& ssid)> removeWifiCredential;
        std::function<void()> resetWifiRequestState;
        std::function<void()> clearFailedWifiCandidate;
        std::function<void()> clearWifiValidationFailure;
        std::function<void()> clearWifiSettingsMessage;
    };

    enum class SavedStatus { lastSuccessful, verified, unverified };
    enum class NetworkChoice {
        // The saved network's name, fixed.
        editing,
        // A picker of the scanned networks.
        picker,
        // A typed name.
        typedName,
    };

    struct Question {
        std::string message;
        std::string informativeText;
        std::string confirmButton;
        std::string cancelButton;
        bool operator==(const Question&) const = default;
    };

    static constexpr std::string_view title = "Wi-Fi Time Sync";
    static constexpr std::string_view explanation = "Tavrik uses saved Wi-Fi networks only to keep its clock "
                                                    "synchronized. Passwords remain on Tavrik and are never read "
                                                    "back into Tavrik Link.";
    static constexpr std::string_view emptyListText = "No saved Wi-Fi networks";

    // Answers from `inputs` until observe() is given others.
    WifiSettingsPresenter(ContentViewPresenter& window, Inputs inputs, Operations operations, QObject* parent = nullptr);
    // The section of the app's controller; observes its Wi-Fi changes.
    WifiSettingsPresenter(TavrikBleCentral& controller, ContentViewPresenter& window, QObject* parent = nullptr);

    static Inputs read(const TavrikBleCentral& controller);
    static Operations operations(TavrikBleCentral& controller);

    // The controller's Wi-Fi state as it is now; the section and the sheet redraw only when it
    // changed.
    void observe(Inputs inputs);
    const Inputs& inputs() const { return observed; }
    const ContentViewPresenter::State& state() const { return window.state(); }

    // --- Section ---
    static std::string_view statusLine(SavedStatus status);
    static SavedStatus status(const WifiCredentialSummary& credential);
    bool canAdd() const;
    bool canRemove() const;
    bool canEdit() const;
    bool canCheck() const;
    // The section's message row: only while the sheet is closed.
    std::optional<std::string> sectionMessage() const;
    bool sectionShowsProgress() const;
    void select(std::optional<std::string> ssid);
    void beginAddingWifiCredential();
    void beginEditingSelectedWifiCredential();
    // The question before removing the selected network; nothing when none is selected.
    std::optional<Question> removeQuestion() const;
    // Puts removeQuestion to the user in the window's alert queue; its confirm button forgets the
    // network the question names.
    void askToRemoveSelectedWifiCredential();
    void confirmRemoveSelectedWifiCredential(bool confirmed);
    void checkNow();

    // --- Sheet ---
    std::string sheetTitle() const;
    NetworkChoice networkChoice() const;
    bool isSaving() const;
    bool isScanning() const;
    bool canScanAgain() const { return !isScanning(); }
    // "lock.wifi" for a secured network, "wifi" for an open one.
    static bool isOpen(const WifiScannedNetwork& network);
    // The sheet's status row: the running request's progress, or afterwards the controller's last
    // message unless the failure block shows it.
    std::optional<std::string> activityText() const;
    // The row's progress indicator: only while a scan or a save runs.
    bool activityShowsProgress() const { return isScanning() || isSaving(); }
    // The failure shown for the name now entered, if any.
    std::optional<WifiValidationFailure> shownFailure() const;
    bool canCancel() const;
    bool canSave() const;
    void chooseNetwork(const std::string& ssid);
    void typeNetworkName(const std::string& ssid);
    void typePassword(const std::string& password);
    void togglePasswordVisible();
    void chooseOtherNetwork();
    // "Scan again" of the picker row, and of the typed-name row (which returns to the picker).
    void scanAgain();
    void save();
    void tryAgain();
    void saveAnyway();
    void cancel();

signals:
    void changed();

private:
    template <class... Args, class Function>
    static void call(const Function& action, Args&&... args)
    {
        if (action) {
            action(std::forward<Args>(args)...);
        }
    }
    void resetEditorMessages();
    void removeWifiCredential(const std::string& ssid);

    ContentViewPresenter& window;
    Inputs observed;
    Operations ops;
    PaneQuestions questions;
};

} // namespace tavrik
