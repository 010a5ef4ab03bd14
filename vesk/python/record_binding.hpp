// Every record of a protocol as a read-only Python class, bound from its one
// field list: a property per field, under the name the text form uses.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/variant.h>  // names the signal union in the stubs

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
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

// Appends `name` to the module's __all__, which must exist.
inline void export_name(nb::module_& module, const char* name) {
    nb::list(module.attr("__all__")).append(name);
}

// The type name and field names are string literals, so their views end in a
// NUL and can be handed to the C API as they are.
template <typename T>
nb::class_<T> bind_record(nb::module_& module, const char* doc) {
    nb::class_<T> cls(module, T::type_name.data(), doc);
    export_name(module, T::type_name.data());
    std::apply(
        [&](const auto&... field) {
            (cls.def_prop_ro(field.name.data(),
                             [member = field.member](nb::pointer_and_handle<T> self) {
                                 return python_value(self.p->*member, self.h);
                             }),
             ...);
            // For generic walkers, as a named tuple's _fields.
            cls.attr("_fields") = nb::make_tuple(nb::str(field.name.data())...);
        },
        T::fields);
    if constexpr (requires { T::variant_name; }) {
        // A literal type in the stubs lets a type checker tell signals apart by kind.
        static const std::string signature =
            "def kind(self, /) -> typing.Literal['" + std::string(T::variant_name) + "']";
        cls.def_prop_ro(
            "kind", [](const T&) { return nb::str(T::variant_name.data()); },
            nb::for_getter(nb::sig(signature.c_str())),
            nb::for_getter("The signal's variant: which kind of signal this is."));
    }
    return cls;
}

}  // namespace vesk::python
