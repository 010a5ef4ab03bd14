#include "rebuild.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <type_traits>

#include "describe.hpp"
#include "protocols/config.hpp"
#include "protocols/cpu_features.hpp"
#include "protocols/field_path.hpp"
#include "protocols/float_bits.hpp"
#include "protocols/routing_inputs.hpp"
#include "protocols/signals.hpp"
#include "value_text.hpp"

namespace vesk {

using namespace protocols;

std::string NotReproducible::message() const {
    return field + " = " + value + ": " + reason;
}

namespace {

[[gnu::always_inline]] inline void convert_samples(std::span<const std::int16_t> codes,
                                                   double* values) {
    const std::int16_t* const from = codes.data();
    for (std::size_t i = 0; i < codes.size(); ++i) {
        values[i] = static_cast<double>(from[i]) / config::SAMPLE_SCALE;
    }
}

// values[k] = (first + k) / 5000.0. A sample's position is a double exactly
// (it is below 2**53), and so is the sum of a block's start and an offset of
// 32 bits, which converts in vector registers, where one of 64 bits does not
// before AVX-512.
[[gnu::always_inline]] inline void fill_times(std::size_t first, std::size_t count,
                                              double* values) {
    constexpr std::size_t BLOCK = std::size_t{1} << 30;
    for (std::size_t done = 0; done < count; done += BLOCK) {
        const auto length = static_cast<std::int32_t>(std::min(BLOCK, count - done));
        const auto start = static_cast<double>(first + done);
        double* const out = values + done;
        for (std::int32_t k = 0; k < length; ++k) {
            out[k] = (start + static_cast<double>(k)) / config::SAMPLING_RATE;
        }
    }
}

// Built for the SSE2 baseline and for AVX2, picked where the processor has it:
// the conversions and divisions are bound by instruction count, which AVX2
// halves (about 3.5 instead of 6 ms for 9M samples).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VESK_SAMPLE_VALUES_AVX2 1
__attribute__((target("avx2"))) void convert_samples_avx2(std::span<const std::int16_t> codes,
                                                          double* values) {
    convert_samples(codes, values);
}
__attribute__((target("avx2"))) void fill_times_avx2(std::size_t first, std::size_t count,
                                                     double* values) {
    fill_times(first, count, values);
}
#endif

}  // namespace

void stored_sample_values(std::span<const std::int16_t> codes, double* values) {
#ifdef VESK_SAMPLE_VALUES_AVX2
    if (cpu_features().avx2) return convert_samples_avx2(codes, values);
#endif
    convert_samples(codes, values);
}

void sample_times(std::size_t first, std::size_t count, double* values) {
#ifdef VESK_SAMPLE_VALUES_AVX2
    if (cpu_features().avx2) return fill_times_avx2(first, count, values);
#endif
    fill_times(first, count, values);
}

std::optional<double> duration_for_samples(std::uint64_t samples) {
    // sample_count rises with the duration, and near samples / 5000.0 it steps
    // within a few units in the last place, so a short walk finds the edge.
    constexpr int MAX_STEPS = 64;
    constexpr double INF = std::numeric_limits<double>::infinity();
    double duration = static_cast<double>(samples) / config::SAMPLING_RATE;
    for (int i = 0; i < MAX_STEPS && sample_count(duration) > samples; ++i) {
        duration = std::nextafter(duration, -INF);
    }
    for (int i = 0; i < MAX_STEPS && sample_count(duration) < samples; ++i) {
        duration = std::nextafter(duration, INF);
    }
    // Out of the setter's range, one of its ends may still give the count.
    duration = std::clamp(duration, config::SESSION_DURATION.low, config::SESSION_DURATION.high);
    if (sample_count(duration) != samples) return std::nullopt;
    return duration;
}

namespace {

// What a new Protocol holds, but for its (empty) signal list.
const Settings& library_defaults() {
    static const Settings defaults;
    return defaults;
}

// The method that appends each kind of signal.
template <typename Params>
constexpr std::string_view ADD_METHOD = {};
template <>
constexpr std::string_view ADD_METHOD<ConstantSignalParams> = "add_constant_signal";
template <>
constexpr std::string_view ADD_METHOD<SineSignalParams> = "add_sine_signal";
template <>
constexpr std::string_view ADD_METHOD<RampSignalParams> = "add_ramp_signal";
template <>
constexpr std::string_view ADD_METHOD<MixedSignalParams> = "add_mixed_signal";
template <>
constexpr std::string_view ADD_METHOD<ArbitrarySignalParams> = "add_arbitrary_signal";

// add_sine_signal's phase and depth may be left out; the record's defaults
// are the API's.
template <typename Params>
bool has_api_default(std::string_view keyword) {
    return std::is_same_v<Params, SineSignalParams> &&
           (keyword == field_name<&SineSignalParams::phase>() ||
            keyword == field_name<&SineSignalParams::depth>());
}

// Walks the record beside the library's default one, field by field in
// declaration order. Each field either becomes calls or is checked to hold
// what a new Protocol holds; the first field that can be neither stops it.
class Planner {
public:
    explicit Planner(const Settings& settings) : settings_(settings) {}

