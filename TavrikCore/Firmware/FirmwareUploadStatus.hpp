#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrik {

// Where a firmware installation stands, as shown to the user.
struct FirmwareUploadStatus {
    enum class Phase {
        idle,
        checking,
        downloading,
        waitingForDevice,
        connecting,
        preparing,
        uploading,
        finalizing,
        completed,
        failed,
    };

    Phase phase = Phase::idle;
    std::string message {};
    std::int64_t bytesTransferred = 0;
    std::int64_t totalBytes = 0;

    // bytesTransferred / totalBytes within 0 to 1; 0 while totalBytes is below 1.
    double progress() const;

    friend bool operator==(const FirmwareUploadStatus&, const FirmwareUploadStatus&) = default;
};

// The case name: "idle", "checking", "downloading", "waitingForDevice", "connecting", "preparing",
// "uploading", "finalizing", "completed" or "failed".
std::string_view firmwareUploadPhaseName(FirmwareUploadStatus::Phase phase);

} // namespace tavrik
