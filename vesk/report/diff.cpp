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
// hands each difference to the sink. The path is kept in one string, grown
// and cut back as the walk goes in and out.
class Differ {
public:
    Differ(const ChangeSink& sink, const Settings& old_settings, const Settings& new_settings)
        : sink_(sink), old_(old_settings), new_(new_settings), old_channels_(channels(old_)) {}

    // False when the sink stopped the walk.
    bool run() {
        compare(old_, new_);
        return !stopped_;
    }

    void compare(bool a, bool b) {
        if (a != b) scalar_change(a, b);
    }
    void compare(std::uint64_t a, std::uint64_t b) {
        if (a != b) scalar_change(a, b);
    }
    void compare(const std::string& a, const std::string& b) {
        if (a != b) scalar_change(a, b);
    }

    // By bits: the same NaN is no difference, -0.0 and 0.0 are one.
    void compare(double a, double b) {
        if (same_bits(a, b)) return;
        Change change = at_path(value_text(a), value_text(b));
        // Two NaNs print alike; their bits tell them apart.
        if (change.old_value == change.new_value) {
            change.note = "(bits ";
            put_bits(change.note, float_bits(a));
            change.note += " -> ";
            put_bits(change.note, float_bits(b));
            change.note += ')';
        }
        emit(std::move(change));
    }

    template <typename T, std::size_t N>
    void compare(const std::array<T, N>& a, const std::array<T, N>& b) {
        for (std::size_t i = 0; i < N && !stopped_; ++i) {
            const std::size_t mark = path_.enter(i);
            compare(a[i], b[i]);
            path_.leave(mark);
        }
    }

