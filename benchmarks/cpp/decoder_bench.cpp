// The protocol file decoder, as vesk runs it: bytes of input decoded per second.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"
#include "sample_protocols.hpp"

namespace {

void decode_file_bytes(benchmark::State& state) {
    const protocols::Bytes file = protocols::encode_file(
        revevu_bench::protocol_with_arbitrary_signal(static_cast<std::size_t>(state.range(0)))
            .settings);
    for (auto _ : state) {
        protocols::DecodeResult decoded = protocols::decode_file(file);
        if (!decoded) state.SkipWithError(decoded.error().describe().c_str());
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
    state.counters["input_bytes"] = static_cast<double>(file.size());
}

BENCHMARK(decode_file_bytes)
    ->Arg(revevu_bench::DEFAULT_SESSION_SAMPLES)
    ->Arg(revevu_bench::LONGEST_SESSION_SAMPLES)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
