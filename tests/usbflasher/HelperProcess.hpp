#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tavrik::test {

struct HelperRun {
    // The exit status, or 128 + the signal that ended the process.
    int status = -1;
    std::string out;
    std::string err;

    std::vector<std::string> outLines() const;
};

// Runs the USB helper program with `arguments`, feeding `input` on standard input (closed at once
// when absent, or held open until the helper ends with `holdInputOpen`). `whileRunning` is called
// with the child's pid once it has started. A helper still running after `limit` is killed.
HelperRun runHelper(const std::vector<std::string>& arguments, const std::optional<std::string>& input = std::nullopt,
    const std::function<void(pid_t)>& whileRunning = {}, bool holdInputOpen = false,
    std::chrono::seconds limit = std::chrono::minutes(3));

// Whether the process is blocked reading its standard input (from its current system call).
bool isReadingStandardInput(pid_t process);

} // namespace tavrik::test
