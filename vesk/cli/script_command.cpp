// vesk script: a Python script that rebuilds the protocol in FILE through the
// revevu API, and the arbitrary signals' stored samples in an .npz beside it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>
#include <variant>

#include "command_output.hpp"
#include "commands.hpp"
#include "describe.hpp"
#include "load.hpp"
#include "npz_writer.hpp"
#include "rebuild.hpp"
#include "replacing_file.hpp"
#include "script_text.hpp"

namespace vesk {

using namespace protocols;

namespace {

// The stored codes of every arbitrary signal that the plan loads, by position.
bool write_samples(int fd, const Settings& settings, const std::vector<std::uint64_t>& signals) {
    NpzWriter npz(fd);
    for (const std::uint64_t signal : signals) {
        const auto& params = std::get<ArbitrarySignalParams>(settings.signals[signal]);
        if (!npz.add(npz_array_name(signal), std::span(params.samples))) return false;
    }
    return npz.finish();
}

}  // namespace

int run_script(const Args& args) {
    const std::string npz_path = npz_path_beside(args.output);
    if (npz_path.empty()) {
        std::fprintf(stderr,
                     "vesk: -o %s: not a file name whose suffix every Python version reads "
                     "alike (such as OUT.py)\nTry 'vesk script --help'.\n",
                     args.output.c_str());
        return EXIT_ERROR;
    }
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    const auto planned = plan_rebuild(loaded.settings);
    if (const auto* refusal = std::get_if<NotReproducible>(&planned)) {
        std::fprintf(stderr, "vesk: %s: cannot be rebuilt through the revevu API: %s\n",
                     args.file.c_str(), refusal->message().c_str());
        return EXIT_ERROR;
    }
    const RebuildPlan& plan = std::get<RebuildPlan>(planned);
    const std::string text = script_text(plan, base_name(args.file));

    // Both files complete before either takes its place.
    ReplacingFile npz, script;
    const std::vector<std::uint64_t> stored = stored_sample_signals(plan);
    if (!stored.empty()) {
        if (const int error = npz.open(npz_path); error != 0) return cannot_write(npz_path, error);
        if (!write_samples(npz.fd(), loaded.settings, stored)) {
            return cannot_write(npz_path, errno);
        }
    }
    if (const int error = script.open(args.output); error != 0) {
        return cannot_write(args.output, error);
    }
    if (!write_all(script.fd(), text.data(), text.size())) return cannot_write(args.output, errno);
    if (!stored.empty()) {
        if (const int error = npz.commit(); error != 0) return cannot_write(npz_path, error);
    }
    if (const int error = script.commit(); error != 0) return cannot_write(args.output, error);
    return EXIT_OK;
}

}  // namespace vesk
