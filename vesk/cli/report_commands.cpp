// The commands that print what a record holds or how two differ: each loads
// its file(s), hands the report to the command's output and says how it went.
#include <string_view>

#include "check.hpp"
#include "command_output.hpp"
#include "commands.hpp"
#include "diff.hpp"
#include "load.hpp"
#include "protocols/json_form.hpp"
#include "protocols/text_form.hpp"
#include "summary.hpp"

namespace vesk {

namespace {

// `show` writes in pieces of this size: the memory used does not grow with
// the output, which for a long session runs to hundreds of megabytes.
constexpr std::size_t OUTPUT_PIECE = std::size_t{1} << 20;

}  // namespace

int run_show(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    CommandOutput out;
    const protocols::TextSink write = [&](std::string_view piece) { return out.write(piece); };
    if (args.json) {
        protocols::write_json_in_pieces(loaded.settings, OUTPUT_PIECE, write);
    } else {
        protocols::write_text_in_pieces(loaded.settings, OUTPUT_PIECE, write);
    }
    out.write("\n");
    return out.finish();
}

int run_summary(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    CommandOutput out;
    out.write(args.json ? summary_json(loaded.settings) : summary_text(loaded.settings));
    return out.finish();
}

int run_check(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    const std::vector<Finding> problems = find_problems(loaded.settings);
    CommandOutput out;
    for (const Finding& finding : problems) {
        out.write(args.file + ": " + finding.problem + "\n");
    }
    if (const int written = out.finish(); written != EXIT_OK) return written;
    return problems.empty() ? EXIT_OK : EXIT_FINDINGS;
}

int run_diff(const Args& args) {
    Loaded a, b;
    int status;
    if (!load_protocol(args.file, a, status)) return status;
    if (!load_protocol(args.second_file, b, status)) return status;
    CommandOutput out;
    std::size_t differences = 0;
    write_diff(
        a.settings, b.settings, [&](std::string_view piece) { return out.write(piece); },
        differences);
    if (const int written = out.finish(); written != EXIT_OK) return written;
    return differences == 0 ? EXIT_OK : EXIT_FINDINGS;
}

}  // namespace vesk
