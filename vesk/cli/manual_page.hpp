// The manual page of `vesk` (roff, man(7) macros), written from the command
// table, as `--help` is, so that the two say the same.
#pragma once

#include <string>
#include <string_view>

namespace vesk {

// `version` is what `vesk --version` prints after "vesk ".
std::string manual_page(std::string_view version);

}  // namespace vesk
