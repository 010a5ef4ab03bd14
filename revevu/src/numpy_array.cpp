// The one translation unit that holds NumPy's C API table. The table pointer is
// defined here under a name of our own and filled on first use, so importing
// revevu never imports NumPy.
#include "numpy_array.hpp"

#include <atomic>

#include "owned_ref.hpp"
#include "pending_error.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL revevu_numpy_array_api
#define NPY_NO_DEPRECATED_API NPY_1_23_API_VERSION
#include <numpy/arrayobject.h>

namespace revevu {
namespace {

// Set once the table is filled: a thread that sees it set sees the table.
std::atomic<bool> numpy_loaded{false};

#ifdef Py_GIL_DISABLED
// One loader at a time fills the table; a waiter gives up its thread state
// while it waits, so a collection or another import is not held up.
PyMutex numpy_loading{};
struct LoadingLock {
    LoadingLock() { PyMutex_Lock(&numpy_loading); }
    ~LoadingLock() { PyMutex_Unlock(&numpy_loading); }
    LoadingLock(const LoadingLock&) = delete;
    LoadingLock& operator=(const LoadingLock&) = delete;
};
#else
struct LoadingLock {};  // the interpreter lock orders the loaders
#endif

// "TypeName: text" of the raised exception, as a traceback's last line shows
// it; clears the exception.
std::string describe_raised_exception() {
    const OwnedRef exception = take_pending_error();
    if (!exception) return "unknown error";
    std::string description = Py_TYPE(exception.get())->tp_name;
    const OwnedRef text = OwnedRef::steal(PyObject_Str(exception.get()));
    Py_ssize_t size = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (utf8 != nullptr && size > 0) {
        description.append(": ").append(utf8, static_cast<std::size_t>(size));
    }
    PyErr_Clear();  // from an exception whose text cannot be had
    return description;
}

}  // namespace

std::optional<std::string> load_numpy() {
    if (numpy_loaded.load(std::memory_order_acquire)) return std::nullopt;
    [[maybe_unused]] LoadingLock lock;
    if (numpy_loaded.load(std::memory_order_acquire)) return std::nullopt;
    // NumPy's own loader, not the import_array() macro, which would print the
    // error and replace it. It imports numpy._core._multiarray_umath (or
    // numpy.core._multiarray_umath under NumPy 1.x), takes its _ARRAY_API
    // capsule, checks it is one, fills the table pointer defined above and
    // checks the running NumPy's ABI and feature versions against the headers.
    if (_import_array() < 0) {
        return "Failed to access NumPy array API capsule: " + describe_raised_exception();
    }
    numpy_loaded.store(true, std::memory_order_release);
    return std::nullopt;
}

std::optional<Float64Vector> as_float64_vector(PyObject* object) {
    if (!numpy_loaded.load(std::memory_order_acquire) || !PyArray_Check(object)) {
        return std::nullopt;
    }
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(array) != 1) return std::nullopt;

    // A new reference to the built-in descriptor; this lookup cannot fail for
    // a built-in type number, but a failure would leave an error to clear.
    PyArray_Descr* native_double = PyArray_DescrFromType(NPY_DOUBLE);
    if (native_double == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    // Equivalence refuses a byte-swapped float64, whose bytes this module
    // would misread; it sets no error (NumPy clears its own).
    const bool equivalent = PyArray_EquivTypes(PyArray_DESCR(array), native_double) != 0;
    Py_DECREF(native_double);
    if (!equivalent) return std::nullopt;

    return Float64Vector{
        .data = reinterpret_cast<const std::byte*>(PyArray_BYTES(array)),
        .stride = PyArray_STRIDE(array, 0),
        .length = static_cast<std::size_t>(PyArray_DIM(array, 0)),
    };
}

}  // namespace revevu
