#include "format_error.hpp"

#include <string>

#include "record_binding.hpp"

namespace vesk::python {
namespace {

// Owned by the module, which lives until the process ends.
PyObject* format_error_type = nullptr;

constexpr const char* DOC =
    "The data is not a valid protocol file.\n\n"
    "The message ends with what `vesk` prints after \"not a valid protocol file: \": the\n"
    "offset of the offending value, the path of its field and the reason. `offset` is\n"
    "that offset in bytes; `field` the field's path (\"signals[0].Sine.phase\"), empty\n"
    "when the fault is in the file as a whole (trailing bytes).";

}  // namespace

void add_format_error(nb::module_& module) {
    format_error_type =
        PyErr_NewExceptionWithDoc("vesk.FormatError", DOC, PyExc_ValueError, nullptr);
    if (format_error_type == nullptr) throw nb::python_error();
    module.attr("FormatError") = nb::borrow(format_error_type);
    export_name(module, "FormatError");
}

void raise_format_error(nb::handle name, const protocols::DecodeError& error) {
    const std::string described = error.describe();
    nb::object message = nb::steal(
        PyUnicode_FromFormat("%S: not a valid protocol file: %s", name.ptr(), described.c_str()));
    if (!message.is_valid()) throw nb::python_error();
    nb::object exception = nb::handle(format_error_type)(message);
    exception.attr("offset") = error.offset;
    exception.attr("field") = error.path;
    PyErr_SetObject(format_error_type, exception.ptr());
    throw nb::python_error();
}

}  // namespace vesk::python
