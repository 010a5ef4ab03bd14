// vesk: reads .vesk protocol files back (show, summary, check, export, diff, plot,
// script).
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "commands.hpp"
#include "exit_signals.hpp"
#include "load.hpp"

namespace vesk {
namespace {

constexpr const char* MAIN_HELP = R"(usage: vesk COMMAND [OPTIONS] FILE

Reads a .vesk protocol file back and shows or checks what it holds.

commands:
  show FILE [--json]        print the protocol record in its text form, or as
                            one JSON document
  summary FILE [--json]     print a short summary: duration, intensity,
                            samples, channels and their sources, signals
  check FILE                report problems: sources or mixed-signal positions
                            that name no signal, arbitrary signals of the wrong
                            length, NaN or infinite parameters, values outside
                            their limits, coil or setting positions out of range
  export FILE --signal N    write arbitrary signal N's samples as CSV, or as
                            an NPY array
  diff FILE1 FILE2          print every field in which two protocol files
                            differ, old and new value side by side
  plot FILE -o OUT.svg      draw the whole session, one row per channel input,
                            as a self-contained SVG picture
  script FILE -o OUT.py     write a Python script that rebuilds the protocol
                            through the revevu API, samples in OUT.npz

Run 'vesk COMMAND --help' for more about a command, 'vesk --version' for the
version.

exit status:
  0  success; for check: nothing to report; for diff: the records are identical
  1  check found something to report; for diff: the records differ
  2  usage error, or the file cannot be read or is not a valid protocol file;
     for script: the API cannot rebuild the protocol
  3  internal error: the decoded file does not re-encode to the same bytes
)";

enum class OutputOption { None, Optional, Required };  // -o, --output PATH

struct Command {
    std::string_view name;
    int (*run)(const Args&);
    bool takes_signal;  // export's --signal N
    const char* help;
    OutputOption output = OutputOption::None;
    int file_count = 1;  // diff compares two
};

constexpr Command COMMANDS[] = {
    {"show", run_show, false, R"(usage: vesk show FILE [--json]

Prints the protocol record in FILE in its text form: the same text that str()
of the Protocol it was saved from shows after "settings: " (there indented by
four more spaces). Arbitrary signals are listed sample by sample.

options:
  --json  print the record as one JSON document instead: the fields under
          their text-form names, a signal as an object named by its variant,
          samples as integer codes, NaN and infinities as the strings "NaN",
          "inf" and "-inf" (see docs/vesk.md)

Exit status: 0 shown; 2 the file cannot be read or is not a valid protocol
file, or the output cannot be written.
)"},
    {"summary", run_summary, false, R"(usage: vesk summary FILE [--json]

Prints a short summary of the protocol in FILE: session duration, intensity,
sample count, each channel (enabled or not, its coil and coil setting, what
drives its two amplitude inputs and its modulation input) and one line per
signal.

options:
  --json  print the same facts as one JSON document, its signals and channel
          inputs as lists of flat rows that a data frame takes as they are
          (see docs/vesk.md)

Exit status: 0 shown; 2 the file cannot be read or is not a valid protocol
file, or the output cannot be written.
)"},
    {"check", run_check, false, R"(usage: vesk check FILE

Reports, one line each, "FILE: problem" for:
  - a channel input whose internal source names no signal
  - a mixed signal whose a_idx or b_idx names no signal
  - an arbitrary signal whose sample count differs from the session's, or
    with stored samples outside 0..32767
  - a NaN or infinite signal parameter
  - an intensity outside 0.0..1.0 or a session duration outside 0.01..1800.0 s
  - a channel's coil position or coil setting position out of range

Exit status: 0 nothing to report; 1 problems reported; 2 the file cannot be
read or is not a valid protocol file, or the output cannot be written.
)"},
    {"export", run_export, true, R"(usage: vesk export FILE --signal N [-o OUTPUT]

Writes the samples of arbitrary signal N (its position in the signal list) as
CSV, one row per sample after the header "time_s,stored,normalised":
  time_s      the sample's time in seconds (position / 5000.0)
  stored      the stored 16-bit value (0..32767)
  normalised  the stored value / 32767.0, back in [0, 1]
or, to a name ending in .npy, the stored values as an NPY array (int16, one
dimension) that numpy.load reads: what vesk.load(FILE) gives as the signal's
samples.

options:
  --signal N         the signal to export (required)
  -o, --output PATH  write to PATH instead of standard output: a name ending
                     in .csv gets CSV, one ending in .npy an NPY array, and
                     "-" is standard output (CSV); any other name is refused.
                     An existing file is replaced only once the new one is
                     complete and flushed to disk.

Exit status: 0 written; 2 usage error, unreadable or invalid file, signal N
missing or not an arbitrary signal, or the output cannot be written.
)",
     OutputOption::Optional},
    {"diff", run_diff, false, R"(usage: vesk diff FILE1 FILE2

Prints every difference between the protocol records in FILE1 and FILE2, one
line each, in field order. Signals and channel inputs are described as
`vesk summary` describes them; everything else is named by the same paths as
decoding errors:
  intensity: 0.5 -> 0.6
  signals[0].Arbitrary.samples: 2 of 10000 samples differ: first [10] (0.002 s),
      last [4000] (0.8 s), largest difference -120 (-0.003662221137119663)
  signals[1].Sine.frequency: 10.0 -> 12.5
  signal 2: Constant value 0.5 -> Sine amplitude 1.0, frequency 2.0, phase 0.0,
      depth 1.0
  added signal 3: Constant value 0.25
  modulation (Channel.B): signal 2 (Sine) -> external source 3
(each difference is one line; two are wrapped here). Values are printed as the
text form prints them. Floats are compared by their bits: the same NaN is
equal, -0.0 and 0.0 differ. Samples are never listed: one line gives how many
differ, the first and last position with its time, and the largest difference
(new - old) as a stored value and normalised (/ 32767.0).

Exit status: 0 the records are identical; 1 they differ; 2 usage error, a
file cannot be read or is not a valid protocol file, or the output cannot be
written.
)",
     OutputOption::None, 2},
    {"plot", run_plot, false, R"(usage: vesk plot FILE -o OUT.svg

Draws the whole session in FILE on one time axis in seconds, as one
self-contained SVG picture (no scripts, no external references): a row for each
of the six channel inputs (amplitude 1, amplitude 2 and modulation of channels
A and B), a disabled channel in grey.
  arbitrary signal        its stored samples, as the lowest and highest value
                          in each pixel column (the picture's size does not
                          depend on the session's length)
  constant                a flat line at its value
  sine, ramp, mixed       a band labelled with the stored parameters (the
                          file defines no waveform for them)
  external input          a labelled band
  missing signal          a warning band (the source names no signal)
Signal values are drawn on a 0..1 scale; values outside it are drawn at its
edge.

options:
  -o, --output PATH  the SVG file to write (required): a name ending in .svg,
                     or "-" for standard output

Exit status: 0 written; 2 usage error, unreadable or invalid file, or the
output cannot be written.
)",
     OutputOption::Required},
    {"script", run_script, false, R"(usage: vesk script FILE -o OUT.py

Writes a Python script that rebuilds the protocol in FILE through the revevu
API: Protocol(), then one method call a line, with the API's keyword names and
enumeration members and a comment for each signal, then save() to the path
given to the script. Edit it and run it:

  python OUT.py NEW.vesk

Unedited, it writes NEW.vesk byte for byte equal to FILE, in any environment
(it sets or clears VESK_TARGET_MACHINE for its own process as FILE needs).
Arbitrary signals' stored codes go to OUT.npz beside it (OUT's suffix replaced
by .npz, one int16 array per signal, named signal_N by position), which the
script loads from beside itself under its own name; without arbitrary signals
there is no .npz. Each file takes its place only once it is complete and
flushed to disk, and nothing is left behind on failure. The script checks
that the .npz holds the samples it was written for (by their CRC-32) and
stops with a message naming it if not.

