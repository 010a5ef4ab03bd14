// add_arbitrary_signal: a NumPy array of normalised samples, checked against
// the session's sample count and quantised into the protocol.
#include <string>
#include <vector>

#include "conversions.hpp"
#include "panic.hpp"
#include "protocol_methods.hpp"
#include "protocols/sample_import.hpp"

namespace revevu::methods {

std::optional<Float64Vector> to_samples(PyObject* object, const char* name) {
    if (const std::optional<std::string> failure = load_numpy()) {
        raise_panic(*failure);
        return std::nullopt;
    }
    std::optional<Float64Vector> samples = as_float64_vector(object);
    if (!samples) set_cast_error(object, name, "ndarray");
    return samples;
}

PyObject* add_arbitrary_signal(Settings& settings, const Float64Vector& samples) {
    const auto count = session_sample_count(settings);
    if (!count) return nullptr;
    if (samples.length != *count) {
        return raise_panic("assertion failed: samples.len() == self.get_num_samples()");
    }
    protocols::Samples quantised = protocols::new_sample_array(samples.length);
    switch (
        protocols::import_samples(samples.data, samples.stride, samples.length, quantised.data())) {
        case protocols::SampleFault::BelowZero:
            return raise_panic("assertion failed: *sample >= 0.0");
        case protocols::SampleFault::AboveOne:
            return raise_panic("assertion failed: *sample <= 1.0");
        case protocols::SampleFault::None:
            break;
    }
    return append_signal(settings, protocols::ArbitrarySignalParams{std::move(quantised)});
}

}  // namespace revevu::methods
