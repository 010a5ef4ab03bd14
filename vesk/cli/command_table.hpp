// Every command of `vesk`, declared once: its name, usage, options and exit
// statuses. The argument parser takes its options from here and `--help` is
// printed from here, so the two cannot drift apart.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands.hpp"

namespace vesk {

// What an option sets in Args.
enum class OptionKind { Json, Signal, Output, Start, End };

struct OptionDecl {
    OptionKind kind;
    std::string_view spellings;  // "-o, --output": the short one first
    std::string_view value;      // "PATH", "N", or "" for a flag
    std::string_view help;       // one paragraph, wrapped when printed
    bool required = false;

    // Each spelling alone: "-o", then "--output".
    std::vector<std::string_view> names() const;
    // Whether the value names a file (the completions offer files for it).
    bool takes_path() const { return value == "PATH"; }
};

struct ExitDecl {
    int status;
    std::string_view meaning;  // one paragraph, wrapped when printed
};

struct CommandDecl {
    std::string_view name;
    std::string_view synopsis;     // after "vesk NAME ": "FILE [--json]"
    std::string_view summary;      // one phrase for `vesk --help`
    std::string_view description;  // paragraphs, as printed
    std::span<const OptionDecl> options;
    std::span<const ExitDecl> exits;
    int (*run)(const Args&);
    int file_count = 1;  // diff compares two

    const OptionDecl* option(OptionKind kind) const;
};

std::span<const CommandDecl> commands();

// The statuses every command shares, for `vesk --help`.
std::span<const ExitDecl> exit_statuses();

// What the program does, and how it replaces a file named with -o: the
// opening and closing of `vesk --help` and of the manual page.
inline constexpr std::string_view PROGRAM_PURPOSE =
    "Reads a .vesk protocol file back and shows or checks what it holds.";
inline constexpr std::string_view REPLACEMENT_NOTE =
    "A file named with -o takes the place of an old one only once it is complete\n"
    "and flushed to disk, and nothing is left behind on failure.";

// What `vesk --help` and `vesk NAME --help` print.
std::string main_help();
std::string command_help(const CommandDecl& command);

}  // namespace vesk
