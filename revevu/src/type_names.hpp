#pragma once

#include <Python.h>

namespace revevu {

// Classes are created from a dotted PyType_Spec name ("revevu.Coil") so that their
// __module__ is "revevu" (a bare one draws a DeprecationWarning and
// gives no module), then given the bare name that the interpreter shows in
// its own messages ("cannot create 'Coil' instances"). __name__ and
// __qualname__ are already bare.
inline void use_bare_type_name(PyTypeObject* type, const char* bare_name) {
    type->tp_name = bare_name;
}

}  // namespace revevu
