// PanicException: how a violated precondition reaches Python. It derives from
// BaseException so that a plain `except Exception` does not swallow it.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <string_view>

namespace revevu {

// Where a panic was raised. std::source_location would do, but clang 14 with
// this libstdc++ lacks it; these builtins exist in both compilers.
struct SourceLocation {
    const char* file;
    unsigned line;

    static constexpr SourceLocation here(const char* file = __builtin_FILE(),
                                         unsigned line = __builtin_LINE()) {
        return {file, line};
    }
};

// Writes "revevu panicked at <file>:<line>:\n<message>" to the process's
// standard error and sets a PanicException carrying `message` alone.
// Always returns nullptr, for `return raise_panic(...)`.
PyObject* raise_panic(std::string_view message,
                      SourceLocation where = SourceLocation::here()) noexcept;

// Runs `body` (which returns a new reference or nullptr with an error set) and
// turns a C++ exception escaping it into a Python error, so that none crosses
// into the interpreter: bad_alloc becomes MemoryError, anything else a
// PanicException with the exception's text.
template <typename Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        return raise_panic(error.what());
    } catch (...) {
        return raise_panic("unknown C++ exception");
    }
}

}  // namespace revevu
