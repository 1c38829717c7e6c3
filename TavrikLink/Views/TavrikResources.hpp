#pragma once

#include <QString>

namespace tavrik {

// Where the program's own files lie. The build tree is laid out like the install tree
// (bin/tavrik-link, bin/TavrikUSBFlasher, share/tavrik-link/), so both are found from the
// executable's directory.
class TavrikResources {
public:
    static constexpr int helperMissingCode = 11;
    static constexpr const char* helperMissingMessage = "Tavrik Link could not locate the bundled USB flasher helper.";

    // The running program's directory.
    static TavrikResources forApplication();
    // Tests point this at a directory of their own.
    explicit TavrikResources(QString executableDirectory);

    // share/tavrik-link beside bin/; when that is missing, the first tavrik-link folder among the
    // system's data directories; when none exists either, the first path (never fails).
    QString resourceDirectory() const;
    // The USB helper in the executable's directory. Throws TavrikLinkFirmwareError (code 11) when
    // there is no executable file there.
    QString bundledUSBFlasher() const;

private:
    QString executableDirectory;
};

} // namespace tavrik
