// libFuzzer target: the decoder must never crash or read out of bounds, a
// refusal must point inside the input, and every accepted input must
// re-encode to exactly the same bytes; decoded as it is read, through a
// window of a size the input chooses, it must give the same record or the
// same refusal; its text and JSON forms are written whole and in pieces,
// which must agree. What the vesk command prints for an accepted record
// (summary as text and as JSON, the plot, a diff against itself) must be
// whole, one line per fact and free of raw control characters. An input that
// holds PAIR_MARK is also read as two files, before and after the mark, which
// are diffed both ways: the diff is empty exactly when they encode alike.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "diff.hpp"
#include "pair_mark.hpp"
#include "plot.hpp"
#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"
#include "protocols/json_form.hpp"
#include "protocols/text_form.hpp"
#include "protocols/utf8.hpp"
#include "summary.hpp"

namespace {

[[noreturn]] void fail(const char* what, std::string_view output) {
    std::fprintf(stderr, "%s; the output:\n%.*s\n", what, static_cast<int>(output.size()),
                 output.data());
    std::abort();
}

// Output for a person or a program: valid UTF-8, complete lines, and no C0
// control character but the line ends, and no DEL.
void check_output(const char* what, std::string_view text) {
    if (text.empty() || text.back() != '\n') fail(what, text);
    if (!protocols::is_valid_utf8(text)) fail(what, text);
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const std::size_t length = protocols::utf8_sequence_length(p, end);
        const std::uint32_t code = protocols::utf8_code_point(p, length);
        if (code != '\n' && protocols::is_escaped_when_shown(code)) fail(what, text);
        p += length;
    }
}

std::size_t line_count(std::string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The diff of a and b, with its number of differences.
std::string diff_text(const protocols::Settings& a, const protocols::Settings& b,
                      std::size_t& differences) {
    std::string text;
    const protocols::TextSink append = [&](std::string_view piece) {
        text += piece;
        return true;
    };
    if (!vesk::write_diff(a, b, append, differences)) std::abort();
    return text;
}

void check_diff(const protocols::Settings& a, const protocols::Settings& b) {
    std::size_t differences = 0;
    const std::string text = diff_text(a, b, differences);
    const bool same = protocols::encode_file(a) == protocols::encode_file(b);
    if (same != (differences == 0) || same != text.empty()) {
        fail(same ? "a diff of records that encode alike" : "no diff of records that differ", text);
    }
    if (!same) check_output("diff", text);
}

// What the vesk command prints for one record. `name` is the file's name as
// the plot's title shows it: any bytes.
void check_reader(const protocols::Settings& settings, std::string_view name) {
    const std::string summary = vesk::summary_text(settings);
    check_output("summary", summary);
    // Three lines for the session, four per channel, one per signal and one
    // before them: a name that broke a line would add one.
    if (line_count(summary) != 12 + settings.signals.size()) fail("summary lines", summary);
    const std::string json = vesk::summary_json(settings);
    check_output("summary --json", json);
    if (line_count(json) != 1) fail("summary --json lines", json);
    check_output("plot", vesk::plot_svg(settings, name) + "\n");
    check_diff(settings, settings);
}

// The input in reads of at most `longest` bytes.
class ShortReads final : public protocols::ByteSource {
public:
    ShortReads(const std::uint8_t* data, std::size_t size, std::size_t longest)
        : data_(data), size_(size), longest_(longest) {}
    std::size_t read_some(std::uint8_t* out, std::size_t room) override {
        const std::size_t n = std::min({room, size_ - at_, longest_});
        std::memcpy(out, data_ + at_, n);
        at_ += n;
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    std::size_t longest_;
};

bool same_outcome(const protocols::DecodeResult& a, const protocols::DecodeResult& b) {
    if (a.has_value() != b.has_value()) return false;
    return a ? a.value() == b.value() ||
                   protocols::encode_file(a.value()) == protocols::encode_file(b.value())
             : a.error() == b.error();
}

// The decoder and the text and JSON forms, on the whole input.
void check_decoding(const std::uint8_t* data, std::size_t size,
                    const protocols::DecodeResult& result) {
    const std::size_t window = size == 0 ? 1 : 1 + data[size - 1] % 200;
    ShortReads source(data, size, 1 + (size == 0 ? 0 : data[0] % 64));
    if (!same_outcome(protocols::decode_file(source, size, window), result)) {
        std::fprintf(stderr, "decoded in a window of %zu, %zu bytes give another outcome\n", window,
                     size);
        std::abort();
    }
    if (!result) {
        const protocols::DecodeError& error = result.error();
        if (error.offset > size || error.message.empty()) {
            std::fprintf(stderr, "bad refusal for %zu bytes: %s\n", size, error.describe().c_str());
            std::abort();
        }
        return;
    }
    const protocols::Bytes again = protocols::encode_file(result.value());
    if (again.size() != size || std::memcmp(again.data(), data, size) != 0) {
        std::fprintf(stderr, "accepted %zu bytes that re-encode to %zu different bytes\n", size,
                     again.size());
        std::abort();
    }
    // The text and JSON forms must cope with whatever the decoder lets
    // through, written whole or in pieces (small ones, to cross every bound).
    const std::string text = protocols::text_form(result.value());
    std::string json;
    protocols::write_json(json, result.value());
    std::string joined;
    const protocols::TextSink join = [&](std::string_view piece) {
        joined += piece;
        return true;
    };
    if (text.empty() || json.empty()) std::abort();
    if (!protocols::write_text_in_pieces(result.value(), 64, join) || joined != text) std::abort();
    joined.clear();
    if (!protocols::write_json_in_pieces(result.value(), 64, join) || joined != json) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const protocols::DecodeResult result = protocols::decode_file({data, size});
    check_decoding(data, size, result);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (result) {
        // The title takes the input's last bytes as the file's name.
        check_reader(result.value(), input.substr(size - std::min<std::size_t>(size, 40)));
    }
    const std::size_t mark = input.find(PAIR_MARK);
    if (mark == std::string_view::npos) return 0;
    const std::size_t second = mark + PAIR_MARK.size();
    const protocols::DecodeResult a = protocols::decode_file({data, mark});
    const protocols::DecodeResult b = protocols::decode_file({data + second, size - second});
    if (a && b) {
        check_diff(a.value(), b.value());
        check_diff(b.value(), a.value());
    }
    return 0;
}
