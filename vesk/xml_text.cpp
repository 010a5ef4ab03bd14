#include "xml_text.hpp"

#include <cstdint>

#include "protocols/utf8.hpp"

namespace vesk {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view ELLIPSIS = "\xE2\x80\xA6";     // U+2026

// The code point of the valid UTF-8 sequence of `length` bytes at p.
std::uint32_t code_point(const unsigned char* p, std::size_t length) {
    constexpr unsigned char LEAD_BITS[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    std::uint32_t code = p[0] & LEAD_BITS[length];
    for (std::size_t i = 1; i < length; ++i) code = (code << 6) | (p[i] & 0x3F);
    return code;
}

// Characters of XML 1.0 that a label can show: no control characters at all
// (a line break would not show either), no U+FFFE or U+FFFF.
bool shown_as_is(std::uint32_t code) {
    return code >= 0x20 && code != 0x7F && code != 0xFFFE && code != 0xFFFF;
}

}  // namespace

void append_xml_text(std::string& out, std::string_view text, std::size_t max_chars) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    for (std::size_t chars = 0; p < end; ++chars) {
        const std::size_t length = protocols::utf8_sequence_length(p, end);
        const std::size_t taken = length == 0 ? 1 : length;
        if (chars + 1 >= max_chars && p + taken < end) {  // more follows than there is room for
            out += ELLIPSIS;
            return;
        }
        // An invalid sequence counts as U+0000, which is never shown.
        const std::uint32_t code = length == 0 ? 0 : code_point(p, length);
        if (!shown_as_is(code)) {
            out += REPLACEMENT;
            p += taken;
            continue;
        }
        switch (code) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out.append(reinterpret_cast<const char*>(p), length);
        }
        p += length;
    }
}

}  // namespace vesk
