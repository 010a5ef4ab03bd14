// The one place that touches NumPy's C API table. NumPy is loaded on the first
// call that needs it, never at import of the module.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <string>

namespace revevu {

// Loads NumPy's C API once per process. Returns nullopt when it is available,
// else the failure text, which begins "Failed to access NumPy array API capsule".
// Needs the interpreter lock.
std::optional<std::string> load_numpy();

// A read-only view of a one-dimensional float64 array, in index order.
struct Float64Vector {
    const std::byte* data = nullptr;
    std::ptrdiff_t stride = 0;  // bytes between elements; may be 0 or negative
    std::size_t length = 0;
};

// After load_numpy() succeeded: the view of `object` if it is an ndarray (or a
// subclass) with exactly one dimension whose element type NumPy finds
// equivalent to the native double; nullopt otherwise. Sets no Python error.
std::optional<Float64Vector> as_float64_vector(PyObject* object);

}  // namespace revevu
