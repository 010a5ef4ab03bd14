#include "shell_completion.hpp"

#include "command_table.hpp"

namespace vesk {
namespace {

// The options `vesk` takes in place of a command.
struct TopOption {
    std::string_view name;
    std::string_view help;
};
constexpr TopOption TOP_OPTIONS[] = {
    {"--help", "print the commands and exit statuses"},
    {"--version", "print the version"},
    {"--man-page", "print the manual page"},
    {"--completion", "print the completion script for bash or zsh"},
};
constexpr std::string_view SHELLS = "bash zsh";

// The first phrase of a help text, short enough for a completion menu.
std::string_view phrase(std::string_view help) {
    return help.substr(0, help.find_first_of(",;:("));
}

// `text` inside a single-quoted shell word.
std::string quoted(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out;
}

// `text` as the description of a zsh _arguments or _describe entry.
std::string zsh_description(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '[' || c == ']' || c == ':' || c == '\\') out += '\\';
        out += c;
    }
    return quoted(out);
}

void append_word(std::string& list, std::string_view word) {
    if (!list.empty()) list += ' ';
    list += word;
}

std::string bash_script() {
    std::string out =
        "# bash completion for vesk, written by 'vesk --completion bash'.\n"
        "_vesk() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    local options= paths= values=\n"
        "    if ((COMP_CWORD == 1)); then\n"
        "        mapfile -t COMPREPLY < <(compgen -W '";
    std::string words;
    for (const CommandDecl& command : commands()) append_word(words, command.name);
    for (const TopOption& option : TOP_OPTIONS) append_word(words, option.name);
    out += words;
    out +=
        "' -- \"$cur\")\n"
        "        return\n"
        "    fi\n"
        "    case ${COMP_WORDS[1]} in\n";
    for (const CommandDecl& command : commands()) {
        std::string options, paths, values;
        for (const OptionDecl& option : command.options) {
            for (const std::string_view name : option.names()) {
                append_word(options, name);
                if (option.takes_path()) {
                    append_word(paths, name);
                } else if (!option.value.empty()) {
                    append_word(values, name);
                }
            }
        }
        out += "    ";
        out += command.name;
        out += ") options='";
        out += options;
        out += "' paths='";
        out += paths;
        out += "' values='";
        out += values;
        out += "' ;;\n";
    }
    out +=
        "    --completion)\n        ((COMP_CWORD == 2)) && mapfile -t COMPREPLY < <(compgen -W '";
    out += SHELLS;
    out +=
        "' -- \"$cur\")\n"
        "        return ;;\n"
        "    *) return ;;\n"
        "    esac\n"
        "    case \" $paths \" in *\" $prev \"*)\n"
        "        mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
        "        return ;;\n"
        "    esac\n"
        "    case \" $values \" in *\" $prev \"*) return ;; esac\n"
        "    if [[ $cur == -* ]]; then\n"
        "        mapfile -t COMPREPLY < <(compgen -W \"$options --help\" -- \"$cur\")\n"
        "    else\n"
        "        mapfile -t COMPREPLY < <(compgen -d -- \"$cur\"; compgen -f -X '!*.vesk' -- "
        "\"$cur\")\n"
        "    fi\n"
        "}\n"
        "complete -o filenames -F _vesk vesk\n";
    return out;
}

void put_zsh_option(std::string& out, const OptionDecl& option) {
    const std::vector<std::string_view> names = option.names();
    out += "            ";
    if (names.size() > 1) {
        out += "'(";
        for (const std::string_view name : names) {
            out += name;
            out += name == names.back() ? ")'" : " ";
        }
        out += '{';
    }
    for (const std::string_view name : names) {
        out += name;
        // -o takes its value in the next word or joined; --output also after '='.
        if (!option.value.empty()) out += name.starts_with("--") ? "=" : "+";
        if (names.size() > 1) out += name == names.back() ? "}" : ",";
    }
    out += "'[";
    out += zsh_description(phrase(option.help));
    out += "]";
    if (!option.value.empty()) {
        out += ':';
        out += option.value;
        out += option.takes_path() ? ":_files" : ": ";
    }
    out += "' \\\n";
}

// One "name:description" entry of a list that zsh's _describe offers.
void put_zsh_entry(std::string& out, std::string_view name, std::string_view description) {
    out += "    '";
    out += name;
    out += ':';
    out += quoted(description);
    out += "'\n";
}

std::string zsh_script() {
    std::string out =
        "#compdef vesk\n"
        "# zsh completion for vesk, written by 'vesk --completion zsh'.\n"
        "local -a vesk_commands vesk_options\n"
        "vesk_commands=(\n";
    for (const CommandDecl& command : commands()) {
        put_zsh_entry(out, command.name, phrase(command.summary));
    }
    out += ")\nvesk_options=(\n";
    for (const TopOption& option : TOP_OPTIONS) put_zsh_entry(out, option.name, option.help);
    out +=
        ")\n"
        "if ((CURRENT == 2)); then\n"
        "    if [[ $PREFIX == -* ]]; then\n"
        "        _describe -t options 'vesk option' vesk_options\n"
        "    else\n"
        "        _describe -t commands 'vesk command' vesk_commands\n"
        "    fi\n"
        "    return\n"
        "fi\n"
        "shift words\n"
        "((CURRENT--))\n"
        "case $words[1] in\n";
    for (const CommandDecl& command : commands()) {
        out += "    ";
        out += command.name;
        out += ")\n        _arguments -s \\\n";
        for (const OptionDecl& option : command.options) put_zsh_option(out, option);
        out += "            '(- *)'{-h,--help}'[print the help of ";
        out += command.name;
        out += "]' \\\n";
        for (int file = 1; file <= command.file_count; ++file) {
            out += "            '";
            out += std::to_string(file);
            out += ":protocol file:_files -g \"*.vesk(-.)\"'";
            out += file == command.file_count ? "\n" : " \\\n";
        }
        out += "        ;;\n";
    }
    out += "    --completion)\n        ((CURRENT == 2)) && _values 'shell' ";
    out += SHELLS;
    out += "\n        ;;\nesac\n";
    return out;
}

}  // namespace

std::optional<std::string> completion_script(std::string_view shell) {
    if (shell == "bash") return bash_script();
    if (shell == "zsh") return zsh_script();
    return std::nullopt;
}

}  // namespace vesk
