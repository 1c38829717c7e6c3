#include "TavrikLink/Support/WholeFileWriter.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <utility>

namespace tavrik {

namespace {

std::string reasonFor(int error)
{
    return std::generic_category().message(error);
}

std::string uniqueSuffix()
{
    static std::atomic<std::uint64_t> counter { 0 };
    const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::uint64_t value
        = ticks ^ (static_cast<std::uint64_t>(::getpid()) << 40) ^ (++counter * 0x9E3779B97F4A7C15ULL);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// The rename is only as lasting as the folder's entry; a folder that cannot be synced (some
// network file systems) still holds the file, so this is best effort.
void syncFolder(const std::filesystem::path& folder)
{
    const int descriptor = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

} // namespace

WholeFileWriter::Calls WholeFileWriter::systemCalls()
{
    return { [](int descriptor, const void* bytes, std::size_t length) { return ::write(descriptor, bytes, length); },
        [](int descriptor) { return ::fsync(descriptor); } };
}

WholeFileWriter::WholeFileWriter()
    : calls(systemCalls())
{
}

WholeFileWriter::WholeFileWriter(Calls calls)
    : calls(std::move(calls))
{
}

std::optional<std::string> WholeFileWriter::write(
    const std::filesystem::path& path, std::span<const std::uint8_t> bytes) const
{
    std::filesystem::path target = path;
    std::error_code ignored;
    if (std::filesystem::is_symlink(path, ignored)) {
        // A link that leads nowhere is left as it is: renaming over it would put a file in its place.
        std::error_code unresolved;
        std::filesystem::path resolved = std::filesystem::canonical(path, unresolved);
        if (unresolved == std::errc::no_such_file_or_directory) {
            return std::string("It is a link to a missing file");
        }
        if (unresolved) {
            return reasonFor(unresolved.value());
        }
        target = std::move(resolved);
    }
    struct stat existing { };
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    // Renaming over a device or a pipe would replace it, not write to it.
    if (exists && !S_ISREG(existing.st_mode)) {
        return std::string("Not a regular file");
    }
    // Nor may the rename replace a file that the user could not write: a plain write would be refused.
    // The mode is read too, since the super-user may write anything.
    constexpr mode_t anyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
    if (exists && ((existing.st_mode & anyWrite) == 0 || ::access(target.c_str(), W_OK) != 0)) {
        return reasonFor(EACCES);
    }

    const std::filesystem::path folder = target.parent_path();
    std::filesystem::path temporary;
    int descriptor = -1;
    for (int attempt = 0; attempt < 16 && descriptor < 0; ++attempt) {
        temporary = folder / ("." + target.filename().string() + "." + uniqueSuffix());
        descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno != EEXIST) {
            break;
        }
    }
    if (descriptor < 0) {
        return reasonFor(errno);
    }

    int failure = 0;
    if (exists && ::fchmod(descriptor, existing.st_mode & 07777) != 0) {
        failure = errno;
    }
    std::size_t written = 0;
    while (failure == 0 && written < bytes.size()) {
        const ssize_t count = calls.write(descriptor, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            failure = count < 0 ? errno : EIO;
            break;
        }
        written += static_cast<std::size_t>(count);
    }
    if (failure == 0 && calls.sync(descriptor) != 0) {
        failure = errno;
    }
    if (::close(descriptor) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(temporary.c_str());
        return reasonFor(failure);
    }
    syncFolder(folder);
    return std::nullopt;
}

} // namespace tavrik
