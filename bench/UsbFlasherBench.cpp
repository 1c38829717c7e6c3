#include "TavrikUSBProtocol/Bootloader/ESPFirmwareCompression.hpp"
#include "tests/support/usbboard/SimulatedUsbBoard.hpp"

#include "bench/BenchSupport.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// The USB helper flashing a 4 MiB ESP32 factory image into the simulated board on a
// pseudo-terminal, measured as the helper process's own CPU time (compression, framing, MD5 and
// the port I/O), beside zlib level 9 of the same image alone. Both report CPU time per MiB as
// "per_MiB"; the helper should stay within 1.5 times the compression.
namespace {

using namespace tavrik;

constexpr std::size_t imageLength = 4 * 1048576;
constexpr double imageMiB = static_cast<double>(imageLength) / 1048576.0;

// Like a merged image: a bootloader offset of 0xFF, code-like stretches (snippets of a small
// vocabulary, so it compresses about as well as machine code), incompressible data, erased gaps.
const Data& factoryImage()
{
    static const Data image = [] {
        Data bytes(imageLength, 0xFF);
        const Data vocabulary = bench::pseudoRandomBytes(64 * 1024, 0x9E3779B9U);
        const Data noise = bench::pseudoRandomBytes(imageLength, 0x2545F491U);
        std::uint32_t state = 0x12345678U;
        std::size_t position = 0x1000;
        while (position < imageLength * 3 / 4) {
            state = state * 1664525U + 1013904223U;
            const std::size_t length = 8 + (state >> 27);
            const std::size_t from = (state >> 8) % (vocabulary.size() - length);
            for (std::size_t index = 0; index < length && position < imageLength; ++index) {
                bytes[position++] = vocabulary[from + index];
            }
        }
        std::copy(noise.begin() + static_cast<std::ptrdiff_t>(position),
            noise.begin() + static_cast<std::ptrdiff_t>(imageLength * 7 / 8),
            bytes.begin() + static_cast<std::ptrdiff_t>(position));
        std::fill(bytes.begin() + 0x1000, bytes.begin() + 0x1000 + 24, 0);
        bytes[0x1000] = 0xE9;
        bytes[0x1001] = 1;
        bytes[0x1003] = 0x20;
        return bytes;
    }();
    return image;
}

// The image as a file for the helper, removed when the benchmark program ends.
struct ImageFile {
    ImageFile()
    {
        char pattern[] = "/tmp/tavrik-flash-bench-XXXXXX";
        const int fd = ::mkstemp(pattern);
        ::close(fd);
        path = pattern;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(factoryImage().data()), static_cast<std::streamsize>(imageLength));
    }
    ~ImageFile() { ::unlink(path.c_str()); }

    std::string path;
};

const std::string& imagePath()
{
    static const ImageFile file;
    return file.path;
}

void BM_UsbFlasherFlashOnPty(benchmark::State& state)
{
    double childSeconds = 0;
    double childUserSeconds = 0;
    for (auto _ : state) {
        SimulatedUsbBoard board(SimulatedUsbBoardOptions {});
        std::string executable = TAVRIK_USB_FLASHER;
        std::vector<std::string> arguments = { executable, "flash", "--port", board.portPath(), "--image", imagePath(),
            "--verified-target", "m5stick-c" };
        std::vector<char*> argv;
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t child = 0;
        if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("cannot start the helper");
            break;
        }
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        rusage usage {};
        ::wait4(child, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the helper failed");
            break;
        }
        const double seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        childSeconds += seconds;
        childUserSeconds
            += static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
        state.SetIterationTime(seconds);
    }
    // The process's own CPU time is the parent's; the helper's is counted from its rusage.
    const double mebibytes = static_cast<double>(state.iterations()) * imageMiB;
    state.counters["per_MiB"] = childSeconds / mebibytes;
    // Without the kernel's share (the pseudo-terminal's writes and polls).
    state.counters["user_per_MiB"] = childUserSeconds / mebibytes;
}
BENCHMARK(BM_UsbFlasherFlashOnPty)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ZlibLevel9OfTheSameImage(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(zlibCompressedData(factoryImage()));
    }
    state.counters["per_MiB"]
        = benchmark::Counter(imageMiB, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ZlibLevel9OfTheSameImage)->Unit(benchmark::kMillisecond);

} // namespace
