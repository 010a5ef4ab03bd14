#include "python_exception.hpp"

#include <string>

#include "record_binding.hpp"

namespace vesk::python {

PyObject* add_value_error_class(nb::module_& module, const char* name, const char* doc) {
    const std::string qualified = "vesk." + std::string(name);
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, PyExc_ValueError, nullptr);
    if (type == nullptr) throw nb::python_error();
    module.attr(name) = nb::borrow(type);  // the creation's reference stays ours
    export_name(module, name);
    return type;
}

void raise_with_attributes(PyObject* type, nb::handle message,
                           std::initializer_list<std::pair<const char*, nb::object>> attributes) {
    nb::object exception = nb::handle(type)(message);
    for (const auto& [name, value] : attributes) exception.attr(name) = value;
    PyErr_SetObject(type, exception.ptr());
    throw nb::python_error();
}

}  // namespace vesk::python
