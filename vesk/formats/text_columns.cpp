#include "text_columns.hpp"

#include <algorithm>
#include <iterator>

#include "protocols/json_form.hpp"
#include "protocols/utf8.hpp"

namespace vesk {
namespace {

constexpr std::string_view ELLIPSIS = "\xE2\x80\xA6";  // U+2026

// The blocks of East Asian wide and fullwidth characters and of emoji, which
// fonts draw about twice as wide as a Latin letter.
struct Range {
    char32_t first;
    char32_t last;
};
constexpr Range WIDE[] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
};

bool is_wide(char32_t code) {
    return std::any_of(std::begin(WIDE), std::end(WIDE),
                       [code](Range r) { return code >= r.first && code <= r.last; });
}

struct Character {
    std::size_t bytes;
    std::size_t columns;
};

Character character_at(std::string_view text, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
    const auto* end = reinterpret_cast<const unsigned char*>(text.data()) + text.size();
    const std::size_t length = protocols::utf8_sequence_length(p, end);
    if (length == 0) return {1, 1};
    return {length, is_wide(protocols::utf8_code_point(p, length)) ? 2u : 1u};
}

// The one cutter: `text` with each character written as `shown(character)`,
// whole if that takes at most `columns` columns, else the longest run of
// whole characters from its start that leaves a column for "…", and "…".
template <typename Shown>
std::string cut_shown(std::string_view text, std::size_t columns, Shown shown) {
    std::string out;
    std::size_t used = 0;
    std::size_t within = 0;  // bytes of `out` that leave room for the ellipsis
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t bytes = character_at(text, at).bytes;
        const std::string piece = shown(text.substr(at, bytes));
        used += text_columns(piece);
        if (used > columns) {
            out.resize(within);
            return out + std::string(ELLIPSIS);
        }
        out += piece;
        if (used < columns) within = out.size();
        at += bytes;
    }
    return out;
}

}  // namespace

std::size_t text_columns(std::string_view text) {
    std::size_t columns = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Character c = character_at(text, at);
        columns += c.columns;
        at += c.bytes;
    }
    return columns;
}

std::string cut_to_columns(std::string_view text, std::size_t columns) {
    return cut_shown(text, columns,
                     [](std::string_view character) { return std::string(character); });
}

std::string json_string_within(std::string_view text, std::size_t columns) {
    std::string whole;
    protocols::write_json_string(whole, text);
    if (text_columns(whole) <= columns) return whole;
    // JSON escapes one character at a time, so each character's escape is
    // its share of the whole string.
    const auto escaped = [](std::string_view character) {
        std::string quoted;
        protocols::write_json_string(quoted, character);
        return quoted.substr(1, quoted.size() - 2);
    };
    return '"' + cut_shown(text, columns - std::min<std::size_t>(columns, 2), escaped) + '"';
}

}  // namespace vesk
