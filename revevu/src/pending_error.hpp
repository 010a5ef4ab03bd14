// Taking the interpreter's pending exception as one object, on every CPython.
#pragma once

#include <Python.h>

#include "owned_ref.hpp"

namespace revevu {

// The pending exception (its traceback attached) as one object, and clears it;
// null when none is pending.
inline OwnedRef take_pending_error() {
#if PY_VERSION_HEX >= 0x030C0000
    return OwnedRef::steal(PyErr_GetRaisedException());
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
    OwnedRef owned_type = OwnedRef::steal(type);
    OwnedRef owned_traceback = OwnedRef::steal(traceback);
    return OwnedRef::steal(value);
#endif
}

}  // namespace revevu
