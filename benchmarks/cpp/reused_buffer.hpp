// The shared body of the core-library benchmarks: write a protocol with a long
// arbitrary signal into a buffer that is reused across iterations, so that
// neither allocation nor page faults are timed. Reports output bytes/s.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "sample_protocols.hpp"

namespace revevu_bench {

// `write(protocol, buffer)` appends the protocol's output to `buffer`.
template <typename Buffer, typename Write>
void write_into_reused_buffer(benchmark::State& state, Write write) {
    const auto protocol = protocol_with_arbitrary_signal(static_cast<std::size_t>(state.range(0)));
    Buffer out;
    write(protocol, out);  // grows the buffer once, untimed
    for (auto _ : state) {
        out.clear();
        write(protocol, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(out.size()));
    state.counters["output_bytes"] = static_cast<double>(out.size());
}

}  // namespace revevu_bench
