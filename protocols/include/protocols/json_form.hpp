// The JSON form of a protocol record, for other programs to read: one
// compact document. Objects carry a record's fields in declaration order
// under their text-form names; a signal is an object with one member, named
// by its variant; unsigned integers are exact decimal digits; finite floats
// use the text form's shortest round-trip digits ("60.0", "1e-5", "-0.0");
// the others are strings: "inf", "-inf", "NaN" for the usual quiet NaN (bits
// 0x7ff8000000000000) and "NaN(0x<16 hex digits>)" with the bits of any other;
// arbitrary samples are integer codes. Text is escaped so that any record
// yields valid JSON (see write_json_string).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocols/one_of.hpp"
#include "protocols/settings.hpp"
#include "protocols/text_form.hpp"

namespace protocols {

// The values whose JSON form is written on its own.
using JsonValue = OneOf<Settings, Signal, LCSetting>;

// Appends the value's JSON form to `out`.
void write_json(std::string& out, JsonValue value);

// The JSON form of `settings` handed to `sink` in pieces of about
// `piece_bytes`, through one reused buffer (as write_text_in_pieces). Returns
// false if the sink stopped it.
bool write_json_in_pieces(const Settings& settings, std::size_t piece_bytes, const TextSink& sink);

// `text` as a JSON string, quotes included: '"' and '\' escaped, and every
// character is_escaped_when_shown names (controls, bidirectional formatting
// characters, U+2028 and U+2029, which JavaScript before ES2019 also refuses
// raw) as \uXXXX; other UTF-8 copied; a byte that begins no valid UTF-8
// sequence becomes \ufffd.
void write_json_string(std::string& out, std::string_view text);

// `value` as a JSON value, as described above.
void write_json_float(std::string& out, double value);

// Writes a JSON document of another shape than a record's, call by call, in
// the same forms as write_json: the commas between members and elements are
// its job. Keys are declared names (letters, digits, '_'), written as they
// are. Nothing checks that objects and arrays are closed in order.
class JsonBuilder {
public:
    explicit JsonBuilder(std::string& out) : out_(out) {}

    JsonBuilder& begin_object();
    JsonBuilder& end_object();
    JsonBuilder& begin_array();
    JsonBuilder& end_array();
    JsonBuilder& key(std::string_view name);

    JsonBuilder& null();
    JsonBuilder& boolean(bool value);
    JsonBuilder& number(std::uint64_t value);
    JsonBuilder& number(double value);
    JsonBuilder& string(std::string_view text);
    JsonBuilder& record(const LCSetting& value);
    JsonBuilder& json(std::string_view value);  // a value already in JSON form

private:
    template <typename Write>
    JsonBuilder& write(Write&& write);

    std::string& out_;
    bool separate_ = false;  // a comma goes before the next member or element
};

}  // namespace protocols
