#include "xml_text.hpp"

#include <cstdint>

namespace vesk {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view ELLIPSIS = "\xE2\x80\xA6";     // U+2026

// The length of the valid UTF-8 sequence at p (shortest form, no surrogates,
// at most U+10FFFF), 0 if there is none; its code point in `code`.
std::size_t utf8_sequence(const unsigned char* p, const unsigned char* end, std::uint32_t& code) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    std::size_t length;
    std::uint32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
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
        std::uint32_t code = 0;
        const std::size_t length = utf8_sequence(p, end, code);
        const std::size_t taken = length == 0 ? 1 : length;
        if (chars + 1 >= max_chars && p + taken < end) {  // more follows than there is room for
            out += ELLIPSIS;
            return;
        }
        if (length == 0 || !shown_as_is(code)) {
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
