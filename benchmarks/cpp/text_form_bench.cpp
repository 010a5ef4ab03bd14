// The text form, what str() of a Protocol returns, into a reused string.
#include <string>

#include "protocols/text_form.hpp"
#include "reused_buffer.hpp"

namespace {

void text_form_into_reused_buffer(benchmark::State& state) {
    revevu_bench::write_into_reused_buffer<std::string>(
        state, [](const protocols::Protocol& protocol, std::string& out) {
            protocols::write_text(out, protocol, 0);
        });
}

BENCHMARK(text_form_into_reused_buffer)
    ->Arg(revevu_bench::DEFAULT_SESSION_SAMPLES)
    ->Arg(revevu_bench::LONGEST_SESSION_SAMPLES)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
