#include <string_view>
#include <variant>

#include "command_output.hpp"
#include "commands.hpp"
#include "describe.hpp"
#include "load.hpp"
#include "protocols/config.hpp"
#include "protocols/json_form.hpp"
#include "protocols/signals.hpp"

namespace vesk {

using namespace protocols;

std::string summary_text(const Settings& s) {
    std::string text;
    auto line = [&](const std::string& l) { text += l + "\n"; };
    line("duration: " + float_text(s.session_duration) + " s");
    line("intensity: " + float_text(s.intensity));
    line("samples: " + std::to_string(sample_count(s.session_duration)) + " at " +
         float_text(config::SAMPLING_RATE) + " per second");
    for (const ChannelView& channel : channels(s)) {
        line(std::string("channel ") + channel.letter + ": " +
             (channel.settings.enabled ? "enabled" : "disabled") + ", " +
             coil_text(s, channel.settings));
        for (const ChannelInput& input : channel.inputs) {
            line("  " + input.label + ": " + source_text(s, input.source));
        }
    }
    line("signals: " + std::to_string(s.signals.size()));
    for (std::size_t i = 0; i < s.signals.size(); ++i) {
        line("  " + std::to_string(i) + ": " + signal_line(s.signals[i]));
    }
    return text;
}

namespace {

// Appends `"name":` (a plain identifier, nothing to escape).
void key(std::string& out, std::string_view name) {
    out += '"';
    out += name;
    out += "\":";
}

void source_json(std::string& out, const Settings& s, const SignalSourceSelection& source) {
    if (source.external_selected) {
        out += "{\"external\":" + std::to_string(source.external) + "}";
        return;
    }
    out += "{\"internal\":" + std::to_string(source.internal) + ",\"signal\":";
    if (source.internal < s.signals.size()) {
        write_json_string(out, signal_kind(s.signals[source.internal]));
    } else {
        out += "null";
    }
    out += '}';
}

void channel_json(std::string& out, const Settings& s, const ChannelView& channel) {
    const ChannelSettings& c = channel.settings;
    const auto& coils = s.machine_config.coils;
    const Coil* coil = c.coil_idx < coils.size() ? &coils[c.coil_idx] : nullptr;
    out += "{\"enabled\":";
    out += c.enabled ? "true" : "false";
    out += ",\"coil_idx\":" + std::to_string(c.coil_idx) + ",\"coil_name\":";
    if (coil != nullptr) {
        write_json_string(out, coil->name);
    } else {
        out += "null";
    }
    out += ",\"coil_setting_idx\":" + std::to_string(c.coil_setting_idx) + ",\"coil_setting\":";
    if (coil != nullptr && c.coil_setting_idx < coil->settings.size()) {
        write_json(out, coil->settings[c.coil_setting_idx]);
    } else {
        out += "null";
    }
    for (const ChannelInput& input : channel.inputs) {
        out += ',';
        key(out, input.field);
        source_json(out, s, input.source);
    }
    out += '}';
}

// An arbitrary signal by its count and range, as in the text; the others whole.
void signal_json(std::string& out, const Signal& signal) {
    const auto* arbitrary = std::get_if<ArbitrarySignalParams>(&signal);
    if (arbitrary == nullptr) {
        write_json(out, signal);
        return;
    }
    const auto& samples = arbitrary->samples;
    out += "{\"Arbitrary\":{\"num_samples\":" + std::to_string(samples.size());
    if (samples.empty()) {
        out += ",\"stored_min\":null,\"stored_max\":null}}";
        return;
    }
    const StoredRange range = stored_range(samples);
    out += ",\"stored_min\":" + std::to_string(range.low) +
           ",\"stored_max\":" + std::to_string(range.high) + "}}";
}

}  // namespace

std::string summary_json(const Settings& s) {
    std::string out = "{\"session_duration\":";
    write_json_float(out, s.session_duration);
    out += ",\"intensity\":";
    write_json_float(out, s.intensity);
    out += ",\"num_samples\":" + std::to_string(sample_count(s.session_duration));
    out += ",\"sampling_rate\":";
    write_json_float(out, config::SAMPLING_RATE);
    for (const ChannelView& channel : channels(s)) {
        out += ',';
        key(out, channel.field);
        channel_json(out, s, channel);
    }
    out += ",\"signals\":[";
    for (std::size_t i = 0; i < s.signals.size(); ++i) {
        if (i != 0) out += ',';
        signal_json(out, s.signals[i]);
    }
    out += "]}\n";
    return out;
}

int run_summary(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    CommandOutput out(args.output);
    out.write(args.json ? summary_json(loaded.settings) : summary_text(loaded.settings));
    return out.finish();
}

}  // namespace vesk
