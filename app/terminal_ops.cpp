#include "app/terminal_ops.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/settings.hpp"
#include "engine/station_pass.hpp"
#include "textio/read.hpp"
#include "textio/terminal.hpp"

namespace app {
namespace {

void answer_item(const textio::in_item& item) {
    textio::read_free_form(textio::terminal_input(), {&item, 1}, false);
}

void write_error_text(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(2, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::string unit_text(int unit) { return unit == textio::terminal_unit ? "*" : std::to_string(unit); }

// The heading names where the failure happened, so that a bad line of an archive can be
// found: the file (or standard input) and the record number.
std::string heading(const textio::io_failure& failure) {
    if (failure.kind == textio::failure_kind::system || failure.kind == textio::failure_kind::in_use)
        return "System Error:";
    std::string text = "Run-time error";
    if (failure.file_name && *failure.file_name) {
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
        textio::raise_failure({textio::failure_kind::end_of_file, "READ", textio::terminal_unit, 0,
                               input.name.c_str(), input.line + 1});
}

void answer(std::int32_t& target) { answer_item(textio::target_int(target)); }
void answer(float& target) { answer_item(textio::target_real(target)); }
void answer(bool& target) { answer_item(textio::target_logical(target)); }

void stop(int status) {
    textio::close_all_units();
    std::exit(status);
}

namespace {

std::string message_text(const textio::io_failure& failure) {
    if (failure.kind == textio::failure_kind::in_use)
        return std::string(failure.file_name ? failure.file_name : "") + " is in use by another run";
    const char* message = textio::failure_message(failure.kind);
    return message ? message : std::strerror(failure.error_number);
}

}  // namespace

void report_failure(const textio::io_failure& failure) {
    engine::cut_back_to_whole_stations(files());
    textio::close_all_units();
    std::string text = "? " + heading(failure) + "\n";
    text += "? ";
    text += message_text(failure);
    text += "\n? ";
    text += failure.operation;
    text += "(UNIT=" + unit_text(failure.unit) + ",...\n";
    write_error_text(text);
    std::_Exit(255);
}

}  // namespace app
