// vesk plot: the whole session as one self-contained SVG picture, one row per
// channel input on a common time axis.
#include "plot.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <type_traits>
#include <variant>

#include "describe.hpp"
#include "envelope.hpp"
#include "protocols/config.hpp"
#include "protocols/fields.hpp"
#include "protocols/signals.hpp"
#include "svg_document.hpp"
#include "text_columns.hpp"

namespace vesk {

using namespace protocols;

namespace {

// The picture's geometry, in pixels. Its size never depends on the file.
constexpr int WIDTH = 1200;
constexpr int LEFT = 230;     // the row labels' room; the plot area starts here
constexpr int COLUMNS = 930;  // the plot area's width: one envelope column per pixel
constexpr int TOP = 78;       // the title's room
constexpr int HEADING = 36;   // a channel's heading line
constexpr int ROW = 56;       // a row's plot area
constexpr int INSET = 4;      // from its edges to the lines of 0 and 1
constexpr int GAP = 20;       // between rows, room for a row's detail line
constexpr int AXIS = 40;      // the time axis below the rows
constexpr int FOOTNOTE = 40;
constexpr int CHANNEL = HEADING + 3 * (ROW + GAP);
constexpr int HEIGHT = TOP + 2 * CHANNEL + AXIS + FOOTNOTE;
constexpr std::size_t TEXT_COLUMNS = 160;  // longer text is cut: a name cannot grow the picture
// Lines that hold a name are cut to these many columns (text_columns), so
// that they end inside the picture: a column is taken as 0.7 em, about the
// widest of the digits and lower-case letters of the bold fonts named below.
constexpr std::size_t TITLE_COLUMNS = 92;     // 18 px bold from x = 20: 92 * 12.6 <= 1160
constexpr std::size_t HEADING_COLUMNS = 127;  // 13 px bold from x = 20: 127 * 9.1 <= 1160

constexpr std::string_view STYLE = R"(
text{font-family:"DejaVu Sans","Liberation Sans",Arial,sans-serif;font-size:12px;fill:#1f2937}
.page{fill:#ffffff}
.title{font-size:18px;font-weight:bold;fill:#111827}
.subtitle{fill:#4b5563}
.heading{font-size:13px;font-weight:bold}
.input{font-weight:bold}
.source{font-size:11px;fill:#4b5563}
.scale{font-size:10px;fill:#9ca3af;text-anchor:end}
.tick{font-size:11px;fill:#374151;text-anchor:middle}
.note{font-size:11px;fill:#4b5563}
.detail{font-size:11px;fill:#374151;text-anchor:end}
.centre{text-anchor:middle}
.area{fill:#f9fafb;stroke:#d1d5db}
.grid{fill:none;stroke:#e5e7eb}
.axis{fill:none;stroke:#6b7280}
.envelope{stroke-width:1;stroke-linejoin:round}
.level{fill:none;stroke-width:2}
.clipped{stroke-dasharray:8 4}
.a .envelope{fill:#bfdbfe;stroke:#1d4ed8}
.a .level{stroke:#1d4ed8}
.a .band{fill:#dbeafe;stroke:#93c5fd}
.b .envelope{fill:#fde68a;stroke:#b45309}
.b .level{stroke:#b45309}
.b .band{fill:#fef3c7;stroke:#fcd34d}
.off .envelope{fill:#e5e7eb;stroke:#9ca3af}
.off .level{stroke:#9ca3af}
.off .band{fill:#f3f4f6;stroke:#d1d5db}
.off text{fill:#6b7280}
.external{fill:url(#hatch);stroke:#94a3b8}
.warning{fill:#fee2e2;stroke:#dc2626}
.off-scale{fill:#dc2626;stroke:none}
.mark{font-size:11px;font-weight:bold}
text.warning-text{fill:#991b1b}
)";

constexpr std::string_view DEFS =
    R"svg(<defs><pattern id="hatch" width="8" height="8" patternUnits="userSpaceOnUse" )svg"
    R"svg(patternTransform="rotate(45)"><rect width="8" height="8" fill="#f1f5f9"/>)svg"
    R"svg(<path d="M0 0V8" stroke="#cbd5e1" stroke-width="3"/></pattern></defs>)svg";

constexpr std::string_view FOOTNOTES[] = {
    "Arbitrary signals: the lowest and highest stored value in each pixel column, on a 0..1 "
    "scale (stored / 32767).",
    "Sine, ramp and mixed signals: their stored parameters; the file defines no waveform for "
    "them.",
};

// Tick positions on the time axis: a step of 1, 2 or 5 times a power of ten,
// five to eleven ticks. The step is kept as its digit and exponent and as a
// share of the axis, never as seconds: below about 1e-308 s the step is no
// double, or not an exact one.
struct Ticks {
    int multiple;     // 1, 2 or 5
    int exponent;     // the step is multiple * 10^exponent seconds
    double fraction;  // the step over the axis's length
    int count;        // from 0 s up to the axis's end
};

// `seconds`: finite and positive, the least subnormal and the largest double included.
Ticks ticks_for(double seconds) {
    // The powers of ten near a tiny duration underflow; its step is found for
    // the duration scaled up, which leaves the step's share of the axis as it is.
    const int shift = seconds < 1e-290 ? -300 : 0;
    const double scaled = shift != 0 ? seconds * 1e300 : seconds;
    const double rough = scaled / 10.0;
    int exponent = static_cast<int>(std::floor(std::log10(rough)));
    const double mantissa = rough / std::pow(10.0, exponent);
    int multiple = mantissa <= 1.0 ? 1 : mantissa <= 2.0 ? 2 : mantissa <= 5.0 ? 5 : 10;
    if (multiple == 10) {
        multiple = 1;
        ++exponent;
    }
    const double fraction = multiple * std::pow(10.0, exponent) / scaled;
    // The last tick may land on the end of the axis, give or take a rounding.
    return {multiple, exponent + shift, fraction,
            static_cast<int>(std::floor((1.0 + 1e-9) / fraction)) + 1};
}

// k * 10^exponent seconds, written from its digits so that labels below the
// least double are exact too: fixed decimals for exponents -6..6 ("0.015",
// "200"), else as %g writes it ("1.5e-324", "2e+307").
std::string tick_label(int k, int exponent) {
    if (k == 0) return "0";
    const std::string digits = std::to_string(k);
    if (exponent >= 0 && exponent <= 6) return digits + std::string(exponent, '0');
    if (exponent < 0 && exponent >= -6) {
        const auto decimals = static_cast<std::size_t>(-exponent);
        const std::string padded =
            std::string(decimals + 1 - std::min(decimals + 1, digits.size()), '0') + digits;
        const std::size_t point = padded.size() - decimals;
        return padded.substr(0, point) + "." + padded.substr(point);
    }
    const int power = exponent + static_cast<int>(digits.size()) - 1;
    const std::string shown = digits.substr(0, digits.find_last_not_of('0') + 1);
    std::string label = shown.substr(0, 1);
    if (shown.size() > 1) label += '.';
    label += shown.substr(1);
    char text[16];
    std::snprintf(text, sizeof text, "e%+03d", power);
    return label + text;
}

// The time axis: the session's duration, or for a file whose duration is no
// usable length, the longest arbitrary signal's, else one second.
double axis_seconds(const Settings& s) {
    if (std::isfinite(s.session_duration) && s.session_duration > 0.0) {
        return s.session_duration;
    }
    std::size_t longest = 0;
    for (const Signal& signal : s.signals) {
        if (const auto* arbitrary = std::get_if<ArbitrarySignalParams>(&signal)) {
            longest = std::max(longest, arbitrary->samples.size());
        }
    }
    return longest != 0 ? static_cast<double>(longest) / config::SAMPLING_RATE : 1.0;
}

// "name.vesk — 60.0 s, intensity 0.4", the file's name cut to fit `columns`.
std::string title_text(const Settings& s, std::string_view file_name, std::size_t columns) {
    const std::string rest = " \xE2\x80\x94 " +  // an em dash
                             float_text(s.session_duration) + " s, intensity " +
                             float_text(s.intensity);
    return cut_to_columns(file_name, columns - std::min(columns, text_columns(rest))) + rest;
}

std::uint64_t session_samples(const Settings& s) {
    return s.session_duration > 0.0 ? sample_count(s.session_duration) : 0;
}

// Lays the session out on an SvgDocument: title, two channels of three rows,
// the time axis, a footnote.
class Picture {
public:
    Picture(const Settings& settings, std::string_view file_name)
        : s_(settings),
          seconds_(axis_seconds(settings)),
          ticks_(ticks_for(seconds_)),
          svg_(WIDTH, HEIGHT, title_text(settings, file_name, TEXT_COLUMNS), STYLE, DEFS,
               TEXT_COLUMNS) {
        svg_.rect(0, 0, WIDTH, HEIGHT, "page");
        svg_.text(20, 30, "title", title_text(s_, file_name, TITLE_COLUMNS));
        svg_.text(20, 52, "subtitle",
                  plural(session_samples(s_), "sample") + " at " +
                      float_text(config::SAMPLING_RATE) + " per second, " +
                      plural(s_.signals.size(), "signal") + "; time in seconds");
        int top = TOP;
        for (const ChannelView& channel : channels(s_)) {
            draw_channel(channel, top);
            top += CHANNEL;
        }
        draw_axis(top);
        top += AXIS;
        for (const std::string_view note : FOOTNOTES) {
            svg_.text(20, top += 15, "note", note);
        }
    }

    std::string finish() { return svg_.finish(); }

private:
    void draw_channel(const ChannelView& channel, int top) {
        const bool on = channel.settings.enabled;
        svg_.open_group(on ? (channel.letter == 'A' ? "a" : "b") : "off");
        const std::string lead =
            std::string("Channel ") + channel.letter + (on ? " (enabled), " : " (disabled), ");
        svg_.text(20, top + 18, "heading",
                  lead + coil_text(s_, channel.settings, HEADING_COLUMNS - text_columns(lead)));
        int row_top = top + HEADING;
        for (const ChannelInput& input : channel.inputs) {
            draw_row(input, row_top);
            row_top += ROW + GAP;
        }
        svg_.close_group();
    }

    // The labels on the left, the plot area, then what drives the input.
    void draw_row(const ChannelInput& input, int top) {
        svg_.open_group("row");
        draw_row_content(input, top);
        svg_.close_group();
    }

    void draw_row_content(const ChannelInput& input, int top) {
        const SignalSourceSelection& source = input.source;
        const bool missing = !source.external_selected && source.internal >= s_.signals.size();
        svg_.text(20, top + 22, "input", input.label);
        svg_.text(20, top + 40, missing ? "source warning-text" : "source",
                  source_text(s_, source));
        svg_.rect(LEFT, top, COLUMNS, ROW, "area");
        draw_grid(top);
        if (source.external_selected) {
            band(top, "external", source_text(s_, source));
        } else if (missing) {
            band(top, "warning", missing_signal_text(source.internal, s_.signals.size()));
        } else {
            std::visit([&](const auto& params) { draw_signal(params, source.internal, top); },
                       s_.signals[source.internal]);
        }
    }

    // A finite value outside 0..1 is drawn dashed at the edge it passes, with
    // a mark and its value: the file gives constants no range, so the scale
    // must not make 2.5 look like 1.0.
    void draw_signal(const ConstantSignalParams& params, std::uint64_t, int top) {
        const double value = params.value;
        if (!std::isfinite(value)) return not_finite_band(params, top);
        const bool above = value > 1.0, below = value < 0.0;
        draw_scale(top);
        const int y = y_of(value, top);
        svg_.begin_path(above || below ? "level clipped" : "level");
        svg_.command('M', LEFT, y);
        svg_.command('H', LEFT + COLUMNS);
        svg_.end_path();
        const std::string line = signal_line(Signal(params));
        if (!above && !below) return detail(top, line, false);
        // A triangle pointing past the edge, just inside the plot area.
        const int tip = above ? y + 3 : y - 3, base = above ? tip + 9 : tip - 9;
        svg_.begin_path("off-scale");
        svg_.command('M', LEFT + 8, base);
        svg_.command('L', LEFT + 13, tip);
        svg_.command('L', LEFT + 18, base);
        svg_.command('Z');
        svg_.end_path();
        svg_.text(LEFT + 24, above ? base : tip + 1, "mark warning-text",
                  float_text(value) + (above ? ", above 1: drawn at 1" : ", below 0: drawn at 0"));
        detail(top, line + " (off the 0..1 scale)", true);
    }

    void draw_signal(const MixedSignalParams& params, std::uint64_t, int top) {
        const bool missing = params.a_idx >= s_.signals.size() || params.b_idx >= s_.signals.size();
        band(top, missing ? "warning" : "band",
             std::string(MixedSignalParams::variant_name) + " " +
                 std::string(field_name<&MixedSignalParams::a_idx>()) + " " +
                 mixed_part(params.a_idx) + ", " +
                 std::string(field_name<&MixedSignalParams::b_idx>()) + " " +
                 mixed_part(params.b_idx));
    }

    void draw_signal(const ArbitrarySignalParams& params, std::uint64_t index, int top) {
        const Envelope& envelope = envelope_of(index, params);
        const std::size_t count = params.samples.size();
        std::string line = arbitrary_text(count, StoredRange{envelope.lowest, envelope.highest});
        const std::uint64_t expected = session_samples(s_);
        if (count != expected) line += " (the session has " + std::to_string(expected) + ")";
        draw_scale(top);
        if (!envelope.low.empty()) envelope_path(envelope, top);
        detail(top, line, count != expected);
    }

    // Sine, Ramp: a band with the stored parameters; the file gives them no
    // waveform to draw.
    template <typename Params>
    void draw_signal(const Params& params, std::uint64_t, int top) {
        if (!not_finite(params).empty()) return not_finite_band(params, top);
        band(top, "band", signal_line(Signal(params)));
    }

    // "frequency NaN, phase -inf": the parameters that hold NaN or an infinity.
    template <typename Params>
    static std::string not_finite(const Params& params) {
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

    // A warning band naming the parameters no waveform can have, the whole
    // signal in the detail line.
    template <typename Params>
    void not_finite_band(const Params& params, int top) {
        const std::string named = not_finite(params);
        const bool one = named.find(',') == std::string::npos;
        band(top, "warning",
             std::string(Params::variant_name) + " " + named +
                 (one ? ": not a finite number" : ": not finite numbers"));
        detail(top, signal_line(Signal(params)), true);
    }

    std::string mixed_part(std::uint64_t index) const {
        const std::string text = std::to_string(index);
        if (index >= s_.signals.size()) return text + std::string(NAMES_NOTHING);
        return text + " (" + std::string(signal_kind(s_.signals[index])) + ")";
    }

    // Rows that show the same signal share its envelope.
    const Envelope& envelope_of(std::uint64_t index, const ArbitrarySignalParams& params) {
        for (const auto& [known, envelope] : envelopes_) {
            if (known == index) return envelope;
        }
        const double per_column = seconds_ * config::SAMPLING_RATE / COLUMNS;
        envelopes_.emplace_back(
            index,
            column_envelope(std::span<const std::int16_t>(params.samples), per_column, COLUMNS));
        return envelopes_.back().second;
    }

    // One closed path: the highs left to right, the lows back, each column a
    // flat step, equal neighbours merged.
    void envelope_path(const Envelope& envelope, int top) {
        const int columns = static_cast<int>(envelope.high.size());
        svg_.begin_path("envelope");
        int y = sample_y(envelope.high[0], top);
        svg_.command('M', LEFT, y);
        for (int c = 1; c < columns; ++c) {
            const int next = sample_y(envelope.high[c], top);
            if (next != y) step_to(LEFT + c, y = next);
        }
        svg_.command('H', LEFT + columns);
        y = sample_y(envelope.low[columns - 1], top);
        svg_.command('V', y);
        for (int c = columns - 1; c-- > 0;) {
            const int next = sample_y(envelope.low[c], top);
            if (next != y) step_to(LEFT + c + 1, y = next);
        }
        svg_.command('H', LEFT);
        svg_.command('Z');
        svg_.end_path();
    }

    void step_to(int x, int y) {
        svg_.command('H', x);
        svg_.command('V', y);
    }

    // A line about the row's signal, above its plot area on the right.
    void detail(int top, const std::string& line, bool warning) {
        svg_.text(LEFT + COLUMNS, top - 5, warning ? "detail warning-text" : "detail", line);
    }

    // A band across the plot area with `label` in its middle.
    void band(int top, std::string_view kind, const std::string& label) {
        svg_.rect(LEFT, top + 8, COLUMNS, ROW - 16, kind);
        svg_.text(LEFT + COLUMNS / 2, top + ROW / 2 + 4,
                  kind == "warning" ? "centre warning-text" : "centre", label);
    }

    // The value scale, on a row that draws values.
    void draw_scale(int top) {
        svg_.text(LEFT - 6, y_of(1.0, top) + 4, "scale", "1");
        svg_.text(LEFT - 6, y_of(0.0, top) + 4, "scale", "0");
    }

    // Vertical lines at the ticks, within one row.
    void draw_grid(int top) {
        svg_.begin_path("grid");
        for (int i = 1; i < ticks_.count; ++i) {
            if (tick_x(i) >= LEFT + COLUMNS) break;
            svg_.command('M', tick_x(i), top);
            svg_.command('v', ROW);
        }
        svg_.end_path();
    }

    void draw_axis(int top) {
        svg_.begin_path("axis");
        svg_.command('M', LEFT, top);
        svg_.command('H', LEFT + COLUMNS);
        for (int i = 0; i < ticks_.count; ++i) {
            svg_.command('M', tick_x(i), top);
            svg_.command('v', 5);
        }
        svg_.end_path();
        for (int i = 0; i < ticks_.count; ++i) {
            svg_.text(tick_x(i), top + 18, "tick",
                      tick_label(i * ticks_.multiple, ticks_.exponent));
        }
        svg_.text(LEFT + COLUMNS / 2, top + 38, "tick", "time (s)");
    }

    int tick_x(int i) const {
        return LEFT + static_cast<int>(std::lround(i * ticks_.fraction * COLUMNS));
    }

    // Values outside 0..1 (NaN included) are drawn at the nearer edge.
    static int y_of(double value, int top) {
        const double v = value >= 0.0 ? std::min(value, 1.0) : 0.0;
        return top + INSET + static_cast<int>(std::lround((1.0 - v) * (ROW - 2 * INSET)));
    }

    static int sample_y(std::int16_t stored, int top) {
        return y_of(stored / config::SAMPLE_SCALE, top);
    }

    const Settings& s_;
    const double seconds_;
    const Ticks ticks_;
    std::vector<std::pair<std::uint64_t, Envelope>> envelopes_;  // at most one per row
    SvgDocument svg_;
};

}  // namespace

std::string plot_svg(const Settings& settings, std::string_view file_name) {
    return Picture(settings, file_name).finish();
}

}  // namespace vesk
