// save: checks the file name, makes sure the protocol has a signal, encodes
// the record and writes the protocol file.
#include <string>

#include "panic.hpp"
#include "protocol_methods.hpp"
#include "protocols/encoder.hpp"
#include "protocols/file_writer.hpp"

namespace revevu::methods {
namespace {

// Small enough to stay in the cache between encoding and the write's copy,
// large enough that the per-write cost of the file system stays small.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

}  // namespace

PyObject* save(Settings& settings, std::string_view filepath) {
    // Byte for byte on the whole name, case-sensitive.
    if (!filepath.ends_with(".vesk")) {
        return raise_panic("assertion failed: filepath.ends_with(\".vesk\")");
    }
    // Stays in the record even if writing fails.
    if (settings.signals.empty()) settings.signals = protocols::default_signals();
    // Encoded piece by piece as it is written: one small buffer, reused while
    // hot, instead of fresh memory the size of the file. Encoding cannot
    // fail, so the file's bytes are those of encode_file.
    const auto content = [&settings](const protocols::PieceWriter& write) {
        protocols::encode_file_in_pieces(settings, kPieceBytes, write);
    };
    if (const std::optional<std::string> error =
            protocols::write_file_atomically(filepath, content)) {
        return raise_panic("called `Result::unwrap()` on an `Err` value: " + *error);
    }
    Py_RETURN_NONE;
}

}  // namespace revevu::methods
