// vesk: reads .vesk protocol files back (show, summary, check, export, diff, plot,
// script).
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "command_table.hpp"
#include "exit_signals.hpp"
#include "load.hpp"
#include "manual_page.hpp"
#include "shell_completion.hpp"

namespace vesk {
namespace {

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

template <typename Number>
bool parse_number(std::string_view text, Number& out) {
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

// The --start or --end that `arg` is spelled as, among the command's options.
const OptionDecl* window_option(const CommandDecl& command, std::string_view arg) {
    for (const OptionKind kind : {OptionKind::Start, OptionKind::End}) {
        const OptionDecl* declared = command.option(kind);
        if (declared && arg.starts_with(declared->spellings)) return declared;
    }
    return nullptr;
}

// Parses the arguments after the command name, taking the options the
// command declares. Returns -1 to go on and run the command, or the exit
// status to end with.
int parse(const CommandDecl& command, int argc, char** argv, Args& args) {
    int files = 0;
    bool options_done = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool option = !options_done && arg.size() > 1 && arg[0] == '-';
        const char* value = nullptr;
        if (option && (arg == "-h" || arg == "--help")) {
            std::fputs(command_help(command).c_str(), stdout);
            return EXIT_OK;
        } else if (option && arg == "--") {
            options_done = true;
        } else if (option && command.option(OptionKind::Json) && arg == "--json") {
            args.json = true;
        } else if (option && command.option(OptionKind::Signal) &&
                   option_value("--signal", i, argc, argv, value)) {
            std::uint64_t n;
            if (value == nullptr || !parse_number(value, n)) {
                return usage_error(command.name, "--signal needs a signal position (0, 1, ...)");
            }
            args.signal = n;
        } else if (const OptionDecl* bound = window_option(command, arg);
                   option && bound && option_value(bound->spellings, i, argc, argv, value)) {
            double seconds;
            if (value == nullptr || !parse_number(value, seconds)) {
                return usage_error(command.name,
                                   std::string(bound->spellings) + " needs a number of seconds");
            }
            (bound->kind == OptionKind::Start ? args.start : args.end) = seconds;
        } else if (option && command.option(OptionKind::Output) &&
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
    const OptionDecl* output = command.option(OptionKind::Output);
    if (output && output->required && args.output.empty()) {
        return usage_error(command.name, "-o OUTPUT is required");
    }
    const OptionDecl* signal = command.option(OptionKind::Signal);
    if (signal && signal->required && !args.signal) {
        return usage_error(command.name, "--signal N is required");
    }
    return -1;
}

int run(int argc, char** argv) {
    if (argc < 2) return usage_error({}, "no command given");
    const std::string_view name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        std::fputs(main_help().c_str(), stdout);
        return EXIT_OK;
    }
    if (name == "--version") {
        std::printf("vesk %s\n", VESK_VERSION);
        return EXIT_OK;
    }
    if (name == "--man-page") {
        std::fputs(manual_page(VESK_VERSION).c_str(), stdout);
        return EXIT_OK;
    }
    if (name == "--completion") {
        const std::optional<std::string> script =
            argc == 3 ? completion_script(argv[2]) : std::nullopt;
        if (!script) return usage_error({}, "--completion needs a shell: bash or zsh");
        std::fputs(script->c_str(), stdout);
        return EXIT_OK;
    }
    for (const CommandDecl& command : commands()) {
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
