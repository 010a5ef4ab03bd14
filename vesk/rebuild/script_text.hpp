// A rebuild plan as a short Python script that a researcher can read and
// edit: the plan's calls on a new revevu.Protocol, one a line, with keyword
// arguments and enumeration members, then save() to the path given on its
// command line. Arbitrary samples come from the .npz file beside the script,
// named after it, so the text does not depend on where the script is written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rebuild.hpp"

namespace vesk {

// `source_name` is shown in the docstring, quoted and escaped (it may come
// from anywhere); the command passes the last component of FILE.
std::string script_text(const RebuildPlan& plan, std::string_view source_name);

// The .npz entry of arbitrary signal `signal`, without ".npy": "signal_3".
std::string npz_array_name(std::uint64_t signal);

// A Python expression for `value` that gives back its exact bits:
// "0.1", "1e16", "-0.0", "float(\"nan\")", "-float(\"inf\")", and for any NaN
// other than float("nan") and its negation "float_from_bits(0x...)", which
// needs the script's helper of that name.
std::string python_float(double value);

}  // namespace vesk
