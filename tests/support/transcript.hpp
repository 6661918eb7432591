// Expected terminal text of a Varnex run, written out by hand from the program's format
// lists. Every builder returns the exact bytes that its records put on standard output:
// a leading '/' of a format is an empty line, nX is n blanks, a record ended by '$' (a
// prompt) has no line feed, so the next write starts right behind it on the same line.
//
// Numeric fields are passed in as the caller wrote them (an f6.2 field as " 45.00"), so
// every expected digit stands in the test table; only the iw integer rule is applied
// here, in int_field.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace e2e::transcript {

std::string blanks(int count);

// iw output: the digits (with '-' for a negative value) right-justified in `width`
// columns, or `width` asterisks when they do not fit.
std::string int_field(long long value, int width);

// ---- Banner, menu and file set-up ----

// The two 16-character file-name fields, trailing blanks included.
inline constexpr std::string_view catalogue_name_field = "site_summary.txt";
inline constexpr std::string_view observations_name_field = "data.txt        ";

std::string banner();
// The menu through its "Enter Selection ==> " prompt.
std::string menu();
// An answer outside 1 to 4: the message and the " Hit Return to try again" pause text.
std::string menu_rejected();
// "(1x,a)" of one header line: `shown` is the line as "(a)" reads it (CR dropped, TABs
// already expanded by the caller), padded or cut to the 88-character buffer.
std::string header_echo(std::string_view shown);
// "(//1x,'Opening File : ',a)" and the five echoed header lines.
std::string opening_file(std::string_view name_field, const std::vector<std::string>& shown_lines);
// The missing-file message and the " Hit RETURN to continue" pause text.
std::string missing_file(std::string_view name_field);

// ---- Region dialogue ----

std::string region_banner();
// The 33 explanation records and the " HIT RETURN to continue" pause text.
std::string region_explanation();
std::string max_latitude_prompt();
std::string min_latitude_prompt();
std::string max_longitude_prompt();
std::string min_longitude_prompt();
// Maximum latitude out of range; `max_lat` is its f6.2 field.
std::string max_latitude_invalid(std::string_view max_lat);
// Minimum latitude above the maximum; `max_lat` is the f6.2 field of the maximum.
std::string min_latitude_above_max(std::string_view max_lat);
// Minimum latitude below -90; f6.2 fields of the minimum and of the maximum.
std::string min_latitude_invalid(std::string_view min_lat, std::string_view max_lat);
// Either longitude out of range; `lon` is its f7.2 field.
std::string longitude_invalid(std::string_view lon);

// The four f8.2 corner fields of the box display.
struct box_fields {
    std::string min_lon;
    std::string max_lat;
    std::string max_lon;
    std::string min_lat;
};
std::string area_box(const box_fields& box);
// The T/F prompt shared by the region and the span confirmations.
std::string confirm_prompt();

// ---- Time span and completeness dialogue ----

std::string span_start();
std::string first_year_prompt();
std::string first_year_warning();
std::string last_year_prompt();
std::string last_year_before_first(int fyod);
std::string last_year_after_limit(int fyod);
std::string values_entered(int fyod, int lyod);
// The eight completeness lines (potential months in i6, example count in i3) and the
// percentage prompt.
std::string completeness(int potential_months, int example_count);
// The final question with `max_missing` as its i3 field, then the [1]/[2] prompt.
std::string final_check(std::string_view max_missing_i3);

// ---- Engine and closing ----

std::string qualifying_stations(int count);
std::string station_data_missing(int station_id);
// "Number of save station records" and "Normal Termination of Program."; the author
// credit that follows is checked by check_normal_end.
std::string closing(int saved_count);

// ---- Checks: each returns an empty string on success, else a readable reason ----

// Exact comparison, reporting the first line that differs.
std::string first_difference(std::string_view expected, std::string_view actual);
// `actual` must be `expected_before_credit`, then one line that starts with a blank (the
// author credit, whose wording is the program's own), then one empty line, then nothing.
std::string check_normal_end(std::string_view expected_before_credit, std::string_view actual);
// Standard error of a run-time failure: exactly three lines, the first starting with
// "? ", then "? <message>" and "? <operation>(UNIT=<unit>,...".
std::string check_failure_report(std::string_view actual_err, std::string_view message, std::string_view operation,
                                 std::string_view unit);

inline constexpr std::string_view end_of_file_message = "Attempt to read past end of file";
inline constexpr std::string_view illegal_character_message = "Illegal character in numeric input";

}  // namespace e2e::transcript