    std::variant<RebuildPlan, NotReproducible> run() {
        for_each_field_pair(settings_, library_defaults(),
                            [&](std::string_view name, const auto& value, const auto& fallback) {
                                if (refusal_) return;
                                const std::size_t mark = path_.enter(name);
                                top_level_field(name, value, fallback);
                                path_.leave(mark);
                            });
        if (refusal_) return *std::move(refusal_);
        return std::move(plan_);
    }

private:
    template <typename T>
    void top_level_field(std::string_view name, const T& value, const T& fallback) {
        if constexpr (std::is_same_v<T, bool>) {
            if (name == field_name<&Settings::running_on_target_machine>()) {
                plan_.running_on_target_machine = value;
                return;
            }
        } else if constexpr (std::is_same_v<T, double>) {
            if (name == field_name<&Settings::intensity>()) return intensity(value);
            if (name == field_name<&Settings::session_duration>()) return session_duration(value);
        } else if constexpr (std::is_same_v<T, std::vector<Signal>>) {
            return signals(value);
        } else if constexpr (std::is_same_v<T, ChannelSettings>) {
            return channel(name, value, fallback);
        }
        fixed(value, fallback);
    }

    void refuse(std::string value, std::string reason) {
        if (!refusal_)
            refusal_ = NotReproducible{path_.text(), std::move(value), std::move(reason)};
    }

    void call(std::string_view method, std::vector<Argument> arguments, std::string comment = {}) {
        plan_.calls.push_back(ApiCall{method, std::move(arguments), std::move(comment)});
    }

    // ---- Fields no method writes: they must hold what a new Protocol holds.

    template <Record R>
    void fixed(const R& value, const R& fallback) {
        for_each_field_pair(value, fallback,
                            [&](std::string_view name, const auto& a, const auto& b) {
                                if (refusal_) return;
                                const std::size_t mark = path_.enter(name);
                                fixed(a, b);
                                path_.leave(mark);
                            });
    }

    template <typename T, typename A>
    void fixed(const std::vector<T, A>& value, const std::vector<T, A>& fallback) {
        if (value.size() != fallback.size()) {
            return refuse(entries(value.size()), unchanged_reason_text(entries(fallback.size())));
        }
        fixed_elements(value, fallback);
    }

    template <typename T, std::size_t N>
    void fixed(const std::array<T, N>& value, const std::array<T, N>& fallback) {
        fixed_elements(value, fallback);
    }

    template <typename List>
    void fixed_elements(const List& value, const List& fallback) {
        for (std::size_t i = 0; i < value.size() && !refusal_; ++i) {
            const std::size_t mark = path_.enter(i);
            fixed(value[i], fallback[i]);
            path_.leave(mark);
        }
    }

    // Floats by their bits: -0.0 is not 0.0, and a NaN is only itself.
    void fixed(double value, double fallback) {
        if (!same_bits(value, fallback)) refuse(value_text(value), unchanged_reason(fallback));
    }

    template <typename T>
    void fixed(const T& value, const T& fallback) {
        if (value != fallback) refuse(value_text(value), unchanged_reason(fallback));
    }

    template <typename T>
    static std::string unchanged_reason(const T& fallback) {
        return unchanged_reason_text(value_text(fallback));
    }
    static std::string unchanged_reason_text(const std::string& fallback) {
        return "no method changes it from what a new Protocol holds (" + fallback + ")";
    }
    static std::string entries(std::size_t count) {
        return std::to_string(count) + (count == 1 ? " entry" : " entries");
    }

    // ---- Fields the setters write.

    void intensity(double value) {
        if (!config::INTENSITY.contains(value)) {
            return refuse(value_text(value),
                          "set_stimulation_intensity accepts only " + config::INTENSITY.text());
        }
        if (!same_bits(value, library_defaults().intensity)) {
            call("set_stimulation_intensity", {{"intensity", value}});
        }
    }

    // Set where the signals are planned: arbitrary signals may need others first.
    void session_duration(double value) {
        if (!config::SESSION_DURATION.contains(value)) {
            refuse(value_text(value) + " s",
                   "set_session_duration accepts only " + config::SESSION_DURATION.text());
        }
    }

    void set_duration(double value, std::string comment) {
        call("set_session_duration", {{"duration", value}}, std::move(comment));
        duration_ = value;
    }

    void signals(const std::vector<Signal>& list) {
        if (list.empty()) return refuse("[]", "save never writes an empty signal list");
        const double file_duration = settings_.session_duration;
        const ArbitrarySignalParams* first_arbitrary = nullptr;
        for (const Signal& signal : list) {
            first_arbitrary = std::get_if<ArbitrarySignalParams>(&signal);
            if (first_arbitrary != nullptr) break;
        }
        // The file's own duration up front, unless the first arbitrary signal
        // needs another one first.
        if (!same_bits(file_duration, duration_) &&
            (first_arbitrary == nullptr ||
             first_arbitrary->samples.size() == sample_count(file_duration))) {
            set_duration(file_duration, {});
        }
        for (std::size_t i = 0; i < list.size() && !refusal_; ++i) {
            const std::size_t mark = path_.enter(i);
            std::visit([&](const auto& params) { signal(i, params); }, list[i]);
            path_.leave(mark);
        }
        if (!refusal_ && !same_bits(duration_, file_duration)) {
            set_duration(file_duration, "the session's own duration");
        }
    }

