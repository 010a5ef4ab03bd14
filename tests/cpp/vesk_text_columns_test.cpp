// Which characters take two columns: the blocks of East Asian wide and
// fullwidth characters and of emoji, each checked at both of its ends and
// just outside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "text_columns.hpp"

namespace vesk {
namespace {

std::string utf8(char32_t code) {
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

// The first and last character of each wide block: Hangul Jamo leads, CJK
// radicals to punctuation, kana to CJK compatibility, CJK extension A,
// unified ideographs, Yi, Hangul syllables, compatibility ideographs, CJK
// compatibility forms, fullwidth forms, fullwidth signs, pictographs and
// emoticons, supplemental pictographs, and planes 2 and 3.
struct Block {
    char32_t first;
    char32_t last;
};
constexpr Block WIDE_BLOCKS[] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
};

bool in_a_wide_block(std::uint32_t code) {
    return std::any_of(std::begin(WIDE_BLOCKS), std::end(WIDE_BLOCKS),
                       [code](Block b) { return code >= b.first && code <= b.last; });
}

// Each block's ends and the characters just outside them, which are narrow
// unless the next block starts there.
TEST(TextColumns, WideBlocksTakeTwoColumnsToTheirEndsAndNoFurther) {
    for (const Block block : WIDE_BLOCKS) {
        const auto first = static_cast<std::uint32_t>(block.first);
        const auto last = static_cast<std::uint32_t>(block.last);
        for (const std::uint32_t code : {first - 1, first, last, last + 1}) {
            EXPECT_EQ(text_columns(utf8(code)), in_a_wide_block(code) ? 2u : 1u)
                << std::hex << code;
        }
    }
    EXPECT_EQ(text_columns(utf8(U'a').append(utf8(0x4E00)).append(utf8(0x1F600))), 5u);
}

// The one cutter, as plain text and as a JSON string: whole when it fits,
// else whole characters (a wide one takes two columns, an escape is never
// split) and an ellipsis, together within the columns.
struct Cut {
    const char* text;
    std::size_t columns;
    const char* plain;
    const char* json;
};

class Cuts : public ::testing::TestWithParam<Cut> {};

TEST_P(Cuts, KeepWholeCharactersWithinTheColumns) {
    const Cut& c = GetParam();
    EXPECT_EQ(cut_to_columns(c.text, c.columns), c.plain);
    EXPECT_EQ(json_string_within(c.text, c.columns), c.json);
}

INSTANTIATE_TEST_SUITE_P(Table, Cuts,
                         ::testing::Values(Cut{"Default", 9, "Default", "\"Default\""},
                                           Cut{"Default", 8, "Default", "\"Defau\u2026\""},
                                           Cut{"Default", 5, "Defa\u2026", "\"De\u2026\""},
                                           Cut{"ab", 0, "\u2026", "\"\u2026\""},
                                           Cut{"", 0, "", "\"\""},  // nothing cut, so no ellipsis
                                           Cut{"a\u4e00b", 3, "a\u2026", "\"\u2026\""},
                                           Cut{"a\u4e00b", 4, "a\u4e00b", "\"a\u2026\""},
                                           Cut{"a\u202eb", 9, "a\u202eb", "\"a\u2026\""},
                                           Cut{"a\u202eb", 10, "a\u202eb", "\"a\\u202eb\""}));

}  // namespace
}  // namespace vesk
