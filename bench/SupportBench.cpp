#include "TavrikCore/Support/Json.hpp"

#include <benchmark/benchmark.h>

namespace {

void BM_ParseSmallEnvelope(benchmark::State& state)
{
    const std::string text = R"({"type":"sync_control","mode":"load","code":"0420","message":"ready"})";
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavrik::parseJson(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseSmallEnvelope);

} // namespace
