// A protocol file read back: the decoded record and the name it was read
// under. Methods that work on a loaded file take this object.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "protocols/settings.hpp"

namespace vesk::python {

namespace nb = nanobind;

struct ProtocolFile {
    protocols::Settings settings;
    // The file's name as the file system spells it (any bytes), or the name
    // given to loads(): what the picture's title and repr() show.
    std::string name;
};

// vesk.load(path): reads and decodes a file strictly, as the vesk command
// does. Raises OSError (with the file name) or FormatError.
ProtocolFile load_file(nb::handle path);

// vesk.loads(data, name=...): decodes any bytes-like object in place.
ProtocolFile load_bytes(nb::handle data, nb::str name);

// Binds ProtocolFile, load and loads into `module`; returns the class, to
// which further methods on a loaded file are added.
nb::class_<ProtocolFile> bind_protocol_file(nb::module_& module);

}  // namespace vesk::python
