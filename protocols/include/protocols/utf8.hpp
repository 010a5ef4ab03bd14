// Strict UTF-8 validation: no overlong forms, no surrogates, nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace protocols {

// The length of the valid UTF-8 sequence that starts at p (1 to 4), or 0 when
// none does.
inline std::size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = *p;
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned char second_min = 0x80, second_max = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) second_min = 0xA0;  // overlong
        if (lead == 0xED) second_max = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) second_min = 0x90;  // overlong
        if (lead == 0xF4) second_max = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < length) return 0;
    if (p[1] < second_min || p[1] > second_max) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
    }
    return length;
}

// The code point of the valid UTF-8 sequence of `length` bytes at p.
inline std::uint32_t utf8_code_point(const unsigned char* p, std::size_t length) {
    constexpr unsigned char LEAD_BITS[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    std::uint32_t code = p[0] & LEAD_BITS[length];
    for (std::size_t i = 1; i < length; ++i) code = (code << 6) | (p[i] & 0x3F);
    return code;
}

// Characters that a terminal or a text renderer acts on instead of showing:
// the C0 and C1 controls and DEL, the bidirectional formatting characters
// (which can reorder the rest of a line) and the line and paragraph
// separators. Every form that shows text from a file to a person writes
// these as escapes; all of them are below U+10000.
constexpr bool is_escaped_when_shown(std::uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E ||
           code == 0x200F || (code >= 0x2028 && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069);
}

inline bool is_valid_utf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const std::size_t length = utf8_sequence_length(p, end);
        if (length == 0) return false;
        p += length;
    }
    return true;
}

}  // namespace protocols
