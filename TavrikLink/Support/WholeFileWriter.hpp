#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace tavrik {

// Writes a file whole or not at all: the bytes go to a new file beside the target, which replaces
// the target only after every byte was written and synced to the disk. On any failure the target
// keeps what it held and the new file is removed. A symbolic link is written through to its target;
// a link that leads nowhere, a file the user may not write, a pipe or a device is refused untouched.
class WholeFileWriter {
public:
    // The system calls the bytes go through, so tests can make them fail part-way.
    struct Calls {
        std::function<ssize_t(int descriptor, const void* bytes, std::size_t length)> write;
        std::function<int(int descriptor)> sync;
    };

    static Calls systemCalls();

    WholeFileWriter();
    explicit WholeFileWriter(Calls calls);

    // None when the file is in place, else the reason (the system's text, e.g. "No space left on device").
    std::optional<std::string> write(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) const;

private:
    Calls calls;
};

} // namespace tavrik
