#include "arg_binder.hpp"

#include <span>
#include <string>
#include <vector>

#include "critical_section.hpp"
#include "owned_ref.hpp"

namespace revevu {
namespace {

constexpr std::size_t kNoParameter = kMaxParameters;

// ---- Message templates -------------------------------------------------------

const char* was_or_were(Py_ssize_t given) {
    return given == 1 ? "was" : "were";
}

void too_many_positional(const Signature& signature, Py_ssize_t given) {
    if (signature.required == signature.count) {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given",
                     signature.full_name, signature.count, given, was_or_were(given));
    } else {
        PyErr_Format(
            PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given",
            signature.full_name, signature.required, signature.count, given, was_or_were(given));
    }
}

void unexpected_keyword(const Signature& signature, PyObject* keyword) {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", signature.full_name,
                 keyword);
}

void multiple_values(const Signature& signature, std::size_t parameter) {
    PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", signature.full_name,
                 signature.names[parameter]);
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'"
std::string quoted_name_list(const Signature& signature, std::span<const std::size_t> missing) {
    std::string names;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) {
            if (missing.size() > 2) names += ',';
            names += i + 1 == missing.size() ? " and " : " ";
        }
        names += '\'';
        names += signature.names[missing[i]];
        names += '\'';
    }
    return names;
}

void missing_required(const Signature& signature, std::span<const std::size_t> missing) {
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", signature.full_name,
                 missing.size(), missing.size() == 1 ? "argument" : "arguments",
                 quoted_name_list(signature, missing).c_str());
}

// ---- Matching ----------------------------------------------------------------

// The interned name of parameter i, or nullptr (no error set) if it cannot be made.
PyObject* interned_name(const Signature& signature, InternedNames& interned, std::size_t i) {
    PyObject* name =
        interned[i].get([&] { return PyUnicode_InternFromString(signature.names[i]); });
    if (name == nullptr) PyErr_Clear();  // the string compare in find_parameter still works
    return name;
}

std::size_t find_parameter(const Signature& signature, InternedNames& interned, PyObject* keyword) {
    for (std::size_t i = 0; i < signature.count; ++i) {
        if (interned_name(signature, interned, i) == keyword) return i;
    }
    for (std::size_t i = 0; i < signature.count; ++i) {
        if (PyUnicode_CompareWithASCIIString(keyword, signature.names[i]) == 0) return i;
    }
    return kNoParameter;
}

// `keywords` holds the keyword names, `keyword_values[k]` the value of keywords[k].
bool bind(const Signature& signature, InternedNames& interned, PyObject* const* positional,
          Py_ssize_t nargs, PyObject* keywords, PyObject* const* keyword_values,
          BoundArguments& bound) {
    if (nargs > static_cast<Py_ssize_t>(signature.count)) {
        too_many_positional(signature, nargs);
        return false;
    }
    bound.fill(nullptr);
    for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = positional[i];

    const Py_ssize_t nkw = keywords == nullptr ? 0 : PyTuple_GET_SIZE(keywords);
    // An unknown keyword outranks a parameter given twice, whatever their order.
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(keywords, k);
        if (find_parameter(signature, interned, keyword) == kNoParameter) {
            unexpected_keyword(signature, keyword);
            return false;
        }
    }
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        const std::size_t parameter =
            find_parameter(signature, interned, PyTuple_GET_ITEM(keywords, k));
        if (bound[parameter] != nullptr) {
            multiple_values(signature, parameter);
            return false;
        }
        bound[parameter] = keyword_values[k];
    }

    std::array<std::size_t, kMaxParameters> missing{};
    std::size_t missing_count = 0;
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (bound[i] == nullptr) missing[missing_count++] = i;
    }
    if (missing_count > 0) {
        missing_required(signature, std::span(missing.data(), missing_count));
        return false;
    }
    return true;
}

}  // namespace

// Calls to bind are qualified: BoundArguments holds std::arrays, so an unqualified
// call would also find std::bind by argument-dependent lookup (libc++ declares it).
bool bind_arguments_in_full(const Signature& signature, InternedNames& interned,
                            PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                            BoundArguments& bound) {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    return revevu::bind(signature, interned, args, nargs, kwnames, args + nargs, bound);
}

bool bind_arguments(const Signature& signature, InternedNames& interned, PyObject* args,
                    PyObject* kwargs, BoundArguments& bound) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    std::vector<PyObject*> positional(static_cast<std::size_t>(nargs));
    for (Py_ssize_t i = 0; i < nargs; ++i) positional[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0) {
        return revevu::bind(signature, interned, positional.data(), nargs, nullptr, nullptr, bound);
    }
    // Lay the dict out like a fast call: a tuple of names and their values.
    // The caller may share the dict with other threads: it stays locked while
    // its entries are walked and used.
    const CriticalSection section(kwargs);
    const Py_ssize_t size = PyDict_GET_SIZE(kwargs);
    OwnedRef names = OwnedRef::steal(PyTuple_New(size));
    if (!names) return false;
    std::vector<PyObject*> values;
    values.reserve(static_cast<std::size_t>(size));
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    // Only a finalizer run by an allocation here could change the size; a
    // tuple left with an empty slot would crash the binder.
    while (PyDict_Next(kwargs, &position, &key, &value) &&
           static_cast<Py_ssize_t>(values.size()) < size) {
        PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(values.size()), Py_NewRef(key));
        values.push_back(value);
    }
    if (static_cast<Py_ssize_t>(values.size()) != size || PyDict_GET_SIZE(kwargs) != size) {
        PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
        return false;
    }
    return revevu::bind(signature, interned, positional.data(), nargs, names.get(), values.data(),
                        bound);
}

}  // namespace revevu
