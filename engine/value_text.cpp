#include "engine/value_text.hpp"

#include <charconv>
#include <span>

#include "textio/format.hpp"

namespace engine {

std::string_view trim_blanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \n") + 1 - first);
}

void append_free_form_real(std::string& out, float value) {
    const textio::out_item item = textio::item_real(value);
    std::string record;
    textio::append_free_form(record, std::span<const textio::out_item>(&item, 1));
    out.append(trim_blanks(record));
}

void append_fixed_real(std::string& out, float value, int decimals) {
    // 3.4e38 has 39 digits before the point: 48 columns hold any float.
    constexpr int width = 48;
    std::string field;
    textio::append_fixed_field(field, value, width, decimals);
    out.append(trim_blanks(field));
}

void append_distance(std::string& out, double km) {
    char text[32];  // the Earth's distances have at most 5 digits before the point
    const char* end = std::to_chars(text, text + sizeof text, km, std::chars_format::fixed, 3).ptr;
    out.append(text, static_cast<std::size_t>(end - text));
}

void append_integer(std::string& out, std::int64_t value) {
    char text[24];
    const char* end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, static_cast<std::size_t>(end - text));
}

}  // namespace engine
