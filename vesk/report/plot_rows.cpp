#include "plot_rows.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "describe.hpp"
#include "protocols/config.hpp"
#include "protocols/fields.hpp"
#include "protocols/signals.hpp"

namespace vesk {

using namespace protocols;

namespace {

// "frequency NaN, phase -inf": the parameters that hold NaN or an infinity.
template <typename Params>
std::string not_finite(const Params& params) {
    std::string named;
    for_each_field(params, [&](std::string_view name, const auto& value) {
        if constexpr (std::is_floating_point_v<std::remove_cvref_t<decltype(value)>>) {
            if (std::isfinite(value)) return;
            if (!named.empty()) named += ", ";
            named += std::string(name) + " " + float_text(value);
        }
    });
    return named;
}

std::uint64_t session_samples(const Settings& s) {
    return s.session_duration > 0.0 ? sample_count(s.session_duration) : 0;
}

// A sample position as a count, at most `count`: a window of a huge axis has
// positions past any integer.
std::size_t position_within(double position, std::size_t count) {
    return position < static_cast<double>(count) ? static_cast<std::size_t>(position) : count;
}

class Rows {
public:
    Rows(const Settings& settings, const PlotWindow& window) : s_(settings), window_(window) {}

    void fill(PlotRow& row, const ChannelInput& input) {
        const SignalSourceSelection& source = input.source;
        row.input = input.label;
        row.source = source_text(s_, source);
        row.source_missing = !source.external_selected && source.internal >= s_.signals.size();
        if (source.external_selected) {
            row.kind = RowKind::External;
            row.label = row.source;
        } else if (row.source_missing) {
            row.kind = RowKind::Warning;
            row.label = missing_signal_text(source.internal, s_.signals.size());
        } else {
            std::visit([&](const auto& params) { fill_signal(row, params, source.internal); },
                       s_.signals[source.internal]);
        }
    }

private:
    // A finite value outside 0..1 is marked with its value: the file gives
    // constants no range, so the scale must not make 2.5 look like 1.0.
    void fill_signal(PlotRow& row, const ConstantSignalParams& params, std::uint64_t) {
        if (!std::isfinite(params.value)) return not_finite_band(row, params);
        const bool above = params.value > 1.0, below = params.value < 0.0;
        row.kind = RowKind::Level;
        row.level = params.value;
        row.detail = signal_line(Signal(params));
        if (!above && !below) return;
        row.label =
            float_text(params.value) + (above ? ", above 1: drawn at 1" : ", below 0: drawn at 0");
        row.detail += " (off the 0..1 scale)";
        row.detail_warning = true;
    }

    void fill_signal(PlotRow& row, const MixedSignalParams& params, std::uint64_t) {
        const bool missing = params.a_idx >= s_.signals.size() || params.b_idx >= s_.signals.size();
        row.kind = missing ? RowKind::Warning : RowKind::Band;
        row.label = std::string(MixedSignalParams::variant_name) + " " +
                    std::string(field_name<&MixedSignalParams::a_idx>()) + " " +
                    mixed_part(params.a_idx) + ", " +
                    std::string(field_name<&MixedSignalParams::b_idx>()) + " " +
                    mixed_part(params.b_idx);
    }

