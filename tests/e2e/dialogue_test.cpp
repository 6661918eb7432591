// Whole runs of the program: archive files in a fresh directory, the user's answers on
// standard input, and the exact terminal text, failure report, exit status and output
// files that the run must give. Most boxes hold no station, so the engine's part of the
// terminal text is the count 0 and the run's own closing lines.
//
// Numeric fields in the expectations are written out by hand from the field rules:
//   f6.2 / f7.2 / f8.2: right-justified in w columns, two decimals, '-' inside the width,
//                       w asterisks when the digits do not fit, NaN right-justified;
//   iw:                 right-justified digits, w asterisks when they do not fit.
// Answers read with f6.2 / f7.2 take only their first 6 / 7 columns; an answer without a
// decimal point has its last two digits as hundredths.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/archive_names.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/text.hpp"
#include "tests/support/transcript.hpp"

namespace {

namespace t = e2e::transcript;

// ---------------------------------------------------------------- archive files

using support::catalogue_file_name;
using support::coordinates_header;
using support::first_five;
using support::observations_file_name;
using support::output_names;
using support::outputs_for_choice;

struct named_bytes {
    std::string name;
    std::string bytes;
};

std::string join_lines(const std::vector<std::string>& lines, const std::string& line_end = "\n") {
    std::string text;
    for (const std::string& line : lines) text += line + line_end;
    return text;
}

std::string numbered(const std::string& stem, int number) { return stem + " " + std::to_string(number); }

// 60 header lines. Line 4 is empty, so its echo is 88 blanks.
std::vector<std::string> catalogue_header() {
    std::vector<std::string> lines = {
        "VALMORA STATION ARCHIVE - SITE SUMMARY",
        "Station   Latitude  Longitude  Elevation",
        "(identifier, degrees north, degrees east, metres)",
        "",
        "----------------------------------------",
    };
    while (lines.size() < 60) lines.push_back(numbered("Catalogue header line", static_cast<int>(lines.size()) + 1));
    return lines;
}

// 111 header lines.
std::vector<std::string> observations_header() {
    std::vector<std::string> lines = {
        "VALMORA STATION ARCHIVE - MONTHLY DATA",         "Station  Flag  Decimal date  Value",
        "Dates are mid-month: year + (month - 0.5) / 12", "Missing months are not listed",
        "========================================",
    };
    while (lines.size() < 111) {
        lines.push_back(numbered("Observations header line", static_cast<int>(lines.size()) + 1));
    }
    return lines;
}

// Stations at latitudes 10.5, -33.75 and 60.1: none lies between 40 and 45.
const std::vector<std::string> standard_stations = {
    "  101  10.50   20.25  123.0",
    "  102 -33.75  151.50   12.5",
    "  103  60.10 -150.00   88.0",
};

const std::vector<std::string> standard_observations = {
    "101 1 1950.042 10.5",
    "101 1 1950.125 11.0",
    "102 1 1950.042 20.0",
    "103 1 1950.042 -5.0",
};

named_bytes catalogue_with(const std::vector<std::string>& stations, const std::string& line_end = "\n") {
    std::vector<std::string> lines = catalogue_header();
    lines.insert(lines.end(), stations.begin(), stations.end());
    return {catalogue_file_name, join_lines(lines, line_end)};
}

named_bytes observations_with(const std::vector<std::string>& records, const std::string& line_end = "\n") {
    std::vector<std::string> lines = observations_header();
    lines.insert(lines.end(), records.begin(), records.end());
    return {observations_file_name, join_lines(lines, line_end)};
}

std::vector<named_bytes> standard_archive() {
    return {catalogue_with(standard_stations), observations_with(standard_observations)};
}

// ---------------------------------------------------------------- output files

// A run that saves no station: an empty series file and the coordinates header alone.
std::vector<named_bytes> empty_outputs(int data_type) {
    output_names names = outputs_for_choice(data_type);
    return {{names.series, ""}, {names.coordinates, coordinates_header}};
}

// The pair of a dialogue that ended before its last answer: created, and left empty.
std::vector<named_bytes> created_outputs(int data_type) {
    output_names names = outputs_for_choice(data_type);
    return {{names.series, ""}, {names.coordinates, ""}};
}

// ---------------------------------------------------------------- expected dialogue pieces

std::string standard_set_up() {
    return t::opening_file(t::catalogue_name_field, first_five(catalogue_header())) +
           t::opening_file(t::observations_name_field, first_five(observations_header()));
}

std::string start_with_choice() { return t::banner() + t::menu() + standard_set_up(); }

std::string region_opening() { return t::region_banner() + t::region_explanation(); }

std::string four_prompts() {
    return t::max_latitude_prompt() + t::min_latitude_prompt() + t::max_longitude_prompt() + t::min_longitude_prompt();
}

// Box of max lat 45, min lat 40, max lon 10, min lon 0 (f8.2 fields).
const t::box_fields standard_box = {"    0.00", "   45.00", "   10.00", "   40.00"};
const std::string standard_box_answers = "45.00\n40.00\n10.00\n0.00\n";

std::string standard_box_entry() { return four_prompts() + t::area_box(standard_box) + t::confirm_prompt(); }

// Span 1950-1964: 15 years, 180 potential months, example count 45; fraction 0.25 gives 45.
const std::string standard_span_answers = "1950\n1964\nT\n0.25\n1\n";

std::string span_entry(int fyod, int lyod) {
    return t::span_start() + t::first_year_prompt() + t::last_year_prompt() + t::values_entered(fyod, lyod);
}

std::string standard_span() { return span_entry(1950, 1964) + t::completeness(180, 45) + t::final_check(" 45"); }

std::string no_station_end() { return t::qualifying_stations(0) + t::closing(0); }

// Pause release, standard box confirmed, standard span.
const std::string standard_dialogue_answers = "\n" + standard_box_answers + "T\n" + standard_span_answers;

std::string standard_dialogue() { return region_opening() + standard_box_entry() + standard_span(); }

// ---------------------------------------------------------------- the case table

enum class run_end { normal, missing_file, failure };

struct dialogue_case {
    std::string name;
    std::vector<named_bytes> files_before;  // archive files and any older output files
    std::string answers;
    std::vector<e2e::env_setting> env;
    std::string expected_out;  // for a normal end: everything before the author credit
    run_end end = run_end::normal;
    std::string failure_message;
    std::string failure_unit = "*";
    std::vector<named_bytes> files_after;  // exact content of files the run creates or changes
};

dialogue_case normal_run(std::string name, int data_type, std::vector<e2e::env_setting> env = {}) {
    dialogue_case c;
    c.name = std::move(name);
    c.files_before = standard_archive();
    c.answers = std::to_string(data_type) + "\n" + standard_dialogue_answers;
    c.env = std::move(env);
    c.expected_out = start_with_choice() + standard_dialogue() + no_station_end();
    c.files_after = empty_outputs(data_type);
    return c;
}

dialogue_case failing_run(std::string name, std::string answers, std::string expected_out, std::string message,
                          std::vector<named_bytes> files_after) {
    dialogue_case c;
    c.name = std::move(name);
    c.files_before = standard_archive();
    c.answers = std::move(answers);
    c.expected_out = std::move(expected_out);
    c.end = run_end::failure;
    c.failure_message = std::move(message);
    c.files_after = std::move(files_after);
    return c;
}

// A run that goes through choice 2 and the standard box, with its own span answers.
dialogue_case span_run(std::string name, std::string span_answers, std::string expected_span) {
    dialogue_case c;
    c.name = std::move(name);
    c.files_before = standard_archive();
    c.answers = "2\n\n" + standard_box_answers + "T\n" + span_answers;
    c.expected_out = start_with_choice() + region_opening() + standard_box_entry() + expected_span + no_station_end();
    c.files_after = empty_outputs(2);
    return c;
}

// A run through choice 2 with its own region answers and the standard span.
dialogue_case region_run(std::string name, std::string region_answers, std::string expected_region) {
    dialogue_case c;
    c.name = std::move(name);
    c.files_before = standard_archive();
    c.answers = "2\n" + region_answers + standard_span_answers;
    c.expected_out = start_with_choice() + expected_region + standard_span() + no_station_end();
    c.files_after = empty_outputs(2);
    return c;
}

// ---- data type choice

std::vector<dialogue_case> choice_cases() {
    std::vector<dialogue_case> cases;
    cases.push_back(normal_run("choice_2_tmax", 2));
    cases.push_back(normal_run("choice_1_tave_quality_controlled", 1, {{"OMP_NUM_THREADS", "1"}}));
    cases.push_back(normal_run("choice_3_tmin_quality_controlled", 3, {{"OMP_NUM_THREADS", "3"}}));
    cases.push_back(normal_run("choice_4_tave_no_quality_control", 4, {{"OMP_NUM_THREADS", "2"}}));

    {
        // 0, 5, 7, -1 are out of range; a lone slash keeps the rejected -1. Each pause
        // discards its whole line, typed text included. The empty line before "2 3" is
        // passed over without a new prompt, and "2 3" takes the 2.
        dialogue_case c = normal_run("menu_retries", 2);
        c.answers = "0\n\n5\nanything at all\n7\n\n-1\n\n/\n\n\n2 3\n" + standard_dialogue_answers;
        std::string retries;
        for (int k = 0; k < 5; ++k) retries += t::menu_rejected() + t::menu();
        c.expected_out = t::banner() + t::menu() + retries + standard_set_up() + standard_dialogue() + no_station_end();
        cases.push_back(c);
    }
    {
        // At the very first prompt the lone slash leaves data_type at its initial 0.
        dialogue_case c = normal_run("menu_lone_slash_first", 4);
        c.answers = "/\n\n4\n" + standard_dialogue_answers;
        c.expected_out = t::banner() + t::menu() + t::menu_rejected() + t::menu() + standard_set_up() +
                         standard_dialogue() + no_station_end();
        cases.push_back(c);
    }
    // A decimal point or letters in the integer answer end the run before any file is made.
    cases.push_back(failing_run("menu_decimal_point_is_fatal", "2.0\n", t::banner() + t::menu(),
                                std::string(t::illegal_character_message), {}));
    cases.push_back(failing_run("menu_word_is_fatal", "two\n", t::banner() + t::menu(),
                                std::string(t::illegal_character_message), {}));
    // Empty lines are passed over, then the input ends at the menu prompt.
    cases.push_back(
        failing_run("menu_end_of_input", "\n\n", t::banner() + t::menu(), std::string(t::end_of_file_message), {}));
    cases.push_back(failing_run("menu_pause_end_of_input", "7\n", t::banner() + t::menu() + t::menu_rejected(),
                                std::string(t::end_of_file_message), {}));
    return cases;
}

// ---- input files

std::vector<dialogue_case> file_cases() {
    std::vector<dialogue_case> cases;
    {
        // "The file: site_summary.txt Does not exist. ": one blank before "Does".
        dialogue_case c;
        c.name = "catalogue_missing";
        c.files_before = {observations_with(standard_observations)};
        c.answers = "2\n\n";
        c.expected_out = t::banner() + t::menu() + t::missing_file(t::catalogue_name_field);
        c.end = run_end::missing_file;
        cases.push_back(c);
    }
    {
        // The catalogue is opened and shown first; then nine blanks between "data.txt" and
        // "Does" (eight from the name field, one from the literal).
        dialogue_case c;
        c.name = "observations_missing";
        c.files_before = {catalogue_with(standard_stations)};
        c.answers = "4\n\n";
        c.expected_out = t::banner() + t::menu() +
                         t::opening_file(t::catalogue_name_field, first_five(catalogue_header())) +
                         t::missing_file(t::observations_name_field);
        c.end = run_end::missing_file;
        cases.push_back(c);
    }
    {
        dialogue_case c;
        c.name = "both_files_missing";
        c.answers = "1\n\n";
        c.expected_out = t::banner() + t::menu() + t::missing_file(t::catalogue_name_field);
        c.end = run_end::missing_file;
        cases.push_back(c);
    }
    {
        dialogue_case c;
        c.name = "missing_file_pause_end_of_input";
        c.files_before = {observations_with(standard_observations)};
        c.answers = "3\n";
        c.expected_out = t::banner() + t::menu() + t::missing_file(t::catalogue_name_field);
        c.end = run_end::failure;
        c.failure_message = t::end_of_file_message;
        cases.push_back(c);
    }
    {
        // 59 lines: the 60th header read meets the end of the catalogue (unit 12).
        std::vector<std::string> lines = catalogue_header();
        lines.pop_back();
        dialogue_case c;
        c.name = "catalogue_shorter_than_header";
        c.files_before = {{catalogue_file_name, join_lines(lines)}, observations_with(standard_observations)};
        c.answers = "2\n";
        c.expected_out = t::banner() + t::menu() + t::opening_file(t::catalogue_name_field, first_five(lines));
        c.end = run_end::failure;
        c.failure_message = t::end_of_file_message;
        c.failure_unit = "12";
        cases.push_back(c);
    }
    {
        // 110 lines: the 111th header read meets the end of the observations (unit 13).
        std::vector<std::string> lines = observations_header();
        lines.pop_back();
        dialogue_case c;
        c.name = "observations_shorter_than_header";
        c.files_before = {catalogue_with(standard_stations), {observations_file_name, join_lines(lines)}};
        c.answers = "2\n";
        c.expected_out = t::banner() + t::menu() + standard_set_up();
        c.end = run_end::failure;
        c.failure_message = t::end_of_file_message;
        c.failure_unit = "13";
        cases.push_back(c);
    }
    {
        // Header lines as "(a)" reads them into the 88-character buffer: a 100-character
        // line keeps its first 88; a 10-character line gets 78 blanks; TABs become blanks
        // up to the next multiple of 8 columns; a TAB in column 87 gives one blank and
        // what follows lies beyond the buffer.
        std::string hundred;
        for (int k = 0; k < 10; ++k) hundred += "0123456789";
        std::vector<std::string> lines = catalogue_header();
        lines[0] = hundred;
        lines[1] = "ABCDEFGHIJ";
        lines[2] = "abcd\tef\tgh";
        lines[3] = "\tindented";
        lines[4] = std::string(87, 'Z') + "\tXYZ";
        std::vector<std::string> shown = {hundred.substr(0, 88), "ABCDEFGHIJ", "abcd    ef      gh", "        indented",
                                          std::string(87, 'Z') + " "};
        std::vector<std::string> obs_lines = observations_header();
        obs_lines[0] = std::string(120, 'Q');
        std::vector<std::string> obs_shown = first_five(obs_lines);
        obs_shown[0] = std::string(88, 'Q');
        std::vector<std::string> catalogue_lines = lines;
        catalogue_lines.insert(catalogue_lines.end(), standard_stations.begin(), standard_stations.end());
        obs_lines.insert(obs_lines.end(), standard_observations.begin(), standard_observations.end());

        dialogue_case c = normal_run("header_lines_long_short_and_tabbed", 2);
        c.files_before = {{catalogue_file_name, join_lines(catalogue_lines)},
                          {observations_file_name, join_lines(obs_lines)}};
        c.expected_out = t::banner() + t::menu() + t::opening_file(t::catalogue_name_field, shown) +
                         t::opening_file(t::observations_name_field, obs_shown) + standard_dialogue() +
                         no_station_end();
        cases.push_back(c);
    }
    {
        // CR LF line ends read like LF alone: header echoes carry no CR, the catalogue's
        // numbers read cleanly, and station 101 (10.5 N, 20.25 E), the only one in the box,
        // is searched through the whole observations file twice and reported missing.
        dialogue_case c;
        c.name = "crlf_archives";
        c.files_before = {catalogue_with(standard_stations, "\r\n"),
                          observations_with({"102 1 1950.042 20.0", "103 1 1950.042 -5.0"}, "\r\n")};
        c.answers = "2\n\n11.00\n10.00\n21.00\n20.00\nT\n" + standard_span_answers;
        c.expected_out = start_with_choice() + region_opening() + four_prompts() +
                         t::area_box({"   20.00", "   11.00", "   21.00", "   10.00"}) + t::confirm_prompt() +
                         standard_span() + t::qualifying_stations(1) + t::station_data_missing(101) + t::closing(0);
        c.files_after = empty_outputs(2);
        cases.push_back(c);
    }
    {
        // The answers themselves typed with CR LF.
        dialogue_case c = normal_run("crlf_answers", 3);
        std::string answers = "3\n" + standard_dialogue_answers;
        std::string crlf;
        for (char ch : answers) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        c.answers = crlf;
        cases.push_back(c);
    }
    {
        // An observations file of its header alone: the one qualifying station meets the
        // end of the file at once, and again after the rewind past the 111 header lines.
        dialogue_case c;
        c.name = "observations_of_exactly_111_lines";
        c.files_before = {catalogue_with(standard_stations), observations_with({})};
        c.answers = "2\n\n11.00\n10.00\n21.00\n20.00\nT\n" + standard_span_answers;
        c.expected_out = start_with_choice() + region_opening() + four_prompts() +
                         t::area_box({"   20.00", "   11.00", "   21.00", "   10.00"}) + t::confirm_prompt() +
                         standard_span() + t::qualifying_stations(1) + t::station_data_missing(101) + t::closing(0);
        c.files_after = empty_outputs(2);
        cases.push_back(c);
    }
    {
        // Older output files are replaced as a pair even when no station is saved: the
        // series file is empty, the coordinates file holds this run's header line.
        const std::string older_series = "older series content\n1950  10.000  11.000\nmore of it\n";
        dialogue_case c = normal_run("older_output_files", 2);
        c.files_before.push_back({"QORN_TMAXq.TSF", older_series});
        c.files_before.push_back(
            {"QORNTMAXq.YX", "#Lon\tLat\tStation ID#\tan older and longer header\n  1.00000\t  2.00000\t  3\n"});
        c.files_after = {{"QORN_TMAXq.TSF", ""}, {"QORNTMAXq.YX", coordinates_header}};
        cases.push_back(c);
    }
    {
        // The last answer without its line feed is still a complete record.
        dialogue_case c = normal_run("last_answer_without_line_feed", 1);
        c.answers = "1\n" + standard_dialogue_answers;
        c.answers.pop_back();
        cases.push_back(c);
    }
    return cases;
}

// ---- region dialogue

std::vector<dialogue_case> region_cases() {
    std::vector<dialogue_case> cases;
    {
        // 90.01 and -100.5 fail the maximum test (f6.2 of -100.5 needs seven columns:
        // asterisks); min 20 above max 10; min -90.5 below -90. Each goes back to the
        // maximum latitude.
        std::string answers = "\n90.01\n-100.5\n10.00\n20.00\n45.00\n-90.50\n" + standard_box_answers + "T\n";
        std::string expected = region_opening() + t::max_latitude_prompt() + t::max_latitude_invalid(" 90.01") +
                               t::max_latitude_prompt() + t::max_latitude_invalid("******") + t::max_latitude_prompt() +
                               t::min_latitude_prompt() + t::min_latitude_above_max(" 10.00") +
                               t::max_latitude_prompt() + t::min_latitude_prompt() +
                               t::min_latitude_invalid("-90.50", " 45.00") + standard_box_entry();
        cases.push_back(region_run("latitude_messages", answers, expected));
    }
    {
        // 90 and -90 are valid maxima; a minimum equal to the maximum is valid; 180 and -180
        // are valid longitudes. The false confirmation repeats the explanation and the
        // pause, not the second banner line.
        std::string answers = "\n90.00\n90.00\n10.00\n0.00\nF\n\n-90.00\n-90.00\n180.00\n-180.00\nT\n";
        std::string expected = region_opening() + four_prompts() +
                               t::area_box({"    0.00", "   90.00", "   10.00", "   90.00"}) + t::confirm_prompt() +
                               t::region_explanation() + four_prompts() +
                               t::area_box({" -180.00", "  -90.00", "  180.00", "  -90.00"}) + t::confirm_prompt();
        cases.push_back(region_run("latitude_and_longitude_bounds_accepted", answers, expected));
    }
    {
        // 180.01 and -180.5 fail as maximum longitude, -180.01 as minimum; each asks for
        // both longitudes again and the latitudes stay. Min 180 with max -180 needs no order.
        std::string answers = "\n45.00\n40.00\n180.01\n-180.50\n180.00\n-180.01\n-180.00\n180.00\nT\n";
        std::string expected = region_opening() + t::max_latitude_prompt() + t::min_latitude_prompt() +
                               t::max_longitude_prompt() + t::longitude_invalid(" 180.01") + t::max_longitude_prompt() +
                               t::longitude_invalid("-180.50") + t::max_longitude_prompt() + t::min_longitude_prompt() +
                               t::longitude_invalid("-180.01") + t::max_longitude_prompt() + t::min_longitude_prompt() +
                               t::area_box({"  180.00", "   45.00", " -180.00", "   40.00"}) + t::confirm_prompt();
        cases.push_back(region_run("longitude_messages", answers, expected));
    }
    {
        // Min lon 170 and max lon -170 raise no message and the box spans the 180th
        // meridian: stations at 175 E and 175 W are kept, the one at 0 and the one north of
        // the box are not. Neither kept station has records, so each is reported missing.
        dialogue_case c;
        c.name = "dateline_box";
        c.files_before = {catalogue_with({"  201   0.00  175.00   10.0", "  202   0.00    0.00   20.0",
                                          "  203   0.00 -175.00   30.0", "  204  20.00  175.00   40.0"}),
                          observations_with({"999 1 1950.042 10.5", "999 1 1950.125 11.0"})};
        c.answers = "2\n\n10.00\n-10.00\n-170.00\n170.00\nT\n" + standard_span_answers;
        c.expected_out = start_with_choice() + region_opening() + four_prompts() +
                         t::area_box({"  170.00", "   10.00", " -170.00", "  -10.00"}) + t::confirm_prompt() +
                         standard_span() + t::qualifying_stations(2) + t::station_data_missing(201) +
                         t::station_data_missing(203) + t::closing(0);
        c.files_after = empty_outputs(2);
        cases.push_back(c);
    }
    {
        // n, no, N and nan read as not-a-number, which passes every range and order test
        // and is shown as NaN in the f8.2 corners.
        std::string answers = "\nn\n40.00\nno\n0.00\nF\n\n45.00\nN\n10.00\nnan\nT\n";
        std::string expected = region_opening() + four_prompts() +
                               t::area_box({"    0.00", "     NaN", "     NaN", "   40.00"}) + t::confirm_prompt() +
                               t::region_explanation() + four_prompts() +
                               t::area_box({"     NaN", "   45.00", "   10.00", "     NaN"}) + t::confirm_prompt();
        cases.push_back(region_run("not_a_number_coordinates", answers, expected));
    }
    {
        // -179.75 at a latitude prompt reads its first six columns, -179.7, and is rejected
        // (asterisks in f6.2); 4500 reads 45.00, 45 reads 0.45, an empty line 0.00, and
        // -1000 in f7.2 reads -10.00.
        std::string answers = "\n-179.75\n4500\n45\n\n-1000\nT\n";
        std::string expected = region_opening() + t::max_latitude_prompt() + t::max_latitude_invalid("******") +
                               four_prompts() + t::area_box({"  -10.00", "   45.00", "    0.00", "    0.45"}) +
                               t::confirm_prompt();
        cases.push_back(region_run("answers_without_decimal_point", answers, expected));
    }
    {
        // F and yes are false; .true. is true. The box of the last pass is the one shown.
        std::string second_box = "50.00\n48.00\n5.00\n1.00\n";
        t::box_fields second = {"    1.00", "   50.00", "    5.00", "   48.00"};
        std::string answers = "\n" + standard_box_answers + "F\n\n" + second_box + "yes\n\n" + second_box + ".true.\n";
        std::string expected = region_opening() + standard_box_entry() + t::region_explanation() + four_prompts() +
                               t::area_box(second) + t::confirm_prompt() + t::region_explanation() + four_prompts() +
                               t::area_box(second) + t::confirm_prompt();
        cases.push_back(region_run("false_confirmation_repeats_explanation", answers, expected));
    }
    return cases;
}

// ---- time span and completeness

std::vector<dialogue_case> span_cases() {
    std::vector<dialogue_case> cases;
    {
        // 1799 and 2021 as first year; 1949 before 1950 (warning and range line); 2021 as
        // last year (range line only). A wrong last year never asks for the first again.
        std::string expected = t::span_start() + t::first_year_prompt() + t::first_year_warning() +
                               t::first_year_prompt() + t::first_year_warning() + t::first_year_prompt() +
                               t::last_year_prompt() + t::last_year_before_first(1950) + t::last_year_prompt() +
                               t::last_year_after_limit(1950) + t::last_year_prompt() + t::values_entered(1950, 1964) +
                               t::completeness(180, 45) + t::final_check(" 45");
        cases.push_back(span_run("year_warnings", "1799\n2021\n1950\n1949\n2021\n1964\nT\n0.25\n1\n", expected));
    }
    {
        // (i4) reads four columns: an empty line is 0, " 1960" is 196, "19505" is 1950 and
        // "1964.5" is 1964.
        std::string expected = t::span_start() + t::first_year_prompt() + t::first_year_warning() +
                               t::first_year_prompt() + t::first_year_warning() + t::first_year_prompt() +
                               t::last_year_prompt() + t::values_entered(1950, 1964) + t::completeness(180, 45) +
                               t::final_check(" 45");
        cases.push_back(span_run("year_field_of_four_columns", "\n 1960\n19505\n1964.5\nT\n0.25\n1\n", expected));
    }
    {
        // 1800-2020: 2652 months, example 663; 1000000 times 2652 passes 2^31, so the count
        // is -2147483648 and its i3 field is asterisks.
        std::string expected = span_entry(1800, 2020) + t::completeness(2652, 663) + t::final_check("***");
        cases.push_back(span_run("whole_span_and_huge_fraction", "1800\n2020\nT\n1000000\n1\n", expected));
    }
    {
        // One year: 12 months, example 3; a fraction of 0 allows no missing month.
        std::string expected = span_entry(2020, 2020) + t::completeness(12, 3) + t::final_check("  0");
        cases.push_back(span_run("one_year_span_zero_fraction", "2020\n2020\nT\n0\n1\n", expected));
    }
    {
        // A lone sign, 0e5 and 1e-50 (zero in single precision) are all zero: no missing
        // month allowed. Each answer 2 asks for the span again.
        std::string expected;
        for (int i = 0; i < 3; ++i)
            expected += span_entry(1950, 1964) + t::completeness(180, 45) + t::final_check("  0");
        cases.push_back(span_run("fraction_forms_of_zero",
                                 "1950\n1964\nT\n+\n2\n1950\n1964\nT\n0e5\n2\n1950\n1964\nT\n1e-50\n1\n", expected));
    }
    {
        // 180 times 0.65 in single precision is just below 117: truncated to 116.
        std::string expected = span_entry(1950, 1964) + t::completeness(180, 45) + t::final_check("116");
        cases.push_back(span_run("fraction_065_truncates", "1950\n1964\nT\n0.65\n1\n", expected));
    }
    {
        // 60 months times 0.35: the product in double precision lies just below 21, but
        // rounded to single precision it is 21.0, so the count is 21.
        std::string expected = span_entry(1950, 1954) + t::completeness(60, 15) + t::final_check(" 21");
        cases.push_back(span_run("fraction_product_in_single_precision", "1950\n1954\nT\n0.35\n1\n", expected));
    }
    {
        // 1900-1999: 1200 months (example 300); 0.0 allows no missing month.
        std::string expected = span_entry(1900, 1999) + t::completeness(1200, 300) + t::final_check("  0");
        cases.push_back(span_run("long_span_zero_fraction", "1900\n1999\nT\n0.0\n1\n", expected));
    }
    {
        // A negative fraction and not-a-number keep the potential 180; answer 2 asks for the
        // whole span again; 25 (meant as 25 %) on one year gives 300.
        std::string expected = span_entry(1950, 1964) + t::completeness(180, 45) + t::final_check("180") +
                               span_entry(1950, 1964) + t::completeness(180, 45) + t::final_check("180") +
                               span_entry(1950, 1950) + t::completeness(12, 3) + t::final_check("300");
        cases.push_back(span_run("fractions_without_effect_and_final_no",
                                 "1950\n1964\nT\n-0.5\n2\n1950\n1964\nT\nn\n2\n1950\n1950\nT\n25\n1\n", expected));
    }
    {
        // A lone comma supplies no value: the region and span confirmations keep the true
        // left by the file checks, the fraction keeps its initial 0 (so no missing month is
        // allowed), and the final answer keeps 61, the catalogue header's line count, which
        // is not 2.
        dialogue_case c;
        c.name = "lone_comma_at_first_answers";
        c.files_before = standard_archive();
        c.answers = "2\n\n" + standard_box_answers + ",\n1950\n1964\n,\n,\n,\n";
        c.expected_out = start_with_choice() + region_opening() + standard_box_entry() + span_entry(1950, 1964) +
                         t::completeness(180, 45) + t::final_check("  0") + no_station_end();
        c.files_after = empty_outputs(2);
        cases.push_back(c);
    }
    {
        // After a false answer a lone comma stays false; after a 2 it stays 2.
        dialogue_case c;
        c.name = "lone_comma_after_no";
        c.files_before = standard_archive();
        c.answers = "2\n\n" + standard_box_answers + "F\n\n" + standard_box_answers + ",\n\n" + standard_box_answers +
                    "T\n" + "1950\n1964\nF\n1960\n1960\n,\n1960\n1961\nT\n0.5\n2\n" +
                    "1950\n1964\nT\n0.25\n,\n1950\n1964\nT\n0.1\n1\n";
        c.expected_out = start_with_choice() + region_opening() + standard_box_entry() + t::region_explanation() +
                         standard_box_entry() + t::region_explanation() + standard_box_entry() +
                         span_entry(1950, 1964) + span_entry(1960, 1960) + span_entry(1960, 1961) +
                         t::completeness(24, 6) + t::final_check(" 12") + span_entry(1950, 1964) +
                         t::completeness(180, 45) + t::final_check(" 45") + span_entry(1950, 1964) +
                         t::completeness(180, 45) + t::final_check(" 18") + no_station_end();
        c.files_after = empty_outputs(2);
        cases.push_back(c);
    }
    return cases;
}

// ---- fatal answers after the file set-up: the output files exist, empty, since the pair
// is emptied only once the last answer is accepted

std::vector<dialogue_case> late_failure_cases() {
    std::vector<dialogue_case> cases;
    const std::string before_region = start_with_choice() + region_opening();
    const std::string before_span = before_region + standard_box_entry();
    const std::string illegal(t::illegal_character_message);
    const std::string end_of_file(t::end_of_file_message);

    cases.push_back(failing_run("letters_in_latitude_are_fatal", "2\n\nab\n", before_region + t::max_latitude_prompt(),
                                illegal, created_outputs(2)));
    {
        // Older output files are kept byte for byte by a dialogue that ends early.
        const std::string older_series = "older series content\n";
        const std::string older_coordinates = coordinates_header + "  1.00000\t  2.00000\t  3\n";
        dialogue_case c =
            failing_run("failure_with_older_output_files", "2\n\nab\n", before_region + t::max_latitude_prompt(),
                        illegal, {{"QORN_TMAXq.TSF", older_series}, {"QORNTMAXq.YX", older_coordinates}});
        c.files_before.push_back({"QORN_TMAXq.TSF", older_series});
        c.files_before.push_back({"QORNTMAXq.YX", older_coordinates});
        cases.push_back(c);
    }
    cases.push_back(
        failing_run("letters_in_longitude_are_fatal", "1\n\n45.00\n40.00\n1O.00\n",
                    before_region + t::max_latitude_prompt() + t::min_latitude_prompt() + t::max_longitude_prompt(),
                    illegal, created_outputs(1)));
    cases.push_back(failing_run("letters_in_year_are_fatal", "2\n\n" + standard_box_answers + "T\n19a5\n",
                                before_span + t::span_start() + t::first_year_prompt(), illegal, created_outputs(2)));
    cases.push_back(failing_run("percent_sign_is_fatal", "2\n\n" + standard_box_answers + "T\n1950\n1964\nT\n25%\n",
                                before_span + span_entry(1950, 1964) + t::completeness(180, 45), illegal,
                                created_outputs(2)));
    cases.push_back(failing_run("letter_at_final_question_is_fatal",
                                "2\n\n" + standard_box_answers + "T\n" + "1950\n1964\nT\n0.25\ny\n",
                                before_span + standard_span(), illegal, created_outputs(2)));
    cases.push_back(failing_run("end_of_input_at_region_pause", "2\n", before_region, end_of_file, created_outputs(2)));
    cases.push_back(failing_run("end_of_input_at_last_year", "4\n\n" + standard_box_answers + "T\n1950\n",
                                before_span + t::span_start() + t::first_year_prompt() + t::last_year_prompt(),
                                end_of_file, created_outputs(4)));
    // The empty lines at a free-form prompt are passed over before the input ends.
    cases.push_back(failing_run("end_of_input_at_confirmation", "3\n\n" + standard_box_answers + "\n\n", before_span,
                                end_of_file, created_outputs(3)));
    return cases;
}

std::vector<dialogue_case> all_cases() {
    std::vector<dialogue_case> cases;
    for (auto group : {choice_cases(), file_cases(), region_cases(), span_cases(), late_failure_cases()}) {
        cases.insert(cases.end(), group.begin(), group.end());
    }
    return cases;
}

// ---------------------------------------------------------------- the test

// The checks return an empty string on success and their reason otherwise.
void expect_no_reason(const std::string& reason, const std::string& what) {
    EXPECT_TRUE(reason.empty()) << what << ": " << reason;
}

// gtest names a failing case by this instead of dumping the struct's bytes.
void PrintTo(const dialogue_case& c, std::ostream* os) { *os << c.name; }

class dialogue_run : public ::testing::TestWithParam<dialogue_case> {};

std::vector<std::string> sorted_names(const std::vector<named_bytes>& a, const std::vector<named_bytes>& b) {
    std::vector<std::string> names;
    for (const named_bytes& file : a) names.push_back(file.name);
    for (const named_bytes& file : b) names.push_back(file.name);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

const named_bytes* find_file(const std::vector<named_bytes>& files, const std::string& name) {
    for (const named_bytes& file : files) {
        if (file.name == name) return &file;
    }
    return nullptr;
}

TEST_P(dialogue_run, gives_the_expected_transcript_and_files) {
    const dialogue_case& c = GetParam();
    e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_FALSE(dir.base.empty()) << "cannot make a scratch directory";
    for (const named_bytes& file : c.files_before) ASSERT_TRUE(e2e::write_file(dir.work, file.name, file.bytes));

    e2e::program_result result = e2e::run_program(dir, VARNEX_BINARY, c.answers, c.env);
    ASSERT_EQ(result.launch_error, "");
    ASSERT_FALSE(result.timed_out) << "the program did not finish within the time limit";
    ASSERT_EQ(result.signal_number, 0) << "the program was ended by a signal";

    switch (c.end) {
        case run_end::normal:
            EXPECT_EQ(result.exit_status, 0);
            expect_no_reason(t::check_normal_end(c.expected_out, result.out), "standard output");
            EXPECT_EQ(result.err, "");
            break;
        case run_end::missing_file:
            EXPECT_EQ(result.exit_status, 1);
            expect_no_reason(t::first_difference(c.expected_out, result.out), "standard output");
            EXPECT_EQ(result.err, "");
            break;
        case run_end::failure:
            EXPECT_EQ(result.exit_status, 255);
            expect_no_reason(t::first_difference(c.expected_out, result.out), "standard output");
            expect_no_reason(t::check_failure_report(result.err, c.failure_message, "READ", c.failure_unit),
                             "standard error");
            break;
    }

    // The directory holds the files that were there and the ones the run must create,
    // nothing else; files the run must not touch keep their bytes.
    EXPECT_EQ(e2e::list_files(dir.work), sorted_names(c.files_before, c.files_after));
    for (const named_bytes& file : c.files_after) {
        std::optional<std::string> bytes = e2e::read_file(dir.work, file.name);
        ASSERT_TRUE(bytes.has_value()) << file.name << " was not created";
        expect_no_reason(t::first_difference(file.bytes, *bytes), file.name);
    }
    for (const named_bytes& file : c.files_before) {
        if (find_file(c.files_after, file.name) != nullptr) continue;
        std::optional<std::string> bytes = e2e::read_file(dir.work, file.name);
        ASSERT_TRUE(bytes.has_value()) << file.name << " disappeared";
        EXPECT_TRUE(*bytes == file.bytes) << file.name << " was changed";
    }

    if (HasFailure()) {
        std::fprintf(stderr, "run kept in %s\n", dir.base.c_str());
    } else {
        e2e::remove_scratch_dir(dir);
    }
}

INSTANTIATE_TEST_SUITE_P(cases, dialogue_run, ::testing::ValuesIn(all_cases()), support::named_by_name());

}  // namespace
