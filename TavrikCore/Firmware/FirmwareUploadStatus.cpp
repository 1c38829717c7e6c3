#include "TavrikCore/Firmware/FirmwareUploadStatus.hpp"

#include <algorithm>

namespace tavrik {

double FirmwareUploadStatus::progress() const
{
    if (totalBytes < 1) {
        return 0;
    }
    const double fraction = static_cast<double>(bytesTransferred) / static_cast<double>(totalBytes);
    return std::clamp(fraction, 0.0, 1.0);
}

std::string_view firmwareUploadPhaseName(FirmwareUploadStatus::Phase phase)
{
    using Phase = FirmwareUploadStatus::Phase;
    switch (phase) {
    case Phase::idle:
        return "idle";
    case Phase::checking:
        return "checking";
    case Phase::downloading:
        return "downloading";
    case Phase::waitingForDevice:
        return "waitingForDevice";
    case Phase::connecting:
        return "connecting";
    case Phase::preparing:
        return "preparing";
    case Phase::uploading:
        return "uploading";
    case Phase::finalizing:
        return "finalizing";
    case Phase::completed:
        return "completed";
    case Phase::failed:
        return "failed";
    }
    return "idle";
}

} // namespace tavrik
