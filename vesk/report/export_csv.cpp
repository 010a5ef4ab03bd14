#include "export_csv.hpp"

#include <string>

#include "protocols/config.hpp"

namespace vesk {

using namespace protocols;

// A long session has millions of rows.
void write_samples_csv(const Samples& samples, const TextSink& write) {
    std::string block = "time_s,stored,normalised\n";
    for (std::size_t i = 0; i < samples.size(); ++i) {
        write_float(block, static_cast<double>(i) / config::SAMPLING_RATE);
        block += ',';
        block += std::to_string(samples[i]);
        block += ',';
        write_float(block, samples[i] / config::SAMPLE_SCALE);
        block += '\n';
        if (block.size() >= (1 << 20)) {
            if (!write(block)) return;
            block.clear();
        }
    }
    write(block);
}

}  // namespace vesk
