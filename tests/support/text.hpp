// Small text builders shared by the tests: integers as plain digits, numbered header
// lines of an archive file, the part of a header the program echoes, and names that
// GoogleTest accepts for the cases of a table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace support {

// Plain decimal digits, with '-' for a negative value.
std::string decimal(long long value);

// `count` lines "<stem> header line 1", "<stem> header line 2", ...
std::vector<std::string> numbered_header(const std::string& stem, int count);

// The first five lines of a header: those the program shows when it opens the file.
std::vector<std::string> first_five(const std::vector<std::string>& header);

// Each line followed by a line feed.
std::string joined(const std::vector<std::string>& lines);

// `text` as a test-name part of letters, digits and underscores only. Letters and digits
// stand for themselves and every other byte for a word between underscores, so two
// different texts never share a name ("1.5" gives "1_dot_5", "" gives "empty").
std::string name_part(std::string_view text);

}  // namespace support
