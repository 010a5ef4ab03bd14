// vesk export: an arbitrary signal's samples, written out.
#include <cstdio>
#include <variant>

#include "command_output.hpp"
#include "commands.hpp"
#include "describe.hpp"
#include "export_csv.hpp"
#include "load.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

using namespace protocols;

namespace {

int fail(const Args& args, const std::string& message) {
    std::fprintf(stderr, "vesk: %s: %s\n", args.file.c_str(), message.c_str());
    return EXIT_ERROR;
}

}  // namespace

int run_export(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    const auto& signals = loaded.settings.signals;
    const std::uint64_t n = *args.signal;
    if (n >= signals.size()) {
        return fail(args, "signal " + std::to_string(n) + " does not exist (the protocol has " +
                              plural(signals.size(), "signal") + ")");
    }
    const auto* arbitrary = std::get_if<ArbitrarySignalParams>(&signals[n]);
    if (arbitrary == nullptr) {
        return fail(args, "signal " + std::to_string(n) + " is a " +
                              std::string(signal_kind(signals[n])) +
                              " signal; only Arbitrary signals have samples to export");
    }
    CommandOutput out(args.output);
    write_csv(arbitrary->samples, [&](std::string_view piece) { return out.write(piece); });
    return out.finish();
}

}  // namespace vesk
