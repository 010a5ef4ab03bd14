#include <cstdio>

#include "commands.hpp"
#include "describe.hpp"
#include "load.hpp"
#include "protocols/config.hpp"
#include "protocols/signals.hpp"

namespace vesk {

using namespace protocols;

namespace {

std::string coil_text(const Settings& s, const ChannelSettings& channel) {
    const auto& coils = s.machine_config.coils;
    std::string text = "coil " + std::to_string(channel.coil_idx);
    if (channel.coil_idx >= coils.size()) return text + " (does not exist)";
    const Coil& coil = coils[channel.coil_idx];
    text += " \"" + coil.name + "\", setting " + std::to_string(channel.coil_setting_idx);
    if (channel.coil_setting_idx >= coil.settings.size()) return text + " (does not exist)";
    const LCSetting& setting = coil.settings[channel.coil_setting_idx];
    return text + " (" + float_text(setting.capacitance) + " nF, " +
           float_text(setting.carrier_frequency) + " kHz)";
}

std::string source_text(const Settings& s, const SignalSourceSelection& source) {
    if (source.external_selected) return "external source " + std::to_string(source.external);
    std::string text = "signal " + std::to_string(source.internal);
    if (source.internal >= s.signals.size()) return text + ", which does not exist";
    return text + " (" + std::string(signal_kind(s.signals[source.internal])) + ")";
}

}  // namespace

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

int run_summary(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    std::fputs(summary_text(loaded.settings).c_str(), stdout);
    return EXIT_OK;
}

}  // namespace vesk
