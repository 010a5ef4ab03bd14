// Configuration methods of Protocol: intensity, session duration, channels,
// signal sources, and the two sampling queries.
#include <string>

#include "panic.hpp"
#include "protocol_methods.hpp"
#include "protocols/config.hpp"
#include "protocols/signals.hpp"

namespace revevu::methods {
namespace {

using protocols::ChannelSettings;
using protocols::SignalSourceSelection;
namespace config = protocols::config;

// A Channel member names its channel through the channel's modulation input.
ChannelSettings& channel_settings(Settings& settings, Channel channel) {
    return settings.*(routing_input(channel).channel);
}

// The index that is not selected is reset to 0.
SignalSourceSelection source_selection(std::uint64_t index, bool external) {
    return external ? SignalSourceSelection{0, index, true}
                    : SignalSourceSelection{index, 0, false};
}

}  // namespace

PyObject* set_stimulation_intensity(Settings& settings, double intensity) {
    // -0.0 passes and is kept as it is.
    if (!config::INTENSITY.contains(intensity)) {
        return raise_panic(
            "assertion failed: intensity >= " + std::string(config::INTENSITY.low_text) +
            " && intensity <= " + std::string(config::INTENSITY.high_text));
    }
    settings.intensity = intensity;
    Py_RETURN_NONE;
}

PyObject* set_session_duration(Settings& settings, double duration) {
    if (!(duration <= config::SESSION_DURATION.high)) {  // NaN fails here
        return raise_panic("assertion failed: duration <= config::MAX_SESSION_DURATION");
    }
    if (!(duration >= config::SESSION_DURATION.low)) {
        return raise_panic("assertion failed: duration >= " +
                           std::string(config::SESSION_DURATION.low_text));
    }
    settings.session_duration = duration;
    Py_RETURN_NONE;
}

PyObject* enable_channel(Settings& settings, Channel channel) {
    channel_settings(settings, channel).enabled = true;
    Py_RETURN_NONE;
}

PyObject* set_amplitude_source(Settings& settings, Coil coil, std::uint64_t index, bool external) {
    routing_input(coil).selection(settings) = source_selection(index, external);
    Py_RETURN_NONE;
}

PyObject* set_modulation_source(Settings& settings, Channel channel, std::uint64_t index,
                                bool external) {
    routing_input(channel).selection(settings) = source_selection(index, external);
    Py_RETURN_NONE;
}

std::optional<std::uint64_t> session_sample_count(const Settings& settings) {
    if (!(settings.session_duration > 0.0)) {
        raise_panic("assertion failed: self.settings.session_duration > 0.0");
        return std::nullopt;
    }
    return protocols::sample_count(settings.session_duration);
}

PyObject* get_num_samples(Settings& settings) {
    const auto count = session_sample_count(settings);
    if (!count) return nullptr;
    return PyLong_FromUnsignedLongLong(*count);
}

PyObject* get_sampling_rate(Settings&) {
    return PyFloat_FromDouble(config::SAMPLING_RATE);
}

}  // namespace revevu::methods
