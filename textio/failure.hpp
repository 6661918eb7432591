// A fatal input/output condition, as a value: the text layer and the engine throw it, and
// the caller of the engine decides how to report it.
#pragma once
#include <string>

namespace textio {

// `in_use`: an output file locked by another run. `dangling_link`: an output name that is a
// symbolic link to a file that does not exist. `same_as_input`: an output name that opens
// an input file (named in `text`). `bad_compressed_data`: a compressed input that cannot be
// decoded, truncated, corrupt or too large to decode (the reason in `text`).
enum class failure_kind {
    end_of_file,
    illegal_character,
    system,
    in_use,
    dangling_link,
    same_as_input,
    bad_compressed_data
};

inline constexpr int terminal_unit = -1;  // shown as '*' in reports

struct io_failure {
    failure_kind kind = failure_kind::system;
    std::string operation;  // "READ", "WRITE", "OPEN", "CLOSE", "BACKSPACE", "REWIND", "ENDFILE"
    int unit = 0;           // terminal_unit or 12..15
    int error_number = 0;   // errno, for failure_kind::system
    std::string file_name;  // file behind the unit, when there is one
    long line = 0;          // record number in that file or on standard input, 0 when none
    int field = 0;          // value of the record (1 for the first), 0 when none
    std::string text;       // the offending text of a malformed number
    std::string message;    // filled by raise_failure: what went wrong, in words
};

// "Attempt to read past end of file", "Illegal character in numeric input", the system's
// text for the error number, "<file> is in use by another run", "<file> is a link to a
// missing file", "<file> is the input file <text>" or, for compressed data, <text>.
std::string failure_message(const io_failure& failure);

// A failure of `operation` on `unit`, at record `line` of `file_name` when there is one.
io_failure failure_at(failure_kind kind, std::string operation, int unit, std::string file_name, long line = 0);

// Fills in the message and throws the failure.
[[noreturn]] void raise_failure(io_failure failure);

}  // namespace textio
