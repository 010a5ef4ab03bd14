#include "command_output.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>

#include "load.hpp"
#include "protocols/file_writer.hpp"

namespace vesk {

bool CommandOutput::write(std::string_view piece) {
    if (error_ != 0) return false;
    if (std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size()) fail(errno);
    return error_ == 0;
}

void CommandOutput::fail(int error) {
    if (error_ == 0) error_ = error != 0 ? error : EIO;
}

int CommandOutput::finish() {
    // Flushed, not closed: the process may still print to it (a usage line,
    // a later message), and exit flushes nothing new then.
    if (error_ == 0 && std::fflush(stdout) != 0) fail(errno);
    if (error_ == 0 && std::ferror(stdout) != 0) fail(EIO);
    return error_ == 0 ? EXIT_OK : cannot_write("standard output", error_);
}

int write_output(const std::string& path, const OutputProducer& produce) {
    if (path.empty() || path == "-") {
        CommandOutput out;
        produce([&out](std::string_view piece) { return out.write(piece); });
        return out.finish();
    }
    return write_to_file(path, produce);
}

int write_to_file(const std::string& path, const OutputProducer& produce) {
    const auto content = [&produce](const protocols::PieceWriter& write) {
        produce([&write](std::string_view piece) {
            return write(
                std::span(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()));
        });
    };
    if (const auto error = protocols::replace_file_contents(path, content)) {
        return cannot_write(path, *error);
    }
    return EXIT_OK;
}

int cannot_write(std::string_view name, int error) {
    return cannot_write(name, protocols::FileError::os(error));
}

int cannot_write(std::string_view name, const protocols::FileError& error) {
    const std::string reason(error.code != 0 ? std::strerror(error.code) : error.message);
    std::fprintf(stderr, "vesk: %.*s: cannot write: %s\n", static_cast<int>(name.size()),
                 name.data(), reason.c_str());
    return EXIT_ERROR;
}

bool load_for_output(const std::string& output, std::string_view refusal, const std::string& file,
                     Loaded& loaded, int& exit_status) {
    if (!refusal.empty()) {
        std::fprintf(stderr, "vesk: -o %s: %.*s\n", output.c_str(),
                     static_cast<int>(refusal.size()), refusal.data());
        exit_status = EXIT_ERROR;
        return false;
    }
    return load_protocol(file, loaded, exit_status);
}

}  // namespace vesk
