// A rebuild plan as a short Python script that a researcher can read and
// edit: the plan's calls on a new revevu.Protocol, one a line, with keyword
// arguments and enumeration members, then save() to the path given on its
// command line. Arbitrary samples come from the .npz file beside the script,
// named after it, so the text does not depend on where the script is written;
// the script checks that they are the samples it was written for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/settings.hpp"
#include "rebuild.hpp"

namespace vesk {

// `stored_codes_crc` is stored_codes_crc32(...).all of the plan's
// stored_sample_signals. `source_name` is shown in the docstring, quoted and
// escaped (it may come from anywhere); the command passes the last component
// of FILE.
std::string script_text(const RebuildPlan& plan, std::uint32_t stored_codes_crc,
                        std::string_view source_name);

// CRC-32 (as zlib's crc32 computes it) of the stored codes of each of
// `signals`, all Arbitrary, as little-endian int16 values, and of all of them
// one signal after the other: what the script compares the .npz's arrays
// with, in the same order. One pass over the codes.
struct StoredCodesCrc {
    std::vector<std::uint32_t> each;
    std::uint32_t all = 0;
};
StoredCodesCrc stored_codes_crc32(const protocols::Settings& settings,
                                  const std::vector<std::uint64_t>& signals);

// The .npz entry of arbitrary signal `signal`, without ".npy": "signal_3".
std::string npz_array_name(std::uint64_t signal);

// A Python expression for `value` that gives back its exact bits:
// "0.1", "1e16", "-0.0", "float(\"nan\")", "-float(\"inf\")", and for any NaN
// other than float("nan") and its negation "float_from_bits(0x...)", which
// needs the script's helper of that name.
std::string python_float(double value);

}  // namespace vesk
