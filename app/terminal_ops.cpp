#include "app/terminal_ops.hpp"

#include <unistd.h>

#include <string>

#include "textio/read.hpp"
#include "textio/terminal.hpp"

namespace app {
namespace {

void answer_item(const textio::in_item& item) { textio::read_free_form(textio::terminal_input(), {&item, 1}, false); }

std::string unit_text(int unit) { return unit == textio::terminal_unit ? "*" : std::to_string(unit); }

// The heading names where the failure happened, so that a bad line of an archive can be
// found: the file (or standard input) and the record number.
std::string heading(const textio::io_failure& failure) {
    if (failure.kind != textio::failure_kind::end_of_file && failure.kind != textio::failure_kind::illegal_character)
        return "System Error:";
    std::string text = "Run-time error";
    if (!failure.file_name.empty()) {
        text += " in ";
        text += failure.file_name;
        if (failure.line > 0) text += " at line " + std::to_string(failure.line);
    }
    return text;
}

}  // namespace

void say(const textio::format_list& list, std::initializer_list<textio::out_item> items) {
    textio::write_formatted(textio::terminal_output(), list, items);
}

void pause(const char* text) {
    const textio::out_item item = textio::item_text(text);
    textio::write_free_form(textio::terminal_output(), {&item, 1});
    textio::in_unit& input = textio::terminal_input();
    std::string line;
    if (!textio::read_record(input, line))
        textio::raise_failure(textio::failure_at(textio::failure_kind::end_of_file, "READ", textio::terminal_unit,
                                                 input.name, input.line + 1));
}

void answer(std::int32_t& target) { answer_item(textio::target_int(target)); }
void answer(float& target) { answer_item(textio::target_real(target)); }
void answer(bool& target) { answer_item(textio::target_logical(target)); }

std::string failure_report_text(const textio::io_failure& failure) {
    return "? " + heading(failure) + "\n? " + failure.message + "\n? " + failure.operation +
           "(UNIT=" + unit_text(failure.unit) + ",...\n";
}

void write_error_text(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(2, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace app
