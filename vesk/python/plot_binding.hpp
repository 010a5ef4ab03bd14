// Pictures of a loaded file: ProtocolFile.svg() and _repr_svg_ give the SVG
// that `vesk plot` writes, _plot_rows() the series it draws, and plot() draws
// them onto matplotlib axes (through the pure-Python _vesk_plot module).
#pragma once

#include <nanobind/nanobind.h>

#include "protocol_file.hpp"

namespace vesk::python {

namespace nb = nanobind;

void bind_plot(nb::class_<ProtocolFile>& file_class);

}  // namespace vesk::python
