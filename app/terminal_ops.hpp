// The terminal conventions every dialogue shares: prompt, pause, free-form answer, stop,
// and the run-time failure report.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "textio/failure.hpp"
#include "textio/format.hpp"

namespace app {

// Writes a format to the terminal; a format ending in $ leaves the cursor behind it.
void say(const textio::format_list& list, std::initializer_list<textio::out_item> items = {});

// Writes the text as a free-form record, then waits for one whole line and discards it.
void pause(const char* text);

// One free-form answer into one variable; an answer with no value leaves it unchanged.
void answer(std::int32_t& target);
void answer(float& target);
void answer(bool& target);

// Closes every file, writing pending output, and ends the process with `status`: 0 at the
// normal end, 1 when an archive file is missing.
[[noreturn]] void stop(int status = 0);

// Closes every file, writes the three "? " lines to standard error, exits with 255.
[[noreturn]] void report_failure(const textio::io_failure& failure);

}  // namespace app
