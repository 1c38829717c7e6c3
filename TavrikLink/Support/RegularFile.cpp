#include "TavrikLink/Support/RegularFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>
#include <utility>

namespace tavrik {

namespace {

constexpr const char* notRegularReason = "Not a regular file";

std::string reasonFor(int error)
{
    return std::generic_category().message(error);
}

} // namespace

RegularFile RegularFile::open(const std::filesystem::path& path, Access access, Links links)
{
    RegularFile file;
    int flags = O_NONBLOCK | O_CLOEXEC | (access == Access::read ? O_RDONLY : O_WRONLY | O_APPEND);
    if (links == Links::refuse) {
        flags |= O_NOFOLLOW;
    }
    file.descriptor = ::open(path.c_str(), flags);
    if (file.descriptor < 0) {
        const int error = errno;
        if (error == ENOENT) {
            file.fail(Problem::missing, reasonFor(error));
        } else if (error == ELOOP || error == ENXIO) {
            // A symbolic link we may not follow, or a pipe with no reader on the other end.
            file.fail(Problem::notRegular, notRegularReason);
        } else {
            file.fail(Problem::failed, reasonFor(error));
        }
        return file;
    }
    struct stat status { };
    if (::fstat(file.descriptor, &status) != 0) {
        file.fail(Problem::failed, reasonFor(errno));
    } else if (!S_ISREG(status.st_mode)) {
        file.fail(Problem::notRegular, notRegularReason);
    } else {
        file.size_ = static_cast<std::uint64_t>(status.st_size);
    }
    return file;
}

RegularFile::Contents RegularFile::readWhole(const std::filesystem::path& path, std::uint64_t limit, Links links)
{
    RegularFile file = open(path, Access::read, links);
    Contents contents { std::nullopt, file.problem(), file.reason(), file.size() };
    if (!file.isOpen()) {
        return contents;
    }
    if (file.size() > limit) {
        contents.problem = Problem::tooLarge;
        return contents;
    }
    contents.bytes = file.read(0, file.size());
    contents.problem = file.problem();
    contents.reason = file.reason();
    return contents;
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : descriptor(std::exchange(other.descriptor, -1))
    , problem_(other.problem_)
    , reason_(std::move(other.reason_))
    , size_(other.size_)
{
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept
{
    if (this != &other) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        descriptor = std::exchange(other.descriptor, -1);
        problem_ = other.problem_;
        reason_ = std::move(other.reason_);
        size_ = other.size_;
    }
    return *this;
}

RegularFile::~RegularFile()
{
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

void RegularFile::fail(Problem problem, std::string reason)
{
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
    problem_ = problem;
    reason_ = std::move(reason);
}

std::optional<Data> RegularFile::read(std::uint64_t offset, std::uint64_t length)
{
    if (descriptor < 0) {
        return std::nullopt;
    }
    const std::uint64_t available = offset < size_ ? size_ - offset : 0;
    const auto wanted = static_cast<std::size_t>(std::min(length, available));
    Data bytes;
    bytes.reserve(wanted);
    // Through a small buffer, so a large read costs no more than the copy.
    std::array<std::uint8_t, 65536> chunk;
    while (bytes.size() < wanted) {
        const std::size_t asked = std::min(chunk.size(), wanted - bytes.size());
        const ssize_t count = ::pread(descriptor, chunk.data(), asked, static_cast<off_t>(offset + bytes.size()));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            fail(Problem::failed, reasonFor(errno));
            return std::nullopt;
        }
        if (count == 0) {
            // Cut short since it was measured.
            break;
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + count);
    }
    return bytes;
}

bool RegularFile::append(std::span<const std::uint8_t> bytes)
{
    if (descriptor < 0) {
        return false;
    }
    struct stat status { };
    if (::fstat(descriptor, &status) != 0) {
        fail(Problem::failed, reasonFor(errno));
        return false;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(descriptor, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            const int error = count < 0 ? errno : EIO;
            // A reader takes whole lines: leave no piece of one behind.
            [[maybe_unused]] const int cut = ::ftruncate(descriptor, status.st_size);
            fail(Problem::failed, reasonFor(error));
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    size_ = static_cast<std::uint64_t>(status.st_size) + bytes.size();
    return true;
}

} // namespace tavrik
