// The protocol file decoder: bytes of input decoded per second, from the
// whole file in memory as vesk runs it, and through a window refilled from a
// copy in memory as vesk.load runs it (without the reads' system calls). The
// label names the sample loop this processor runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"
#include "sample_protocols.hpp"
#include "sample_wire_read.hpp"

namespace {

class CopiedPieces final : public protocols::ByteSource {
public:
    explicit CopiedPieces(const protocols::Bytes& file) : file_(file) {}
    std::size_t read_some(std::uint8_t* out, std::size_t room) override {
        const std::size_t n = std::min(room, file_.size() - at_);
        std::memcpy(out, file_.data() + at_, n);
        at_ += n;
        return n;
    }

private:
    const protocols::Bytes& file_;
    std::size_t at_ = 0;
};

template <bool IN_PIECES>
void decode(benchmark::State& state) {
    const protocols::Bytes file = protocols::encode_file(
        revevu_bench::protocol_with_arbitrary_signal(static_cast<std::size_t>(state.range(0)))
            .settings);
    for (auto _ : state) {
        CopiedPieces source(file);
        protocols::DecodeResult decoded =
            IN_PIECES ? protocols::decode_file(source, file.size()) : protocols::decode_file(file);
        if (!decoded) state.SkipWithError(decoded.error().describe().c_str());
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
    state.counters["input_bytes"] = static_cast<double>(file.size());
    state.SetLabel(std::string(protocols::sample_loop_name()) + " sample loop");
}

void decode_file_bytes(benchmark::State& state) {
    decode<false>(state);
}

void decode_file_read_in_pieces(benchmark::State& state) {
    decode<true>(state);
}

BENCHMARK(decode_file_bytes)
    ->Arg(revevu_bench::DEFAULT_SESSION_SAMPLES)
    ->Arg(revevu_bench::LONGEST_SESSION_SAMPLES)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(decode_file_read_in_pieces)
    ->Arg(revevu_bench::LONGEST_SESSION_SAMPLES)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
