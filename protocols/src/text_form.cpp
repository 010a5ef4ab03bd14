#include "protocols/text_form.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <type_traits>
#include <variant>

#include "float_text.hpp"
#include "protocols/bulk_buffer.hpp"
#include "protocols/utf8.hpp"
#include "sample_text.hpp"
#include "text_output.hpp"

namespace protocols {
namespace {

constexpr std::size_t INDENT_WIDTH = 4;
constexpr std::string_view REPLACEMENT_CHARACTER = "\xEF\xBF\xBD";  // U+FFFD

// The short escapes of a quoted text; empty for any other byte.
constexpr std::string_view named_escape(unsigned char byte) {
    switch (byte) {
        case '"':
            return "\\\"";
        case '\\':
            return "\\\\";
        case '\n':
            return "\\n";
        case '\t':
            return "\\t";
        case '\r':
            return "\\r";
        case '\0':
            return "\\0";
        default:
            return {};
    }
}

// Writes into memory of the exact length that CountingOutput measured.
class SpanOutput {
public:
    static constexpr std::size_t SAMPLES_PER_BULK = std::numeric_limits<std::size_t>::max();

    explicit SpanOutput(char* out) : p_(out) {}
    void append(std::string_view text) { p_ = std::copy(text.begin(), text.end(), p_); }
    void append(char c) { *p_++ = c; }
    void append(std::size_t count, char c) { p_ = std::fill_n(p_, count, c); }
    char* begin_bulk(std::size_t) { return p_; }
    void end_bulk(char* end) { p_ = end; }
    bool stopped() const { return false; }
    char* position() const { return p_; }

private:
    char* p_;
};

// Only counts, and notes whether every byte is ASCII (only a coil name, passed
// through as UTF-8, can hold other bytes). Sample lists are counted from their
// values, without writing them.
class CountingOutput {
public:
    void append(std::string_view text) {
        for (const char c : text) append(c);
    }
    void append(char c) {
        ++bytes_;
        ascii_ = ascii_ && static_cast<unsigned char>(c) < 0x80;
    }
    void append(std::size_t count, char) { bytes_ += count; }
    void add(std::size_t bytes) { bytes_ += bytes; }
    TextFormSize size() const { return {bytes_, ascii_}; }

private:
    std::size_t bytes_ = 0;
    bool ascii_ = true;
};

// The characters of the decimal text of every sample, summed. Branch-free, so
// that it vectorises; partial sums of 2^16 samples fit in 32 bits.
std::size_t sample_digit_count(const Samples& samples) {
    constexpr std::size_t CHUNK = std::size_t{1} << 16;
    std::size_t total = 0;
    for (std::size_t start = 0; start < samples.size(); start += CHUNK) {
        const std::size_t end = std::min(samples.size(), start + CHUNK);
        std::uint32_t sum = 0;
        for (std::size_t i = start; i < end; ++i) {
            const std::int32_t value = samples[i];
            const std::int32_t magnitude = value < 0 ? -value : value;
            sum += 1u + (value < 0) + (magnitude > 9) + (magnitude > 99) + (magnitude > 999) +
                   (magnitude > 9999);
        }
        total += sum;
    }
    return total;
}

// Writes each sample and then `separator` (",\n" and the next line's
// indentation), copying Block bytes of it at once when Block is non-zero: a
// fixed-size copy is a couple of vector moves instead of a memcpy call. Both
// stores may write past the line, by less than the text of SAMPLE_TAIL lines,
// which the caller leaves to write_last_sample_lines. The separator comes as a
// bare pointer: through a string the compiler must reload it (and, under
// libc++, test its short-string flag) after every store of a char.
template <std::size_t Block>
char* write_sample_lines(char* p, const std::int16_t* first, const std::int16_t* last,
                         const char* separator, std::size_t separator_length) {
    for (; first != last; ++first) {
        p = put_sample_digits(p, *first);
        std::memcpy(p, separator, Block != 0 ? Block : separator_length);
        p += separator_length;
    }
    return p;
}

// Lines that the fast stores may not reach past: each is at least 3 bytes, and
// no store reaches 64 bytes past its line's start.
constexpr std::size_t SAMPLE_TAIL = 32;

// The last lines and the closing "]", one level out, without writing a byte
// past the "]": the output may end there.
char* write_last_sample_lines(char* p, const std::int16_t* first, const std::int16_t* last,
                              const char* separator, std::size_t separator_length) {
    for (; first != last; ++first) {
        char digits[8];
        const std::size_t count =
            static_cast<std::size_t>(put_sample_digits(digits, *first) - digits);
        p = std::copy_n(digits, count, p);
        const bool final = first + 1 == last;
        p = std::copy_n(separator, final ? separator_length - INDENT_WIDTH : separator_length, p);
    }
    *p++ = ']';
    return p;
}

// The separator's copy width when it fits: a fixed-size copy is a couple of
// vector moves instead of a memcpy call. At least the digit store's width.
constexpr std::size_t SEPARATOR_BLOCK = 64;

// write_sample_lines with the narrowest fixed copy the separator fits in.
char* write_sample_run(char* p, const std::int16_t* first, const std::int16_t* last,
                       const char* separator, std::size_t separator_length) {
    if (separator_length <= 32) {
        return write_sample_lines<32>(p, first, last, separator, separator_length);
    } else if (separator_length <= SEPARATOR_BLOCK) {
        return write_sample_lines<SEPARATOR_BLOCK>(p, first, last, separator, separator_length);
    }
    return write_sample_lines<0>(p, first, last, separator, separator_length);
}

// Appends the text form of any protocol value to one output. Records are
// walked through their field declarations; only the primitives are spelled out.
template <typename Output>
class TextWriter {
public:
    explicit TextWriter(Output& out) : out_(out) {}

