#pragma once

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
// when absent). `whileRunning` is called with the child's pid once it has started.
HelperRun runHelper(const std::vector<std::string>& arguments, const std::optional<std::string>& input = std::nullopt,
    const std::function<void(pid_t)>& whileRunning = {});

} // namespace tavrik::test
