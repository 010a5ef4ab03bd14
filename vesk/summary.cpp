#include <string_view>

#include "command_output.hpp"
#include "commands.hpp"
#include "describe.hpp"
#include "load.hpp"
#include "protocols/config.hpp"
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

int run_summary(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    CommandOutput out;
    out.write(args.json ? summary_json(loaded.settings) : summary_text(loaded.settings));
    return out.finish();
}

}  // namespace vesk
