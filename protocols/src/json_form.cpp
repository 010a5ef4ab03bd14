#include "protocols/json_form.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <variant>

#include "float_text.hpp"
#include "protocols/float_bits.hpp"
#include "protocols/utf8.hpp"
#include "sample_text.hpp"
#include "text_output.hpp"

namespace protocols {
namespace {

constexpr std::string_view HEX_DIGITS = "0123456789abcdef";

// What each byte of a text becomes in a JSON string: 0, copied as it is; the
// letter that follows the backslash of its escape ('u' for \u00XX); or
// NON_ASCII, the first byte of a sequence that is checked whole. A name of
// plain ASCII letters is one copy.
constexpr char NON_ASCII = 1;
constexpr auto JSON_ESCAPES = [] {
    std::array<char, 256> table{};
    // The controls, by the rule every output follows (JSON itself allows DEL raw).
    for (std::uint32_t c = 0; c < 0x80; ++c) {
        if (is_escaped_when_shown(c)) table[c] = 'u';
    }
    table['"'] = '"';
    table['\\'] = '\\';
    table['\b'] = 'b';
    table['\f'] = 'f';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    for (std::size_t c = 0x80; c < 0x100; ++c) table[c] = NON_ASCII;
    return table;
}();

template <typename Output>
void put_unicode_escape(Output& out, unsigned code) {
    const char escape[6] = {'\\',
                            'u',
                            HEX_DIGITS[(code >> 12) & 0xF],
                            HEX_DIGITS[(code >> 8) & 0xF],
                            HEX_DIGITS[(code >> 4) & 0xF],
                            HEX_DIGITS[code & 0xF]};
    out.append(std::string_view(escape, sizeof escape));
}

template <typename Output>
void put_string(Output& out, std::string_view text) {
    out.append('"');
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    const unsigned char* copied = p;  // start of the bytes not yet written
    while (p < end) {
        const char escape = JSON_ESCAPES[*p];
        if (escape == 0) {
            ++p;
            continue;
        }
        out.append(std::string_view(reinterpret_cast<const char*>(copied),
                                    static_cast<std::size_t>(p - copied)));
        if (escape == NON_ASCII) {
            const std::size_t length = utf8_sequence_length(p, end);
            if (length == 0) {
                put_unicode_escape(out, 0xFFFD);
                ++p;
            } else if (const std::uint32_t code = utf8_code_point(p, length);
                       is_escaped_when_shown(code)) {
                put_unicode_escape(out, code);  // never above U+FFFF: one \uXXXX is enough
                p += length;
            } else {
                out.append(std::string_view(reinterpret_cast<const char*>(p), length));
                p += length;
            }
        } else if (escape == 'u') {
            put_unicode_escape(out, *p);
            ++p;
        } else {
            const char pair[2] = {'\\', escape};
            out.append(std::string_view(pair, 2));
            ++p;
        }
        copied = p;
    }
    out.append(std::string_view(reinterpret_cast<const char*>(copied),
                                static_cast<std::size_t>(p - copied)));
    out.append('"');
}

template <typename Output>
void put_float(Output& out, double value) {
    char buffer[MAX_FLOAT_CHARS];
    if (std::isfinite(value)) {
        out.append(std::string_view(
            buffer, static_cast<std::size_t>(format_float(value, buffer) - buffer)));
    } else if (std::isinf(value)) {
        out.append(value < 0 ? "\"-inf\"" : "\"inf\"");
    } else if (const auto bits = float_bits(value); bits == USUAL_NAN_BITS) {
        out.append("\"NaN\"");
    } else {
        out.append("\"NaN(0x");
        for (int shift = 60; shift >= 0; shift -= 4) out.append(HEX_DIGITS[(bits >> shift) & 0xF]);
        out.append(")\"");
    }
}

// The punctuation of objects and arrays, the one place that writes it: a
// comma before every member and element but the first of each. `separate`
// is kept by the caller, so that a document can be written call by call.
template <typename Output>
class JsonSyntax {
public:
    JsonSyntax(Output& out, bool& separate) : out_(out), separate_(separate) {}

    // Before every value: a member's, after its key, or an element's.
    void value() {
        if (separate_) out_.append(',');
        separate_ = true;
    }
    void open(char bracket) {
        value();
        out_.append(bracket);
        separate_ = false;
    }
    void close(char bracket) {
        out_.append(bracket);
        separate_ = true;
    }
    // A declared name: letters, digits and '_', nothing to escape.
    void key(std::string_view name) {
        value();
        out_.append('"');
        out_.append(name);
        out_.append("\":");
        separate_ = false;
    }

private:
    Output& out_;
    bool& separate_;
};

// Appends the JSON form of any protocol value to one output. Records are
// walked through their field declarations; only the primitives are spelled out.
template <typename Output>
class JsonWriter {
public:
    explicit JsonWriter(Output& out) : JsonWriter(out, own_separate_) {}
    // Goes on in a document whose punctuation state `separate` holds.
    JsonWriter(Output& out, bool& separate) : out_(out), syntax_(out, separate) {}