    template <typename T, typename A>
    void compare(const std::vector<T, A>& a, const std::vector<T, A>& b) {
        length_change(a.size(), b.size(), "entries");
        const std::size_t common = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < common && !stopped_; ++i) {
            const std::size_t mark = path_.enter(i);
            compare(a[i], b[i]);
            path_.leave(mark);
        }
    }

    // Never a change per sample: one for the length, one for the values.
    template <typename A>
    void compare(const std::vector<std::int16_t, A>& a, const std::vector<std::int16_t, A>& b) {
        length_change(a.size(), b.size(), "samples");
        const SampleDifference d =
            compare_samples(std::span<const std::int16_t>(a), std::span<const std::int16_t>(b));
        if (d.count == 0) return;
        Change change = at_path(std::nullopt, std::nullopt);
        std::string& note = change.note;
        put_number(note, d.count);
        note += a.size() == b.size() ? " of " : " of the first ";
        put_number(note, std::min(a.size(), b.size()));
        note += d.count == 1 ? " samples differs:" : " samples differ:";
        position_text(note, d.count == 1 ? " at" : " first", d.first);
        if (d.count > 1) position_text(note, ", last", d.last);
        note += ", largest difference ";
        note += std::to_string(d.largest);
        note += " (";
        write_float(note, d.largest / config::SAMPLE_SCALE);
        note += ')';
        emit(std::move(change));
    }

    // Signals by position. One that was added or removed, or changed its
    // kind, is one change as summary describes it; the parameters of one
    // that kept its kind are compared by path.
    void compare(const std::vector<Signal>& a, const std::vector<Signal>& b) {
        const std::size_t common = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < common && !stopped_; ++i) {
            if (a[i].index() != b[i].index()) {
                whole_signal_change(i, signal_line(a[i]), signal_line(b[i]));
                continue;
            }
            const std::size_t mark = path_.enter(i);
            compare_parameters(a[i], b[i]);
            path_.leave(mark);
        }
        for (std::size_t i = common; i < a.size() && !stopped_; ++i)
            whole_signal_change(i, signal_line(a[i]), std::nullopt);
        for (std::size_t i = common; i < b.size() && !stopped_; ++i)
            whole_signal_change(i, std::nullopt, signal_line(b[i]));
    }

    // A channel input whose source changed, both sources as summary names
    // them. A crafted selection holds a number that source_text() does not
    // show, so such a pair is compared field by field instead.
    void compare(const SignalSourceSelection& a, const SignalSourceSelection& b) {
        if (a == b) return;
        const ChannelInput* input = old_input(a);
        if (input == nullptr || !setter_form(a) || !setter_form(b)) return compare_fields(a, b);
        Change change = at_path(source_text(old_, a), source_text(new_, b));
        change.subject = input->label;
        emit(std::move(change));
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
            if (stopped_) return;
            const std::size_t mark = path_.enter(name);
            compare(x, y);
            path_.leave(mark);
        });
    }

    // A change of the field the walk is at, named by its path.
    Change at_path(std::optional<std::string> a, std::optional<std::string> b) const {
        return {path_.text(), path_.text(), std::move(a), std::move(b), {}};
    }

    // Signal `position`, named "signal 3".
    void whole_signal_change(std::size_t position, std::optional<std::string> a,
                             std::optional<std::string> b) {
        const std::size_t mark = path_.enter(position);
        Change change = at_path(std::move(a), std::move(b));
        path_.leave(mark);
        change.subject = "signal ";
        put_number(change.subject, position);
        emit(std::move(change));
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

    template <typename T>
    void scalar_change(const T& a, const T& b) {
        emit(at_path(value_text(a), value_text(b)));
    }

    // "PATH: 2 -> 3 entries, added [2]"
    void length_change(std::size_t a, std::size_t b, const char* noun) {
        if (a == b || stopped_) return;
        Change change = at_path(value_text(std::uint64_t{a}), value_text(std::uint64_t{b}));
        change.note = noun;
        change.note += a < b ? ", added" : ", removed";
        put_positions(change.note, std::min(a, b), std::max(a, b) - 1);
        emit(std::move(change));
    }

    // " first [12] (0.0024 s)"
    static void position_text(std::string& out, const char* label, std::size_t index) {
        out += label;
        put_positions(out, index, index);
        out += " (";
        write_float(out, static_cast<double>(index) / config::SAMPLING_RATE);
        out += " s)";
    }

    static void put_bits(std::string& out, std::uint64_t bits) {
        char digits[16];
        const auto length = static_cast<std::size_t>(
            std::to_chars(digits, digits + sizeof digits, bits, 16).ptr - digits);
        out += "0x";
        out.append(16 - length, '0');
        out.append(digits, length);
    }

    void emit(Change&& change) {
        if (!stopped_) stopped_ = !sink_(std::move(change));
    }

    const ChangeSink& sink_;
    const Settings& old_;
    const Settings& new_;
    const std::array<ChannelView, 2> old_channels_;
    FieldPath path_;
    bool stopped_ = false;
};

}  // namespace

std::string change_line(const Change& change) {
    const bool has_old = change.old_value.has_value();
    const bool has_new = change.new_value.has_value();
    std::string line;
    if (has_old != has_new) line = has_new ? "added " : "removed ";
    line += change.subject;
    line += ": ";
    if (has_old) line += *change.old_value;
    if (has_old && has_new) line += " -> ";
    if (has_new) line += *change.new_value;
    if (!change.note.empty()) {
        if (has_old || has_new) line += ' ';
        line += change.note;
    }
    return line;
}

bool find_changes(const Settings& a, const Settings& b, const ChangeSink& sink) {
    return Differ(sink, a, b).run();
}

// The lines are gathered into pieces of about 64 KiB.
bool write_diff(const Settings& a, const Settings& b, const TextSink& sink,
                std::size_t& differences) {
    constexpr std::size_t PIECE = std::size_t{1} << 16;
    std::string piece;
    bool written = true;
    const auto write_out = [&] {
        written = written && (piece.empty() || sink(piece));
        piece.clear();
        return written;
    };
    differences = 0;
    find_changes(a, b, [&](Change&& change) {
        ++differences;
        piece += change_line(change);
        piece += '\n';
        return piece.size() < PIECE || write_out();
    });
    return write_out();
}

}  // namespace vesk
