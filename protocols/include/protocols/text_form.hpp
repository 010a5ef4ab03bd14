#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "protocols/error.hpp"
#include "protocols/one_of.hpp"
#include "protocols/settings.hpp"

namespace protocols {

// The values whose text form is written on its own.
using TextValue = OneOf<Protocol, Settings, Coil, SignalSourceSelection, Signal,
                        ArbitrarySignalParams, VESKError>;

// Appends the value's multi-line text form to `out`; `level` is the
// indentation level (four spaces each) of the line it starts on. No line
// break follows the last character.
void write_text(std::string& out, TextValue value, unsigned level);

// The float layout: shortest round-trip digits, exponent form at magnitude
// >= 1e16 or below 1e-4, "-0.0", "NaN", "inf", "-inf".
void write_float(std::string& out, double value);

// A string as the text form quotes it: in double quotes, with \" \\ \n \t \r
// \0, and \u{..} (hex, as "\u{1b}", "\u{202e}") for every other character
// is_escaped_when_shown names; a byte that begins no valid UTF-8 sequence
// becomes U+FFFD, so that the text is always valid UTF-8.
void write_quoted(std::string& out, std::string_view text);

// The text form of a protocol in two steps, for a caller that allocates the
// result itself: measure_text_form gives its exact length in bytes and whether
// all of it is ASCII (only a coil name can hold other characters);
// write_text_form writes it into `out`, which has room for that length, and
// returns the number of bytes written. The text equals text_form(protocol).
struct TextFormSize {
    std::size_t bytes = 0;
    bool ascii = true;
};
TextFormSize measure_text_form(const Protocol& protocol);
std::size_t write_text_form(const Protocol& protocol, char* out, std::size_t bytes);

// Receives text piece by piece, in order; returns false to stop. A piece is
// valid only during the call.
using TextSink = std::function<bool(std::string_view)>;

// The text form of `settings` (text_form(settings)) handed to `sink` in pieces
// of about `piece_bytes` (the last may be shorter; a piece may be longer by
// one bulk region of sample lines), through one reused buffer, so that the
// memory used does not grow with the text. Returns false if the sink stopped it.
bool write_text_in_pieces(const Settings& settings, std::size_t piece_bytes, const TextSink& sink);

template <typename T>
std::string text_form(const T& value) {
    std::string out;
    write_text(out, value, 0);
    return out;
}

}  // namespace protocols
