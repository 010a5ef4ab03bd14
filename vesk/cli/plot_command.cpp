// vesk plot: the session, or a window of it, as one SVG picture.
#include <cstdio>
#include <string_view>
#include <variant>

#include "command_output.hpp"
#include "commands.hpp"
#include "describe.hpp"
#include "load.hpp"
#include "plot.hpp"

namespace vesk {
namespace {

// The picture is SVG whatever its name says, so the name must say it; "-" is
// standard output.
bool svg_output_name(std::string_view path) {
    return path == "-" || path.ends_with(".svg");
}

}  // namespace

int run_plot(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_for_output(args.output,
                         svg_output_name(args.output)
                             ? ""
                             : "the picture is SVG: give a name ending in .svg, or - for "
                               "standard output",
                         args.file, loaded, status)) {
        return status;
    }
    const auto window = plot_window(loaded.settings, args.start, args.end);
    if (const auto* refusal = std::get_if<std::string>(&window)) {
        std::fprintf(stderr, "vesk: %s: %s\n", args.file.c_str(), refusal->c_str());
        return EXIT_ERROR;
    }
    const std::string picture =
        plot_svg(loaded.settings, base_name(args.file), std::get<PlotWindow>(window));
    return write_output(args.output,
                        [&picture](const protocols::TextSink& write) { write(picture); });
}

}  // namespace vesk
