// Completion scripts for bash and zsh, written from the command table, so
// that a shell offers exactly the commands and options `vesk` takes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

// The script for `shell` ("bash" or "zsh"), or nothing for another shell.
std::optional<std::string> completion_script(std::string_view shell);

}  // namespace vesk
