// Where a command's output goes: standard output, or the file given to -o.
// Every command writes through this, so that a write that fails (a full disk,
// a closed pipe, a file-size limit) ends every command alike: one line
// "vesk: NAME: cannot write: REASON" and exit status 2.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace vesk {

class CommandOutput {
public:
    // Standard output for "" (no -o) and for "-"; otherwise the file at
    // `path`, created or emptied here.
    explicit CommandOutput(const std::string& path);
    CommandOutput(const CommandOutput&) = delete;
    CommandOutput& operator=(const CommandOutput&) = delete;

    // False once any write has failed: the rest of the output is dropped.
    bool write(std::string_view piece);

    // Flushes and closes the output. EXIT_OK when everything reached it;
    // otherwise prints the one-line error with the first failure's reason and
    // returns EXIT_ERROR.
    int finish();

private:
    void fail(int error);  // keeps the first failure's errno

    std::string name_;  // "standard output" or the path
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_{nullptr, std::fclose};
    std::FILE* stream_ = stdout;
    int error_ = 0;  // errno of the first failure
};

// The one-line error for output that cannot be written; returns EXIT_ERROR.
int cannot_write(std::string_view name, int error);

}  // namespace vesk
