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
#include <variant>

#include "command_output.hpp"
#include "commands.hpp"
#include "describe.hpp"
#include "envelope.hpp"
#include "load.hpp"
#include "protocols/config.hpp"
#include "protocols/signals.hpp"
#include "svg_document.hpp"

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
constexpr std::size_t TEXT_CHARS = 160;  // longer text is cut: a name cannot grow the picture

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
// five to eleven ticks.
struct Ticks {
    double step;
    int exponent;  // of the step's power of ten, for the labels' decimals
    int count;     // from 0 s up to the axis's end
};

Ticks ticks_for(double seconds) {
    const double rough = seconds / 10.0;
    int exponent = static_cast<int>(std::floor(std::log10(rough)));
    const double mantissa = rough / std::pow(10.0, exponent);
    double multiple = mantissa <= 1.0 ? 1.0 : mantissa <= 2.0 ? 2.0 : mantissa <= 5.0 ? 5.0 : 10.0;
    if (multiple == 10.0) {
        multiple = 1.0;
        ++exponent;
    }
    const double step = multiple * std::pow(10.0, exponent);
    // The last tick may land on the end of the axis, give or take a rounding.
    return {step, exponent, static_cast<int>(std::floor(seconds / step * (1.0 + 1e-9))) + 1};
}

std::string tick_label(double seconds, int exponent) {
    char text[64];
    if (seconds == 0.0) return "0";
    if (exponent < -6 || exponent > 6) {
        std::snprintf(text, sizeof text, "%g", seconds);
    } else {
        std::snprintf(text, sizeof text, "%.*f", std::max(0, -exponent), seconds);
    }
    return text;
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

std::string title_text(const Settings& s, std::string_view file_name) {
    std::string title(file_name);
    title += " \xE2\x80\x94 ";  // an em dash
    return title + float_text(s.session_duration) + " s, intensity " + float_text(s.intensity);
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
          svg_(WIDTH, HEIGHT, title_text(settings, file_name), STYLE, DEFS, TEXT_CHARS) {
        svg_.rect(0, 0, WIDTH, HEIGHT, "page");
        svg_.text(20, 30, "title", title_text(s_, file_name));
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
        svg_.text(20, top + 18, "heading",
                  std::string("Channel ") + channel.letter +
                      (on ? " (enabled), " : " (disabled), ") + coil_text(s_, channel.settings));
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
            band(top, "warning",
                 "signal " + std::to_string(source.internal) +
                     " does not exist (the protocol has " + plural(s_.signals.size(), "signal") +
                     ")");
        } else {
            std::visit([&](const auto& params) { draw_signal(params, source.internal, top); },
                       s_.signals[source.internal]);
        }
    }

    void draw_signal(const ConstantSignalParams& params, std::uint64_t, int top) {
        draw_scale(top);
        svg_.begin_path("level");
        svg_.command('M', LEFT, y_of(params.value, top));
        svg_.command('H', LEFT + COLUMNS);
        svg_.end_path();
        detail(top, "Constant value " + float_text(params.value), false);
    }

    void draw_signal(const MixedSignalParams& params, std::uint64_t, int top) {
        const bool missing = params.a_idx >= s_.signals.size() || params.b_idx >= s_.signals.size();
        band(top, missing ? "warning" : "band",
             "MixedSignal a_idx " + mixed_part(params.a_idx) + ", b_idx " +
                 mixed_part(params.b_idx));
    }

    void draw_signal(const ArbitrarySignalParams& params, std::uint64_t index, int top) {
        const Envelope& envelope = envelope_of(index, params);
        const std::size_t count = params.samples.size();
        std::string line = "Arbitrary, " + plural(count, "sample");
        if (count != 0) {
            line += ", stored " + std::to_string(envelope.lowest) + ".." +
                    std::to_string(envelope.highest);
        }
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
        band(top, "band", signal_line(Signal(params)));
    }

    std::string mixed_part(std::uint64_t index) const {
        const std::string text = std::to_string(index);
        if (index >= s_.signals.size()) return text + " (does not exist)";
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
            if (x_of(tick(i)) >= LEFT + COLUMNS) break;
            svg_.command('M', x_of(tick(i)), top);
            svg_.command('v', ROW);
        }
        svg_.end_path();
    }

    void draw_axis(int top) {
        svg_.begin_path("axis");
        svg_.command('M', LEFT, top);
        svg_.command('H', LEFT + COLUMNS);
        for (int i = 0; i < ticks_.count; ++i) {
            svg_.command('M', x_of(tick(i)), top);
            svg_.command('v', 5);
        }
        svg_.end_path();
        for (int i = 0; i < ticks_.count; ++i) {
            svg_.text(x_of(tick(i)), top + 18, "tick", tick_label(tick(i), ticks_.exponent));
        }
        svg_.text(LEFT + COLUMNS / 2, top + 38, "tick", "time (s)");
    }

    double tick(int i) const { return i * ticks_.step; }

    int x_of(double seconds) const {
        return LEFT + static_cast<int>(std::lround(seconds / seconds_ * COLUMNS));
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

namespace {

// The picture is SVG whatever its name says, so the name must say it; "-" is
// standard output.
bool svg_output_name(std::string_view path) {
    return path == "-" || path.ends_with(".svg");
}

}  // namespace

int run_plot(const Args& args) {
    if (!svg_output_name(args.output)) {
        std::fprintf(stderr,
                     "vesk: -o %s: the picture is SVG: give a name ending in .svg, or - "
                     "for standard output\n",
                     args.output.c_str());
        return EXIT_ERROR;
    }
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    CommandOutput out(args.output);
    out.write(plot_svg(loaded.settings, base_name(args.file)));
    return out.finish();
}

}  // namespace vesk
