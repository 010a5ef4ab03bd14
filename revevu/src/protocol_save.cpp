// save: checks the file name, makes sure the protocol has a signal, encodes
// the record and writes the protocol file.
#include <string>

#include "file_writer.hpp"
#include "panic.hpp"
#include "protocol_methods.hpp"
#include "protocols/encoder.hpp"

namespace revevu::methods {

PyObject* save(Settings& settings, std::string_view filepath) {
    // Byte for byte on the whole name, case-sensitive.
    if (!filepath.ends_with(".vesk")) {
        return raise_panic("assertion failed: filepath.ends_with(\".vesk\")");
    }
    // Stays in the record even if writing fails.
    if (settings.signals.empty()) settings.signals = protocols::default_signals();
    const protocols::Bytes bytes = protocols::encode_file(settings);
    if (const std::optional<std::string> error = write_file_atomically(filepath, bytes)) {
        return raise_panic("called `Result::unwrap()` on an `Err` value: " + *error);
    }
    Py_RETURN_NONE;
}

}  // namespace revevu::methods
