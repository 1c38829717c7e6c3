#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tavrik {

// What the command line asks of this run.
struct AppOptions {
    // Start with the sample data instead of looking for a device.
    bool demo = false;

    bool operator==(const AppOptions&) const = default;
};

struct AppCommandLine {
    // Absent when the program should not start a window: the text says why (an error, --help or
    // --version), and exitStatus what to exit with.
    std::optional<AppOptions> options;
    QString message;
    int exitStatus = 0;
};

// Reads the arguments (the first is the program's name).
AppCommandLine parseAppCommandLine(const QStringList& arguments);

} // namespace tavrik
