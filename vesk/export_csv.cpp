#include <cstdio>
#include <variant>

#include "command_output.hpp"
#include "commands.hpp"
#include "describe.hpp"
#include "load.hpp"
#include "protocols/config.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

using namespace protocols;

namespace {

int fail(const Args& args, const std::string& message) {
    std::fprintf(stderr, "vesk: %s: %s\n", args.file.c_str(), message.c_str());
    return EXIT_ERROR;
}

// Rows of "time,stored,normalised", written out in blocks: a long session
// has millions of rows.
void write_csv(CommandOutput& out, const Samples& samples) {
    std::string block = "time_s,stored,normalised\n";
    for (std::size_t i = 0; i < samples.size(); ++i) {
        write_float(block, static_cast<double>(i) / config::SAMPLING_RATE);
        block += ',';
        block += std::to_string(samples[i]);
        block += ',';
        write_float(block, samples[i] / config::SAMPLE_SCALE);
        block += '\n';
        if (block.size() >= (1 << 20)) {
            if (!out.write(block)) return;
            block.clear();
        }
    }
    out.write(block);
}

}  // namespace

int run_export(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    const auto& signals = loaded.settings.signals;
    const std::uint64_t n = *args.signal;
    if (n >= signals.size()) {
        return fail(args, missing_signal_text(n, signals.size()));
    }
    const auto* arbitrary = std::get_if<ArbitrarySignalParams>(&signals[n]);
    if (arbitrary == nullptr) {
        return fail(args, "signal " + std::to_string(n) + " is a " +
                              std::string(signal_kind(signals[n])) +
                              " signal; only Arbitrary signals have samples to export");
    }
    CommandOutput out(args.output);
    write_csv(out, arbitrary->samples);
    return out.finish();
}

}  // namespace vesk
