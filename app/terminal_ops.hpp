// The terminal conventions every dialogue shares: prompt, pause, free-form answer, and
// the text of the run-time failure report.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

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

// The three "? " lines of the failure report: where it happened, what happened, and the
// operation and unit.
std::string failure_report_text(const textio::io_failure& failure);

// Writes text to standard error as it is, ignoring a refusal.
void write_error_text(const std::string& text);

}  // namespace app
