#include "command_table.hpp"

#include <algorithm>

#include "load.hpp"

namespace vesk {

namespace {

// Each kind of option is spelled once; the commands differ in what it does.
constexpr OptionDecl json_option(std::string_view help) {
    return {OptionKind::Json, "--json", "", help};
}
constexpr OptionDecl output_option(std::string_view help, bool required) {
    return {OptionKind::Output, "-o, --output", "PATH", help, required};
}

constexpr OptionDecl JSON_SHOW = json_option(
    "print the record as one JSON document instead: the fields under their text-form names, a "
    "signal as an object named by its variant, samples as integer codes, NaN and infinities as "
    "the strings \"NaN\", \"inf\" and \"-inf\"");
constexpr OptionDecl JSON_SUMMARY = json_option(
    "print the same facts as one JSON document, its signals and channel inputs as lists of flat "
    "rows that a data frame takes as they are");
constexpr OptionDecl SIGNAL{OptionKind::Signal, "--signal", "N",
                            "the position of the arbitrary signal to export", true};
constexpr OptionDecl EXPORT_OUTPUT = output_option(
    "write to PATH instead of standard output: a name ending in .csv for CSV, in .npy for the "
    "stored codes as a NumPy int16 array, or \"-\" for standard output (CSV); any other name is "
    "refused",
    false);
constexpr OptionDecl PLOT_OUTPUT = output_option(
    "the SVG file to write: a name ending in .svg, or \"-\" for standard output", true);
constexpr OptionDecl SCRIPT_OUTPUT = output_option(
    "the script to write; a name ending in \".\" or such as \"..py\", whose suffix Python "
    "versions read differently, is refused",
    true);

constexpr OptionDecl SHOW_OPTIONS[] = {JSON_SHOW};
constexpr OptionDecl SUMMARY_OPTIONS[] = {JSON_SUMMARY};
constexpr OptionDecl EXPORT_OPTIONS[] = {SIGNAL, EXPORT_OUTPUT};
constexpr OptionDecl PLOT_START{OptionKind::Start, "--start", "S",
                                "draw from S seconds into the session on (default 0)"};
constexpr OptionDecl PLOT_END{OptionKind::End, "--end", "E",
                              "draw up to E seconds, E itself left out (default: the session's "
                              "end); S and E are 0 or more, S before E, E at most the session's "
                              "duration"};
constexpr OptionDecl PLOT_OPTIONS[] = {PLOT_OUTPUT, PLOT_START, PLOT_END};
constexpr OptionDecl SCRIPT_OPTIONS[] = {SCRIPT_OUTPUT};

constexpr ExitDecl INTERNAL{EXIT_INTERNAL,
                            "internal error: the decoded file does not re-encode to the same "
                            "bytes"};

constexpr ExitDecl SHOW_EXITS[] = {
    {EXIT_OK, "shown"},
    {EXIT_ERROR,
     "usage error; the file cannot be read or is not a valid protocol file; the "
     "output cannot be written"},
    INTERNAL,
};
constexpr ExitDecl CHECK_EXITS[] = {
    {EXIT_OK, "nothing to report"},
    {EXIT_FINDINGS, "problems reported"},
    SHOW_EXITS[1],
    INTERNAL,
};
constexpr ExitDecl EXPORT_EXITS[] = {
    {EXIT_OK, "written"},
    {EXIT_ERROR,
     "usage error (an output name it does not take among them); the file cannot be "
     "read or is not a valid protocol file; signal N missing or not an arbitrary "
     "signal; the output cannot be written"},
    INTERNAL,
};
constexpr ExitDecl DIFF_EXITS[] = {
    {EXIT_OK, "the records are identical"},
    {EXIT_FINDINGS, "they differ"},
    {EXIT_ERROR,
     "usage error; a file cannot be read or is not a valid protocol file; the output "
     "cannot be written"},
    INTERNAL,
};
constexpr ExitDecl PLOT_EXITS[] = {
    {EXIT_OK, "written"},
    {EXIT_ERROR,
     "usage error (a window it cannot draw among them); the file cannot be read or is not a "
     "valid protocol file; the output cannot be written"},
    INTERNAL,
};
constexpr ExitDecl SCRIPT_EXITS[] = {
    {EXIT_OK, "written"},
    {EXIT_ERROR,
     "usage error; the file cannot be read or is not a valid protocol file; the API "
     "cannot rebuild it; the output cannot be written"},
    INTERNAL,
};

constexpr CommandDecl COMMANDS[] = {
    {"show", "FILE [--json]", "print the protocol record in its text form, or as one JSON document",
     R"(Prints the protocol record in FILE in its text form: the same text that str()
of the Protocol it was saved from shows after "settings: " (there indented by
four more spaces). Arbitrary signals are listed sample by sample.)",
     SHOW_OPTIONS, SHOW_EXITS, run_show},
    {"summary", "FILE [--json]",
     "print a short summary: duration, intensity, samples, channels and their sources, signals",
     R"(Prints a short summary of the protocol in FILE: session duration, intensity,
sample count, each channel (enabled or not, its coil and coil setting, what
drives its two amplitude inputs and its modulation input) and one line per
signal.)",
     SUMMARY_OPTIONS, SHOW_EXITS, run_summary},
    {"check",
     "FILE",
     "report problems: sources or mixed-signal positions that name no signal, arbitrary "
     "signals of the wrong length, NaN or infinite parameters, values outside their limits, "
     "coil or setting positions out of range",
     R"(Reports, one line each, "FILE: problem" for:
  - a channel input whose internal source names no signal
  - a mixed signal whose a_idx or b_idx names no signal
  - an arbitrary signal whose sample count differs from the session's, or
    with stored samples outside their limits
  - a NaN or infinite signal parameter
  - an intensity or a session duration outside its limits
  - a channel's coil position or coil setting position out of range)",
     {},
     CHECK_EXITS,
     run_check},
    {"export", "FILE --signal N [-o OUTPUT]",
     "write arbitrary signal N's samples as CSV, or as a NumPy array",
     R"(Writes the samples of arbitrary signal N (its position in the signal list).
As CSV, one row per sample after the header "time_s,stored,normalised":
  time_s      the sample's time in seconds (position / 5000.0)
  stored      the stored 16-bit code (0..32767)
  normalised  the stored code / 32767.0, back in [0, 1]
As .npy, the stored codes as one int16 array, as vesk.load gives them.)",
     EXPORT_OPTIONS, EXPORT_EXITS, run_export},
    {"diff",
     "FILE1 FILE2",
     "print every field in which two protocol files differ, old and new value side by side",
     R"(Prints every difference between the protocol records in FILE1 and FILE2, one
line each, in field order. Signals and channel inputs are described as
`vesk summary` describes them; everything else is named by the same paths as
decoding errors. Floats are compared by their bits: the same NaN is equal,
-0.0 and 0.0 differ. Samples are never listed: one line gives how many
differ, the first and last position with its time, and the largest
difference.)",
     {},
     DIFF_EXITS,
     run_diff,
     2},
    {"plot", "FILE -o OUT.svg [--start S] [--end E]",
     "draw the session, or a window of it, one row per channel input, as a self-contained SVG "
     "picture",
     R"(Draws the session in FILE, or the window from S to E seconds, on one time
axis in seconds, as one self-contained SVG picture (no scripts, no external
references): a row for each of the six channel inputs (amplitude 1,
amplitude 2 and modulation of channels A and B), a disabled channel in grey.
Arbitrary signals are drawn as the lowest and highest stored value in each
of the 930 pixel columns, or sample by sample when the window holds no more
samples than that (0.186 s); the other kinds as labelled bands.)",
     PLOT_OPTIONS, PLOT_EXITS, run_plot},
    {"script", "FILE -o OUT.py",
     "write a Python script that rebuilds the protocol through the revevu API, samples in "
     "OUT.npz",
     R"(Writes a Python script that rebuilds the protocol in FILE through the revevu
API, to read, edit and run ("python OUT.py NEW.vesk"); unedited, it writes
NEW.vesk byte for byte equal to FILE. Arbitrary signals' stored codes go to
OUT.npz beside it; the script checks that they are the samples it was
written for (by their CRC-32) and stops with a message naming the .npz if
not. FILE is refused, with its first such field named, if it holds what no
sequence of calls produces.)",
     SCRIPT_OPTIONS, SCRIPT_EXITS, run_script},
};

