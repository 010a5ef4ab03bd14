// The commands. Each returns the process's exit status (load.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocols/settings.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

struct Args {
    std::string file;
    std::string second_file;              // diff: the file FILE is compared with
    std::optional<std::uint64_t> signal;  // export: --signal N
    std::string output;  // export, plot, script: -o PATH; empty or "-" for standard output
    bool json = false;   // show, summary: --json
};

int run_show(const Args& args);
int run_summary(const Args& args);
int run_check(const Args& args);
int run_export(const Args& args);
int run_diff(const Args& args);
int run_plot(const Args& args);
int run_script(const Args& args);

// What `check` reports, one message per problem, in a fixed order.
std::vector<std::string> find_problems(const protocols::Settings& settings);

// What `summary` prints, line by line.
std::string summary_text(const protocols::Settings& settings);

// What `summary --json` prints: the same facts as one JSON document, its
// signals and channel inputs as lists of flat rows.
std::string summary_json(const protocols::Settings& settings);

// What `diff` prints, handed to `sink` in pieces, with the number of
// differences found. False when the sink refused a piece.
bool write_diff(const protocols::Settings& a, const protocols::Settings& b,
                const protocols::TextSink& sink, std::size_t& differences);

}  // namespace vesk
