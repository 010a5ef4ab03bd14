// What each row of a picture shows over a window of the session: the one
// computation behind the SVG picture and the vesk module's matplotlib drawing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "envelope.hpp"
#include "plot_window.hpp"
#include "protocols/settings.hpp"

namespace vesk {

// The plot area's width: one envelope column per pixel.
inline constexpr std::size_t PLOT_COLUMNS = 930;

enum class RowKind {
    Envelope,  // arbitrary samples: the lowest and highest in each pixel column
    Samples,   // arbitrary samples one by one: the window holds no more than PLOT_COLUMNS
    Level,     // a constant
    Band,      // sine, ramp, mixed: a band labelled with the parameters as stored
    External,  // an external source
    Warning,   // a position that names no signal, a parameter that is no finite number
};

struct PlotRow {
    char channel = 'A';
    bool enabled = true;
    std::string input;            // "amplitude 1 (Coil.A1)"
    std::string source;           // "signal 5 (Arbitrary)"
    bool source_missing = false;  // the source names no signal
    RowKind kind = RowKind::Band;
    std::string label;   // across a band; beside a level off the 0..1 scale
    std::string detail;  // the line above the row; may be empty
    bool detail_warning = false;
    double level = 0.0;  // Level: the constant as stored
    Envelope envelope;   // Envelope: column c covers window.start + [c, c + 1) * column_seconds
    std::span<const std::int16_t> samples;  // Samples: those the window overlaps,
    std::uint64_t first = 0;                // the first of them being sample `first`
};

// The six channel inputs in picture order: amplitude 1, amplitude 2 and
// modulation of channel A, then of B. Samples are viewed in `settings`.
std::array<PlotRow, 6> plot_rows(const protocols::Settings& settings, const PlotWindow& window);

// A value as drawn on a row's 0..1 scale: outside it (NaN included) at the nearer edge.
double drawn_level(double value);
double drawn_sample(std::int16_t stored);

// Whether the window's samples are far enough apart for a dot each.
bool sample_dots(const PlotWindow& window);

// Where, in seconds, sample `i` starts, kept within the window.
double sample_edge(const PlotWindow& window, std::uint64_t i);

// The time of envelope column edge `c`.
double column_edge(const PlotWindow& window, std::size_t c);

}  // namespace vesk
