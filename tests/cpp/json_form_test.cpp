// The JSON form: escaping of any text, the float mapping, and the document
// written in pieces against the one written whole.
#include "protocols/json_form.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "param_name.hpp"
#include "protocols/text_form.hpp"

namespace protocols {
namespace {

std::string json_string(std::string_view text) {
    std::string out;
    write_json_string(out, text);
    return out;
}

struct Escaped {
    std::string_view text;
    std::string_view json;
};

void PrintTo(const Escaped& e, std::ostream* os) {
    *os << testing::PrintToString(std::string(e.text));
}

class JsonString : public testing::TestWithParam<Escaped> {};

TEST_P(JsonString, IsEscapedExactly) {
    EXPECT_EQ(json_string(GetParam().text), GetParam().json);
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonString,
    testing::Values(Escaped{"Default", R"("Default")"}, Escaped{"", R"("")"},
                    Escaped{R"(say "hi" \ bye)", R"("say \"hi\" \\ bye")"},
                    Escaped{"\b\f\n\r\t", R"("\b\f\n\r\t")"},
                    Escaped{"\x00\x01\x1f\x7f"sv, R"("\u0000\u0001\u001f\u007f")"},
                    Escaped{"\xC2\x80\xC2\x9B\xC2\x9F\xC2\xA0",
                            "\"\\u0080\\u009b\\u009f\xC2\xA0\""},  // C1
                                                                   // Copied whole: two-, three- and
                                                                   // four-byte sequences.
                    Escaped{"\xC3\xA4\xE2\x86\x92\xF0\x9F\x98\x80",
                            "\"\xC3\xA4\xE2\x86\x92\xF0\x9F\x98\x80\""},
                    Escaped{"a\xE2\x80\xA8"
                            "b\xE2\x80\xA9"
                            "c",
                            R"("a\u2028b\u2029c")"},
                    // The bidirectional formatting characters, escaped at each edge of
                    // their ranges, their neighbours copied; the highest planes copied.
                    Escaped{"\u061B\u061C\u061D", "\"\u061B\\u061c\u061D\""},
                    Escaped{"\u200D\u200E\u200F\u2010", "\"\u200D\\u200e\\u200f\u2010\""},
                    Escaped{"\u2027\u202A\u202E\u202F", "\"\u2027\\u202a\\u202e\u202F\""},
                    Escaped{"\u2065\u2066\u2069\u206A", "\"\u2065\\u2066\\u2069\u206A\""},
                    Escaped{"\U00100000\U0010FFFF", "\"\U00100000\U0010FFFF\""},
                    // Bytes that begin no valid sequence, one replacement each.
                    Escaped{"a\xFF"
                            "b",
                            R"("a\ufffdb")"},
                    Escaped{"\xC3", R"("\ufffd")"},
                    Escaped{"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},  // a surrogate
                    Escaped{"\xC0\x80", R"("\ufffd\ufffd")"},            // an overlong NUL
                    Escaped{"</script>", R"("</script>")"}),
    [](const auto& info) { return param_name::text(info.param.text); });

std::string json_float(double value) {
    std::string out;
    write_json_float(out, value);
    return out;
}

TEST(JsonFloat, FiniteValuesAreShortestNumbersAndTheRestStrings) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(json_float(0.0), "0.0");
    EXPECT_EQ(json_float(-0.0), "-0.0");
    EXPECT_EQ(json_float(0.1), "0.1");
    EXPECT_EQ(json_float(1e16), "1e16");
    EXPECT_EQ(json_float(-2.5e-5), "-2.5e-5");
    EXPECT_EQ(json_float(5e-324), "5e-324");
    EXPECT_EQ(json_float(std::numeric_limits<double>::max()), "1.7976931348623157e308");
    EXPECT_EQ(json_float(inf), R"("inf")");
    EXPECT_EQ(json_float(-inf), R"("-inf")");
    EXPECT_EQ(json_float(std::numeric_limits<double>::quiet_NaN()), R"("NaN")");
    EXPECT_EQ(json_float(-std::numeric_limits<double>::quiet_NaN()),
              R"j("NaN(0xfff8000000000000)")j");
    EXPECT_EQ(json_float(std::bit_cast<double>(std::uint64_t{0x7FF0000000000001})),
              R"j("NaN(0x7ff0000000000001)")j");
}

TEST(JsonForm, SignalsAreObjectsNamedByTheirVariant) {
    std::string out;
    write_json(out, Signal{MixedSignalParams{0, std::numeric_limits<std::uint64_t>::max()}});
    EXPECT_EQ(out, R"({"MixedSignal":{"a_idx":0,"b_idx":18446744073709551615}})");
    out.clear();
    write_json(out, Signal{ArbitrarySignalParams{{0, -1, 32767, -32768}}});
    EXPECT_EQ(out, R"({"Arbitrary":{"samples":[0,-1,32767,-32768]}})");
    out.clear();
    write_json(out, Signal{ArbitrarySignalParams{}});
    EXPECT_EQ(out, R"({"Arbitrary":{"samples":[]}})");
}

// A record long enough to span many pieces and sample bulk regions, with
// fields after the samples.
Settings long_record(std::size_t samples_count) {
    unsetenv("VESK_TARGET_MACHINE");
    Settings s;
    std::mt19937 rng(9);
    Samples samples(samples_count);
    for (std::int16_t& sample : samples) sample = static_cast<std::int16_t>(rng());
    s.machine_config.coils.at(0).name = "a \"quoted\"\n\xE2\x80\xA8 name";
    s.signals = {ConstantSignalParams{0.5}, ArbitrarySignalParams{samples},
                 ArbitrarySignalParams{{1, 2}}, MixedSignalParams{1, 2}};
    s.monitor_trace_visible[3] = true;
    return s;
}

// The pieces put together are the whole text, each within its size bound,
// for pieces smaller than one line and larger than the text.
template <typename Whole, typename InPieces>
void expect_pieces_make_the_whole(Whole whole, InPieces in_pieces) {
    for (const std::size_t count : {0u, 40u, 100000u}) {
        const Settings s = long_record(count);
        const std::string expected = whole(s);
        for (const std::size_t piece : {1u, 1000u, 1u << 20}) {
            std::string joined;
            std::size_t largest = 0;
            ASSERT_TRUE(in_pieces(s, piece, [&](std::string_view text) {
                joined += text;
                largest = std::max(largest, text.size());
                return true;
            }));
            EXPECT_EQ(joined, expected) << count << " samples, pieces of " << piece;
            EXPECT_LT(largest, piece + (std::size_t{1} << 20)) << count << " samples";
        }
    }
}

TEST(InPieces, JsonPiecesMakeTheWholeDocument) {
    expect_pieces_make_the_whole(
        [](const Settings& s) {
            std::string out;
            write_json(out, s);
            return out;
        },
        write_json_in_pieces);
}

TEST(InPieces, TextPiecesMakeTheWholeTextForm) {
    expect_pieces_make_the_whole([](const Settings& s) { return text_form(s); },
                                 write_text_in_pieces);
}

// A sink that refuses is not called again, and the writer says so.
TEST(InPieces, ASinkThatRefusesStopsTheWriting) {
    const Settings s = long_record(100000);
    for (const auto in_pieces : {write_json_in_pieces, write_text_in_pieces}) {
        int calls = 0;
        EXPECT_FALSE(in_pieces(s, 4096, [&](std::string_view) { return ++calls < 3; }));
        EXPECT_EQ(calls, 3);
    }
}

// The builder's commas: none after an opening or a key, one between
// members and elements, empty containers and nesting included.
TEST(JsonBuilder, PutsACommaBetweenMembersAndElementsOnly) {
    std::string out;
    JsonBuilder json(out);
    json.begin_object().key("a").begin_array().number(std::uint64_t{1}).boolean(true).null();
    json.string("x\u202e").number(-0.0).end_array();
    json.key("b").begin_object().end_object().key("c").begin_array().end_array();
    json.key("d").record(LCSetting{330.0, 22.5, 221, 1}).key("e").json("[2]").end_object();
    EXPECT_EQ(out,
              "{\"a\":[1,true,null,\"x\\u202e\",-0.0],\"b\":{},\"c\":[],"
              "\"d\":{\"capacitance\":330.0,\"carrier_frequency\":22.5,"
              "\"clk_ticks_per_sample\":221,\"capacitor_bank_setting\":1},\"e\":[2]}");
}

}  // namespace
}  // namespace protocols