FILE is refused if it holds what no sequence of calls produces, with its first
such field named by path and value: a machine configuration other than the
default; coil or coil setting positions other than 0; monitor settings
changed; channel A disabled; a source that no set_*_source call writes; an
intensity outside 0.0..1.0 or a duration outside 0.01..1800.0 s (NaN
included); no signals; stored samples outside 0..32767, or a sample count that
no session duration gives.

options:
  -o, --output PATH  the script to write (required); a name ending in "." or
                     such as "..py", whose suffix Python versions read
                     differently, is refused

Exit status: 0 written; 2 usage error, unreadable or invalid file, FILE cannot
be rebuilt, or the output cannot be written.
)",
     OutputOption::Required},
};

// The commands that can print JSON.
bool prints_json(const Command& command) {
    return command.name == "show" || command.name == "summary";
}

int usage_error(std::string_view command, const std::string& message) {
    std::fprintf(stderr, "vesk: %s\n", message.c_str());
    if (command.empty()) {
        std::fputs("Try 'vesk --help'.\n", stderr);
    } else {
        std::fprintf(stderr, "Try 'vesk %.*s --help'.\n", static_cast<int>(command.size()),
                     command.data());
    }
    return EXIT_ERROR;
}

bool parse_index(std::string_view text, std::uint64_t& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

// Matches "--name VALUE", "--name=VALUE" or "-x VALUE" at argv[i] and moves
// past it; `value` is null when the option lacks its value.
bool option_value(std::string_view name, int& i, int argc, char** argv, const char*& value) {
    const std::string_view arg = argv[i];
    if (arg == name) {
        value = i + 1 < argc ? argv[++i] : nullptr;
        return true;
    }
    if (name.starts_with("--") && arg.starts_with(name) && arg.size() > name.size() &&
        arg[name.size()] == '=') {
        value = argv[i] + name.size() + 1;
        return true;
    }
    return false;
}

// Parses the arguments after the command name. Returns -1 to go on and run
// the command, or the exit status to end with.
int parse(const Command& command, int argc, char** argv, Args& args) {
    int files = 0;
    bool options_done = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool option = !options_done && arg.size() > 1 && arg[0] == '-';
        const char* value = nullptr;
        if (option && (arg == "-h" || arg == "--help")) {
            std::fputs(command.help, stdout);
            return EXIT_OK;
        } else if (option && arg == "--") {
            options_done = true;
        } else if (option && arg == "--json" && prints_json(command)) {
            args.json = true;
        } else if (option && command.takes_signal &&
                   option_value("--signal", i, argc, argv, value)) {
            std::uint64_t n;
            if (value == nullptr || !parse_index(value, n)) {
                return usage_error(command.name, "--signal needs a signal position (0, 1, ...)");
            }
            args.signal = n;
        } else if (option && command.output != OutputOption::None &&
                   (option_value("-o", i, argc, argv, value) ||
                    option_value("--output", i, argc, argv, value))) {
            if (value == nullptr || *value == '\0') {
                return usage_error(command.name, std::string(arg) + " needs a file name");
            }
            args.output = value;
        } else if (option) {
            return usage_error(command.name, "unknown option '" + std::string(arg) + "'");
        } else if (files == command.file_count) {
            return usage_error(command.name,
                               command.file_count == 1 ? "one FILE only" : "two FILEs only");
        } else {
            (files == 0 ? args.file : args.second_file) = arg;
            ++files;
        }
    }
    if (files == 0) return usage_error(command.name, "no FILE given");
    if (files < command.file_count) return usage_error(command.name, "two FILEs needed");
    if (command.output == OutputOption::Required && args.output.empty()) {
        return usage_error(command.name, "-o OUTPUT is required");
    }
    if (command.takes_signal && !args.signal) {
        return usage_error(command.name, "--signal N is required");
    }
    return -1;
}

int run(int argc, char** argv) {
    if (argc < 2) return usage_error({}, "no command given");
    const std::string_view name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        std::fputs(MAIN_HELP, stdout);
        return EXIT_OK;
    }
    if (name == "--version") {
        std::printf("vesk %s\n", VESK_VERSION);
        return EXIT_OK;
    }
    for (const Command& command : COMMANDS) {
        if (command.name != name) continue;
        Args args;
        const int status = parse(command, argc - 2, argv + 2, args);
        return status >= 0 ? status : command.run(args);
    }
    return usage_error({}, "unknown command '" + std::string(name) + "'");
}

}  // namespace
}  // namespace vesk

int main(int argc, char** argv) {
    vesk::prepare_exit_signals();
    return vesk::run(argc, argv);
}
