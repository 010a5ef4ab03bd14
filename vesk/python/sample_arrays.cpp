#include "sample_arrays.hpp"

#include <nanobind/ndarray.h>

#include <cstdint>
#include <span>
#include <system_error>
#include <thread>

#include "lock_release.hpp"
#include "rebuild.hpp"

namespace vesk::python {
namespace {

// From a few megabytes of output on, a second thread costs far less than it saves.
constexpr std::size_t FILL_IN_TWO_FROM = std::size_t{1} << 19;

// Runs fill(first, last) over 0..count, split between this thread and one
// more for a long array: the array is new memory, and most of the time goes
// to the page faults that clear it, which two processors take in parallel.
template <typename Fill>
void fill_in_two(std::size_t count, Fill fill) {
    if (count >= FILL_IN_TWO_FROM) {
        const std::size_t half = count / 2;
        try {
            std::thread second([&] { fill(half, count); });
            fill(0, half);
            second.join();
            return;
        } catch (const std::system_error&) {
            // No thread to be had: the whole array on this one.
        }
    }
    fill(0, count);
}

// A new float64 array that NumPy owns (and backs with huge pages when long),
// filled by fill(values, first, last) with the interpreter lock released when
// it is long.
template <typename Fill>
nb::object new_filled_array(std::size_t count, Fill fill) {
    double* values = nullptr;
    nb::object array = empty_float64_array(count, values);
    run_released_if_long(count, [&] {
        fill_in_two(count, [&](std::size_t first, std::size_t last) { fill(values, first, last); });
    });
    return array;
}

}  // namespace

nb::object empty_float64_array(std::size_t count, double*& values) {
    using Filled = nb::ndarray<double, nb::ndim<1>, nb::c_contig>;
    nb::object array =
        nb::module_::import_("numpy").attr("empty")(count, nb::arg("dtype") = "float64");
    values = nb::cast<Filled>(array).data();
    return array;
}

// The passes live in vesk_rebuild, which is built for speed; this module is
// built for size.
nb::object normalised_samples(const protocols::Samples& codes) {
    const std::span<const std::int16_t> all(codes.data(), codes.size());
    return new_filled_array(codes.size(), [&](double* values, std::size_t first, std::size_t last) {
        stored_sample_values(all.subspan(first, last - first), values + first);
    });
}

nb::object sample_times(std::size_t count) {
    return new_filled_array(count, [](double* values, std::size_t first, std::size_t last) {
        vesk::sample_times(first, last - first, values + first);
    });
}

void add_sample_methods(nb::module_& module) {
    using protocols::ArbitrarySignalParams;
    auto cls = nb::borrow<nb::class_<ArbitrarySignalParams>>(
        module.attr(ArbitrarySignalParams::type_name.data()));
    cls.def(
           "values",
           [](const ArbitrarySignalParams& self) { return normalised_samples(self.samples); },
           nb::sig("def values(self, /) -> numpy.typing.NDArray[numpy.float64]"),
           "The samples in [0, 1], as a new float64 array: exactly samples / 32767.0, the\n"
           "inverse of what add_arbitrary_signal stores (within half a step of 1/32767).")
        .def(
            "times",
            [](const ArbitrarySignalParams& self) { return sample_times(self.samples.size()); },
            nb::sig("def times(self, /) -> numpy.typing.NDArray[numpy.float64]"),
            "Each sample's time in seconds from the session's start, as a new float64\n"
            "array: i / 5000.0 for sample i.");
}

}  // namespace vesk::python
