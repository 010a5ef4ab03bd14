// What the reporting commands say, as Python values: vesk.check(), vesk.summary()
// and vesk.diff(), with the Finding and Change classes they return. Each takes
// a loaded file, a path or a file's bytes.
#pragma once

#include <nanobind/nanobind.h>

namespace vesk::python {

namespace nb = nanobind;

// Adds Finding, Change, check, summary and diff to `module`.
void bind_reports(nb::module_& module);

}  // namespace vesk::python
