// vesk export: an arbitrary signal's samples as CSV or as an NPY array.
#include <cstdio>
#include <string_view>
#include <variant>

#include "command_output.hpp"
#include "commands.hpp"
#include "describe.hpp"
#include "export_csv.hpp"
#include "load.hpp"
#include "npz_writer.hpp"

namespace vesk {

using namespace protocols;

namespace {

enum class ExportFormat { Csv, Npy, Refused };

// By the name's ending, so that a file's name says what it holds.
ExportFormat export_format(std::string_view path) {
    if (path.empty() || path == "-" || path.ends_with(".csv")) return ExportFormat::Csv;
    if (path.ends_with(".npy")) return ExportFormat::Npy;
    return ExportFormat::Refused;
}

int fail(const Args& args, const std::string& message) {
    std::fprintf(stderr, "vesk: %s: %s\n", args.file.c_str(), message.c_str());
    return EXIT_ERROR;
}

}  // namespace

int run_export(const Args& args) {
    const ExportFormat format = export_format(args.output);
    Loaded loaded;
    int status;
    if (!load_for_output(args.output,
                         format != ExportFormat::Refused
                             ? ""
                             : "give a name ending in .csv (CSV) or .npy (an NPY array), or - for "
                               "CSV on standard output",
                         args.file, loaded, status)) {
        return status;
    }
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
    const Samples& samples = arbitrary->samples;
    if (format == ExportFormat::Npy) {
        return write_output(args.output, [&samples](const TextSink& write) {
            write_npy_int16(std::span(samples.data(), samples.size()), write);
        });
    }
    return write_output(args.output,
                        [&samples](const TextSink& write) { write_samples_csv(samples, write); });
}

}  // namespace vesk
