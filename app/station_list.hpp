// The identifiers of --stations: typed as a list separated by commas, or read from a file
// of one identifier per line.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The header line of --list; with a point, the distance from it is the last column.
inline constexpr const char* station_list_header = "station_id\tlongitude\tlatitude\textra\n";
inline constexpr const char* station_list_header_with_distance =
    "station_id\tlongitude\tlatitude\textra\tdistance_km\n";

// Appends the whole file to `text`; false with errno set when it cannot be read.
bool read_whole_file(const std::string& path, std::string& text);

// The lines of a text, without their line feeds (nor a carriage return ending one); line
// k + 1 of the file is element k.
std::vector<std::string_view> lines_of(std::string_view text);

// Reads one identifier as the archive reads them: the nearest double to a plain decimal,
// truncated toward zero to 32 bits. Empty, or why `text` is no identifier.
std::string read_identifier(std::string_view text, std::int32_t& id);

// The identifiers of a file, one per line; blank lines and lines beginning with # are
// passed over, and blanks around an identifier do not count. Returns a usage problem
// ("FILE:LINE: ...: \"TEXT\""), or sets `error_number` when the file cannot be read.
std::string read_identifier_file(const std::string& path, std::vector<std::int32_t>& ids, int& error_number);

}  // namespace app
