// The logic of the Protocol methods, called with converted arguments and the
// record already borrowed (see protocol_binding.hpp). Each returns a new
// reference, or nullptr with a Python error set and the record unchanged
// (save may leave its default signal behind).
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "enums.hpp"
#include "numpy_array.hpp"
#include "protocols/settings.hpp"

namespace revevu::methods {

using protocols::Settings;

// protocol_config.cpp
PyObject* set_stimulation_intensity(Settings& settings, double intensity);
PyObject* set_session_duration(Settings& settings, double duration);
PyObject* enable_channel(Settings& settings, Channel channel);
PyObject* set_amplitude_source(Settings& settings, Coil coil, std::uint64_t index, bool external);
PyObject* set_modulation_source(Settings& settings, Channel channel, std::uint64_t index,
                                bool external);
PyObject* get_num_samples(Settings& settings);
PyObject* get_sampling_rate(Settings& settings);

// The session's sample count, or nullopt with a PanicException set when the
// session duration is not positive.
std::optional<std::uint64_t> session_sample_count(const Settings& settings);

// protocol_signals.cpp
PyObject* add_constant_signal(Settings& settings, double value);
PyObject* add_sine_signal(Settings& settings, double amplitude, double frequency, double phase,
                          double depth);
PyObject* add_ramp_signal(Settings& settings, double peak, double up_duration,
                          double down_duration);
PyObject* add_mixed_signal(Settings& settings, std::uint64_t a_idx, std::uint64_t b_idx);

// Appends `signal` and returns its position as a Python int; on failure the
// list is unchanged.
PyObject* append_signal(Settings& settings, protocols::Signal&& signal);

// protocol_arbitrary.cpp
PyObject* add_arbitrary_signal(Settings& settings, const Float64Vector& samples);

// The `samples` argument: loads NumPy on first use; nullopt with an error set
// when NumPy is missing or the object is not a one-dimensional float64 array.
std::optional<Float64Vector> to_samples(PyObject* object, const char* name);

// protocol_save.cpp
PyObject* save(Settings& settings, std::string_view filepath);

}  // namespace revevu::methods
