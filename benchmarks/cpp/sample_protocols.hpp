// Protocols for the benchmarks: the default record plus one arbitrary signal
// of uniformly random normalised values, quantised as the extension does.
#pragma once

#include <cstddef>

#include "protocols/settings.hpp"

namespace revevu_bench {

// The longest session (1800 s at 5000 samples per second) and the default one.
inline constexpr std::size_t LONGEST_SESSION_SAMPLES = 9'000'000;
inline constexpr std::size_t DEFAULT_SESSION_SAMPLES = 300'000;

// A protocol whose signal list is one arbitrary signal of `sample_count`
// samples, the same for every call (fixed seed).
protocols::Protocol protocol_with_arbitrary_signal(std::size_t sample_count);

}  // namespace revevu_bench
