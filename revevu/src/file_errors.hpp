// The descriptions of the errors that saving reports. Plain C++; no Python here.
#pragma once

#include <string>
#include <string_view>

namespace revevu {

// "Os { code: N, kind: K, message: \"strerror text\" }" for an error number.
std::string describe_os_error(int error_number);

// "Error { kind: K, message: \"text\" }" for an error the writer itself finds.
std::string describe_error(std::string_view kind, std::string_view message);

// The error kind's name for a Linux error number ("Uncategorized" if unlisted).
std::string_view error_kind_name(int error_number);

}  // namespace revevu
