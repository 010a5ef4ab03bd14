// What `summary --json` prints: the summary's facts, with the signals and the
// channel inputs as lists of flat rows that a data frame takes as they are.
#include <algorithm>
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

// Appends `"name":` (a plain identifier, nothing to escape).
void key(std::string& out, std::string_view name) {
    out += '"';
    out += name;
    out += "\":";
}

std::string json_string(std::string_view text) {
    std::string out;
    write_json_string(out, text);
    return out;
}

std::string json_bool(bool value) {
    return value ? "true" : "false";
}

// One flat JSON object per row, every row of a list with the same keys in the
// same order, so that a data frame takes the list as it is. Values are JSON
// text; a key a row does not set is null.
class Row {
public:
    explicit Row(const std::vector<std::string_view>& columns)
        : columns_(columns), values_(columns.size(), "null") {}

    void set(std::string_view column, std::string json) {
        const auto at = std::find(columns_.begin(), columns_.end(), column);
        values_[static_cast<std::size_t>(at - columns_.begin())] = std::move(json);
    }

    void write(std::string& out) const {
        out += '{';
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            if (i != 0) out += ',';
            key(out, columns_[i]);
            out += values_[i];
        }
        out += '}';
    }

private:
    const std::vector<std::string_view>& columns_;
    std::vector<std::string> values_;
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

void signal_row(std::string& out, std::size_t index, const Signal& signal) {
    Row row(signal_columns());
    row.set("index", std::to_string(index));
    row.set("kind", json_string(signal_kind(signal)));
    std::visit(
        [&](const auto& params) {
            using Params = std::remove_cvref_t<decltype(params)>;
            if constexpr (std::is_same_v<Params, ArbitrarySignalParams>) {
                row.set(SAMPLE_COUNT, std::to_string(params.samples.size()));
                if (!params.samples.empty()) {
                    const StoredRange range = stored_range(params.samples);
                    row.set(MIN_CODE, std::to_string(range.low));
                    row.set(MAX_CODE, std::to_string(range.high));
                }
            } else {
                for_each_field(params, [&](std::string_view name, const auto& value) {
                    std::string json;
                    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, double>) {
                        write_json_float(json, value);
                    } else {
                        json = std::to_string(value);
                    }
                    row.set(name, std::move(json));
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
void input_row(std::string& out, const Settings& s, const ChannelView& channel,
               const ChannelInput& input) {
    const SignalSourceSelection& source = input.source;
    Row row(input_columns());
    row.set("channel", json_string(std::string_view(&channel.letter, 1)));
    row.set("input", json_string(input.name));
    row.set(field_name<&ChannelSettings::enabled>(), json_bool(channel.settings.enabled));
    if (source.external_selected) {
        row.set("source", json_string(field_name<&SignalSourceSelection::external>()));
        row.set("index", std::to_string(source.external));
        row.set("exists", json_bool(true));
    } else {
        const bool exists = source.internal < s.signals.size();
        row.set("source", json_string("signal"));
        row.set("index", std::to_string(source.internal));
        if (exists) row.set("kind", json_string(signal_kind(s.signals[source.internal])));
        row.set("exists", json_bool(exists));
    }
    row.write(out);
}

void channel_json(std::string& out, const Settings& s, const ChannelSettings& c) {
    const auto& coils = s.machine_config.coils;
    const Coil* coil = c.coil_idx < coils.size() ? &coils[c.coil_idx] : nullptr;
    out += '{';
    key(out, field_name<&ChannelSettings::enabled>());
    out += json_bool(c.enabled) + ',';
    key(out, field_name<&ChannelSettings::coil_idx>());
    out += std::to_string(c.coil_idx) + ',';
    key(out, "coil_name");
    out += coil != nullptr ? json_string(coil->name) : "null";
    out += ',';
    key(out, field_name<&ChannelSettings::coil_setting_idx>());
    out += std::to_string(c.coil_setting_idx) + ',';
    key(out, "coil_setting");
    if (coil != nullptr && c.coil_setting_idx < coil->settings.size()) {
        write_json(out, coil->settings[c.coil_setting_idx]);
    } else {
        out += "null";
    }
    out += '}';
}

}  // namespace

std::string summary_json(const Settings& s) {
    std::string out = "{";
    key(out, field_name<&Settings::session_duration>());
    write_json_float(out, s.session_duration);
    out += ',';
    key(out, field_name<&Settings::intensity>());
    write_json_float(out, s.intensity);
    out += ",\"num_samples\":" + std::to_string(sample_count(s.session_duration));
    out += ",\"sampling_rate\":";
    write_json_float(out, config::SAMPLING_RATE);
    const auto views = channels(s);
    for (const ChannelView& channel : views) {
        out += ',';
        key(out, channel.field);
        channel_json(out, s, channel.settings);
    }
    out += ",\"inputs\":[";
    bool first = true;
    for (const ChannelView& channel : views) {
        for (const ChannelInput& input : channel.inputs) {
            if (!first) out += ',';
            first = false;
            input_row(out, s, channel, input);
        }
    }
    out += "],";
    key(out, field_name<&Settings::signals>());
    out += '[';
    for (std::size_t i = 0; i < s.signals.size(); ++i) {
        if (i != 0) out += ',';
        signal_row(out, i, s.signals[i]);
    }
    out += "]}\n";
    return out;
}

}  // namespace vesk
