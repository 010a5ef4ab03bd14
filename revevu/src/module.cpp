// Module initialisation: single-phase, at most one module object per process,
// owned by the first interpreter that runs the initialisation.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "enums.hpp"
#include "owned_ref.hpp"
#include "panic.hpp"
#include "protocol_object.hpp"

namespace revevu {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "revevu",
    "",       // empty docstring
    0,        // no module state
    nullptr,  // no module-level functions
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The interpreter that ran the initialisation first; -1 until then. The
// classes and members are shared objects of that interpreter and may not be
// handed to another one. Up to 3.12 that is whichever interpreter imports the
// module first. Since 3.13 a subinterpreter's import of a single-phase module
// runs the initialisation in the main interpreter first and then again in the
// subinterpreter, so the main interpreter always owns the module and every
// subinterpreter is refused, even one that imports it before the main one.
std::atomic<std::int64_t> owning_interpreter{-1};

// Kept for the life of the process and handed out again by later calls.
// Creation runs under the import lock of the module name, so concurrent
// importers wait for and reuse the first result.
PyObject* module_object = nullptr;

bool claim_interpreter() {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
        return false;
    }
    std::int64_t expected = -1;
    if (!owning_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "revevu does not support subinterpreters: it is already loaded in "
                        "another interpreter of this process");
        return false;
    }
    return true;
}

// Sets the attribute and appends its name to `all`, the module's __all__ to be.
bool register_class(PyObject* module, PyObject* all, const char* name, PyTypeObject* type) {
    if (type == nullptr) return false;
    OwnedRef class_name = OwnedRef::steal(PyUnicode_FromString(name));
    if (!class_name || PyList_Append(all, class_name.get()) < 0) return false;
    return PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

PyObject* build_module() {
    OwnedRef module = OwnedRef::steal(PyModule_Create(&module_definition));
    if (!module) return nullptr;
#ifdef Py_GIL_DISABLED
    // Every piece of state shared between threads is atomic, made once, or
    // behind a critical section, so importing the module keeps the lock off.
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0) return nullptr;
#endif
    OwnedRef all = OwnedRef::steal(PyList_New(0));
    if (!all) return nullptr;
    if (!register_class(module.get(), all.get(), "Protocol", protocol_type())) return nullptr;
    if (!register_class(module.get(), all.get(), "Channel", channel_type())) return nullptr;
    if (!register_class(module.get(), all.get(), "Coil", coil_type())) return nullptr;
    if (PyModule_AddObjectRef(module.get(), "__all__", all.get()) < 0) return nullptr;
    return module.release();
}

PyObject* init_module() {
    if (!claim_interpreter()) return nullptr;
    if (module_object == nullptr) {
        module_object = build_module();  // a half-built module is discarded, not kept
        if (module_object == nullptr) return nullptr;
    }
    return Py_NewRef(module_object);
}

}  // namespace
}  // namespace revevu

PyMODINIT_FUNC PyInit_revevu() {
    return revevu::guarded([] { return revevu::init_module(); });
}
