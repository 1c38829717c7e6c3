#pragma once

#include "TavrikCore/Firmware/FirmwareAsset.hpp"
#include "TavrikCore/Firmware/FirmwareHardwareTarget.hpp"
#include "TavrikCore/Firmware/FirmwareUploadStatus.hpp"

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {

// Everything the firmware detail view shows, handed over by the pane that builds it; the view
// never holds the controller.
struct FirmwareDetailValues {
    std::optional<FirmwareAsset> asset {};
    std::optional<std::string> deviceFirmwareVersion {};
    FirmwareHardwareTarget deviceHardwareTarget = FirmwareHardwareTarget::m5StickC;
    bool useLocalFirmwareBuilds = false;
    std::string sourceDescription {};
    std::string channelDescription {};
    std::string manifestDescription {};
    std::optional<std::string> availableVersion {};
    FirmwareUploadStatus status {};
    // Whether the install button may be used at all.
    bool installEnabled = true;
    // A fixed title for the install button.
    std::optional<std::string> installActionTitle {};

    friend bool operator==(const FirmwareDetailValues&, const FirmwareDetailValues&) = default;
};

// What the buttons of the detail view do.
struct FirmwareDetailActions {
    std::function<void()> onRefresh;
    std::function<void()> onInstall;
    std::function<void()> onCancel;
    std::function<void(bool)> onSetLocalBuilds;
};

// The texts and rules of the firmware detail view, worked out from its values.
class FirmwareDetailPresenter {
public:
    struct Row {
        QString label;
        QString value;

        friend bool operator==(const Row&, const Row&) = default;
    };
    enum class StatusTone { normal, success, failure };

    explicit FirmwareDetailPresenter(FirmwareDetailValues values);

    static QString title() { return QStringLiteral("Firmware"); }
    static QString summary()
    {
        return QStringLiteral("Tavrik Link resolves the active channel and target, validates the selected build, and "
                              "installs it over Bluetooth.");
    }
    static QString refreshTitle() { return QStringLiteral("Check Again"); }
    static QString cancelTitle() { return QStringLiteral("Cancel Upload"); }

    const FirmwareDetailValues& values() const { return detail; }

    // Source, Channel, Target, Version and Manifest.
    std::vector<Row> sourceRows() const;
    // Installed, File, Latest, the companion version the update needs (when the release says), Size
    // and SHA-256; empty without an asset.
    std::vector<Row> assetRows() const;
    bool hasAsset() const { return detail.asset.has_value(); }
    // Shown instead of the asset rows when there is no asset.
    QString missingAssetText() const;

    // The bar's value within 0 to 1; the bar is hidden while the total is below one byte.
    double progress() const { return detail.status.progress(); }
    bool progressVisible() const { return detail.status.totalBytes >= 1; }
    QString statusMessage() const { return QString::fromStdString(detail.status.message); }
    StatusTone statusTone() const;
    // "transferred / total" as byte counts, while the total is at least one byte.
    std::optional<QString> byteCountText() const;

    bool installVisible() const { return hasAsset(); }
    QString installTitle() const;
    bool installEnabled() const;
    bool cancelVisible() const;

private:
    FirmwareDetailValues detail;
};

} // namespace tavrik
