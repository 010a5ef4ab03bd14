#include "file_in_place.hpp"

#include <fcntl.h>

#include <cerrno>

#include "protocols/file_descriptor.hpp"

namespace protocols {

MaybeError write_in_place(int directory, const std::string& name, const Content& content) {
    FileDescriptor file(open_at(directory, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
    if (file.get() < 0) return FileError::os(errno);
    if (MaybeError error = write_content(file.get(), content)) return error;
    // A network file system reports a full quota or a lost server only here
    // and at the close. EINVAL: a FIFO, socket or device, nothing to flush.
    if (const int error = flush_file(file.get()); error != 0 && error != EINVAL) {
        return FileError::os(error);
    }
    if (const int error = file.close_checked()) return FileError::os(error);
    return std::nullopt;
}

}  // namespace protocols
