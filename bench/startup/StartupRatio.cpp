// Start-up of the program against a bare Qt Widgets window, both started afresh in turn several
// times on one X display, timed twice: to the first top-level window mapped, and to the settled
// window (the last drawing into a top-level window before the display stays still). The verdict is
// the median of the pairs' ratios for each.
//
//   startup_ratio <program> [arguments...] -- <bare window program>
//
// Uses $DISPLAY when it is set, else starts its own Xvfb. Prints each median, spread and ratio, and
// exits 1 when a ratio is over its budget.
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/uio.h>
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
constexpr double mapBudget = 1.3;
constexpr double settledBudget = 1.5;
constexpr auto runTimeout = std::chrono::seconds(20);
// A window counts as settled once nothing has been drawn into it for this long; work a program
// leaves for after the map (icons, the first pane, data) draws well within it.
constexpr auto quietAfterDrawing = std::chrono::milliseconds(1500);

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

// The DAMAGE extension reports every drawing into a window. It is spoken here through libxcb's
// request interface, so the program needs no library beyond libxcb itself.
xcb_extension_t damageExtension { "DAMAGE", 0 };

struct Damage {
    xcb_connection_t* connection = nullptr;
    std::uint8_t notifyEvent = 0;

    static std::optional<Damage> open(xcb_connection_t* connection)
    {
        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &damageExtension);
        if (!extension || !extension->present) {
            return std::nullopt;
        }
        // The server answers nothing else before the client has named its version.
        struct {
            std::uint8_t major;
            std::uint8_t minor;
            std::uint16_t length;
            std::uint32_t clientMajor;
            std::uint32_t clientMinor;
        } request { 0, 0, 0, 1, 1 };
        iovec parts[4] {};
        parts[2] = { &request, sizeof request };
        xcb_protocol_request_t protocol { 2, &damageExtension, 0, 0 };
        const unsigned sequence = xcb_send_request(connection, XCB_REQUEST_CHECKED, parts + 2, &protocol);
        xcb_generic_error_t* error = nullptr;
        void* reply = xcb_wait_for_reply(connection, sequence, &error);
        const bool answered = reply && !error;
        std::free(reply);
        std::free(error);
        if (!answered) {
            return std::nullopt;
        }
        return Damage { connection, extension->first_event };
    }

    // Every drawing into `window` from now on arrives as an event of its own.
    void watch(xcb_window_t window) const
    {
        struct {
            std::uint8_t major;
            std::uint8_t minor;
            std::uint16_t length;
            std::uint32_t damage;
            std::uint32_t drawable;
            std::uint8_t level;
            std::uint8_t pad[3];
        } request { 0, 0, 0, xcb_generate_id(connection), window, 0 /* each rectangle */, {} };
        iovec parts[4] {};
        parts[2] = { &request, sizeof request };
        xcb_protocol_request_t protocol { 2, &damageExtension, 1, 1 };
        xcb_send_request(connection, 0, parts + 2, &protocol);
        xcb_flush(connection);
    }

    bool isNotify(const xcb_generic_event_t* event) const { return (event->response_type & 0x7f) == notifyEvent; }
};

struct StartTimes {
    double mappedMs = 0;
    double settledMs = 0;
};

// From starting `command`: the first top-level window it maps, and the last drawing into one of
// its top-level windows before the display has been still for `quietAfterDrawing`.
StartTimes timeStart(xcb_connection_t* connection, const Damage& damage, const std::vector<std::string>& command)
{
    // Events of windows from earlier runs are gone with them.
    while (xcb_generic_event_t* stale = xcb_poll_for_event(connection)) {
        std::free(stale);
    }
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawn(command);
    const int fd = xcb_get_file_descriptor(connection);
    std::optional<Clock::time_point> mapped;
    std::optional<Clock::time_point> lastDrawn;
    for (;;) {
        const Clock::time_point now = Clock::now();
        // A window that never stops drawing (an animation) has no settled time: the run gives up.
        const Clock::time_point until = mapped
            ? std::min(std::max(*mapped, lastDrawn.value_or(*mapped)) + quietAfterDrawing, start + runTimeout)
            : start + runTimeout;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        if (left.count() <= 0) {
            break;
        }
        pollfd waiting { fd, POLLIN, 0 };
        poll(&waiting, 1, static_cast<int>(left.count()) + 1);
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            const int type = event->response_type & 0x7f;
            // Windows are watched from their creation, before anything can be drawn into them.
            if (type == XCB_CREATE_NOTIFY) {
                const auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event);
                if (!created->override_redirect) {
                    damage.watch(created->window);
                }
            } else if (type == XCB_MAP_NOTIFY && !mapped) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (!map->override_redirect) {
                    mapped = Clock::now();
                }
            } else if (damage.isNotify(event)) {
                lastDrawn = Clock::now();
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection)) {
            break;
        }
    }
    stop(pid);
    if (!mapped) {
        std::fprintf(stderr, "%s mapped no window\n", command.front().c_str());
        std::exit(2);
    }
    if (lastDrawn && *lastDrawn + quietAfterDrawing > start + runTimeout) {
        std::fprintf(stderr, "%s never stopped drawing\n", command.front().c_str());
        std::exit(2);
    }
    const auto since
        = [start](Clock::time_point at) { return std::chrono::duration<double, std::milli>(at - start).count(); };
    return { since(*mapped), since(std::max(*mapped, lastDrawn.value_or(*mapped))) };
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

    const std::optional<Damage> damage = Damage::open(connection);
    if (!damage) {
        std::fprintf(stderr, "the X display has no DAMAGE extension\n");
        return 2;
    }

    // A first start of each warms the disk cache and the font cache; it is not counted.
    timeStart(connection, *damage, program);
    timeStart(connection, *damage, bare);
    std::vector<StartTimes> programTimes;
    std::vector<StartTimes> bareTimes;
    for (int run = 0; run < runs; ++run) {
        bareTimes.push_back(timeStart(connection, *damage, bare));
        programTimes.push_back(timeStart(connection, *damage, program));
    }
    xcb_disconnect(connection);
    if (xvfb) {
        stop(*xvfb);
    }

    // Each pair ran back to back, under the same load from the rest of the machine: the median of
    // the pairs' ratios is steadier than the ratio of the medians when that load changes.
    bool withinBudget = true;
    const auto report = [&](const char* what, double StartTimes::*field, double budget) {
        std::vector<double> programMs;
        std::vector<double> bareMs;
        std::vector<double> ratios;
        for (int run = 0; run < runs; ++run) {
            programMs.push_back(programTimes[run].*field);
            bareMs.push_back(bareTimes[run].*field);
            ratios.push_back(programMs.back() / bareMs.back());
        }
        const double ratio = median(ratios);
        std::printf("start-up to %s, median of %d: program %.1f ms, bare Qt Widgets window %.1f ms; "
                    "median ratio %.2f (%.2f-%.2f; budget %.2f)\n",
            what, runs, median(programMs), median(bareMs), ratio, *std::min_element(ratios.begin(), ratios.end()),
            *std::max_element(ratios.begin(), ratios.end()), budget);
        withinBudget = withinBudget && ratio <= budget;
    };
    report("a mapped window", &StartTimes::mappedMs, mapBudget);
    report("the settled window", &StartTimes::settledMs, settledBudget);
    return withinBudget ? 0 : 1;
}
