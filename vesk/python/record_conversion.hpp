// A record's field values as Python sees them: numbers, flags and text
// converted exactly, records, signals and samples as views into the record
// tree that keep the loaded file alive.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/variant.h>  // names the signal union in the stubs

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "protocols/fields.hpp"
#include "protocols/settings.hpp"

namespace vesk::python {

namespace nb = nanobind;

// A sample list as NumPy sees it: a read-only view of the decoded record.
using SamplesView = nb::ndarray<nb::numpy, const std::int16_t, nb::ndim<1>, nb::c_contig>;

template <typename T>
struct Sequence : std::false_type {};
template <typename T, typename Allocator>
struct Sequence<std::vector<T, Allocator>> : std::true_type {
    using Element = T;
};
template <typename T, std::size_t N>
struct Sequence<std::array<T, N>> : std::true_type {
    using Element = T;
};

// A field's value for Python; `owner` is the Python object of the record that
// holds it. Flags, numbers and text are converted (exactly: u64 to int, the
// f64's bits to float); records, signals and samples are views into the
// record tree, each keeping `owner` alive, and through it the loaded file.
template <typename T>
auto python_value(const T& value, nb::handle owner) {
    if constexpr (std::is_same_v<T, protocols::Samples>) {
        // An empty list may have no storage; a null pointer would make NumPy
        // hand out an array of its own, writable.
        static constexpr std::int16_t NO_SAMPLES[1] = {};
        const std::size_t shape[1] = {value.size()};
        return SamplesView(value.empty() ? NO_SAMPLES : value.data(), 1, shape, owner);
    } else if constexpr (std::is_same_v<T, protocols::Signal>) {
        return std::visit(
            [&](const auto& params) {
                return nb::cast(&params, nb::rv_policy::reference_internal, owner);
            },
            value);
    } else if constexpr (protocols::Record<T>) {
        return nb::typed<nb::object, T>(nb::cast(&value, nb::rv_policy::reference_internal, owner));
    } else if constexpr (Sequence<T>::value) {
        nb::object items = nb::steal(PyTuple_New(static_cast<Py_ssize_t>(value.size())));
        if (!items.is_valid()) throw nb::python_error();
        Py_ssize_t i = 0;
        for (const auto& element : value) {
            PyTuple_SET_ITEM(items.ptr(), i++,
                             nb::cast(python_value(element, owner)).release().ptr());
        }
        return nb::typed<nb::tuple, typename Sequence<T>::Element, nb::ellipsis>(
            nb::borrow<nb::tuple>(items));
    } else {
        static_assert(std::is_same_v<T, bool> || std::is_same_v<T, std::uint64_t> ||
                      std::is_same_v<T, double> || std::is_same_v<T, std::string>);
        return value;
    }
}

}  // namespace vesk::python
