#include "command_output.hpp"
#include "commands.hpp"
#include "load.hpp"
#include "protocols/json_form.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

namespace {

// Output goes out in pieces of this size: the memory used does not grow with
// the output, which for a long session runs to hundreds of megabytes.
constexpr std::size_t OUTPUT_PIECE = std::size_t{1} << 20;

}  // namespace

int run_show(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    CommandOutput out;
    const protocols::TextSink write = [&](std::string_view piece) { return out.write(piece); };
    if (args.json) {
        protocols::write_json_in_pieces(loaded.settings, OUTPUT_PIECE, write);
    } else {
        protocols::write_text_in_pieces(loaded.settings, OUTPUT_PIECE, write);
    }
    out.write("\n");
    return out.finish();
}

}  // namespace vesk
