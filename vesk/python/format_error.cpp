#include "format_error.hpp"

#include <nanobind/stl/string.h>

#include <string>

#include "python_exception.hpp"

namespace vesk::python {
namespace {

// Lives until the process ends (see add_value_error_class).
PyObject* format_error_type = nullptr;

constexpr const char* DOC =
    "The data is not a valid protocol file.\n\n"
    "The message ends with what `vesk` prints after \"not a valid protocol file: \": the\n"
    "offset of the offending value, the path of its field and the reason. `offset` is\n"
    "that offset in bytes; `field` the field's path (\"signals[0].Sine.phase\"), empty\n"
    "when the fault is in the file as a whole (trailing bytes).";

}  // namespace

void add_format_error(nb::module_& module) {
    format_error_type = add_value_error_class(module, "FormatError", DOC);
}

void raise_format_error(nb::handle name, const protocols::DecodeError& error) {
    const std::string described = error.describe();
    nb::object message = nb::steal(
        PyUnicode_FromFormat("%S: not a valid protocol file: %s", name.ptr(), described.c_str()));
    if (!message.is_valid()) throw nb::python_error();
    raise_with_attributes(format_error_type, message,
                          {{"offset", nb::cast(error.offset)}, {"field", nb::cast(error.path)}});
}

}  // namespace vesk::python
