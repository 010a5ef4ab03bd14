// The JSON form, what `vesk show --json` prints, into a reused string.
#include <string>

#include "protocols/json_form.hpp"
#include "reused_buffer.hpp"

namespace {

void json_form_into_reused_buffer(benchmark::State& state) {
    revevu_bench::write_into_reused_buffer<std::string>(
        state, [](const protocols::Protocol& protocol, std::string& out) {
            protocols::write_json(out, protocol.settings);
        });
}

BENCHMARK(json_form_into_reused_buffer)
    ->Arg(revevu_bench::DEFAULT_SESSION_SAMPLES)
    ->Arg(revevu_bench::LONGEST_SESSION_SAMPLES)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
