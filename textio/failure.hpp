// The single way a fatal input/output condition leaves the text layer: it is described
// as an io_failure and handed to the run-time failure report, which never returns.
#pragma once

namespace textio {

// `in_use`: an output file locked by another run.
enum class failure_kind { end_of_file, illegal_character, system, in_use };

inline constexpr int terminal_unit = -1;  // shown as '*' in reports

struct io_failure {
    failure_kind kind;
    const char* operation;  // "READ", "WRITE", "OPEN", "CLOSE", "BACKSPACE", "REWIND", ...
    int unit;               // terminal_unit or 12..15
    int error_number = 0;   // errno, for failure_kind::system
    const char* file_name = nullptr;  // file behind the unit, when there is one
    long line = 0;                    // record number in that file or on standard input
};

using failure_handler = void (*)(const io_failure&);

// Installs the report that raise_failure calls. The program installs its run-time failure
// report at start; tests may install a handler that throws.
void set_failure_handler(failure_handler handler);

[[noreturn]] void raise_failure(const io_failure& failure);

// "Attempt to read past end of file", "Illegal character in numeric input", or nullptr
// for system failures (their message is the system's own text) and locked files.
const char* failure_message(failure_kind kind);

}  // namespace textio