constexpr ExitDecl EXIT_STATUSES[] = {
    {EXIT_OK, "success; for check: nothing to report; for diff: the records are identical"},
    {EXIT_FINDINGS, "check found something to report; for diff: the records differ"},
    {EXIT_ERROR,
     "usage error, or the file cannot be read or is not a valid protocol file; for "
     "script: the API cannot rebuild the protocol; for every command: the output "
     "cannot be written"},
    INTERNAL,
};

constexpr std::size_t WIDTH = 79;

// `text` as lines of at most WIDTH columns, the first after `first`, the rest
// indented by `indent` spaces. The texts are ASCII, so a byte is a column.
void put_wrapped(std::string& out, std::string_view first, std::size_t indent,
                 std::string_view text) {
    out += first;
    std::size_t column = first.size();
    bool line_empty = true;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view{} : text.substr(space + 1);
        if (!line_empty && column + 1 + word.size() > WIDTH) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
            line_empty = true;
        }
        if (!line_empty) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        line_empty = false;
    }
    out += '\n';
}

// A two-column list: each term, then its text wrapped beside it, in a column
// as wide as the widest term up to TERM_WIDTH; a wider term has its text start
// on the next line.
constexpr std::size_t TERM_WIDTH = 24;

template <typename Row, typename Term, typename Text>
void put_list(std::string& out, std::span<const Row> rows, Term term, Text text) {
    std::size_t widest = 0;
    for (const Row& row : rows) widest = std::max(widest, term(row).size());
    const std::size_t indent = std::min(widest, TERM_WIDTH) + 4;
    for (const Row& row : rows) {
        std::string first(2, ' ');
        first += term(row);
        if (first.size() + 2 > indent) {
            out += first;
            out += '\n';
            first.clear();
        }
        first.resize(indent, ' ');
        put_wrapped(out, first, indent, text(row));
    }
}

