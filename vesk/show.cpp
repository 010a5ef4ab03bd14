#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "commands.hpp"
#include "load.hpp"
#include "protocols/json_form.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

namespace {

// Output goes out in pieces of this size: the memory used does not grow with
// the output, which for a long session runs to hundreds of megabytes.
constexpr std::size_t OUTPUT_PIECE = std::size_t{1} << 20;

bool write_out(std::string_view piece) {
    return std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size();
}

}  // namespace

int run_show(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    const bool whole =
        args.json ? protocols::write_json_in_pieces(loaded.settings, OUTPUT_PIECE, write_out)
                  : protocols::write_text_in_pieces(loaded.settings, OUTPUT_PIECE, write_out);
    if (!whole || !write_out("\n") || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "vesk: standard output: cannot write: %s\n", std::strerror(errno));
        return EXIT_ERROR;
    }
    return EXIT_OK;
}

}  // namespace vesk
