// How two records differ, as `vesk diff` prints it.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "protocols/settings.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

// One difference, one line of `vesk diff`.
struct Change {
    // The field that differs, as decoding errors name fields: "intensity",
    // "signals[3]" (a signal added, removed or of another kind),
    // "channel_b_settings.amplitude1_source", "signals[1].Arbitrary.samples".
    std::string path;
    // How the line names it: the path, "signal 3", "amplitude 1 (Coil.B1)".
    std::string subject;
    // Each side's value as the line shows it; no old value for an added
    // signal, no new one for a removed signal, neither for a sample list
    // whose values differ, which `note` describes.
    std::optional<std::string> old_value;
    std::optional<std::string> new_value;
    // What else the line says: "entries, added [2]", "(bits 0x... -> 0x...)"
    // for two NaNs, "5 of 50 samples differ: ...".
    std::string note;

    bool operator==(const Change&) const = default;
};

// The line that `vesk diff` prints for `change`, without its newline:
// "intensity: 0.4 -> 0.3", "added signal 2: Constant value 0.6".
std::string change_line(const Change& change);

// Takes each change as it is found; false stops the walk.
using ChangeSink = std::function<bool(Change&&)>;

// Every difference of `b` from `a`, in field order. False when the sink
// stopped the walk.
bool find_changes(const protocols::Settings& a, const protocols::Settings& b,
                  const ChangeSink& sink);

// Their lines, handed to `sink` in pieces, with the number of differences
// found. False when the sink refused a piece.
bool write_diff(const protocols::Settings& a, const protocols::Settings& b,
                const protocols::TextSink& sink, std::size_t& differences);

}  // namespace vesk
