// What `vesk check` finds in a record.
#pragma once

#include <string>
#include <vector>

#include "protocols/settings.hpp"

namespace vesk {

// One problem of a record.
struct Finding {
    // The field it is in, as decoding errors name fields: "intensity",
    // "channel_a_settings.amplitude2_source.internal",
    // "signals[0].Arbitrary.samples[5]" (the first stored sample outside).
    std::string path;
    // What is wrong, as the command prints it after "FILE: ".
    std::string problem;

    bool operator==(const Finding&) const = default;
};

// Every problem, in a fixed order: the limits, the channels, the signals.
std::vector<Finding> find_problems(const protocols::Settings& settings);

}  // namespace vesk
