// The public-API calls that rebuild a protocol record exactly: on a new
// revevu.Protocol(), made with VESK_TARGET_MACHINE set or cleared as the plan
// says, the calls in order give a protocol whose save() writes the record's
// bytes and whose str() is its text form. A record that no sequence of calls
// can produce is refused, naming the first field in declaration order that
// stands in the way.
//
// The plan is data, so that a binding can execute it call by call:
// getattr(protocol, method)(**{keyword: value}), where an EnumMember is
// getattr(revevu.<type>, <member>) and StoredSamples is the float64 array of
// that signal's stored codes divided by 32767.0 (which add_arbitrary_signal
// quantises back to the same codes). save() is not part of the plan.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "protocols/settings.hpp"

namespace vesk {

struct EnumMember {
    std::string_view type;    // "Coil", "Channel"
    std::string_view member;  // "A1", "B"
    bool operator==(const EnumMember&) const = default;
};

// The stored codes of signal `signal` (an Arbitrary one), / 32767.0.
struct StoredSamples {
    std::uint64_t signal = 0;
    bool operator==(const StoredSamples&) const = default;
};

using ArgumentValue = std::variant<double, std::uint64_t, bool, EnumMember, StoredSamples>;

struct Argument {
    std::string_view keyword;  // the API's parameter name
    ArgumentValue value;
};

struct ApiCall {
    std::string_view method;  // a revevu.Protocol method
    std::vector<Argument> arguments;
    std::string comment;  // one line, for a reader of the script; may be empty
};

struct RebuildPlan {
    bool running_on_target_machine = false;  // VESK_TARGET_MACHINE set for Protocol()
    std::vector<ApiCall> calls;              // after Protocol(), in order
};

// Why a record cannot be rebuilt: the field's path as decoding errors name it
// ("machine_config.coils[0].name", "signals[3].Arbitrary.samples[17]"), its
// value as the text form shows it, and the API's rule that excludes it.
struct NotReproducible {
    std::string field;
    std::string value;
    std::string reason;

    // "FIELD = VALUE: REASON"
    std::string message() const;
};

std::variant<RebuildPlan, NotReproducible> plan_rebuild(const protocols::Settings& settings);

// The positions of the signals whose stored samples the plan passes, in the
// order of its calls.
std::vector<std::uint64_t> stored_sample_signals(const RebuildPlan& plan);

// The values StoredSamples stands for: values[i] = codes[i] / 32767.0, which
// add_arbitrary_signal quantises back to codes[i]. `values` has codes.size()
// elements.
void stored_sample_values(std::span<const std::int16_t> codes, double* values);

// The times of samples first .. first + count - 1 in seconds from the
// session's start: values[k] = (first + k) / 5000.0, exactly.
void sample_times(std::size_t first, std::size_t count, double* values);

// A session duration within the setter's limits whose sample count is exactly
// `samples`, or none. The closest to samples / 5000.0 that gives it.
std::optional<double> duration_for_samples(std::uint64_t samples);

}  // namespace vesk
