#include "tests/usbflasher/HelperProcess.hpp"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrik::test {

std::vector<std::string> HelperRun::outLines() const
{
    std::vector<std::string> lines;
    std::istringstream stream(out);
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(line);
    }
    return lines;
}

bool isReadingStandardInput(pid_t process)
{
    // "<number> <arguments...>": read is 0 on x86-64 and 63 on AArch64, its first argument the fd.
    std::ifstream stream("/proc/" + std::to_string(process) + "/syscall");
    std::string number, fd;
    if (!(stream >> number >> fd)) {
        return false;
    }
#if defined(__aarch64__)
    const char* readCall = "63";
#else
    const char* readCall = "0";
#endif
    return number == readCall && fd == "0x0";
}

HelperRun runHelper(const std::vector<std::string>& arguments, const std::optional<std::string>& input,
    const std::function<void(pid_t)>& whileRunning, bool holdInputOpen, std::chrono::seconds limit)
{
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        return {};
    }
    std::vector<std::string> all { TAVRIK_USB_FLASHER };
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (input) {
        std::size_t written = 0;
        while (written < input->size()) {
            const ssize_t count = ::write(in[1], input->data() + written, input->size() - written);
            if (count <= 0) {
                break;
            }
            written += static_cast<std::size_t>(count);
        }
    }
    if (!holdInputOpen) {
        ::close(in[1]);
    }
    if (whileRunning) {
        whileRunning(child);
    }

    HelperRun run;
    // By default a cap far above any subcommand's own time-out, only so a broken helper cannot hang
    // the suite.
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    bool outOpen = true, errOpen = true;
    char buffer[4096];
    while (outOpen || errOpen) {
        pollfd entries[2] = { { outOpen ? out[0] : -1, POLLIN, 0 }, { errOpen ? err[0] : -1, POLLIN, 0 } };
        const int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now()).count());
        if (left <= 0) {
            ::kill(child, SIGKILL);
            break;
        }
        if (::poll(entries, 2, left) <= 0) {
            continue;
        }
        for (int index = 0; index < 2; ++index) {
            if (entries[index].revents == 0) {
                continue;
            }
            const ssize_t count = ::read(entries[index].fd, buffer, sizeof buffer);
            if (count <= 0) {
                (index == 0 ? outOpen : errOpen) = false;
            } else {
                (index == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(count));
            }
        }
    }
    ::close(out[0]);
    ::close(err[0]);
    if (holdInputOpen) {
        ::close(in[1]);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

} // namespace tavrik::test
