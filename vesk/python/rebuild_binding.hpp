// A loaded file back into revevu: ProtocolFile.to_protocol() runs the file's
// rebuild plan on a new revevu.Protocol, ProtocolFile.script() gives the plan
// as the text `vesk script` writes, and vesk.NotReproducible says why a file
// has no plan.
#pragma once

#include <nanobind/nanobind.h>

#include "protocol_file.hpp"

namespace vesk::python {

namespace nb = nanobind;

// Adds NotReproducible to `module` and the two methods to the loaded-file class.
void bind_rebuild(nb::module_& module, nb::class_<ProtocolFile>& file_class);

}  // namespace vesk::python
