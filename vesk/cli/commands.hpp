// The commands. Each returns the process's exit status (load.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vesk {

struct Args {
    std::string file;
    std::string second_file;              // diff: the file FILE is compared with
    std::optional<std::uint64_t> signal;  // export: --signal N
    std::string output;  // export, plot, script: -o PATH; empty or "-" for standard output
    bool json = false;   // show, summary: --json
    std::optional<double> start, end;  // plot: --start S, --end E, in seconds
};

int run_show(const Args& args);
int run_summary(const Args& args);
int run_check(const Args& args);
int run_export(const Args& args);
int run_diff(const Args& args);
int run_plot(const Args& args);
int run_script(const Args& args);

}  // namespace vesk
