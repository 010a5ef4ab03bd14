#include "export_csv.hpp"

#include <string>

#include "protocols/config.hpp"

namespace vesk {

using namespace protocols;

// Written out in blocks: a long session has millions of rows.
bool write_csv(const Samples& samples, const TextSink& sink) {
    std::string block = "time_s,stored,normalised\n";
    for (std::size_t i = 0; i < samples.size(); ++i) {
        write_float(block, static_cast<double>(i) / config::SAMPLING_RATE);
        block += ',';
        block += std::to_string(samples[i]);
        block += ',';
        write_float(block, samples[i] / config::SAMPLE_SCALE);
        block += '\n';
        if (block.size() >= (1 << 20)) {
            if (!sink(block)) return false;
            block.clear();
        }
    }
    return sink(block);
}

}  // namespace vesk
