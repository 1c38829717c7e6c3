#include "TavrikUSBProtocol/Bootloader/ESPFirmwareCompression.hpp"
#include "tests/support/usbboard/SimulatedBoardLink.hpp"

#include "bench/BenchSupport.hpp"

#include <benchmark/benchmark.h>

#include <elf.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

// The USB helper flashing ESP32 factory images into the simulated board on a pseudo-terminal.
//
// BM_UsbFlasherCpu: the helper process's own CPU time per MiB (compression, framing, MD5, its port
// I/O; not the simulated board's inflating) beside zlib level 9 of the same image in the same run,
// on machine code, on this benchmark's code-like image and on random data. "ratio" is the helper's
// time over zlib's; the goal is at most 1.5. The protocol needs one round trip per 1 KiB block, and
// "round_trips_per_MiB" is what those alone cost on this machine (measured on a bare pseudo-terminal);
// "ratio_beyond_round_trips" leaves them out.
//
// BM_UsbFlasherPacedLine: 1 MiB of the code-like image over a line paced at the board's speed,
// once at 115200 baud (a port without modem lines, where the speed is left alone) and once at the
// speed the helper raises a bridge to. "ratio" is the second time over the first; the goal is at
// most a third.
namespace {

using namespace tavrik;

constexpr std::size_t imageLength = 4 * 1048576;

// A merged ESP32 image around `body`: 4 KiB of erased flash, then an application header at 0x1000.
Data factoryImageAround(Data body)
{
    std::fill(body.begin(), body.begin() + 0x1000, 0xFF);
    std::fill(body.begin() + 0x1000, body.begin() + 0x1000 + 24, 0);
    body[0x1000] = 0xE9;
    body[0x1001] = 1;
    body[0x1003] = 0x20;
    return body;
}

// Like a merged image: code-like stretches (snippets of a small vocabulary, so it compresses about
// as well as machine code), incompressible data, erased gaps.
Data codeLikeImage(std::size_t length)
{
    Data bytes(length, 0xFF);
    const Data vocabulary = bench::pseudoRandomBytes(64 * 1024, 0x9E3779B9U);
    const Data noise = bench::pseudoRandomBytes(length, 0x2545F491U);
    std::uint32_t state = 0x12345678U;
    std::size_t position = 0x1000;
    while (position < length * 3 / 4) {
        state = state * 1664525U + 1013904223U;
        const std::size_t run = 8 + (state >> 27);
        const std::size_t from = (state >> 8) % (vocabulary.size() - run);
        for (std::size_t index = 0; index < run && position < length; ++index) {
            bytes[position++] = vocabulary[from + index];
        }
    }
    std::copy(noise.begin() + static_cast<std::ptrdiff_t>(position),
        noise.begin() + static_cast<std::ptrdiff_t>(length * 7 / 8),
        bytes.begin() + static_cast<std::ptrdiff_t>(position));
    return factoryImageAround(std::move(bytes));
}

// The .text section of a shared library: real x86-64 machine code, repeated to fill the image.
Data machineCodeImage()
{
    std::ifstream file(TAVRIK_MACHINE_CODE_LIBRARY, std::ios::binary);
    const Data elf((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    Data code;
    Elf64_Ehdr header {};
    if (elf.size() >= sizeof header) {
        std::memcpy(&header, elf.data(), sizeof header);
    }
    const auto sectionAt = [&](std::size_t index) {
        Elf64_Shdr section {};
        const std::size_t at = header.e_shoff + index * sizeof section;
        if (at + sizeof section <= elf.size()) {
            std::memcpy(&section, elf.data() + at, sizeof section);
        }
        return section;
    };
    const Elf64_Shdr names = sectionAt(header.e_shstrndx);
    for (std::size_t index = 0; index < header.e_shnum; ++index) {
        const Elf64_Shdr section = sectionAt(index);
        const std::size_t name = names.sh_offset + section.sh_name;
        if (name + 6 <= elf.size() && std::memcmp(elf.data() + name, ".text", 6) == 0
            && section.sh_offset + section.sh_size <= elf.size()) {
            code.assign(elf.begin() + static_cast<std::ptrdiff_t>(section.sh_offset),
                elf.begin() + static_cast<std::ptrdiff_t>(section.sh_offset + section.sh_size));
        }
    }
    if (code.empty()) {
        return {};
    }
    Data body;
    while (body.size() < imageLength) {
        body.insert(body.end(), code.begin(),
            code.begin() + static_cast<std::ptrdiff_t>(std::min(code.size(), imageLength - body.size())));
    }
    return factoryImageAround(std::move(body));
}

Data randomImage()
{
    return factoryImageAround(bench::pseudoRandomBytes(imageLength, 0x5DEECE66U));
}

// An image as a file for the helper, removed when the benchmark program ends.
class ImageFile {
public:
    explicit ImageFile(const Data& image)
    {
        char pattern[] = "/tmp/tavrik-flash-bench-XXXXXX";
        const int fd = ::mkstemp(pattern);
        ::close(fd);
        path_ = pattern;
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    ~ImageFile() { ::unlink(path_.c_str()); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

double seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

double threadCpuSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Runs the helper program's "flash" and gives its own CPU time, or a negative number on failure.
double helperFlashCpuSeconds(const std::string& port, const std::string& imagePath)
{
    std::vector<std::string> arguments
        = { TAVRIK_USB_FLASHER, "flash", "--port", port, "--image", imagePath, "--verified-target", "m5stick-c" };
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int started = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        return -1;
    }
    int status = 0;
    rusage usage {};
    ::wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU seconds per round trip over a pseudo-terminal of the kind the protocol needs for every 1 KiB
// block (a frame out, a short answer back, a ppoll to wait for it), spent by the writing thread: what
// any host pays per block on this machine before doing any work of its own.
double ptyRoundTripSeconds()
{
    constexpr int count = 2000;
    constexpr std::size_t frameLength = 1040;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(master);
    ::unlockpt(master);
    const int port = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings {};
    ::tcgetattr(port, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(port, TCSANOW, &settings);
    std::thread board([master] {
        std::vector<std::uint8_t> buffer(8192);
        std::size_t received = 0;
        for (int answered = 0; answered < count;) {
            const ssize_t length = ::read(master, buffer.data(), buffer.size());
            received += static_cast<std::size_t>(std::max<ssize_t>(length, 0));
            for (; received >= frameLength; received -= frameLength, ++answered) {
                (void)!::write(master, "\xC0\x01\x11\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\xC0", 14);
            }
        }
    });
    const Data frame(frameLength, 0x5A);
    std::uint8_t answer[256];
    const double start = threadCpuSeconds();
    for (int trip = 0; trip < count; ++trip) {
        (void)!::write(port, frame.data(), frame.size());
        for (std::size_t got = 0; got < 14;) {
            pollfd entry { port, POLLIN, 0 };
            ::ppoll(&entry, 1, nullptr, nullptr);
            got += static_cast<std::size_t>(std::max<ssize_t>(::read(port, answer, sizeof answer), 0));
        }
    }
    const double spent = threadCpuSeconds() - start;
    board.join();
    ::close(port);
    ::close(master);
    return spent / count;
}

void BM_UsbFlasherCpu(benchmark::State& state, Data (*makeImage)())
{
    const Data image = makeImage();
    if (image.empty()) {
        state.SkipWithError("no image");
        return;
    }
    const ImageFile file(image);
    double helperSeconds = 0;
    double zlibSeconds = 0;
    for (auto _ : state) {
        const double zlibStart = threadCpuSeconds();
        benchmark::DoNotOptimize(zlibCompressedData(image));
        zlibSeconds += threadCpuSeconds() - zlibStart;

        SimulatedUsbBoard board(SimulatedUsbBoardOptions {});
        const double helper = helperFlashCpuSeconds(board.portPath(), file.path());
        if (helper < 0) {
            state.SkipWithError("the helper failed");
            return;
        }
        helperSeconds += helper;
        state.SetIterationTime(helper);
    }
    const double mebibytes = static_cast<double>(state.iterations() * image.size()) / 1048576.0;
    state.counters["helper_per_MiB"] = helperSeconds / mebibytes;
    state.counters["zlib9_per_MiB"] = zlibSeconds / mebibytes;
    state.counters["ratio"] = helperSeconds / zlibSeconds;
    // How much of the helper's time the round trips alone take, one per compressed block.
    const double blocks = static_cast<double>((zlibCompressedData(image).size() + 1023) / 1024);
    const double roundTrips = blocks * ptyRoundTripSeconds() * static_cast<double>(state.iterations());
    state.counters["round_trips_per_MiB"] = roundTrips / mebibytes;
    state.counters["ratio_beyond_round_trips"] = (helperSeconds - roundTrips) / zlibSeconds;
}
BENCHMARK_CAPTURE(BM_UsbFlasherCpu, machine_code, machineCodeImage)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UsbFlasherCpu, code_like_image, [] { return codeLikeImage(imageLength); })
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_UsbFlasherCpu, random_data, randomImage)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Flashes `image` in this process over a paced line and gives the seconds it took and the speed
// the data went at; a negative time on failure.
std::pair<double, int> pacedFlash(const ImageFile& file, bool modemLines)
{
    SimulatedUsbBoardOptions options;
    options.pacesLine = true;
    if (modemLines) {
        options.resetWiring = SimulatedResetWiring::classicAutoReset;
        options.mode = SimulatedBoardMode::application;
    }
    SimulatedUsbBoard board(options);
    std::ostringstream output;
    const FlasherEnvironment environment = simulatedBoardEnvironment(board, output, "/nonexistent", modemLines);
    const auto start = std::chrono::steady_clock::now();
    try {
        runFlasherCommand(FlasherArguments::parse({ "flash", "--port", board.portPath(), "--image", file.path(),
                              "--verified-target", "m5stick-c" }),
            environment);
    } catch (const std::exception&) {
        return { -1, 0 };
    }
    return { std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), board.flashBaudRate() };
}

void BM_UsbFlasherPacedLine(benchmark::State& state)
{
    const ImageFile file(codeLikeImage(1048576));
    for (auto _ : state) {
        const auto slow = pacedFlash(file, false);
        const auto fast = pacedFlash(file, true);
        if (slow.first < 0 || fast.first < 0) {
            state.SkipWithError("the flash failed");
            return;
        }
        state.SetIterationTime(fast.first);
        state.counters["s_at_baud"] = slow.first;
        state.counters["baud"] = slow.second;
        state.counters["s_raised"] = fast.first;
        state.counters["raised_baud"] = fast.second;
        state.counters["ratio"] = fast.first / slow.first;
    }
}
BENCHMARK(BM_UsbFlasherPacedLine)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
