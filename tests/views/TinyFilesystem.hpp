#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace tavrik::test {

// Runs `scenario` in a child process that sees a tmpfs of `size` (e.g. "16k") mounted on `folder`,
// in a mount namespace of its own, so nothing outside the child sees it. The scenario gives an
// empty text when all went as expected, else what went wrong. Gives none when this machine allows
// no such mount (neither root nor user namespaces); the caller then skips.
struct TinyFilesystemRun {
    bool mounted = false;
    std::string failure;
};

namespace detail {

inline bool writeText(const char* path, const std::string& text)
{
    const int descriptor = ::open(path, O_WRONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const bool written = ::write(descriptor, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(descriptor);
    return written;
}

inline std::optional<std::string> enterPrivateMount(const std::string& folder, const std::string& size)
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(CLONE_NEWNS) != 0) {
            return std::string("unshare: ") + std::strerror(errno);
        }
    } else {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return std::string("unshare: ") + std::strerror(errno);
        }
        writeText("/proc/self/setgroups", "deny");
        if (!writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
            || !writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            return std::string("user namespace maps refused");
        }
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("private mounts: ") + std::strerror(errno);
    }
    const std::string options = "size=" + size + ",mode=0777";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        return std::string("mount: ") + std::strerror(errno);
    }
    return std::nullopt;
}

} // namespace detail

inline TinyFilesystemRun runOnTinyFilesystem(
    const std::string& folder, const std::string& size, const std::function<std::string()>& scenario)
{
    constexpr int cannotMount = 77;
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        return { false, {} };
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (const auto refusal = detail::enterPrivateMount(folder, size)) {
            [[maybe_unused]] const auto written = ::write(channel[1], refusal->data(), refusal->size());
            ::_exit(cannotMount);
        }
        const std::string failure = scenario();
        [[maybe_unused]] const auto written = ::write(channel[1], failure.data(), failure.size());
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t count = 0; (count = ::read(channel[0], buffer, sizeof buffer)) != 0;) {
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (WIFEXITED(status) && WEXITSTATUS(status) == cannotMount) {
        return { false, text };
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return { true, "the scenario's process ended abnormally: " + text };
    }
    return { true, text };
}

} // namespace tavrik::test
