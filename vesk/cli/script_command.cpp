// vesk script: a Python script that rebuilds the protocol in FILE through the
// revevu API, and the arbitrary signals' stored samples in an .npz beside it.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <variant>

#include "command_output.hpp"
#include "commands.hpp"
#include "describe.hpp"
#include "load.hpp"
#include "npz_writer.hpp"
#include "rebuild.hpp"
#include "script_samples.hpp"
#include "script_text.hpp"

namespace vesk {

using namespace protocols;

int run_script(const Args& args) {
    const std::string npz_path = npz_path_beside(args.output);
    Loaded loaded;
    int status;
    if (!load_for_output(args.output,
                         !npz_path.empty() ? ""
                                           : "not a file name whose suffix every Python version "
                                             "reads alike (such as OUT.py)\nTry 'vesk script "
                                             "--help'.",
                         args.file, loaded, status)) {
        return status;
    }
    const auto planned = plan_rebuild(loaded.settings);
    if (const auto* refusal = std::get_if<NotReproducible>(&planned)) {
        std::fprintf(stderr, "vesk: %s: cannot be rebuilt through the revevu API: %s\n",
                     args.file.c_str(), refusal->message().c_str());
        return EXIT_ERROR;
    }
    const RebuildPlan& plan = std::get<RebuildPlan>(planned);
    const std::vector<std::uint64_t> stored = stored_sample_signals(plan);
    const StoredCodesCrc crcs = stored_codes_crc32(loaded.settings, stored);
    const std::string text = script_text(plan, crcs.all, base_name(args.file));

    // Each file is replaced only once it is complete. The script checks the
    // samples it loads, so a pair left half-replaced (the .npz new, the script
    // old) says so when it is run rather than rebuilding another protocol.
    for (const std::uint64_t signal : stored) {
        const auto& params = std::get<ArbitrarySignalParams>(loaded.settings.signals[signal]);
        if (!npz_entry_fits(params.samples.size())) return cannot_write(npz_path, EFBIG);
    }
    struct stat npz_status {};
    const bool npz_was_there = ::lstat(npz_path.c_str(), &npz_status) == 0;
    if (!stored.empty()) {
        const int npz_written = write_to_file(npz_path, [&](const TextSink& write) {
            write_stored_samples(loaded.settings, stored, crcs.each, write);
        });
        if (npz_written != EXIT_OK) return npz_written;
    }
    const int written = write_to_file(args.output, [&text](const TextSink& write) { write(text); });
    // A new .npz without its script is of no use to anyone.
    if (written != EXIT_OK && !stored.empty() && !npz_was_there) ::unlink(npz_path.c_str());
    return written;
}

}  // namespace vesk
