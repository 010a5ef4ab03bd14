// vesk diff: every field in which two protocol files differ, in field order,
// named by the paths that decoder errors use.
#include <charconv>
#include <cstring>
#include <span>
#include <variant>

#include "command_output.hpp"
#include "commands.hpp"
#include "field_path.hpp"
#include "load.hpp"
#include "protocols/config.hpp"
#include "protocols/text_form.hpp"
#include "sample_difference.hpp"
#include "value_text.hpp"

namespace vesk {

using namespace protocols;

namespace {

// " [5]", " [5..9]"
void put_positions(std::string& out, std::size_t first, std::size_t last) {
    out += " [";
    put_number(out, first);
    if (last != first) {
        out += "..";
        put_number(out, last);
    }
    out += ']';
}

// Walks two records side by side through their field declarations and writes
// one line per difference. The path is kept in one string, grown and cut
// back as the walk goes in and out.
class Differ {
public:
    explicit Differ(const TextSink& sink) : sink_(sink) {}

    std::size_t differences() const { return differences_; }

    // False when the sink refused the output.
    bool finish() { return write_out(); }

    void compare(bool a, bool b) {
        if (a != b) scalar_line(a, b);
    }
    void compare(std::uint64_t a, std::uint64_t b) {
        if (a != b) scalar_line(a, b);
    }
    void compare(const std::string& a, const std::string& b) {
        if (a != b) scalar_line(a, b);
    }

    // By bits: the same NaN is no difference, -0.0 and 0.0 are one.
    void compare(double a, double b) {
        std::uint64_t a_bits, b_bits;
        std::memcpy(&a_bits, &a, sizeof a);
        std::memcpy(&b_bits, &b, sizeof b);
        if (a_bits == b_bits) return;
        begin_line();
        const std::size_t old_start = line_.size();
        put_value(line_, a);
        const std::size_t old_length = line_.size() - old_start;
        line_ += " -> ";
        const std::size_t new_start = line_.size();
        put_value(line_, b);
        // Two NaNs print alike; their bits tell them apart.
        if (line_.compare(new_start, std::string::npos, line_, old_start, old_length) == 0) {
            line_ += " (bits ";
            put_bits(a_bits);
            line_ += " -> ";
            put_bits(b_bits);
            line_ += ')';
        }
        end_line();
    }

    template <typename T, std::size_t N>
    void compare(const std::array<T, N>& a, const std::array<T, N>& b) {
        for (std::size_t i = 0; i < N; ++i) {
            const std::size_t mark = path_.enter(i);
            compare(a[i], b[i]);
            path_.leave(mark);
        }
    }

    template <typename T, typename A>
    void compare(const std::vector<T, A>& a, const std::vector<T, A>& b) {
        length_line(a.size(), b.size(), "entries");
        const std::size_t common = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < common; ++i) {
            const std::size_t mark = path_.enter(i);
            compare(a[i], b[i]);
            path_.leave(mark);
        }
    }

    // Never a line per sample: one line for the length, one for the values.
    template <typename A>
    void compare(const std::vector<std::int16_t, A>& a, const std::vector<std::int16_t, A>& b) {
        length_line(a.size(), b.size(), "samples");
        const SampleDifference d =
            compare_samples(std::span<const std::int16_t>(a), std::span<const std::int16_t>(b));
        if (d.count == 0) return;
        begin_line();
        put_number(line_, d.count);
        line_ += a.size() == b.size() ? " of " : " of the first ";
        put_number(line_, std::min(a.size(), b.size()));
        line_ += d.count == 1 ? " samples differs:" : " samples differ:";
        position_text(d.count == 1 ? " at" : " first", d.first);
        if (d.count > 1) position_text(", last", d.last);
        line_ += ", largest difference ";
        line_ += std::to_string(d.largest);
        line_ += " (";
        write_float(line_, d.largest / config::SAMPLE_SCALE);
        line_ += ')';
        end_line();
    }

    void compare(const Signal& a, const Signal& b) {
        if (a.index() != b.index()) {
            scalar_line(a, b);
            return;
        }
        std::visit(
            [&](const auto& params) {
                using Params = std::remove_cvref_t<decltype(params)>;
                const std::size_t mark = path_.enter(Params::variant_name);
                compare(params, std::get<Params>(b));
                path_.leave(mark);
            },
            a);
    }

    template <Record R>
    void compare(const R& a, const R& b) {
        for_each_field_pair(a, b, [&](std::string_view name, const auto& x, const auto& y) {
            const std::size_t mark = path_.enter(name);
            compare(x, y);
            path_.leave(mark);
        });
    }

private:
    void begin_line() {
        ++differences_;
        line_ += path_.text();
        line_ += ": ";
    }
    void end_line() {
        line_ += '\n';
        if (line_.size() >= (1 << 16)) write_out();
    }

    template <typename T>
    void scalar_line(const T& a, const T& b) {
        begin_line();
        put_value(line_, a);
        line_ += " -> ";
        put_value(line_, b);
        end_line();
    }

    // "PATH: 2 -> 3 entries, added [2]"
    void length_line(std::size_t a, std::size_t b, const char* noun) {
        if (a == b) return;
        begin_line();
        put_number(line_, a);
        line_ += " -> ";
        put_number(line_, b);
        line_ += ' ';
        line_ += noun;
        line_ += a < b ? ", added" : ", removed";
        put_positions(line_, std::min(a, b), std::max(a, b) - 1);
        end_line();
    }

    // " first [12] (0.0024 s)"
    void position_text(const char* label, std::size_t index) {
        line_ += label;
        put_positions(line_, index, index);
        line_ += " (";
        write_float(line_, static_cast<double>(index) / config::SAMPLING_RATE);
        line_ += " s)";
    }

    void put_bits(std::uint64_t bits) {
        char digits[16];
        const auto length = static_cast<std::size_t>(
            std::to_chars(digits, digits + sizeof digits, bits, 16).ptr - digits);
        line_ += "0x";
        line_.append(16 - length, '0');
        line_.append(digits, length);
    }

    bool write_out() {
        if (!write_failed_ && !line_.empty()) write_failed_ = !sink_(line_);
        line_.clear();
        return !write_failed_;
    }

    const TextSink& sink_;
    FieldPath path_;
    std::string line_;  // lines not yet written out
    std::size_t differences_ = 0;
    bool write_failed_ = false;
};

}  // namespace

bool write_diff(const Settings& a, const Settings& b, const TextSink& sink,
                std::size_t& differences) {
    Differ differ(sink);
    differ.compare(a, b);
    differences = differ.differences();
    return differ.finish();
}

int run_diff(const Args& args) {
    Loaded a, b;
    int status;
    if (!load_protocol(args.file, a, status)) return status;
    if (!load_protocol(args.second_file, b, status)) return status;
    CommandOutput out(args.output);
    std::size_t differences = 0;
    write_diff(
        a.settings, b.settings, [&](std::string_view piece) { return out.write(piece); },
        differences);
    if (const int written = out.finish(); written != EXIT_OK) return written;
    return differences == 0 ? EXIT_OK : EXIT_FINDINGS;
}

}  // namespace vesk
