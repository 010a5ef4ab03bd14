// vesk plot: the session, or a window of it, as one self-contained SVG
// picture, one row per channel input on a common time axis.
#include "plot.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <span>
#include <variant>

#include "describe.hpp"
#include "plot_rows.hpp"
#include "protocols/config.hpp"
#include "protocols/signals.hpp"
#include "svg_document.hpp"
#include "text_columns.hpp"

namespace vesk {

using namespace protocols;

namespace {

// The picture's geometry, in pixels. Its size never depends on the file.
constexpr int WIDTH = 1200;
constexpr int LEFT = 230;  // the row labels' room; the plot area starts here
constexpr int COLUMNS = static_cast<int>(PLOT_COLUMNS);
constexpr int TOP = 78;      // the title's room
constexpr int HEADING = 36;  // a channel's heading line
constexpr int ROW = 56;      // a row's plot area
constexpr int INSET = 4;     // from its edges to the lines of 0 and 1
constexpr int GAP = 20;      // between rows, room for a row's detail line
constexpr int AXIS = 40;     // the time axis below the rows
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
.samples{fill:none;stroke-width:1.5;stroke-linejoin:round}
.dots{fill:none;stroke-width:5;stroke-linecap:round}
.level{fill:none;stroke-width:2}
.clipped{stroke-dasharray:8 4}
.a .envelope{fill:#bfdbfe;stroke:#1d4ed8}
.a .level,.a .samples,.a .dots{stroke:#1d4ed8}
.a .band{fill:#dbeafe;stroke:#93c5fd}
.b .envelope{fill:#fde68a;stroke:#b45309}
.b .level,.b .samples,.b .dots{stroke:#b45309}
.b .band{fill:#fef3c7;stroke:#fcd34d}
.off .envelope{fill:#e5e7eb;stroke:#9ca3af}
.off .level,.off .samples,.off .dots{stroke:#9ca3af}
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

constexpr std::string_view ENVELOPE_FOOTNOTE =
    "Arbitrary signals: the lowest and highest stored value in each pixel column, on a 0..1 "
    "scale (stored / 32767).";
constexpr std::string_view SAMPLES_FOOTNOTE =
    "Arbitrary signals: each stored value across its sample period (1/5000 s), on a 0..1 "
    "scale (stored / 32767).";
constexpr std::string_view OTHERS_FOOTNOTE =
    "Sine, ramp and mixed signals: their stored parameters; the file defines no waveform for "
    "them.";

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
std::string tick_label(std::int64_t k, int exponent) {
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

// Lays the window out on an SvgDocument: title, two channels of three rows,
// the time axis, a footnote.
class Picture {
public:
    Picture(const Settings& settings, std::string_view file_name, const PlotWindow& window)
        : s_(settings),
          window_(window),
          ticks_(ticks_for(window.seconds())),
          svg_(WIDTH, HEIGHT, title_text(settings, file_name, TEXT_COLUMNS), STYLE, DEFS,
               TEXT_COLUMNS) {
        const std::array<PlotRow, 6> rows = plot_rows(s_, window_);
        svg_.rect(0, 0, WIDTH, HEIGHT, "page");
        svg_.text(20, 30, "title", title_text(s_, file_name, TITLE_COLUMNS));
        svg_.text(20, 52, "subtitle",
                  plural(session_samples(s_), "sample") + " at " +
                      float_text(config::SAMPLING_RATE) + " per second, " +
                      plural(s_.signals.size(), "signal") +
                      (window_.whole ? "; time in seconds"
                                     : "; from " + float_text(window_.start) + " to " +
                                           float_text(window_.end) + " s"));
        int top = TOP;
        std::size_t next = 0;
        for (const ChannelView& channel : channels(s_)) {
            draw_channel(channel, std::span(rows).subspan(next, 3), top);
            next += 3;
            top += CHANNEL;
        }
        draw_axis(top);
        top += AXIS;
        const bool one_by_one = std::ranges::any_of(
            rows, [](const PlotRow& row) { return row.kind == RowKind::Samples; });
        for (const std::string_view note :
             {one_by_one ? SAMPLES_FOOTNOTE : ENVELOPE_FOOTNOTE, OTHERS_FOOTNOTE}) {
            svg_.text(20, top += 15, "note", note);
        }
    }

    std::string finish() { return svg_.finish(); }

private:
    void draw_channel(const ChannelView& channel, std::span<const PlotRow> rows, int top) {
        const bool on = channel.settings.enabled;
        svg_.open_group(on ? (channel.letter == 'A' ? "a" : "b") : "off");
        const std::string lead =
            std::string("Channel ") + channel.letter + (on ? " (enabled), " : " (disabled), ");
        svg_.text(20, top + 18, "heading",
                  lead + coil_text(s_, channel.settings, HEADING_COLUMNS - text_columns(lead)));
        int row_top = top + HEADING;
        for (const PlotRow& row : rows) {
            svg_.open_group("row");
            draw_row(row, row_top);
            svg_.close_group();
            row_top += ROW + GAP;
        }
        svg_.close_group();
    }

    // The labels on the left, the plot area, then what drives the input.
    void draw_row(const PlotRow& row, int top) {
        svg_.text(20, top + 22, "input", row.input);
        svg_.text(20, top + 40, row.source_missing ? "source warning-text" : "source", row.source);
        svg_.rect(LEFT, top, COLUMNS, ROW, "area");
        draw_grid(top);
        switch (row.kind) {
            case RowKind::External:
                band(top, "external", row.label);
                break;
            case RowKind::Warning:
                band(top, "warning", row.label);
                break;
            case RowKind::Band:
                band(top, "band", row.label);
                break;
            case RowKind::Level:
                draw_level(row, top);
                break;
            case RowKind::Envelope:
                draw_scale(top);
                if (!row.envelope.low.empty()) envelope_path(row.envelope, top);
                break;
            case RowKind::Samples:
                draw_scale(top);
                if (!row.samples.empty()) samples_path(row, top);
                break;
        }
        if (!row.detail.empty()) detail(top, row.detail, row.detail_warning);
    }

    // A level off the 0..1 scale is drawn dashed at the edge it passes, with
    // a mark and its value.
    void draw_level(const PlotRow& row, int top) {
        const bool above = row.level > 1.0, below = row.level < 0.0;
        draw_scale(top);
        const int y = y_of(row.level, top);
        svg_.begin_path(above || below ? "level clipped" : "level");
        svg_.command('M', LEFT, y);
        svg_.command('H', LEFT + COLUMNS);
        svg_.end_path();
        if (!above && !below) return;
        // A triangle pointing past the edge, just inside the plot area.
        const int tip = above ? y + 3 : y - 3, base = above ? tip + 9 : tip - 9;
        svg_.begin_path("off-scale");
        svg_.command('M', LEFT + 8, base);
        svg_.command('L', LEFT + 13, tip);
        svg_.command('L', LEFT + 18, base);
        svg_.command('Z');
        svg_.end_path();
        svg_.text(LEFT + 24, above ? base : tip + 1, "mark warning-text", row.label);
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

    // Each sample a flat line across its period, joined by upright steps;
    // a dot at each sample's start once samples are wide enough to tell apart.
    void samples_path(const PlotRow& row, int top) {
        const std::size_t n = row.samples.size();
        svg_.begin_path("samples");
        int y = sample_y(row.samples[0], top);
        svg_.command('M', edge_x(row.first), y);
        for (std::size_t i = 1; i < n; ++i) {
            const int next = sample_y(row.samples[i], top);
            if (next != y) step_to(edge_x(row.first + i), y = next);
        }
        svg_.command('H', edge_x(row.first + n));
        svg_.end_path();
        if (!sample_dots(window_)) return;
        svg_.begin_path("dots");
        for (std::size_t i = 0; i < n; ++i) {
            svg_.command('M', edge_x(row.first + i), sample_y(row.samples[i], top));
            svg_.command('v', 0);
        }
        svg_.end_path();
    }

    // The x of where sample i starts, within the plot area.
    int edge_x(std::uint64_t i) const {
        const double share = (sample_edge(window_, i) - window_.start) / window_.seconds();
        return LEFT + static_cast<int>(std::lround(share * COLUMNS));
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

    // Vertical lines at the ticks inside the plot area, within one row.
    void draw_grid(int top) {
        svg_.begin_path("grid");
        for (std::int64_t k = first_tick_; k <= last_tick_; ++k) {
            const int x = tick_x(k);
            if (x <= LEFT) continue;
            if (x >= LEFT + COLUMNS) break;
            svg_.command('M', x, top);
            svg_.command('v', ROW);
        }
        svg_.end_path();
    }

    void draw_axis(int top) {
        svg_.begin_path("axis");
        svg_.command('M', LEFT, top);
        svg_.command('H', LEFT + COLUMNS);
        for (std::int64_t k = first_tick_; k <= last_tick_; ++k) {
            svg_.command('M', tick_x(k), top);
            svg_.command('v', 5);
        }
        svg_.end_path();
        for (std::int64_t k = first_tick_; k <= last_tick_; ++k) {
            svg_.text(tick_x(k), top + 18, "tick",
                      tick_label(k * ticks_.multiple, ticks_.exponent));
        }
        svg_.text(LEFT + COLUMNS / 2, top + 38, "tick", "time (s)");
    }

    // Tick k is at k steps from 0 s; the window starts `start_share_` axis
    // lengths from 0 s. Both are shares of the window, never seconds (see Ticks).
    int tick_x(std::int64_t k) const {
        const double share = static_cast<double>(k) * ticks_.fraction - start_share_;
        return LEFT + static_cast<int>(std::lround(share * COLUMNS));
    }

    // Values outside 0..1 (NaN included) are drawn at the nearer edge.
    static int y_of(double value, int top) {
        return top + INSET +
               static_cast<int>(std::lround((1.0 - drawn_level(value)) * (ROW - 2 * INSET)));
    }

    static int sample_y(std::int16_t stored, int top) {
        return y_of(stored / config::SAMPLE_SCALE, top);
    }

    const Settings& s_;
    const PlotWindow window_;
    const Ticks ticks_;
    // The ticks within the window, give or take a rounding at either end.
    const double start_share_ = window_.start / window_.seconds();
    const std::int64_t first_tick_ =
        static_cast<std::int64_t>(std::ceil((start_share_ - 1e-9) / ticks_.fraction));
    const std::int64_t last_tick_ =
        static_cast<std::int64_t>(std::floor((start_share_ + 1.0 + 1e-9) / ticks_.fraction));
    SvgDocument svg_;
};

}  // namespace

std::string plot_svg(const Settings& settings, std::string_view file_name,
                     const PlotWindow& window) {
    return Picture(settings, file_name, window).finish();
}

std::string plot_title(const Settings& settings, std::string_view file_name) {
    return title_text(settings, file_name, TEXT_COLUMNS);
}

std::string plot_svg(const Settings& settings, std::string_view file_name) {
    return plot_svg(settings, file_name, std::get<PlotWindow>(plot_window(settings, {}, {})));
}

}  // namespace vesk
