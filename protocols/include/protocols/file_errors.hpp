// The errors of writing a file, and their descriptions.
#pragma once

#include <string>
#include <string_view>

namespace protocols {

// A failed file operation: an error number from the system, or (code 0) an
// error the writer finds itself, named by its kind and message.
struct FileError {
    int code = 0;
    std::string_view kind;     // only when code is 0
    std::string_view message;  // only when code is 0

    static FileError os(int error_number) { return {error_number, {}, {}}; }
};

// A write call that wrote nothing.
inline constexpr FileError kWriteZero{0, "WriteZero", "failed to write whole buffer"};
// A file name with a NUL character in it.
inline constexpr FileError kNulInName{0, "InvalidInput",
                                      "file name contained an unexpected NUL byte"};

// "Os { code: N, kind: K, message: \"strerror text\" }" for an error number,
// "Error { kind: K, message: \"text\" }" for an error the writer finds itself.
std::string describe_file_error(const FileError& error);

inline std::string describe_os_error(int error_number) {
    return describe_file_error(FileError::os(error_number));
}

// The error kind's name for a Linux error number ("Uncategorized" if unlisted).
std::string_view error_kind_name(int error_number);

}  // namespace protocols