std::string option_term(const OptionDecl& option) {
    std::string term(option.spellings);
    if (!option.value.empty()) {
        term += ' ';
        term += option.value;
    }
    return term;
}

void put_exits(std::string& out, std::span<const ExitDecl> exits) {
    out += "exit status:\n";
    put_list(
        out, exits, [](const ExitDecl& e) { return std::to_string(e.status); },
        [](const ExitDecl& e) { return e.meaning; });
}

}  // namespace

const OptionDecl* CommandDecl::option(OptionKind kind) const {
    for (const OptionDecl& declared : options) {
        if (declared.kind == kind) return &declared;
    }
    return nullptr;
}

std::span<const CommandDecl> commands() {
    return COMMANDS;
}

std::span<const ExitDecl> exit_statuses() {
    return EXIT_STATUSES;
}

std::vector<std::string_view> OptionDecl::names() const {
    std::vector<std::string_view> out;
    std::string_view rest = spellings;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(", ");
        out.push_back(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 2);
    }
    return out;
}

std::string main_help() {
    std::string out = "usage: vesk COMMAND [OPTIONS] FILE\n\n";
    out += PROGRAM_PURPOSE;
    out += "\n\ncommands:\n";
    put_list(
        out, commands(),
        [](const CommandDecl& c) {
            std::string term(c.name);
            term += ' ';
            return term += c.synopsis;
        },
        [](const CommandDecl& c) { return c.summary; });
    out += '\n';
    out += REPLACEMENT_NOTE;
    out +=
        "\n\nRun 'vesk COMMAND --help' for more about a command, 'vesk --version' for the\n"
        "version. 'vesk --man-page' prints the manual page and 'vesk --completion SHELL'\n"
        "the completion script for bash or zsh; pip installs both beside vesk.\n\n";
    put_exits(out, exit_statuses());
    return out;
}

std::string command_help(const CommandDecl& command) {
    std::string out = "usage: vesk ";
    for (const std::string_view part :
         {command.name, std::string_view(" "), command.synopsis, std::string_view("\n\n"),
          command.description, std::string_view("\n\n")}) {
        out += part;
    }
    if (!command.options.empty()) {
        out += "options:\n";
        put_list(out, command.options, option_term, [](const OptionDecl& o) {
            return o.required ? std::string(o.help) + " (required)" : std::string(o.help);
        });
        out += '\n';
    }
    put_exits(out, command.exits);
    return out;
}

}  // namespace vesk
