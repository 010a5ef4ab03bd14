// A per-object critical section. Without the interpreter lock it makes the
// calls on one object run one at a time, as the lock does: like the lock, it
// is handed over while its holder waits (on another lock, on I/O, or on
// Python code that gives the lock up), so the same overlaps arise as with the
// lock and no others. With the lock it is nothing.
#pragma once

#include <Python.h>

namespace revevu {

class CriticalSection {
public:
#ifdef Py_GIL_DISABLED
    explicit CriticalSection(PyObject* object) noexcept {
        PyCriticalSection_Begin(&section_, object);
    }
    ~CriticalSection() {
        PyCriticalSection_End(&section_);
    }
#else
    explicit CriticalSection(PyObject*) noexcept {}
#endif
    // The interpreter keeps the section's address while it is held.
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

private:
#ifdef Py_GIL_DISABLED
    PyCriticalSection section_;
#endif
};

}  // namespace revevu
