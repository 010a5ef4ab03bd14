#include "manual_page.hpp"

#include <string_view>

#include "command_table.hpp"

namespace vesk {
namespace {

// `text` as roff input: backslashes and hyphens escaped (so that options
// print as the ASCII hyphen a shell takes), and a line that would start with
// a control character guarded.
std::string roff(std::string_view text) {
    std::string out;
    bool line_start = true;
    for (const char c : text) {
        if (line_start && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
        line_start = c == '\n';
    }
    return out;
}

// A description as the table holds it: paragraphs apart by a blank line, each
// wrapped for the terminal, and lines indented by two spaces (lists, tables)
// kept as they are. Wrapped lines are filled again by the formatter.
void put_description(std::string& out, std::string_view text) {
    bool verbatim = false;
    out += ".PP\n";
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const bool indented = line.starts_with("  ");
        if (indented != verbatim) {
            out += indented ? ".nf\n" : ".fi\n";
            verbatim = indented;
        }
        if (line.empty()) {
            out += verbatim ? "\n" : ".PP\n";
        } else {
            out += roff(line);
            out += '\n';
        }
    }
    if (verbatim) out += ".fi\n";
}

// A compact list (.PD 0: no blank line between its entries).
void put_exits(std::string& out, std::span<const ExitDecl> exits) {
    out += ".PD 0\n";
    for (const ExitDecl& exit : exits) {
        out += ".TP\n.B ";
        out += std::to_string(exit.status);
        out += '\n';
        out += roff(exit.meaning);
        out += '\n';
    }
    out += ".PD\n";
}

void put_command(std::string& out, const CommandDecl& command) {
    out += ".SS \"vesk ";
    out += roff(command.name);
    out += ' ';
    out += roff(command.synopsis);
    out += "\"\n";
    put_description(out, command.description);
    for (const OptionDecl& option : command.options) {
        out += ".TP\n";
        bool first = true;
        for (const std::string_view name : option.names()) {
            out += first ? "\\fB" : ", \\fB";
            out += roff(name);
            out += "\\fR";
            if (!option.value.empty()) {
                out += " \\fI";
                out += roff(option.value);
                out += "\\fR";
            }
            first = false;
        }
        out += '\n';
        out += roff(option.help);
        if (option.required) out += " (required)";
        out += '\n';
    }
    out += ".PP\nExit status:\n";
    put_exits(out, command.exits);
}

}  // namespace

std::string manual_page(std::string_view version) {
    std::string out = ".TH VESK 1 \"\" \"vesk ";
    out += roff(version);
    out += "\" \"User Commands\"\n";
    out += ".SH NAME\nvesk \\- read .vesk protocol files back\n";
    out += ".SH SYNOPSIS\n.B vesk\n.I COMMAND\n[\\fIOPTIONS\\fR] \\fIFILE\\fR\n.br\n";
    out += ".B vesk\n.I COMMAND\n\\fB\\-\\-help\\fR\n.br\n";
    out +=
        ".B vesk\n\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR | \\fB\\-\\-man\\-page\\fR | "
        "\\fB\\-\\-completion\\fR \\fIbash\\fR|\\fIzsh\\fR\n";
    out += ".SH DESCRIPTION\n";
    put_description(out, PROGRAM_PURPOSE);
    put_description(out, REPLACEMENT_NOTE);
    out += ".SH COMMANDS\n";
    for (const CommandDecl& command : commands()) put_command(out, command);
    out += ".SH EXIT STATUS\n";
    put_exits(out, exit_statuses());
    return out;
}

}  // namespace vesk
