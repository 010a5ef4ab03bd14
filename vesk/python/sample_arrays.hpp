// An arbitrary signal's samples in physical units, as new NumPy arrays.
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>

#include "protocols/signals.hpp"

namespace vesk::python {

namespace nb = nanobind;

// codes[i] / 32767.0 for each stored code: the values add_arbitrary_signal
// quantises back to the same codes. A new float64 array.
nb::object normalised_samples(const protocols::Samples& codes);

// i / 5000.0 for i in 0..count: each sample's time in seconds. A new float64
// array.
nb::object sample_times(std::size_t count);

// A new float64 array of `count` values, not yet filled, that NumPy owns;
// `values` points at them.
nb::object empty_float64_array(std::size_t count, double*& values);

// values() and times() on the arbitrary signal's class, bound before.
void add_sample_methods(nb::module_& module);

}  // namespace vesk::python
