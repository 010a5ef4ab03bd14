// vesk plot: the session's picture, written out.
#include <cstdio>
#include <string_view>

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
    if (!svg_output_name(args.output)) {
        std::fprintf(stderr,
                     "vesk: -o %s: the picture is SVG: give a name ending in .svg, or - "
                     "for standard output\n",
                     args.output.c_str());
        return EXIT_ERROR;
    }
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    CommandOutput out(args.output);
    out.write(plot_svg(loaded.settings, base_name(args.file)));
    return out.finish();
}

}  // namespace vesk
