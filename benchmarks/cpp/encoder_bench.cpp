// The protocol file encoder, as save() runs it, into a reused buffer.
#include "protocols/encoder.hpp"
#include "reused_buffer.hpp"

namespace {

void encode_into_reused_buffer(benchmark::State& state) {
    revevu_bench::write_into_reused_buffer<protocols::Bytes>(
        state, [](const protocols::Protocol& protocol, protocols::Bytes& out) {
            protocols::serialize(protocol.settings, out);
        });
}

BENCHMARK(encode_into_reused_buffer)
    ->Arg(revevu_bench::DEFAULT_SESSION_SAMPLES)
    ->Arg(revevu_bench::LONGEST_SESSION_SAMPLES)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