    void put(bool flag) {
        syntax_.value();
        out_.append(flag ? "true" : "false");
    }

    void put(std::uint64_t value) {
        syntax_.value();
        char buffer[20];
        const char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        out_.append(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
    }

    void put(double value) {
        syntax_.value();
        put_float(out_, value);
    }

    void put(std::string_view text) {
        syntax_.value();
        put_string(out_, text);
    }
    void put(const std::string& text) { put(std::string_view(text)); }

    template <typename T>
    void put(const std::vector<T>& list) {
        put_list(list);
    }

    template <typename T, std::size_t N>
    void put(const std::array<T, N>& array) {
        put_list(array);
    }

    void put(const Samples& samples);

    void put(const Signal& signal) {
        std::visit(
            [&](const auto& params) {
                syntax_.open('{');
                syntax_.key(std::remove_cvref_t<decltype(params)>::variant_name);
                put(params);
                syntax_.close('}');
            },
            signal);
    }

    template <Record R>
    void put(const R& record) {
        syntax_.open('{');
        for_each_field(record, [&](std::string_view name, const auto& member) {
            syntax_.key(name);
            put(member);
        });
        syntax_.close('}');
    }

    void null() {
        syntax_.value();
        out_.append("null");
    }

    JsonSyntax<Output>& syntax() { return syntax_; }

private:
    template <typename List>
    void put_list(const List& list) {
        syntax_.open('[');
        for (const auto& element : list) put(element);
        syntax_.close(']');
    }

    Output& out_;
    bool own_separate_ = false;
    JsonSyntax<Output> syntax_;
};

// The bulk of a long protocol: "[c,c,...]" written through a pointer, in bulk
// regions of at most SAMPLES_PER_BULK codes, each code followed by ','; the
// last ',' becomes the ']'.
template <typename Output>
void JsonWriter<Output>::put(const Samples& samples) {
    syntax_.value();
    if (samples.empty()) {
        out_.append("[]");
        return;
    }
    out_.append('[');
    const std::int16_t* first = samples.data();
    const std::int16_t* const last = first + samples.size();
    while (first != last && !out_.stopped()) {
        const std::size_t count =
            std::min(Output::SAMPLES_PER_BULK, static_cast<std::size_t>(last - first));
        char* p = out_.begin_bulk(count * (MAX_SAMPLE_CHARS + 1) + SAMPLE_DIGITS_SLACK);
        for (const std::int16_t* const run_end = first + count; first != run_end; ++first) {
            p = put_sample_digits(p, *first);
            *p++ = ',';
        }
        if (first == last) p[-1] = ']';
        out_.end_bulk(p);
    }
}

}  // namespace

void write_json(std::string& out, JsonValue value) {
    StringOutput output(out);
    value.visit([&](const auto& v) { JsonWriter<StringOutput>(output).put(v); });
}

bool write_json_in_pieces(const Settings& settings, std::size_t piece_bytes, const TextSink& sink) {
    PieceOutput output(piece_bytes, sink);
    JsonWriter<PieceOutput>(output).put(settings);
    return output.finish();
}

template <typename Write>
JsonBuilder& JsonBuilder::write(Write&& write) {
    StringOutput output(out_);
    JsonWriter<StringOutput> writer(output, separate_);
    write(writer);
    return *this;
}

JsonBuilder& JsonBuilder::begin_object() {
    return write([](auto& w) { w.syntax().open('{'); });
}
JsonBuilder& JsonBuilder::end_object() {
    return write([](auto& w) { w.syntax().close('}'); });
}
JsonBuilder& JsonBuilder::begin_array() {
    return write([](auto& w) { w.syntax().open('['); });
}
JsonBuilder& JsonBuilder::end_array() {
    return write([](auto& w) { w.syntax().close(']'); });
}
JsonBuilder& JsonBuilder::key(std::string_view name) {
    return write([&](auto& w) { w.syntax().key(name); });
}
JsonBuilder& JsonBuilder::null() {
    return write([](auto& w) { w.null(); });
}
JsonBuilder& JsonBuilder::boolean(bool value) {
    return write([&](auto& w) { w.put(value); });
}
JsonBuilder& JsonBuilder::number(std::uint64_t value) {
    return write([&](auto& w) { w.put(value); });
}
JsonBuilder& JsonBuilder::number(double value) {
    return write([&](auto& w) { w.put(value); });
}
JsonBuilder& JsonBuilder::string(std::string_view text) {
    return write([&](auto& w) { w.put(text); });
}
JsonBuilder& JsonBuilder::record(const LCSetting& value) {
    return write([&](auto& w) { w.put(value); });
}
JsonBuilder& JsonBuilder::json(std::string_view value) {
    return write([&](auto& w) {
        w.syntax().value();
        out_ += value;
    });
}

void write_json_string(std::string& out, std::string_view text) {
    StringOutput output(out);
    put_string(output, text);
}

void write_json_float(std::string& out, double value) {
    StringOutput output(out);
    put_float(output, value);
}

}  // namespace protocols
