#include "xml_text.hpp"

#include <cstdint>

#include "protocols/utf8.hpp"

namespace vesk {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

// Characters of XML 1.0 that a label can show: none that is_escaped_when_shown
// names (a control character or a line break would not show, a bidirectional
// one would reorder the rest of the label), no U+FFFE or U+FFFF.
bool shown_as_is(std::uint32_t code) {
    return !protocols::is_escaped_when_shown(code) && code != 0xFFFE && code != 0xFFFF;
}

}  // namespace

void append_xml_text(std::string& out, std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const std::size_t length = protocols::utf8_sequence_length(p, end);
        const std::size_t taken = length == 0 ? 1 : length;
        // An invalid sequence counts as U+0000, which is never shown.
        const std::uint32_t code = length == 0 ? 0 : protocols::utf8_code_point(p, length);
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