    void fill_signal(PlotRow& row, const ArbitrarySignalParams& params, std::uint64_t index) {
        const std::size_t count = params.samples.size();
        // The samples the window overlaps; for the whole axis every one, so
        // that the stored range covers those past the session's end too.
        const double from = window_.start * config::SAMPLING_RATE;
        const std::size_t first = position_within(std::floor(from), count);
        const std::size_t last =
            std::max(first, position_within(std::ceil(window_.end * config::SAMPLING_RATE), count));
        const std::span<const std::int16_t> all(params.samples);
        const std::span<const std::int16_t> shown = all.subspan(first, last - first);
        const double per_column = window_.seconds() * config::SAMPLING_RATE / PLOT_COLUMNS;
        StoredRange range;
        if (per_column <= 1.0) {
            row.kind = RowKind::Samples;
            row.samples = shown;
            row.first = first;
            range = stored_range(window_.whole ? all : shown);
        } else {
            row.kind = RowKind::Envelope;
            row.envelope = envelope_of(index, window_.whole ? all : shown, per_column,
                                       from - static_cast<double>(first));
            range = {row.envelope.lowest, row.envelope.highest};
        }
        const std::uint64_t expected = session_samples(s_);
        if (window_.whole) {
            row.detail = arbitrary_text(count, range);
        } else {
            row.detail =
                arbitrary_text(count) + "; " + std::to_string(shown.size()) + " in the window" +
                (shown.empty()
                     ? std::string()
                     : ", stored " + std::to_string(range.low) + ".." + std::to_string(range.high));
        }
        if (count != expected) row.detail += " (the session has " + std::to_string(expected) + ")";
        row.detail_warning = count != expected;
    }

    // Sine, Ramp: a band with the stored parameters; the file gives them no
    // waveform to draw.
    template <typename Params>
    void fill_signal(PlotRow& row, const Params& params, std::uint64_t) {
        if (!not_finite(params).empty()) return not_finite_band(row, params);
        row.kind = RowKind::Band;
        row.label = signal_line(Signal(params));
    }

    // A warning band naming the parameters no waveform can have, the whole
    // signal in the detail line.
    template <typename Params>
    void not_finite_band(PlotRow& row, const Params& params) {
        const std::string named = not_finite(params);
        const bool one = named.find(',') == std::string::npos;
        row.kind = RowKind::Warning;
        row.label = std::string(Params::variant_name) + " " + named +
                    (one ? ": not a finite number" : ": not finite numbers");
        row.detail = signal_line(Signal(params));
        row.detail_warning = true;
    }

    std::string mixed_part(std::uint64_t index) const {
        const std::string text = std::to_string(index);
        if (index >= s_.signals.size()) return text + std::string(NAMES_NOTHING);
        return text + " (" + std::string(signal_kind(s_.signals[index])) + ")";
    }

    // Rows that show the same signal share its envelope.
    const Envelope& envelope_of(std::uint64_t index, std::span<const std::int16_t> samples,
                                double per_column, double offset) {
        for (const auto& [known, envelope] : envelopes_) {
            if (known == index) return envelope;
        }
        envelopes_.emplace_back(index, column_envelope(samples, per_column, PLOT_COLUMNS, offset));
        return envelopes_.back().second;
    }

    const Settings& s_;
    const PlotWindow& window_;
    std::vector<std::pair<std::uint64_t, Envelope>> envelopes_;  // at most one per row
};

}  // namespace

std::array<PlotRow, 6> plot_rows(const Settings& settings, const PlotWindow& window) {
    std::array<PlotRow, 6> rows;
    Rows filler(settings, window);
    std::size_t next = 0;
    for (const ChannelView& channel : channels(settings)) {
        for (const ChannelInput& input : channel.inputs) {
            PlotRow& row = rows[next++];
            row.channel = channel.letter;
            row.enabled = channel.settings.enabled;
            filler.fill(row, input);
        }
    }
    return rows;
}

double drawn_level(double value) {
    return value >= 0.0 ? std::min(value, 1.0) : 0.0;
}

double drawn_sample(std::int16_t stored) {
    return drawn_level(stored / config::SAMPLE_SCALE);
}

bool sample_dots(const PlotWindow& window) {
    constexpr double DOT_SPACING = 6.0;  // in pixel columns
    return window.seconds() * config::SAMPLING_RATE <= PLOT_COLUMNS / DOT_SPACING;
}

double sample_edge(const PlotWindow& window, std::uint64_t i) {
    return std::clamp(static_cast<double>(i) / config::SAMPLING_RATE, window.start, window.end);
}

double column_edge(const PlotWindow& window, std::size_t c) {
    return window.start + static_cast<double>(c) * window.seconds() / PLOT_COLUMNS;
}

}  // namespace vesk
