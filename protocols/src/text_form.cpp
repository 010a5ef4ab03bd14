#include "protocols/text_form.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <type_traits>
#include <variant>

#include "bulk_buffer.hpp"
#include "byte_order.hpp"

namespace protocols {
namespace {

constexpr std::size_t INDENT_WIDTH = 4;
constexpr std::size_t MAX_SAMPLE_CHARS = 6;  // "-32768"

// The decimal text of every sample in 0..32767, the range quantisation gives:
// the digits from the lowest byte up and their count in the top byte. Loading
// eight bytes is cheaper than converting digit by digit in the hot loop.
constexpr auto SAMPLE_TEXTS = [] {
    std::array<std::uint64_t, 32768> table{};
    for (std::uint64_t value = 0; value < table.size(); ++value) {
        std::uint64_t digits = 0;
        std::uint64_t count = 0;
        std::uint64_t rest = value;
        do {
            digits = (digits << 8) | ('0' + rest % 10);
            rest /= 10;
            ++count;
        } while (rest != 0);
        table[value] = digits | (count << 56);
    }
    return table;
}();

// Appends the text form of any protocol value to one string. Records are
// walked through their field declarations; only the primitives are spelled out.
class TextWriter {
public:
    explicit TextWriter(std::string& out) : out_(out) {}

    void put(bool flag, unsigned) { out_ += flag ? "true" : "false"; }

    void put(std::uint64_t value, unsigned) {
        char buffer[20];
        out_.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
    }

    void put(double value, unsigned) { write_float(out_, value); }

    void put(const std::string& text, unsigned) { put_quoted(text); }

    void put(VESKError error, unsigned) { out_ += variant_name(error); }

    template <typename T>
    void put(const std::vector<T>& list, unsigned level) {
        put_list(list, level);
    }

    template <typename T, std::size_t N>
    void put(const std::array<T, N>& array, unsigned level) {
        put_list(array, level);
    }

    void put(const std::vector<std::int16_t>& samples, unsigned level);

    void put(const Signal& signal, unsigned level) {
        std::visit(
            [&](const auto& params) {
                out_ += std::remove_cvref_t<decltype(params)>::variant_name;
                out_ += "(\n";
                indent(level + 1);
                put(params, level + 1);
                out_ += ",\n";
                indent(level);
                out_ += ')';
            },
            signal);
    }

    template <Record R>
    void put(const R& record, unsigned level) {
        out_ += R::type_name;
        out_ += " {\n";
        for_each_field(record, [&](std::string_view name, const auto& member) {
            indent(level + 1);
            out_ += name;
            out_ += ": ";
            put(member, level + 1);
            out_ += ",\n";
        });
        indent(level);
        out_ += '}';
    }

private:
    void indent(unsigned level) { out_.append(INDENT_WIDTH * level, ' '); }

    template <typename List>
    void put_list(const List& list, unsigned level) {
        if (list.empty()) {
            out_ += "[]";
            return;
        }
        out_ += "[\n";
        for (const auto& element : list) {
            indent(level + 1);
            put(element, level + 1);
            out_ += ",\n";
        }
        indent(level);
        out_ += ']';
    }

    void put_quoted(const std::string& text);

    std::string& out_;
};

void TextWriter::put_quoted(const std::string& text) {
    out_ += '"';
    for (const char c : text) {
        switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\t':
                out_ += "\\t";
                break;
            case '\r':
                out_ += "\\r";
                break;
            case '\0':
                out_ += "\\0";
                break;
            default: {
                const auto byte = static_cast<unsigned char>(c);
                if (byte < 0x20 || byte == 0x7F) {
                    constexpr std::string_view hex_digits = "0123456789abcdef";
                    out_ += "\\u{";
                    if (byte >= 0x10) out_ += hex_digits[byte >> 4];
                    out_ += hex_digits[byte & 0xF];
                    out_ += '}';
                } else {
                    out_ += c;  // UTF-8 sequences pass through whole
                }
            }
        }
    }
    out_ += '"';
}

// Writes each sample and then `separator` (",\n" and the next line's
// indentation), copying Block bytes of it at once when Block is non-zero: a
// fixed-size copy is a couple of vector moves instead of a memcpy call. Both
// stores may write past the line; the next line or the slack absorbs it.
template <std::size_t Block>
char* write_sample_lines(char* p, const std::vector<std::int16_t>& samples,
                         const std::string& separator, std::size_t separator_length) {
    for (const std::int16_t sample : samples) {
        if (sample >= 0) {
            const std::uint64_t text = SAMPLE_TEXTS[static_cast<std::size_t>(sample)];
            store_little_endian(p, text);
            p += text >> 56;
        } else {
            p = std::to_chars(p, p + MAX_SAMPLE_CHARS, sample).ptr;
        }
        std::memcpy(p, separator.data(), Block != 0 ? Block : separator_length);
        p += separator_length;
    }
    return p;
}

// The sample list can hold millions of lines: one resize to an upper bound,
// writes through a pointer, one shrink to the characters used.
void TextWriter::put(const std::vector<std::int16_t>& samples, unsigned level) {
    if (samples.empty()) {
        out_ += "[]";
        return;
    }
    out_ += "[\n";
    constexpr std::size_t BLOCK = 64;  // >= 8, the digit store's width
    const std::size_t inner = INDENT_WIDTH * (level + 1);
    const std::size_t separator_length = 2 + inner;
    std::string separator(std::max(BLOCK, separator_length), ' ');
    separator[0] = ',';
    separator[1] = '\n';

    const std::size_t start = out_.size();
    resize_for_bulk_write(
        out_, start + inner + samples.size() * (MAX_SAMPLE_CHARS + separator_length) + BLOCK);
    char* p = out_.data() + start;
    std::memset(p, ' ', inner);
    p += inner;
    if (separator_length <= 32) {
        p = write_sample_lines<32>(p, samples, separator, separator_length);
    } else if (separator_length <= BLOCK) {
        p = write_sample_lines<BLOCK>(p, samples, separator, separator_length);
    } else {
        p = write_sample_lines<0>(p, samples, separator, separator_length);
    }
    // The last separator indented for another element; "]" sits one level out.
    p -= INDENT_WIDTH;
    *p++ = ']';
    out_.resize(static_cast<std::size_t>(p - out_.data()));
}

template <typename T>
void write_any(std::string& out, const T& value, unsigned level) {
    TextWriter(out).put(value, level);
}

}  // namespace

void write_text(std::string& out, const Protocol& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const Settings& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const MachineConfig& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const Coil& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const LCSetting& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const ChannelSettings& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const SignalSourceSelection& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const Signal& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const ConstantSignalParams& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const SineSignalParams& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const RampSignalParams& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const MixedSignalParams& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, const ArbitrarySignalParams& value, unsigned level) {
    write_any(out, value, level);
}
void write_text(std::string& out, VESKError value, unsigned level) {
    write_any(out, value, level);
}

}  // namespace protocols
