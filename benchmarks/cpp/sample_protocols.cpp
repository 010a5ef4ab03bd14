#include "sample_protocols.hpp"

#include <cstdint>
#include <random>
#include <utility>

namespace revevu_bench {

protocols::Protocol protocol_with_arbitrary_signal(std::size_t sample_count) {
    std::mt19937_64 generator(20240601);
    std::uniform_real_distribution<double> normalised(0.0, 1.0);
    protocols::Samples samples(sample_count);
    for (std::int16_t& sample : samples) sample = protocols::quantise_sample(normalised(generator));

    protocols::Protocol protocol;
    protocol.settings.session_duration = static_cast<double>(sample_count) / 5000.0;
    protocol.settings.signals = {
        protocols::Signal{protocols::ArbitrarySignalParams{std::move(samples)}}};
    return protocol;
}

}  // namespace revevu_bench
