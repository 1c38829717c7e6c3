#pragma once

#include "TavrikCore/Support/Data.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace tavrik {

// A file used only when it is a plain file. A named pipe, a device or, when asked, a symbolic link
// is refused at once: opening never waits for a pipe's other end, and nothing is read from a device.
// Reads never go past the length the file had when it was opened, so a file that keeps growing
// cannot make a read last or a buffer grow without bound.
class RegularFile {
public:
    enum class Access { read, append };
    enum class Links { follow, refuse };
    enum class Problem { none, missing, notRegular, tooLarge, failed };

    // The whole file, when it is at most `limit` bytes long.
    struct Contents {
        std::optional<Data> bytes;
        Problem problem = Problem::none;
        // The system's text, or what made the file unusable.
        std::string reason;
        std::uint64_t size = 0;
    };

    static RegularFile open(const std::filesystem::path& path, Access access, Links links);
    static Contents readWhole(const std::filesystem::path& path, std::uint64_t limit, Links links);

    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    bool isOpen() const { return descriptor >= 0; }
    Problem problem() const { return problem_; }
    const std::string& reason() const { return reason_; }
    // The length when the file was opened.
    std::uint64_t size() const { return size_; }

    // Up to `length` bytes from `offset`, never past size(); none on a read error.
    std::optional<Data> read(std::uint64_t offset, std::uint64_t length);
    // Appends all the bytes; on an error the file is cut back to where it ended, and false.
    bool append(std::span<const std::uint8_t> bytes);

private:
    RegularFile() = default;
    void fail(Problem problem, std::string reason);

    int descriptor = -1;
    Problem problem_ = Problem::none;
    std::string reason_;
    std::uint64_t size_ = 0;
};

} // namespace tavrik
