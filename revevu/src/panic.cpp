#include "panic.hpp"

#include <cstdio>
#include <string>

#include "owned_ref.hpp"
#include "process_object.hpp"

namespace revevu {
namespace {

// Created on first use and kept for the life of the process. Deliberately not
// a module attribute: scripts catch it as BaseException or through an instance.
PyObject* panic_exception_type() noexcept {
    static ProcessObject<PyObject> type;
    return type.get([] {
        return PyErr_NewExceptionWithDoc(
            "revevu.PanicException",
            "A violated precondition inside revevu. Derives from BaseException so that "
            "`except Exception` does not hide it.",
            PyExc_BaseException, nullptr);
    });
}

// The source path from the project's own folder on, whatever the build directory.
std::string_view short_path(std::string_view path) noexcept {
    const auto start = path.rfind("revevu/src/");
    return start == std::string_view::npos ? path : path.substr(start);
}

void write_diagnostic(std::string_view message, const SourceLocation& where) noexcept {
    const std::string_view file = short_path(where.file);
    std::fprintf(stderr, "revevu panicked at %.*s:%u:\n%.*s\n", static_cast<int>(file.size()),
                 file.data(), where.line, static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
}

}  // namespace

PyObject* raise_panic(std::string_view message, SourceLocation where) noexcept {
    write_diagnostic(message, where);
    PyObject* type = panic_exception_type();
    if (type == nullptr) return nullptr;  // its creation left MemoryError set
    OwnedRef text = OwnedRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

}  // namespace revevu
