#include "protocols/file_errors.hpp"

#include <cerrno>
#include <cstring>
#include <utility>

#include "protocols/text_form.hpp"

namespace protocols {
namespace {

constexpr std::pair<int, std::string_view> kErrorKinds[] = {
    {EPERM, "PermissionDenied"},
    {ENOENT, "NotFound"},
    {EINTR, "Interrupted"},
    {E2BIG, "ArgumentListTooLong"},
    {EAGAIN, "WouldBlock"},
    {ENOMEM, "OutOfMemory"},
    {EACCES, "PermissionDenied"},
    {EBUSY, "ResourceBusy"},
    {EEXIST, "AlreadyExists"},
    {EXDEV, "CrossesDevices"},
    {ENOTDIR, "NotADirectory"},
    {EISDIR, "IsADirectory"},
    {EINVAL, "InvalidInput"},
    {ETXTBSY, "ExecutableFileBusy"},
    {EFBIG, "FileTooLarge"},
    {ENOSPC, "StorageFull"},
    {ESPIPE, "NotSeekable"},
    {EROFS, "ReadOnlyFilesystem"},
    {EMLINK, "TooManyLinks"},
    {EPIPE, "BrokenPipe"},
    {EDEADLK, "Deadlock"},
    {ENAMETOOLONG, "InvalidFilename"},
    {ENOSYS, "Unsupported"},
    {ENOTEMPTY, "DirectoryNotEmpty"},
    {ELOOP, "FilesystemLoop"},
    {EOPNOTSUPP, "Unsupported"},
    {EADDRINUSE, "AddrInUse"},
    {EADDRNOTAVAIL, "AddrNotAvailable"},
    {ENETDOWN, "NetworkDown"},
    {ENETUNREACH, "NetworkUnreachable"},
    {ECONNABORTED, "ConnectionAborted"},
    {ECONNRESET, "ConnectionReset"},
    {ENOTCONN, "NotConnected"},
    {ETIMEDOUT, "TimedOut"},
    {ECONNREFUSED, "ConnectionRefused"},
    {EHOSTUNREACH, "HostUnreachable"},
    {EINPROGRESS, "InProgress"},
    {ESTALE, "StaleNetworkFileHandle"},
    {EDQUOT, "QuotaExceeded"},
};

// strerror_r is the XSI or the GNU variant depending on the C library's
// feature macros; these overloads take either result.
[[maybe_unused]] const char* strerror_text(int, const char* buffer) {
    return buffer[0] != '\0' ? buffer : "Unknown error";
}
[[maybe_unused]] const char* strerror_text(const char* text, const char*) {
    return text;
}

// As the text form quotes a text, so that every quoted text follows one policy.
std::string quoted(std::string_view text) {
    std::string out;
    protocols::write_quoted(out, text);
    return out;
}

}  // namespace

std::string_view error_kind_name(int error_number) {
    for (const auto& [number, name] : kErrorKinds) {
        if (number == error_number) return name;
    }
    return "Uncategorized";
}

std::string describe_file_error(const FileError& error) {
    if (error.code == 0) {
        return "Error { kind: " + std::string(error.kind) + ", message: " + quoted(error.message) +
               " }";
    }
    char buffer[256] = "";
    const char* text = strerror_text(::strerror_r(error.code, buffer, sizeof buffer), buffer);
    return "Os { code: " + std::to_string(error.code) +
           ", kind: " + std::string(error_kind_name(error.code)) + ", message: " + quoted(text) +
           " }";
}

}  // namespace protocols