    template <typename Params>
    void signal(std::size_t position, const Params& params) {
        const std::size_t mark = path_.enter(Params::variant_name);
        std::string comment = "signal " + std::to_string(position) + ": ";
        std::vector<Argument> arguments;
        if constexpr (std::is_same_v<Params, ArbitrarySignalParams>) {
            const std::size_t length = params.samples.size();
            if (!sized_for(params.samples)) return path_.leave(mark);
            comment += arbitrary_text(length);
            arguments.push_back({"samples", StoredSamples{position}});
        } else {
            comment += Params::variant_name;
            static const Params api_defaults{};
            for_each_field_pair(
                params, api_defaults,
                [&](std::string_view name, const auto& value, const auto& fallback) {
                    using T = std::remove_cvref_t<decltype(value)>;
                    if constexpr (std::is_same_v<T, double>) {
                        if (has_api_default<Params>(name) && same_bits(value, fallback)) {
                            return;
                        }
                    }
                    arguments.push_back({name, ArgumentValue(value)});
                });
        }
        path_.leave(mark);
        call(ADD_METHOD<Params>, std::move(arguments), std::move(comment));
    }

    // Checks an arbitrary signal's codes and length, and sets a duration that
    // gives its length when the current one does not.
    bool sized_for(const Samples& samples) {
        const std::size_t mark = path_.enter(field_name<&ArbitrarySignalParams::samples>());
        if (stored_range(samples).low < config::STORED_CODE.low) {
            std::size_t first = 0;
            while (config::STORED_CODE.contains(samples[first])) ++first;
            path_.enter(first);
            refuse(std::to_string(samples[first]),
                   "add_arbitrary_signal stores only " + config::STORED_CODE.text());
        } else if (sample_count(duration_) != samples.size()) {
            const double file_duration = settings_.session_duration;
            std::optional<double> duration = sample_count(file_duration) == samples.size()
                                                 ? file_duration
                                                 : duration_for_samples(samples.size());
            if (duration) {
                set_duration(*duration,
                             "gives the next signal its " + plural(samples.size(), "sample"));
            } else {
                refuse(value_text(samples), "no session duration in " +
                                                config::SESSION_DURATION.text() + " gives " +
                                                plural(samples.size(), "sample"));
            }
        }
        path_.leave(mark);
        return !refusal_;
    }

    void channel(std::string_view channel_field, const ChannelSettings& value,
                 const ChannelSettings& fallback) {
        for_each_field_pair(
            value, fallback, [&](std::string_view name, const auto& a, const auto& b) {
                if (refusal_) return;
                using T = std::remove_cvref_t<decltype(a)>;
                const std::size_t mark = path_.enter(name);
                if constexpr (std::is_same_v<T, SignalSourceSelection>) {
                    source(*find_routing_input(channel_field, name), a, b);
                } else if constexpr (std::is_same_v<T, bool>) {
                    if (a && !b) {  // enable_channel can only switch a channel on
                        const RoutingInput& named_by = *modulation_input(channel_field);
                        call("enable_channel", {{named_by.keyword, EnumMember{named_by.enum_class(),
                                                                              named_by.member()}}});
                    } else {
                        fixed(a, b);
                    }
                } else {
                    fixed(a, b);
                }
                path_.leave(mark);
            });
    }

    void source(const RoutingInput& input, const SignalSourceSelection& value,
                const SignalSourceSelection& fallback) {
        if (value == fallback) return;
        if (!setter_form(value)) {
            return refuse(value_text(value),
                          std::string(input.setter) +
                              " writes internal signal n as (n, 0, false) and external "
                              "source n as (0, n, true)");
        }
        std::vector<Argument> arguments{
            {input.keyword, EnumMember{input.enum_class(), input.member()}},
            {"index", value.external_selected ? value.external : value.internal}};
        if (value.external_selected) arguments.push_back({"external", true});
        call(input.setter, std::move(arguments));
    }

    const Settings& settings_;
    RebuildPlan plan_;
    std::optional<NotReproducible> refusal_;
    FieldPath path_;
    double duration_ = library_defaults().session_duration;  // what the protocol holds so far
};

}  // namespace

std::variant<RebuildPlan, NotReproducible> plan_rebuild(const Settings& settings) {
    return Planner(settings).run();
}

std::vector<std::uint64_t> stored_sample_signals(const RebuildPlan& plan) {
    std::vector<std::uint64_t> signals;
    for (const ApiCall& call : plan.calls) {
        for (const Argument& argument : call.arguments) {
            if (const auto* stored = std::get_if<StoredSamples>(&argument.value)) {
                signals.push_back(stored->signal);
            }
        }
    }
    return signals;
}

}  // namespace vesk
