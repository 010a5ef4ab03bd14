// vesk.FormatError: a ValueError that says where a file stops being a valid
// protocol file, with the decoder's offset and field path as attributes.
#pragma once

#include <nanobind/nanobind.h>

#include <string_view>

#include "protocols/decoder.hpp"

namespace vesk::python {

namespace nb = nanobind;

// Creates the exception class and adds it to `module`.
void add_format_error(nb::module_& module);

// Raises FormatError "NAME: not a valid protocol file: OFFSET: FIELD: WHY",
// the same text as the command prints after "vesk: ".
[[noreturn]] void raise_format_error(nb::handle name, const protocols::DecodeError& error);

}  // namespace vesk::python
