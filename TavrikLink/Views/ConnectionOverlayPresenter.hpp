#pragma once

#include "TavrikLink/Views/ContentViewPresenter.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tavrik {

// What covers the window while no data is loaded or a command session runs, and the card that
// keeps a legacy device from being edited until its firmware is upgraded.
class ConnectionOverlayPresenter {
public:
    struct Overlay {
        bool showsBackRow = false;
        // The USB setup content replaces the status block.
        bool showsUsbSetup = false;
        std::string statusText;
        bool statusIsFailure = false;
        bool showsTryAgain = false;
        bool showsNewBoardSection = false;
        // Why nothing connects over Bluetooth and what to do, while the user waits for the device.
        std::optional<std::string> bluetoothProblem;
        std::string bluetoothAdvice;
        bool operator==(const Overlay&) const = default;
    };

    struct LegacyUpgradeCard {
        std::vector<std::string> warnings;
        // The saved backup's file name, or none while it is still required.
        std::optional<std::string> savedBackupName;
        bool operator==(const LegacyUpgradeCard&) const = default;
    };

    static constexpr const char* legacyTitle = "Legacy Tavrik detected";
    static constexpr const char* legacyExplanation = "This Tavrik uses the retired unencrypted Bluetooth protocol. "
                                                     "Data editing is unavailable until its firmware is upgraded.";
    static constexpr const char* legacyInstruction = "First save a migration backup. Tavrik Link will offer to restore "
                                                     "that backup after the upgraded firmware reconnects.";
    static constexpr const char* legacyWarningsTitle = "Some stale legacy data needs attention";
    static constexpr const char* saveMigrationBackupText = "Save Migration Backup\u2026";
    static constexpr const char* backupRequiredText = "Required before upgrading";
    static constexpr const char* tryAgainText = "Try Again";

    static bool shouldShowLegacyUpgrade(const ContentViewPresenter::ControllerState& controller);
    static bool shouldShowLoadOverlay(const ContentViewPresenter::ControllerState& controller);
    static std::string transferringMessage(const std::optional<SyncMode>& mode);
    static std::string completedMessage(const std::optional<SyncMode>& mode);

    static Overlay overlay(const ContentViewPresenter::ControllerState& controller, bool showingUsbSetupFlow);
    static LegacyUpgradeCard legacyUpgradeCard(const ContentViewPresenter::ControllerState& controller,
        const std::optional<std::string>& legacyMigrationBackupURL);
};

} // namespace tavrik
