#include "command_output.hpp"

#include <cerrno>
#include <cstring>

#include "load.hpp"

namespace vesk {

CommandOutput::CommandOutput(const std::string& path) : name_("standard output") {
    if (path.empty() || path == "-") return;
    name_ = path;
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (file_) {
        stream_ = file_.get();
    } else {
        fail(errno);
        stream_ = nullptr;
    }
}

bool CommandOutput::write(std::string_view piece) {
    if (error_ != 0) return false;
    if (std::fwrite(piece.data(), 1, piece.size(), stream_) != piece.size()) fail(errno);
    return error_ == 0;
}

void CommandOutput::fail(int error) {
    if (error_ == 0) error_ = error != 0 ? error : EIO;
}

int CommandOutput::finish() {
    // Standard output is flushed, not closed: the process may still print to
    // it (a usage line, a later message), and exit flushes nothing new then.
    if (error_ == 0 && std::fflush(stream_) != 0) fail(errno);
    if (error_ == 0 && std::ferror(stream_) != 0) fail(EIO);
    if (file_ && std::fclose(file_.release()) != 0) fail(errno);
    return error_ == 0 ? EXIT_OK : cannot_write(name_, error_);
}

int cannot_write(std::string_view name, int error) {
    std::fprintf(stderr, "vesk: %.*s: cannot write: %s\n", static_cast<int>(name.size()),
                 name.data(), std::strerror(error));
    return EXIT_ERROR;
}

}  // namespace vesk
