// The module's exception classes: ValueErrors made with the C API, whose
// instances carry what went wrong as attributes beside the message.
#pragma once

#include <nanobind/nanobind.h>

#include <initializer_list>
#include <utility>

namespace vesk::python {

namespace nb = nanobind;

// Creates vesk.<name>, a subclass of ValueError, and adds it to `module` and
// its __all__. The class is kept alive until the process ends, whatever
// becomes of the module's attribute.
PyObject* add_value_error_class(nb::module_& module, const char* name, const char* doc);

// Raises an instance of `type` made from `message`, with the attributes set.
[[noreturn]] void raise_with_attributes(
    PyObject* type, nb::handle message,
    std::initializer_list<std::pair<const char*, nb::object>> attributes);

}  // namespace vesk::python
