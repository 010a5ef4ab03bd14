// What `summary --json` prints: the summary's facts, with the signals and the
// channel inputs as lists of flat rows that a data frame takes as they are.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "describe.hpp"
#include "protocols/config.hpp"
#include "protocols/json_form.hpp"
#include "protocols/signals.hpp"
#include "summary.hpp"

namespace vesk {

using namespace protocols;

namespace {

// One flat JSON object per row, every row of a list with the same keys in the
// same order, so that a data frame takes the list as it is. A key a row does
// not set is null.
class Row {
public:
    explicit Row(const std::vector<std::string_view>& columns)
        : columns_(columns), values_(columns.size()) {}

    // The value of `column`, written through the builder this returns. The
    // columns are walked from the field lists at run time, so a name that is
    // not one of them is a fault of this file that no compiler sees: it
    // stops the program rather than write a row that lacks it.
    JsonBuilder cell(std::string_view column) {
        const auto at = std::find(columns_.begin(), columns_.end(), column);
        if (at == columns_.end()) {
            std::fprintf(stderr, "vesk: internal error: a summary row has no column \"%.*s\"\n",
                         static_cast<int>(column.size()), column.data());
            std::abort();
        }
        std::string& value = values_[static_cast<std::size_t>(at - columns_.begin())];
        value.clear();
        return JsonBuilder(value);
    }

    void write(JsonBuilder& out) const {
        out.begin_object();
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            out.key(columns_[i]);
            if (values_[i].empty()) {
                out.null();
            } else {
                out.json(values_[i]);
            }
        }
        out.end_object();
    }

private:
    const std::vector<std::string_view>& columns_;
    std::vector<std::string> values_;  // JSON text; empty for null
};

// An arbitrary signal's row gives its sample count under the samples field's
// name, and the range of its codes, in place of the codes.
constexpr std::string_view SAMPLE_COUNT = field_name<&ArbitrarySignalParams::samples>();
constexpr std::string_view MIN_CODE = "min_code";
constexpr std::string_view MAX_CODE = "max_code";

template <typename Params>
void add_parameter_columns(std::vector<std::string_view>& columns) {
    auto add = [&](std::string_view name) {
        if (std::find(columns.begin(), columns.end(), name) == columns.end()) {
            columns.push_back(name);
        }
    };
    if constexpr (std::is_same_v<Params, ArbitrarySignalParams>) {
        add(SAMPLE_COUNT);
        add(MIN_CODE);
        add(MAX_CODE);
    } else {
        std::apply([&](const auto&... f) { (add(f.name), ...); }, Params::fields);
    }
}

// "index", "kind", then every parameter of every kind, in declaration order.
const std::vector<std::string_view>& signal_columns() {
    static const std::vector<std::string_view> columns = [] {
        std::vector<std::string_view> names{"index", "kind"};
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            (add_parameter_columns<std::variant_alternative_t<I, Signal>>(names), ...);
        }
        (std::make_index_sequence<std::variant_size_v<Signal>>());
        return names;
    }();
    return columns;
}

void signal_row(JsonBuilder& out, std::size_t index, const Signal& signal) {
    Row row(signal_columns());
    row.cell("index").number(std::uint64_t{index});
    row.cell("kind").string(signal_kind(signal));
    std::visit(
        [&](const auto& params) {
            using Params = std::remove_cvref_t<decltype(params)>;
            if constexpr (std::is_same_v<Params, ArbitrarySignalParams>) {
                row.cell(SAMPLE_COUNT).number(std::uint64_t{params.samples.size()});
                if (!params.samples.empty()) {
                    const StoredRange range = stored_range(params.samples);
                    row.cell(MIN_CODE).json(std::to_string(range.low));
                    row.cell(MAX_CODE).json(std::to_string(range.high));
                }
            } else {
                for_each_field(params, [&](std::string_view name, const auto& value) {
                    row.cell(name).number(value);
                });
            }
        },
        signal);
    row.write(out);
}

const std::vector<std::string_view>& input_columns() {
    static const std::vector<std::string_view> columns{
        "channel", "input", field_name<&ChannelSettings::enabled>(), "source", "index",
        "kind",    "exists"};
    return columns;
}

// An external input always "exists": the file defines no list of them to
// check against.
void input_row(JsonBuilder& out, const Settings& s, const ChannelView& channel,
               const ChannelInput& input) {
    const SignalSourceSelection& source = input.source;
    Row row(input_columns());
    row.cell("channel").string(std::string_view(&channel.letter, 1));
    row.cell("input").string(input.name);
    row.cell(field_name<&ChannelSettings::enabled>()).boolean(channel.settings.enabled);
    if (source.external_selected) {
        row.cell("source").string(field_name<&SignalSourceSelection::external>());
        row.cell("index").number(source.external);
        row.cell("exists").boolean(true);
    } else {
        const bool exists = source.internal < s.signals.size();
        row.cell("source").string("signal");
        row.cell("index").number(source.internal);
        if (exists) row.cell("kind").string(signal_kind(s.signals[source.internal]));
        row.cell("exists").boolean(exists);
    }
    row.write(out);
}

void channel_json(JsonBuilder& out, const Settings& s, const ChannelSettings& c) {
    const auto& coils = s.machine_config.coils;
    const Coil* coil = c.coil_idx < coils.size() ? &coils[c.coil_idx] : nullptr;
    out.begin_object();
    out.key(field_name<&ChannelSettings::enabled>()).boolean(c.enabled);
    out.key(field_name<&ChannelSettings::coil_idx>()).number(c.coil_idx);
    out.key("coil_name");
    if (coil != nullptr) {
        out.string(coil->name);
    } else {
        out.null();
    }
    out.key(field_name<&ChannelSettings::coil_setting_idx>()).number(c.coil_setting_idx);
    out.key("coil_setting");
    if (coil != nullptr && c.coil_setting_idx < coil->settings.size()) {
        out.record(coil->settings[c.coil_setting_idx]);
    } else {
        out.null();
    }
    out.end_object();
}

}  // namespace

std::string summary_json(const Settings& s) {
    std::string text;
    JsonBuilder out(text);
    out.begin_object();
    out.key(field_name<&Settings::session_duration>()).number(s.session_duration);
    out.key(field_name<&Settings::intensity>()).number(s.intensity);
    out.key("num_samples").number(sample_count(s.session_duration));
    out.key("sampling_rate").number(config::SAMPLING_RATE);
    const auto views = channels(s);
    for (const ChannelView& channel : views) {
        out.key(channel.field);
        channel_json(out, s, channel.settings);
    }
    out.key("inputs").begin_array();
    for (const ChannelView& channel : views) {
        for (const ChannelInput& input : channel.inputs) input_row(out, s, channel, input);
    }
    out.end_array();
    out.key(field_name<&Settings::signals>()).begin_array();
    for (std::size_t i = 0; i < s.signals.size(); ++i) signal_row(out, i, s.signals[i]);
    out.end_array();
    out.end_object();
    text += '\n';
    return text;
}

}  // namespace vesk
