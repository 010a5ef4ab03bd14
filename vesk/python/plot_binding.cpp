#include "plot_binding.hpp"

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <cstddef>
#include <optional>
#include <string>
#include <variant>

#include "plot.hpp"
#include "plot_rows.hpp"
#include "plot_window.hpp"
#include "sample_arrays.hpp"

namespace vesk::python {
namespace {

using Bound = std::optional<double>;

PlotWindow window_or_raise(const ProtocolFile& file, Bound start, Bound end) {
    auto window = plot_window(file.settings, start, end);
    if (const auto* refusal = std::get_if<std::string>(&window)) {
        throw nb::value_error(refusal->c_str());
    }
    return std::get<PlotWindow>(window);
}

std::string svg_of(const ProtocolFile& file, Bound start, Bound end) {
    const PlotWindow window = window_or_raise(file, start, end);
    nb::gil_scoped_release released;
    return plot_svg(file.settings, file.name, window);
}

// A new float64 array of `count` values, value_of(i) each.
template <typename ValueOf>
nb::object float_array(std::size_t count, ValueOf value_of) {
    double* values = nullptr;
    nb::object array = empty_float64_array(count, values);
    for (std::size_t i = 0; i < count; ++i) values[i] = value_of(i);
    return array;
}

constexpr const char* KIND_NAMES[] = {"envelope", "samples",  "level",
                                      "band",     "external", "warning"};

// The drawn series of one row: edges in seconds, values on the 0..1 scale as drawn.
nb::dict row_dict(const PlotRow& row, const PlotWindow& window) {
    nb::dict out;
    out["channel"] = std::string(1, row.channel);
    out["enabled"] = row.enabled;
    out["input"] = row.input;
    out["source"] = row.source;
    out["source_missing"] = row.source_missing;
    out["kind"] = KIND_NAMES[static_cast<int>(row.kind)];
    out["label"] = row.label;
    out["detail"] = row.detail;
    out["detail_warning"] = row.detail_warning;
    if (row.kind == RowKind::Level) out["level"] = drawn_level(row.level);
    if (row.kind == RowKind::Envelope) {
        const Envelope& e = row.envelope;
        out["edges"] = float_array(e.low.size() + (e.low.empty() ? 0 : 1),
                                   [&](std::size_t c) { return column_edge(window, c); });
        out["low"] =
            float_array(e.low.size(), [&](std::size_t c) { return drawn_sample(e.low[c]); });
        out["high"] =
            float_array(e.high.size(), [&](std::size_t c) { return drawn_sample(e.high[c]); });
    }
    if (row.kind == RowKind::Samples) {
        const std::size_t n = row.samples.size();
        out["edges"] = float_array(n + (n == 0 ? 0 : 1), [&](std::size_t i) {
            return sample_edge(window, row.first + i);
        });
        out["dots"] = sample_dots(window);
        out["values"] = float_array(n, [&](std::size_t i) { return drawn_sample(row.samples[i]); });
    }
    return out;
}

nb::dict plot_rows_of(const ProtocolFile& file, Bound start, Bound end) {
    const PlotWindow window = window_or_raise(file, start, end);
    nb::dict out;
    const std::string title = plot_title(file.settings, file.name);
    out["title"] = nb::steal<nb::str>(
        PyUnicode_DecodeUTF8(title.data(), static_cast<Py_ssize_t>(title.size()), "replace"));
    out["start"] = window.start;
    out["end"] = window.end;
    nb::list rows;
    for (const PlotRow& row : plot_rows(file.settings, window)) rows.append(row_dict(row, window));
    out["rows"] = rows;
    return out;
}

constexpr const char* SVG_DOC =
    "The picture `vesk plot` draws of this file, as SVG text: the whole session,\n"
    "or the window from `start` to `end` seconds (`end` itself left out; None: the\n"
    "session's start or end). Raises ValueError for a window it cannot draw.";

constexpr const char* PLOT_DOC =
    "Draws the picture of svg() onto the matplotlib Axes `ax` (a new figure's when\n"
    "None), one row per channel input, time in seconds on the x axis, and returns\n"
    "the Axes. Needs matplotlib: pip install \"revevu[plot]\".";

}  // namespace

void bind_plot(nb::class_<ProtocolFile>& file_class) {
    file_class
        .def(
            "_repr_svg_", [](const ProtocolFile& file) { return svg_of(file, {}, {}); },
            "The picture `vesk plot` draws of this file, as SVG text (notebooks show it).")
        .def("svg", &svg_of, nb::arg("start") = nb::none(), nb::arg("end") = nb::none(),
             nb::sig("def svg(self, start: float | None = None, end: float | None = None) -> str"),
             SVG_DOC)
        .def("_plot_rows", &plot_rows_of, nb::arg("start") = nb::none(),
             nb::arg("end") = nb::none(),
             nb::sig("def _plot_rows(self, start: float | None = None, end: float | None = None) "
                     "-> dict[str, typing.Any]"),
             "What each row of svg()'s picture draws, as plain values and float64 arrays.")
        .def(
            "plot",
            [](nb::handle self, nb::handle ax, Bound start, Bound end) {
                return nb::module_::import_("_vesk_plot").attr("draw")(self, ax, start, end);
            },
            nb::arg("ax") = nb::none(), nb::arg("start") = nb::none(), nb::arg("end") = nb::none(),
            nb::sig("def plot(self, ax: matplotlib.axes.Axes | None = None, start: float | None = "
                    "None, end: float | None = None) -> matplotlib.axes.Axes"),
            PLOT_DOC);
}

}  // namespace vesk::python
