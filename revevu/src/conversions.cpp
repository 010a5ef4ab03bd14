#include "conversions.hpp"

#include <limits>
#include <utility>

#include "owned_ref.hpp"
#include "pending_error.hpp"

namespace revevu {
namespace {

// "'int' object cannot be cast as 'bool'"; null if the type name cannot be had.
OwnedRef cast_message(PyObject* object, const char* expected) {
    OwnedRef type_name = OwnedRef::steal(PyType_GetQualName(Py_TYPE(object)));
    if (!type_name) return {};
    return OwnedRef::steal(
        PyUnicode_FromFormat("'%U' object cannot be cast as '%s'", type_name.get(), expected));
}

void restore_pending_error(OwnedRef error) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(error.release());
#else
    PyObject* value = error.release();
    PyErr_Restore(Py_NewRef(Py_TYPE(value)), value, PyException_GetTraceback(value));
#endif
}

// Puts the argument's name in front of a pending TypeError; any other error,
// a subclass of TypeError included, stays as it is.
void name_the_argument(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    OwnedRef original = take_pending_error();
    if (!original) return;
    if (Py_TYPE(original.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        restore_pending_error(std::move(original));
        return;
    }
    OwnedRef text = OwnedRef::steal(PyObject_Str(original.get()));
    if (!text) return;
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, text.get());
}

// NumPy's boolean scalar, recognised without importing NumPy.
bool is_numpy_bool(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    OwnedRef module =
        OwnedRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    OwnedRef name = OwnedRef::steal(PyType_GetName(type));
    if (!module || !name || !PyUnicode_Check(module.get())) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0 &&
           (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
            PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
}

std::optional<std::uint64_t> int_to_u64(PyObject* integer) {
    const unsigned long long value = PyLong_AsUnsignedLongLong(integer);
    if (value == std::numeric_limits<unsigned long long>::max() && PyErr_Occurred()) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

}  // namespace

void set_plain_cast_error(PyObject* object, const char* expected) {
    OwnedRef message = cast_message(object, expected);
    if (message) PyErr_SetObject(PyExc_TypeError, message.get());
}

void set_cast_error(PyObject* object, const char* name, const char* expected) {
    set_plain_cast_error(object, expected);
    name_the_argument(name);
}

std::optional<double> to_double(PyObject* object, const char* name) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        name_the_argument(name);
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> to_u64(PyObject* object, const char* name) {
    if (PyLong_Check(object)) return int_to_u64(object);
    OwnedRef index = OwnedRef::steal(PyNumber_Index(object));
    if (!index) {
        name_the_argument(name);
        return std::nullopt;
    }
    return int_to_u64(index.get());
}

std::optional<bool> to_bool(PyObject* object, const char* name) {
    if (object == Py_True) return true;
    if (object == Py_False) return false;
    if (is_numpy_bool(object)) {
        const int truth = PyObject_IsTrue(object);
        if (truth < 0) {
            name_the_argument(name);
            return std::nullopt;
        }
        return truth == 1;
    }
    set_cast_error(object, name, "bool");
    return std::nullopt;
}

std::optional<std::string_view> to_utf8(PyObject* object, const char* name) {
    if (!PyUnicode_Check(object)) {
        set_cast_error(object, name, "str");
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (text == nullptr) return std::nullopt;
    return std::string_view(text, static_cast<std::size_t>(size));
}

}  // namespace revevu
