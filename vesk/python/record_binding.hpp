// Every record of a protocol as a read-only Python class, bound from its one
// field list: a property per field, under the name the text form uses.
#pragma once

#include <nanobind/nanobind.h>

#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "protocols/fields.hpp"
#include "record_conversion.hpp"
#include "record_values.hpp"

namespace vesk::python {

// Appends `name` to the module's __all__, which must exist.
inline void export_name(nb::module_& module, const char* name) {
    nb::list(module.attr("__all__")).append(name);
}

// A record as a value: == and hash by value, floats by their bits; a repr of
// its fields; _asdict(); copy and deepcopy (a read-only record is its own
// copy); and pickle, by its field values.
template <typename T>
void add_value_methods(nb::class_<T>& cls) {
    cls.def(
           "__eq__",
           [](nb::handle self, nb::handle other) -> nb::object {
               if (!nb::isinstance<T>(other)) return nb::borrow(Py_NotImplemented);
               return nb::bool_(same_value(nb::cast<const T&>(self), nb::cast<const T&>(other)));
           },
           nb::sig("def __eq__(self, other: object, /) -> bool"))
        .def("__hash__",
             [](const T& self) {
                 // -1 is the C API's error value: CPython would turn it into -2.
                 const auto h = static_cast<Py_hash_t>(hash_value(self));
                 return h == -1 ? Py_hash_t{-2} : h;
             })
        .def("__repr__",
             [](const T& self) {
                 std::string out;
                 put_repr(out, self);
                 return out;
             })
        .def(
            "_asdict",
            [](nb::pointer_and_handle<T> self) {
                nb::dict fields;
                protocols::for_each_field(*self.p, [&](std::string_view name, const auto& x) {
                    fields[nb::str(name.data(), name.size())] = python_value(x, self.h);
                });
                return fields;
            },
            nb::sig("def _asdict(self, /) -> dict[str, typing.Any]"),
            "The fields as a dict, in their order, as a named tuple's _asdict() gives them.")
        .def("__copy__", [](nb::handle self) { return nb::borrow(self); })
        .def(
            "__deepcopy__", [](nb::handle self, nb::handle) { return nb::borrow(self); },
            nb::arg("memo"))
        .def("__getstate__",
             [](nb::pointer_and_handle<T> self) {
                 nb::list values;
                 protocols::for_each_field(*self.p, [&](std::string_view, const auto& x) {
                     values.append(python_value(x, self.h));
                 });
                 return nb::tuple(values);
             })
        .def("__setstate__", [](T& self, const nb::tuple& values) {
            // Unpickling: `self` is a new object, not yet made.
            std::construct_at(&self, record_from_fields<T>(values));
        });
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
    add_value_methods(cls);
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
