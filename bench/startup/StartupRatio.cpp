// Start-up to a mapped window: the program against a bare Qt Widgets window, both started afresh
// in turn several times on one X display; the verdict is the median of the runs' ratios.
//
//   startup_ratio <program> [arguments...] -- <bare window program>
//
// Uses $DISPLAY when it is set, else starts its own Xvfb. Prints each median and the ratio, and
// exits 1 when the ratio is over the budget.
#include <xcb/xcb.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int runs = 21;
constexpr double budget = 1.3;
constexpr auto mapTimeout = std::chrono::seconds(20);

pid_t spawn(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (const std::string& part : command) {
        argv.push_back(const_cast<char*>(part.c_str()));
    }
    argv.push_back(nullptr);
    // The programs' own lines would interleave with the figures.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (failed != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(2);
    }
    return pid;
}

void stop(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Our own X server when none is given: Xvfb names its display on a pipe once it listens.
std::optional<pid_t> startXvfb()
{
    int fds[2];
    if (pipe(fds) != 0) {
        return std::nullopt;
    }
    const std::string fd = std::to_string(fds[1]);
    pid_t pid = 0;
    std::vector<std::string> command { "/usr/bin/Xvfb", "-displayfd", fd, "-screen", "0", "1280x1024x24", "-nolisten",
        "tcp" };
    std::vector<char*> argv;
    for (std::string& part : command) {
        argv.push_back(part.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return std::nullopt;
    }
    close(fds[1]);
    std::string display;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
        display += c;
    }
    close(fds[0]);
    if (display.empty()) {
        stop(pid);
        return std::nullopt;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);
    return pid;
}

// Milliseconds from starting `command` to the first top-level window it maps.
double timeToMappedWindow(xcb_connection_t* connection, const std::vector<std::string>& command)
{
    // Events of windows from earlier runs are gone with them.
    while (xcb_generic_event_t* stale = xcb_poll_for_event(connection)) {
        std::free(stale);
    }
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawn(command);
    const int fd = xcb_get_file_descriptor(connection);
    std::optional<double> elapsed;
    while (!elapsed) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + mapTimeout - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd waiting { fd, POLLIN, 0 };
        poll(&waiting, 1, static_cast<int>(left.count()));
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && !elapsed) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (!map->override_redirect) {
                    elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection)) {
            break;
        }
    }
    stop(pid);
    if (!elapsed) {
        std::fprintf(stderr, "%s mapped no window\n", command.front().c_str());
        std::exit(2);
    }
    return *elapsed;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> program;
    std::vector<std::string> bare;
    bool afterSeparator = false;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--" && !afterSeparator) {
            afterSeparator = true;
        } else {
            (afterSeparator ? bare : program).push_back(argument);
        }
    }
    if (program.empty() || bare.empty()) {
        std::fprintf(stderr, "usage: %s <program> [arguments...] -- <bare window program>\n", argv[0]);
        return 2;
    }

    std::optional<pid_t> xvfb;
    if (!std::getenv("DISPLAY")) {
        xvfb = startXvfb();
        if (!xvfb) {
            std::fprintf(stderr, "no DISPLAY and no Xvfb\n");
            return 2;
        }
    }
    unsetenv("QT_QPA_PLATFORM");
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 2;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    // A first start of each warms the disk cache and the font cache; it is not counted.
    timeToMappedWindow(connection, program);
    timeToMappedWindow(connection, bare);
    std::vector<double> programMs;
    std::vector<double> bareMs;
    for (int run = 0; run < runs; ++run) {
        bareMs.push_back(timeToMappedWindow(connection, bare));
        programMs.push_back(timeToMappedWindow(connection, program));
    }
    xcb_disconnect(connection);
    if (xvfb) {
        stop(*xvfb);
    }

    // Each pair ran back to back, under the same load from the rest of the machine: the median of
    // the pairs' ratios is steadier than the ratio of the medians when that load changes.
    std::vector<double> ratios;
    for (int run = 0; run < runs; ++run) {
        ratios.push_back(programMs[run] / bareMs[run]);
    }
    const double ratio = median(ratios);
    std::printf("start-up to a mapped window, median of %d: program %.1f ms, bare Qt Widgets window %.1f ms; "
                "median ratio %.2f (budget %.2f)\n",
        runs, median(programMs), median(bareMs), ratio, budget);
    return ratio <= budget ? 0 : 1;
}