    void put(bool flag, unsigned) { out_.append(flag ? "true" : "false"); }

    void put(std::uint64_t value, unsigned) {
        char buffer[20];
        const char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        out_.append(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
    }

    void put(double value, unsigned) {
        char buffer[MAX_FLOAT_CHARS];
        const char* end = format_float(value, buffer);
        out_.append(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
    }

    void put(const std::string& text, unsigned) { put_quoted(text); }

    void put(VESKError error, unsigned) { out_.append(variant_name(error)); }

    void put_quoted(std::string_view text);

    template <typename T>
    void put(const std::vector<T>& list, unsigned level) {
        put_list(list, level);
    }

    template <typename T, std::size_t N>
    void put(const std::array<T, N>& array, unsigned level) {
        put_list(array, level);
    }

    void put(const Samples& samples, unsigned level);

    void put(const Signal& signal, unsigned level) {
        std::visit(
            [&](const auto& params) {
                out_.append(std::remove_cvref_t<decltype(params)>::variant_name);
                out_.append("(\n");
                indent(level + 1);
                put(params, level + 1);
                out_.append(",\n");
                indent(level);
                out_.append(')');
            },
            signal);
    }

    template <Record R>
    void put(const R& record, unsigned level) {
        out_.append(R::type_name);
        out_.append(" {\n");
        for_each_field(record, [&](std::string_view name, const auto& member) {
            indent(level + 1);
            out_.append(name);
            out_.append(": ");
            put(member, level + 1);
            out_.append(",\n");
        });
        indent(level);
        out_.append('}');
    }

private:
    void indent(unsigned level) { out_.append(INDENT_WIDTH * level, ' '); }

    template <typename List>
    void put_list(const List& list, unsigned level) {
        if (list.empty()) {
            out_.append("[]");
            return;
        }
        out_.append("[\n");
        for (const auto& element : list) {
            indent(level + 1);
            put(element, level + 1);
            out_.append(",\n");
        }
        indent(level);
        out_.append(']');
    }

    // "\u{202e}": the code point in lower-case hex, without leading zeros.
    void put_code_escape(std::uint32_t code) {
        constexpr std::string_view hex_digits = "0123456789abcdef";
        out_.append("\\u{");
        int shift = 20;
        while (shift > 0 && (code >> shift) == 0) shift -= 4;
        for (; shift >= 0; shift -= 4) out_.append(hex_digits[(code >> shift) & 0xF]);
        out_.append('}');
    }

    Output& out_;
};

template <typename Output>
void TextWriter<Output>::put_quoted(std::string_view text) {
    out_.append('"');
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    for (std::size_t length; p < end; p += length) {
        length = utf8_sequence_length(p, end);
        if (length == 0) {
            out_.append(REPLACEMENT_CHARACTER);  // a byte that begins no character is never copied
            length = 1;
        } else if (const std::string_view named = named_escape(*p); !named.empty()) {
            out_.append(named);
        } else if (const std::uint32_t code = utf8_code_point(p, length);
                   is_escaped_when_shown(code)) {
            put_code_escape(code);
        } else {
            out_.append(std::string_view(reinterpret_cast<const char*>(p), length));
        }
    }
    out_.append('"');
}

// The sample list can hold millions of lines: one bulk region, writes through
// a pointer. Counting needs only the digit count of the values.
template <typename Output>
void TextWriter<Output>::put(const Samples& samples, unsigned level) {
    if (samples.empty()) {
        out_.append("[]");
        return;
    }
    const std::size_t inner = INDENT_WIDTH * (level + 1);
    const std::size_t separator_length = 2 + inner;
    if constexpr (std::is_same_v<Output, CountingOutput>) {
        // "[\n", the first indentation, each sample and separator, less the
        // last separator's extra level, "]".
        out_.add(2 + inner + sample_digit_count(samples) + samples.size() * separator_length -
                 INDENT_WIDTH + 1);
    } else {
        std::string separator(std::max(SEPARATOR_BLOCK, separator_length), ' ');
        separator[0] = ',';
        separator[1] = '\n';
        out_.append("[\n");
        indent(level + 1);
        // In bulk regions of at most SAMPLES_PER_BULK lines; the fast stores of
        // all but the last region reach at most SEPARATOR_BLOCK bytes past it.
        const std::size_t line_bytes = MAX_SAMPLE_CHARS + separator_length;
        const std::int16_t* first = samples.data();
        const std::int16_t* const last = first + samples.size();
        const std::int16_t* const tail = last - std::min(samples.size(), SAMPLE_TAIL);
        for (;;) {
            const std::int16_t* const run_end =
                first + std::min(Output::SAMPLES_PER_BULK, static_cast<std::size_t>(tail - first));
            if (run_end == tail) {
                char* p = out_.begin_bulk(static_cast<std::size_t>(last - first) * line_bytes);
                p = write_sample_run(p, first, run_end, separator.data(), separator_length);
                out_.end_bulk(
                    write_last_sample_lines(p, tail, last, separator.data(), separator_length));
                return;
            }
            char* p = out_.begin_bulk(static_cast<std::size_t>(run_end - first) * line_bytes +
                                      SEPARATOR_BLOCK);
            out_.end_bulk(write_sample_run(p, first, run_end, separator.data(), separator_length));
            if (out_.stopped()) return;
            first = run_end;
        }
    }
}

}  // namespace

void write_text(std::string& out, TextValue value, unsigned level) {
    StringOutput output(out);
    value.visit([&](const auto& v) { TextWriter<StringOutput>(output).put(v, level); });
}

void write_quoted(std::string& out, std::string_view text) {
    StringOutput output(out);
    TextWriter<StringOutput>(output).put_quoted(text);
}

TextFormSize measure_text_form(const Protocol& protocol) {
    CountingOutput counter;
    TextWriter<CountingOutput>(counter).put(protocol, 0);
    return counter.size();
}

bool write_text_in_pieces(const Settings& settings, std::size_t piece_bytes, const TextSink& sink) {
    PieceOutput output(piece_bytes, sink);
    TextWriter<PieceOutput>(output).put(settings, 0);
    return output.finish();
}

std::size_t write_text_form(const Protocol& protocol, char* out, std::size_t bytes) {
    // Often fresh memory: whole huge pages fault in far faster than 4 KiB ones.
    advise_huge_pages(out, bytes);
    SpanOutput output(out);
    TextWriter<SpanOutput>(output).put(protocol, 0);
    return static_cast<std::size_t>(output.position() - out);
}

}  // namespace protocols
