// Numbers as the series and coordinates files print them, without the blanks around them,
// for the tables that other programs read (the CSV file and the station report).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

// A field or a free-form record without the blanks around it (and the record's line feed).
std::string_view trim_blanks(std::string_view text);

// A real as the free-form writer prints it in the coordinates file.
void append_free_form_real(std::string& out, float value);

// A real as an fw.d field with `decimals` places prints it, wide enough for any value.
void append_fixed_real(std::string& out, float value, int decimals);

// A distance in km with 3 decimals, correctly rounded from the double, untouched by any
// locale.
void append_distance(std::string& out, double km);

// Plain digits, untouched by any locale.
void append_integer(std::string& out, std::int64_t value);

}  // namespace engine
