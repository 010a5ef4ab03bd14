// vesk diff: every difference between two protocol files, in field order.
// What a researcher changes (the signals and where each channel input takes
// its source from) is said in summary's words; everything else is named by
// the paths that decoder errors use.
#include "diff.hpp"

#include <charconv>
#include <span>
#include <variant>

#include "describe.hpp"
#include "protocols/config.hpp"
#include "protocols/field_path.hpp"
#include "protocols/float_bits.hpp"
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

// Walks two protocols side by side through their field declarations and
// writes one line per difference. The path is kept in one string, grown and
// cut back as the walk goes in and out.
class Differ {
public:
    Differ(const TextSink& sink, const Settings& old_settings, const Settings& new_settings)
        : sink_(sink), old_(old_settings), new_(new_settings), old_channels_(channels(old_)) {}

    void run() { compare(old_, new_); }

    std::size_t differences() const { return differences_; }

    // False when the output could not be written.
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
        if (same_bits(a, b)) return;
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
            put_bits(float_bits(a));
            line_ += " -> ";
            put_bits(float_bits(b));
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

    // Signals by position. One that was added or removed, or changed its
    // kind, is one line as summary describes it; the parameters of one that
    // kept its kind are compared by path.
    void compare(const std::vector<Signal>& a, const std::vector<Signal>& b) {
        const std::size_t common = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < common; ++i) {
            if (a[i].index() != b[i].index()) {
                begin_line("signal ", i);
                line_ += signal_line(a[i]);
                line_ += " -> ";
                line_ += signal_line(b[i]);
                end_line();
                continue;
            }
            const std::size_t mark = path_.enter(i);
            compare_parameters(a[i], b[i]);
            path_.leave(mark);
        }
        for (std::size_t i = common; i < a.size(); ++i)
            whole_signal_line("removed signal ", i, a[i]);
        for (std::size_t i = common; i < b.size(); ++i) whole_signal_line("added signal ", i, b[i]);
    }

    // A channel input whose source changed, both sources as summary names
    // them. A crafted selection holds a number that source_text() does not
    // show, so such a pair is compared field by field instead.
    void compare(const SignalSourceSelection& a, const SignalSourceSelection& b) {
        if (a == b) return;
        const ChannelInput* input = old_input(a);
        if (input == nullptr || !setter_form(a) || !setter_form(b)) return compare_fields(a, b);
        begin_line(input->label);
        line_ += source_text(old_, a);
        line_ += " -> ";
        line_ += source_text(new_, b);
        end_line();
    }

    template <Record R>
    void compare(const R& a, const R& b) {
        compare_fields(a, b);
    }

private:
    // Two signals of one kind.
    void compare_parameters(const Signal& a, const Signal& b) {
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
    void compare_fields(const R& a, const R& b) {
        for_each_field_pair(a, b, [&](std::string_view name, const auto& x, const auto& y) {
            const std::size_t mark = path_.enter(name);
            compare(x, y);
            path_.leave(mark);
        });
    }

    void begin_line() { begin_line(path_.text()); }
    void begin_line(std::string_view head) {
        ++differences_;
        line_ += head;
        line_ += ": ";
    }
    // "signal 3: "
    void begin_line(std::string_view head, std::size_t position) {
        ++differences_;
        line_ += head;
        put_number(line_, position);
        line_ += ": ";
    }

    // "added signal 3: Constant value 0.25"
    void whole_signal_line(std::string_view head, std::size_t position, const Signal& signal) {
        begin_line(head, position);
        line_ += signal_line(signal);
        end_line();
    }

    // The input of the old protocol whose selection `source` is, found by
    // address, since the walk reaches it through the channel's fields.
    const ChannelInput* old_input(const SignalSourceSelection& source) const {
        for (const ChannelView& channel : old_channels_) {
            for (const ChannelInput& input : channel.inputs) {
                if (&input.source == &source) return &input;
            }
        }
        return nullptr;
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
    const Settings& old_;
    const Settings& new_;
    const std::array<ChannelView, 2> old_channels_;
    FieldPath path_;
    std::string line_;  // lines not yet written out
    std::size_t differences_ = 0;
    bool write_failed_ = false;
};

}  // namespace

bool write_diff(const Settings& a, const Settings& b, const TextSink& sink,
                std::size_t& differences) {
    Differ differ(sink, a, b);
    differ.run();
    differences = differ.differences();
    return differ.finish();
}

}  // namespace vesk
