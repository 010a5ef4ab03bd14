// Where a command's output goes: standard output, or the file given to -o.
// Every command writes through this, so that a write that fails (a full disk,
// a closed pipe, a file-size limit) ends every command alike: one line
// "vesk: NAME: cannot write: REASON" and exit status 2.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "protocols/file_errors.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

// Standard output, written as the command goes.
class CommandOutput {
public:
    CommandOutput() = default;
    CommandOutput(const CommandOutput&) = delete;
    CommandOutput& operator=(const CommandOutput&) = delete;

    // False once any write has failed: the rest of the output is dropped.
    bool write(std::string_view piece);

    // Flushes the output. EXIT_OK when everything reached it; otherwise
    // prints the one-line error with the first failure's reason and returns
    // EXIT_ERROR.
    int finish();

private:
    void fail(int error);  // keeps the first failure's errno

    int error_ = 0;  // errno of the first failure
};

// Produces a command's output in pieces, in order, through the sink it is
// given, and stops when the sink returns false. It may be asked twice: a
// file that cannot be replaced is then written in place.
using OutputProducer = std::function<void(const protocols::TextSink& write)>;

// What `produce` gives, to standard output for "" (no -o) and "-", else to
// the file at `path`, which keeps its old content until the new one is
// complete and flushed (protocols/file_writer.hpp). EXIT_OK, or the one-line
// error and EXIT_ERROR.
int write_output(const std::string& path, const OutputProducer& produce);

// The file at `path` alone, whatever its name ("-" too).
int write_to_file(const std::string& path, const OutputProducer& produce);

// The one-line error for output that cannot be written; returns EXIT_ERROR.
int cannot_write(std::string_view name, int error);
int cannot_write(std::string_view name, const protocols::FileError& error);

struct Loaded;

// For a command that writes to -o: refuses the name `output` before anything
// is read when `refusal` says why ("vesk: -o NAME: WHY", EXIT_ERROR), else
// loads `file` as load_protocol does. False with `exit_status` set when the
// command ends here.
bool load_for_output(const std::string& output, std::string_view refusal, const std::string& file,
                     Loaded& loaded, int& exit_status);

}  // namespace vesk
