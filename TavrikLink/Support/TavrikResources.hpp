#pragma once

#include <QString>

#include <optional>

namespace tavrik {

// Where the program's own files lie. The build tree is laid out like the install tree
// (bin/tavrik-link, bin/TavrikUSBFlasher, share/tavrik-link/), so both are found from the
// executable's directory. This is the one place that knows the layout: the window, the USB set-up
// and the symbols all ask here.
class TavrikResources {
public:
    static constexpr int helperMissingCode = 11;
    static constexpr const char* helperMissingMessage = "Tavrik Link could not locate the bundled USB flasher helper.";

    // The running program's directory.
    static TavrikResources forApplication();
    // Tests point this at a directory of their own.
    explicit TavrikResources(QString executableDirectory);

    // Makes forApplication() read its resources from `directory` (empty: from beside the program
    // again). Tests use it for code that finds resources on its own.
    static void setResourceDirectoryOverride(const QString& directory);

    // share/tavrik-link beside bin/; when that is missing, the first tavrik-link folder among the
    // system's data directories; when none exists either, the first path (never fails).
    QString resourceDirectory() const;
    // The USB helper in the executable's directory. Throws TavrikLinkFirmwareError (code 11) when
    // there is no executable file there.
    QString bundledUSBFlasher() const;
    // The display font of the board's set-up labels.
    QString labelFontPath() const;
    // The probe image of a hardware target id, only when a readable file is there. The program
    // ships none: probe images are board firmware built elsewhere.
    std::optional<QString> probeImagePath(const QString& targetId) const;
    // The application icon, in the freedesktop icon folder beside the resource directory
    // (share/icons/hicolor/scalable/apps/tavrik-link.svg).
    QString applicationIconPath() const;
    // A file below the resource directory, e.g. "DeviceImages/x.png" or "Icons/tag.svg".
    QString path(const QString& relativePath) const;

private:
    QString executableDirectory;
    // Set only by forApplication() while an override is in force.
    QString resourceOverride;
};

} // namespace tavrik
