// An input that holds this mark is also read as two protocol files, the bytes
// before it and after it, which the fuzzer diffs.
#pragma once

#include <string_view>

inline constexpr std::string_view PAIR_MARK = "|vesk diff|";
