// Whole batch runs for the end-to-end tests: the program started with arguments and a
// standard input that fails on every read, archives made by hand or by varnex_archive,
// and the series file read back into its fields so that other outputs of the same run
// can be compared with it cell by cell.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/run_program.hpp"

namespace support {

// Runs `program` with `args` in dir.work. Standard input is dir.base, a directory, so a
// batch run that read it would fail with EISDIR instead of quietly getting nothing.
e2e::program_result run_batch(const e2e::scratch_dir& dir, const std::string& program,
                              const std::vector<std::string>& args, const std::vector<e2e::env_setting>& env = {});

// The lines of a program's output, without their line feeds.
std::vector<std::string> lines_of(const std::string& text);

// Writes site_summary.txt and data.txt into `dir`: numbered header lines (60 and 111)
// and then the given lines, each ended by a line feed. False on failure.
bool write_archive(const std::string& dir, const std::vector<std::string>& stations,
                   const std::vector<std::string>& records);

// A catalogue line: identifier, latitude, longitude, fourth value.
std::string station_line(std::string_view id, std::string_view lat, std::string_view lon, std::string_view extra);
// A data.txt record of one month: "ID 1 YEAR.FRAC VALUE".
std::string month_record(std::string_view id, int year, int month, std::string_view value);

// An archive with a station of every verdict for a run over 1950-1951 (24 months) with
// at most 6 missing months (0.25), box latitude -10 to 60, longitude 0 to 40:
//   101      saved, every month, values 10.01 to 10.12 and 11.01 to 11.12
//   102      no records
//   103      records 1951-1952 only: the span is not covered
//   104      January to October 1950 missing: 10 missing months
//   105      120.5 in March 1950: implausible
//   106      latitude 70, outside the box
//   107      saved, April and May missing each year, January -0.0, latitude -0.5
//   17508491 saved, an identifier above 2^24, every month 22.125
bool write_verdict_archive(const std::string& dir);
// The data.txt line of the sixth record of station 101 (January to June 1950).
inline constexpr int verdict_archive_june_1950_line = 117;

// Runs `tool` (varnex_archive) to write an archive into `dir` with `options`; an empty
// string on success, else what went wrong.
std::string generate_archive(const std::string& tool, const std::string& dir, const std::string& options);

// One station of a series file, every field with its blanks trimmed.
struct series_station {
    std::string lon, lat, extra, id;
    struct row {
        int year = 0;
        std::array<std::string, 12> months;
    };
    std::vector<row> rows;
};

// The stations of a .TSF; `error` is set when the text is not of that form.
std::vector<series_station> parse_series(std::string_view tsf, std::string& error);

// The rows of a .YX after its header line, each split at its tabs and trimmed.
std::vector<std::vector<std::string>> parse_coordinates(std::string_view yx);

// `text` split at `separator`, every part trimmed of blanks.
std::vector<std::string> split_trimmed(std::string_view text, char separator);

}  // namespace support
