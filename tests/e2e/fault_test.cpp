// Whole runs that meet faults as a user would: output names taken by a directory or bound
// to a full device, input names that are directories, archive files that are empty, cut
// short, malformed, binary or huge, odd numbers in the records, and very large blocks and
// tables. Each case states what the terminal, standard error and both output files must
// hold; after any failure the output files hold whole records only, the same stations in
// the same order, and an older series file is kept or replaced as the file rules say.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/archive_names.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/engine_expect.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/text.hpp"
#include "tests/support/transcript.hpp"

namespace {

namespace t = e2e::transcript;
namespace x = e2e::engine_expect;

using support::catalogue_file_name;
using support::coordinates_header;
using support::decimal;
using support::first_five;
using support::joined;
using support::numbered_header;
using support::observations_file_name;

const std::string series_name = support::outputs_for_choice(1).series;
const std::string coordinates_name = support::outputs_for_choice(1).coordinates;
const std::string older_series = "an older series file of this name\nwith a second line\nand a third\n";
const std::string older_coordinates = "an older coordinates file\nwith a second line\n";

constexpr std::string_view system_error_heading = "? System Error:\n";

// The bytes of a literal that may hold NUL bytes, without its terminating NUL.
template <std::size_t N>
std::string bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// ---------------------------------------------------------------- the archive

const std::vector<std::string> catalogue_header = numbered_header("Fault catalogue", 60);
const std::vector<std::string> observations_header = numbered_header("Fault observations", 111);

// Box latitude 0 to 60, longitude 0 to 40, the year 1950, up to all twelve months missing:
// a station is saved when its block has a record of 1950 or earlier first and one of 1950
// or later last.
x::run_answers box_answers(int fyod = 1950, int lyod = 1950, std::string fraction = "1.0") {
    return {1, "60.00", "0.00", "40.00", "0.00", fyod, lyod, std::move(fraction)};
}

std::string record(std::string_view id, std::string_view date, std::string_view value) {
    return std::string(id) + " 1 " + std::string(date) + " " + std::string(value) + "\n";
}

// A station line of the catalogue: identifier, latitude, longitude, fourth value.
std::string station(std::string_view id, std::string_view lat, std::string_view lon, std::string_view extra) {
    return "  " + std::string(id) + "   " + std::string(lat) + "   " + std::string(lon) + "   " + std::string(extra) +
           "\n";
}

// ---------------------------------------------------------------- running

struct run_outcome {
    e2e::program_result result;
    std::optional<std::string> series;
    std::optional<std::string> coordinates;
    std::vector<std::string> files;
};

class fault_run : public ::testing::Test {
protected:
    void SetUp() override {
        dir = e2e::make_scratch_dir();
        ASSERT_FALSE(dir.base.empty()) << "cannot make a scratch directory";
    }
    void TearDown() override {
        if (HasFailure()) {
            std::fprintf(stderr, "run kept in %s\n", dir.base.c_str());
        } else {
            e2e::remove_scratch_dir(dir);
        }
    }

    void write_archive(const std::string& catalogue_body, const std::string& observations_body) {
        ASSERT_TRUE(e2e::write_file(dir.work, catalogue_file_name, joined(catalogue_header) + catalogue_body));
        ASSERT_TRUE(e2e::write_file(dir.work, observations_file_name, joined(observations_header) + observations_body));
    }

    std::string path(std::string_view name) const { return dir.work + "/" + std::string(name); }

    // The bytes of a regular file; nothing for a directory or for a link (to /dev/full,
    // which reads as zeros without end).
    std::optional<std::string> read_regular(std::string_view name) const {
        struct stat info;
        if (::lstat(path(name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
        return e2e::read_file(dir.work, name);
    }

    run_outcome run(const x::run_answers& answers, const std::vector<e2e::env_setting>& env = {},
                    int time_limit = e2e::default_time_limit_seconds) {
        run_outcome outcome;
        outcome.result = e2e::run_program(dir, VARNEX_BINARY, x::answer_lines(answers), env, time_limit);
        outcome.series = read_regular(series_name);
        outcome.coordinates = read_regular(coordinates_name);
        outcome.files = e2e::list_files(dir.work);
        return outcome;
    }

    e2e::scratch_dir dir;
};

void expect_started(const e2e::program_result& r) {
    ASSERT_EQ(r.launch_error, "");
    ASSERT_FALSE(r.timed_out) << "the program did not finish within the time limit";
    ASSERT_EQ(r.signal_number, 0) << "the program was ended by a signal";
}

void expect_no_reason(const std::string& reason, const std::string& what) {
    EXPECT_TRUE(reason.empty()) << what << ": " << reason;
}

// Exit status 255 and the three report lines, the first being `heading` exactly.
void expect_failure(const e2e::program_result& r, std::string_view heading, std::string_view message,
                    std::string_view operation, std::string_view unit) {
    expect_started(r);
    EXPECT_EQ(r.exit_status, 255);
    expect_no_reason(t::check_failure_report(r.err, message, operation, unit), "standard error");
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), heading);
}

std::string heading_at(std::string_view file, long line) {
    return "? Run-time error in " + std::string(file) + " at line " + decimal(line) + "\n";
}

void expect_normal_end(const e2e::program_result& r, const std::string& expected_out) {
    expect_started(r);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    expect_no_reason(t::check_normal_end(expected_out, r.out), "standard output");
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::string dialogue(const x::run_answers& answers) {
    return x::dialogue_text(answers, first_five(catalogue_header), first_five(observations_header));
}

// The station lines that a run prints before its closing lines, and the two files.
struct stations_expected {
    std::string terminal;
    std::string series;
    std::string coordinates = coordinates_header;
    int saved = 0;
    std::vector<std::string> progress_lines;
    std::vector<std::string> coordinates_rows;
    std::vector<std::string> series_blocks;

    void missing(std::int32_t id) { terminal += t::station_data_missing(id); }

    void spurious(std::int32_t id, std::string_view lon, std::string_view lat, float value) {
        terminal += x::spurious_report(id, x::real_from_text(lon), x::real_from_text(lat), value);
    }

    // `rows` are the series rows of the span, each ending with its line feed.
    void save_rows(std::int32_t id, std::string_view lon, std::string_view lat, std::string_view extra,
                   std::int32_t first_year, std::int32_t last_year, const std::string& rows) {
        const float lon_value = x::real_from_text(lon);
        const float lat_value = x::real_from_text(lat);
        ++saved;
        progress_lines.push_back(x::progress_line(saved, lon_value, lat_value, id, first_year, last_year));
        terminal += progress_lines.back();
        coordinates_rows.push_back(x::coordinates_row(lon_value, lat_value, id));
        coordinates += coordinates_rows.back();
        series_blocks.push_back(x::series_header(lon_value, lat_value, x::real_from_text(extra), id) + rows);
        series += series_blocks.back();
    }

    // One row per year of the span, each month missing unless given as (year, month, value text).
    void save(std::int32_t id, std::string_view lon, std::string_view lat, std::string_view extra,
              std::int32_t first_year, std::int32_t last_year, int fyod, int lyod,
              const std::vector<std::tuple<int, int, std::string>>& cells) {
        std::string rows;
        for (int y = fyod; y <= lyod; ++y) {
            std::array<float, 12> row;
            row.fill(-99.0f);
            for (const auto& [year, month, value] : cells) {
                if (year == y) row[static_cast<std::size_t>(month - 1)] = x::real_from_text(value);
            }
            rows += x::series_row(y, row);
        }
        save_rows(id, lon, lat, extra, first_year, last_year, rows);
    }
};

// Three stations of the box, each with January and February 1950.
const std::string three_stations = station("101", "45.00", "10.00", "100.0") +
                                   station("102", "45.50", "10.50", "200.0") +
                                   station("103", "46.00", "11.00", "300.0");
const std::string three_blocks = record("101", "1950.042", "1.0") + record("101", "1950.125", "1.5") +
                                 record("102", "1950.042", "2.0") + record("102", "1950.125", "2.5") +
                                 record("103", "1950.042", "3.0") + record("103", "1950.125", "3.5");

stations_expected three_saved() {
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "1.5"}});
    e.save(102, "10.50", "45.50", "200.0", 1950, 1950, 1950, 1950, {{1950, 1, "2.0"}, {1950, 2, "2.5"}});
    e.save(103, "11.00", "46.00", "300.0", 1950, 1950, 1950, 1950, {{1950, 1, "3.0"}, {1950, 2, "3.5"}});
    return e;
}

// ================================================================ the table of faults

// One entry of the working directory before the run: a file of these bytes, or a
// directory when there are none.
struct entry {
    std::string name;
    std::optional<std::string> bytes;
};

struct failure_report {
    std::string heading;  // the first line of standard error, line feed included
    std::string_view message;
    std::string operation;
    std::string unit;
};

// A run meeting one fault: what stands in the directory, the answers, and all that the
// run must leave. Expected files left unset are not looked at.
struct fault_case {
    std::vector<entry> before;
    x::run_answers answers = box_answers();
    int time_limit = e2e::default_time_limit_seconds;
    std::optional<failure_report> failure;  // none: the run ends normally
    std::string out;                        // all of standard output, or for a normal end all before the author credit
    std::optional<std::string> series;
    std::optional<std::string> coordinates;
    std::vector<std::string> files;              // every name in the directory after the run
    std::vector<std::string> empty_directories;  // entries still directories, and empty
};

// The two archive files: the headers, then the station lines and the observation records.
std::vector<entry> archive(const std::string& catalogue_body, const std::string& observations_body,
                           const std::vector<std::string>& catalogue_lines = catalogue_header,
                           const std::vector<std::string>& observations_lines = observations_header) {
    return {{catalogue_file_name, joined(catalogue_lines) + catalogue_body},
            {observations_file_name, joined(observations_lines) + observations_body}};
}

std::vector<entry> with_older_outputs(std::vector<entry> files, const std::string& series,
                                      const std::string& coordinates) {
    files.push_back({series_name, series});
    files.push_back({coordinates_name, coordinates});
    return files;
}

failure_report system_error(std::string_view message, std::string operation, std::string unit) {
    return {std::string(system_error_heading), message, std::move(operation), std::move(unit)};
}

failure_report bad_number_at(std::string_view file, long line, std::string unit) {
    return {heading_at(file, line), t::illegal_character_message, "READ", std::move(unit)};
}

// Standard output up to the end of the file set-up, before the region dialogue.
std::string set_up_text() {
    return t::banner() + t::menu() + t::opening_file(t::catalogue_name_field, first_five(catalogue_header)) +
           t::opening_file(t::observations_name_field, first_five(observations_header));
}

// A normal end after the stations of `e`, with both files holding exactly theirs.
void ends_with(fault_case& c, int qualifying, const stations_expected& e,
               const std::vector<std::string>& catalogue_shown = first_five(catalogue_header),
               const std::vector<std::string>& observations_shown = first_five(observations_header)) {
    c.out = x::dialogue_text(c.answers, catalogue_shown, observations_shown) + t::qualifying_stations(qualifying) +
            e.terminal + t::closing(e.saved);
    c.series = e.series;
    c.coordinates = e.coordinates;
}

// A failure after the stations of `e`, which both files hold whole.
void fails_after(fault_case& c, failure_report report, int qualifying, const stations_expected& e) {
    c.failure = std::move(report);
    c.out = dialogue(c.answers) + t::qualifying_stations(qualifying) + e.terminal;
    c.series = e.series;
    c.coordinates = e.coordinates;
}

// ---------------------------------------------------------------- names the system refuses

fault_case series_name_taken_by_a_directory() {
    fault_case c;
    c.before = archive(three_stations, three_blocks);
    c.before.push_back({series_name, std::nullopt});
    c.failure = system_error("Is a directory", "OPEN", "14");
    // The failure comes in the file set-up, before the region dialogue.
    c.out = set_up_text();
    c.files = {catalogue_file_name, observations_file_name, series_name};
    c.empty_directories = {series_name};
    return c;
}

fault_case coordinates_name_taken_by_a_directory() {
    fault_case c;
    c.before = archive(three_stations, three_blocks);
    c.before.push_back({coordinates_name, std::nullopt});
    c.failure = system_error("Is a directory", "OPEN", "15");
    c.out = set_up_text();
    // The series file was created just before and nothing was written to it.
    c.series = "";
    c.files = {catalogue_file_name, observations_file_name, series_name, coordinates_name};
    return c;
}

// ---------------------------------------------------------------- input files cut short

fault_case empty_observations_file_fails_in_its_header() {
    fault_case c;
    // Output files of an earlier run stay as they are: they are opened only after the headers.
    c.before = with_older_outputs(
        {{catalogue_file_name, joined(catalogue_header) + three_stations}, {observations_file_name, ""}}, older_series,
        older_coordinates);
    c.failure = failure_report{heading_at(observations_file_name, 1), t::end_of_file_message, "READ", "13"};
    c.out = t::banner() + t::menu() + t::opening_file(t::catalogue_name_field, first_five(catalogue_header)) +
            "\n\n Opening File : " + std::string(t::observations_name_field) + "\n";
    c.series = older_series;
    c.coordinates = older_coordinates;
    return c;
}

fault_case observations_file_shorter_than_its_header() {
    fault_case c;
    const std::vector<std::string> fifty(observations_header.begin(), observations_header.begin() + 50);
    c.before = {{catalogue_file_name, joined(catalogue_header) + three_stations},
                {observations_file_name, joined(fifty)}};
    c.failure = failure_report{heading_at(observations_file_name, 51), t::end_of_file_message, "READ", "13"};
    c.out = set_up_text();
    c.files = {catalogue_file_name, observations_file_name};
    return c;
}

// The last line of data.txt has no line feed, yet it is a record. Cut inside its fourth
// value it holds a shorter number: "25.75" cut after "25" reads 25.0.
fault_case last_line_cut_inside_its_fourth_value() {
    fault_case c;
    std::string observations = three_blocks + record("103", "1950.208", "25.75");
    observations.resize(observations.size() - 4);  // "25.75\n" becomes "25"
    EXPECT_TRUE(observations.ends_with(" 25"));
    c.before = archive(three_stations, observations);
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "1.5"}});
    e.save(102, "10.50", "45.50", "200.0", 1950, 1950, 1950, 1950, {{1950, 1, "2.0"}, {1950, 2, "2.5"}});
    e.save(103, "11.00", "46.00", "300.0", 1950, 1950, 1950, 1950,
           {{1950, 1, "3.0"}, {1950, 2, "3.5"}, {1950, 3, "25.0"}});
    ends_with(c, 3, e);
    return c;
}

// Cut before its fourth value, the last line leaves the read without all four values: the
// end of the file comes first, so the record does not count. Station 102 keeps the block
// it had; 103, whose only record was cut, is not found and is reported after the rewinds.
fault_case last_line_cut_before_its_fourth_value() {
    fault_case c;
    c.before = archive(three_stations, record("101", "1950.042", "1.0") + record("101", "1950.125", "1.5") +
                                           record("102", "1950.042", "2.0") + "102 1 1950.1");
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "1.5"}});
    e.save(102, "10.50", "45.50", "200.0", 1950, 1950, 1950, 1950, {{1950, 1, "2.0"}});
    e.missing(103);
    ends_with(c, 3, e);
    return c;
}

fault_case only_record_of_the_last_station_cut_short() {
    fault_case c;
    c.before = archive(three_stations, three_blocks.substr(0, three_blocks.find("103 ")) + "103 1 1950.0");
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "1.5"}});
    e.save(102, "10.50", "45.50", "200.0", 1950, 1950, 1950, 1950, {{1950, 1, "2.0"}, {1950, 2, "2.5"}});
    e.missing(103);
    ends_with(c, 3, e);
    return c;
}

// The same for the catalogue: a last line cut inside the fourth value is a station with a
// shorter fourth value; one cut before it is no station.
fault_case catalogue_last_line_cut_inside_its_fourth_value() {
    fault_case c;
    std::string catalogue = three_stations;
    catalogue.resize(catalogue.size() - 4);  // "300.0\n" becomes "30"
    c.before = archive(catalogue, three_blocks);
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "1.5"}});
    e.save(102, "10.50", "45.50", "200.0", 1950, 1950, 1950, 1950, {{1950, 1, "2.0"}, {1950, 2, "2.5"}});
    e.save(103, "11.00", "46.00", "30", 1950, 1950, 1950, 1950, {{1950, 1, "3.0"}, {1950, 2, "3.5"}});
    ends_with(c, 3, e);
    return c;
}

fault_case catalogue_last_line_cut_before_its_fourth_value() {
    fault_case c;
    c.before = archive(
        station("101", "45.00", "10.00", "100.0") + station("102", "45.50", "10.50", "200.0") + "  103   46.00   11",
        three_blocks);
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "1.5"}});
    e.save(102, "10.50", "45.50", "200.0", 1950, 1950, 1950, 1950, {{1950, 1, "2.0"}, {1950, 2, "2.5"}});
    ends_with(c, 2, e);
    return c;
}

// ---------------------------------------------------------------- malformed numbers

// A bad number in the catalogue: nothing has been written but the coordinates header. A
// new series file stays empty.
fault_case malformed_number_in_the_catalogue() {
    fault_case c;
    c.before = archive(station("101", "45.00", "10.00", "100.0") + station("102", "45.50", "10.50", "200.0") +
                           station("103", "4x.00", "11.00", "300.0"),
                       three_blocks);
    c.failure = bad_number_at(catalogue_file_name, 63, "12");
    c.out = dialogue(c.answers);
    c.series = "";
    c.coordinates = coordinates_header;
    return c;
}

// The same over the output of an earlier run: both older files were replaced at set-up, so
// the series file is empty and the coordinates file holds this run's header line.
fault_case malformed_number_in_the_catalogue_empties_an_older_series_file() {
    fault_case c;
    c.before = with_older_outputs(
        archive(station("101", "45.00", "10.00", "100.0") + "  102   45.50   10.50   2OO.0\n", three_blocks),
        older_series, older_coordinates);
    c.failure = bad_number_at(catalogue_file_name, 62, "12");
    c.out = dialogue(c.answers);
    c.series = "";
    c.coordinates = coordinates_header;
    return c;
}

// A bad number in data.txt while station 102's block is being read (line 116 is the fifth
// observation record): 101 was saved and stays whole in both files; 102's block was never
// complete, so nothing of it is written.
fault_case malformed_number_in_the_observations() {
    fault_case c;
    c.before = archive(three_stations, record("101", "1950.042", "1.0") + record("101", "1950.125", "1.5") +
                                           record("102", "1950.042", "2.0") + record("102", "1950.125", "2.5") +
                                           record("103", "1950.0x2", "3.0") + record("103", "1950.125", "3.5"));
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "1.5"}});
    fails_after(c, bad_number_at(observations_file_name, 116, "13"), 3, e);
    return c;
}

// A bad number before any station is saved: the older series file is left empty, and the
// coordinates file holds only this run's header line.
fault_case malformed_first_observation_empties_an_older_series_file() {
    fault_case c;
    c.before = with_older_outputs(archive(three_stations, record("101", "1950.042", "1.0.0") + three_blocks),
                                  older_series, older_coordinates + older_coordinates);
    fails_after(c, bad_number_at(observations_file_name, 112, "13"), 3, stations_expected{});
    return c;
}

// Every record is read as four numbers, those of stations outside the table too: a bad
// identifier in a record that is only passed over still ends the run. The older, longer
// series file holds exactly what this run wrote.
fault_case malformed_record_of_a_station_outside_the_table() {
    fault_case c;
    const std::string catalogue = station("101", "45.00", "10.00", "100.0") +
                                  station("102", "45.50", "10.50", "200.0") + station("999", "80.00", "10.00", "1.0") +
                                  station("103", "46.00", "11.00", "300.0");
    const std::string observations = record("101", "1950.042", "1.0") + record("101", "1950.125", "1.5") +
                                     record("102", "1950.042", "2.0") + record("102", "1950.125", "2.5") +
                                     record("999", "1950.042", "9.0") + record("9x9", "1950.125", "9.5") +
                                     record("103", "1950.042", "3.0");
    c.before = archive(catalogue, observations);
    c.before.push_back({series_name, older_series + older_series + older_series + older_series});
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "1.5"}});
    e.save(102, "10.50", "45.50", "200.0", 1950, 1950, 1950, 1950, {{1950, 1, "2.0"}, {1950, 2, "2.5"}});
    fails_after(c, bad_number_at(observations_file_name, 117, "13"), 3, e);
    return c;
}

// ---------------------------------------------------------------- bytes that are not text

// A NUL byte inside a value makes it a bad number.
fault_case nul_byte_inside_a_value() {
    fault_case c;
    std::string observations = three_blocks;
    const std::size_t at = observations.find("2.5");
    observations.insert(at + 1, 1, '\0');  // "2\0.5"
    c.before = archive(three_stations, observations);
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "1.5"}});
    fails_after(c, bad_number_at(observations_file_name, 115, "13"), 3, e);
    return c;
}

fault_case line_of_binary_garbage() {
    fault_case c;
    std::string garbage;
    for (int i = 0; i < 200; ++i) garbage.push_back(static_cast<char>(0x80 + (i * 37) % 128));
    garbage[50] = '\0';
    garbage[90] = '\r';
    // Line 115: 101's block was ended by 102's first record and saved; 102's is still open.
    c.before = archive(three_stations, record("101", "1950.042", "1.0") + record("101", "1950.125", "1.5") +
                                           record("102", "1950.042", "2.0") + garbage + "\n" +
                                           record("102", "1950.125", "2.5"));
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "1.5"}});
    fails_after(c, bad_number_at(observations_file_name, 115, "13"), 3, e);
    return c;
}

// Bytes after the fourth value are discarded whatever they are; a carriage return inside a
// record is dropped; header lines are text of any bytes, and the first five are echoed
// byte for byte (cut or padded to 88 characters).
fault_case odd_bytes_where_they_are_harmless() {
    fault_case c;
    std::vector<std::string> header = observations_header;
    header[2] = bytes("third\0line\xff\xfe with bytes");
    header[40] = bytes("\0\0\0\x80\x81 not shown");
    const std::string observations = "101 1 1950.042 1.0 " + bytes("\0\x01\x02\xff garbage, / 7 8\0") + "\n" +
                                     "101 1 1950.1\r25 1.5\n" + record("102", "1950.042", "2.0") +
                                     "102,1,1950.125,2.5,\x7f\x80\n" + record("103", "1950.042", "3.0") +
                                     "103 1 1950.125 3.5\r\n";
    c.before = archive(three_stations, observations, catalogue_header, header);
    const std::vector<std::string> shown(header.begin(), header.begin() + 5);
    ends_with(c, 3, three_saved(), first_five(catalogue_header), shown);
    return c;
}

// ---------------------------------------------------------------- sizes

// Lines of ten million characters: a catalogue header line (echoed as its first 88), a
// blank line inside a block (an empty record, passed over), and a record whose fourth value
// is followed by ten million letters. That record ends 101's block, so the reader steps
// back over it; 105 has no records and costs two passes over the whole file.
fault_case lines_of_ten_million_characters() {
    fault_case c;
    constexpr std::size_t ten_million = 10'000'000;
    std::vector<std::string> header = catalogue_header;
    header[1] = std::string(ten_million, 'h');
    const std::string catalogue = three_stations + station("105", "47.00", "12.00", "500.0");
    const std::string observations = record("101", "1950.042", "1.0") + std::string(ten_million, ' ') + "\n" +
                                     record("101", "1950.125", "1.5") + "102 1 1950.042 2.0 " +
                                     std::string(ten_million, 'z') + "\n" + record("102", "1950.125", "2.5") +
                                     record("103", "1950.042", "3.0") + record("103", "1950.125", "3.5");
    c.before = archive(catalogue, observations, header, observations_header);
    c.time_limit = 300;
    stations_expected e = three_saved();
    e.missing(105);
    const std::vector<std::string> shown = {header[0], std::string(88, 'h'), header[2], header[3], header[4]};
    ends_with(c, 4, e, shown, first_five(observations_header));
    return c;
}

// One station's block of 100,000 records, far beyond the 3,600 the block buffer plans
// for. 99,976 of them are dated mid-1950 (a date without a month: carried, never placed,
// their implausible value never seen); the 24 months of 1950 and 1951 come last, beyond
// any planned capacity, and must all reach the series. Station 102 follows.
fault_case block_of_100000_records() {
    fault_case c;
    c.answers = box_answers(1950, 1951, "0.0");
    c.time_limit = 300;
    std::string observations;
    for (int k = 0; k < 100000 - 24; ++k) observations += record("101", "1950.5", "999.0");
    std::vector<std::tuple<int, int, std::string>> cells;
    for (int y = 1950; y <= 1951; ++y) {
        for (int m = 1; m <= 12; ++m) {
            const std::string value = decimal(m) + "." + decimal(y - 1949);
            observations += record("101", x::month_date_text(y, m), value);
            cells.emplace_back(y, m, value);
        }
    }
    std::vector<std::tuple<int, int, std::string>> cells_102;
    for (int y = 1950; y <= 1951; ++y) {
        for (int m = 1; m <= 12; ++m) {
            observations += record("102", x::month_date_text(y, m), "-" + decimal(m) + ".25");
            cells_102.emplace_back(y, m, "-" + decimal(m) + ".25");
        }
    }
    c.before =
        archive(station("101", "45.00", "10.00", "100.0") + station("102", "45.50", "10.50", "200.0"), observations);
    stations_expected e;
    e.save(101, "10.00", "45.00", "100.0", 1950, 1951, 1950, 1951, cells);
    e.save(102, "10.50", "45.50", "200.0", 1950, 1951, 1950, 1951, cells_102);
    ends_with(c, 2, e);
    return c;
}

// ---------------------------------------------------------------- numbers at the edges

// Identifiers, dates and values of not-a-number, infinity and 1e30. Every identifier that
// is not-a-number, infinite or beyond 32 bits is truncated to -2147483648, so such records
// form one block with the catalogue station listed as 1e30. A date without a month (any of
// these) is carried in its block but not placed; as the first record of a block it still
// gives the first year -2147483648, as the last one the last year, which fails the span.
// A value of not-a-number is neither implausible nor missing and is written as NaN; 1e30
// is implausible.
fault_case not_a_number_infinity_and_1e30() {
    fault_case c;
    const std::string catalogue = station("101", "45.00", "10.00", "1.0") + station("1e30", "45.00", "11.00", "2.0") +
                                  station("103", "45.00", "12.00", "3.0") + station("104", "45.00", "13.00", "4.0") +
                                  station("105", "45.00", "14.00", "5.0") + station("106", "45.00", "15.00", "6.0");
    const std::string observations =
        // 101: dates of no month between two good ones.
        record("101", "1950.042", "1.0") + record("101", "nan", "91.0") + record("101", "inf", "92.0") +
        record("101", "1e30", "93.0") + record("101", "-inf", "94.0") + record("101", "-1e30", "95.0") +
        record("101", "1950.125", "2.0") +
        // The station listed as 1e30.
        record("nan", "1950.042", "3.0") + record("inf", "1950.125", "4.0") + record("1e30", "1950.208", "5.0") +
        record("-2147483648", "1950.292", "6.0") + record("-1e30", "1950.375", "7.0") +
        record("NaN", "1950.458", "8.0") + record("-Infinity", "1950.542", "9.0") +
        // 103: a value of not-a-number in March.
        record("103", "1950.042", "1.0") + record("103", "1950.208", "nan") + record("103", "1950.958", "12.0") +
        // 104: the first record's date is 1e30.
        record("104", "1e30", "1.0") + record("104", "1950.042", "2.0") + record("104", "1950.125", "3.0") +
        // 105: the last record's date is not-a-number: last year -2147483648, span fails.
        record("105", "1950.042", "1.0") + record("105", "1950.125", "2.0") + record("105", "n", "3.0") +
        // 106: a value of 1e30 in February.
        record("106", "1950.042", "1.0") + record("106", "1950.125", "1e30") + record("106", "1950.208", "3.0");
    c.before = archive(catalogue, observations);
    constexpr std::int32_t most_negative = -2147483647 - 1;
    stations_expected e;
    e.save(101, "10.00", "45.00", "1.0", 1950, 1950, 1950, 1950, {{1950, 1, "1.0"}, {1950, 2, "2.0"}});
    e.save(most_negative, "11.00", "45.00", "2.0", 1950, 1950, 1950, 1950,
           {{1950, 1, "3.0"},
            {1950, 2, "4.0"},
            {1950, 3, "5.0"},
            {1950, 4, "6.0"},
            {1950, 5, "7.0"},
            {1950, 6, "8.0"},
            {1950, 7, "9.0"}});
    // A value that is not a number lies in no range: the station is reported and skipped.
    e.spurious(103, "12.00", "45.00", std::numeric_limits<float>::quiet_NaN());
    e.save(104, "13.00", "45.00", "4.0", most_negative, 1950, 1950, 1950, {{1950, 1, "2.0"}, {1950, 2, "3.0"}});
    e.spurious(106, "15.00", "45.00", 1e30f);
    ends_with(c, 6, e);
    return c;
}

// ---------------------------------------------------------------- running the table

// The cases are built when their test runs: some hold tens of megabytes.
struct fault_entry {
    std::string name;
    fault_case (*build)();
};

void PrintTo(const fault_entry& e, std::ostream* os) { *os << e.name; }

const fault_entry fault_table[] = {
    {"series_name_taken_by_a_directory", series_name_taken_by_a_directory},
    {"coordinates_name_taken_by_a_directory", coordinates_name_taken_by_a_directory},
    {"empty_observations_file_fails_in_its_header", empty_observations_file_fails_in_its_header},
    {"observations_file_shorter_than_its_header", observations_file_shorter_than_its_header},
    {"last_line_cut_inside_its_fourth_value", last_line_cut_inside_its_fourth_value},
    {"last_line_cut_before_its_fourth_value", last_line_cut_before_its_fourth_value},
    {"only_record_of_the_last_station_cut_short", only_record_of_the_last_station_cut_short},
    {"catalogue_last_line_cut_inside_its_fourth_value", catalogue_last_line_cut_inside_its_fourth_value},
    {"catalogue_last_line_cut_before_its_fourth_value", catalogue_last_line_cut_before_its_fourth_value},
    {"malformed_number_in_the_catalogue", malformed_number_in_the_catalogue},
    {"malformed_number_in_the_catalogue_empties_an_older_series_file",
     malformed_number_in_the_catalogue_empties_an_older_series_file},
    {"malformed_number_in_the_observations", malformed_number_in_the_observations},
    {"malformed_first_observation_empties_an_older_series_file",
     malformed_first_observation_empties_an_older_series_file},
    {"malformed_record_of_a_station_outside_the_table", malformed_record_of_a_station_outside_the_table},
    {"nul_byte_inside_a_value", nul_byte_inside_a_value},
    {"line_of_binary_garbage", line_of_binary_garbage},
    {"odd_bytes_where_they_are_harmless", odd_bytes_where_they_are_harmless},
    {"lines_of_ten_million_characters", lines_of_ten_million_characters},
    {"block_of_100000_records", block_of_100000_records},
    {"not_a_number_infinity_and_1e30", not_a_number_infinity_and_1e30},
};

// An output file, when the case says what it must hold.
void expect_file(const std::optional<std::string>& actual, const std::optional<std::string>& expected,
                 const std::string& name) {
    if (!expected) return;
    ASSERT_TRUE(actual.has_value()) << name << " is not a regular file";
    expect_no_reason(t::first_difference(*expected, *actual), name);
}

class fault_table_run : public fault_run, public ::testing::WithParamInterface<fault_entry> {
protected:
    void place(const std::vector<entry>& entries) {
        for (const entry& e : entries) {
            if (e.bytes) {
                ASSERT_TRUE(e2e::write_file(dir.work, e.name, *e.bytes));
            } else {
                ASSERT_EQ(::mkdir(path(e.name).c_str(), 0755), 0);
            }
        }
    }
};

TEST_P(fault_table_run, ends_as_the_case_says) {
    const fault_case c = GetParam().build();
    place(c.before);
    if (HasFatalFailure()) return;
    const run_outcome o = run(c.answers, {}, c.time_limit);
    if (c.failure) {
        expect_failure(o.result, c.failure->heading, c.failure->message, c.failure->operation, c.failure->unit);
        EXPECT_EQ(o.result.out, c.out);
    } else {
        expect_normal_end(o.result, c.out);
    }
    expect_file(o.series, c.series, series_name);
    expect_file(o.coordinates, c.coordinates, coordinates_name);
    if (!c.files.empty()) {
        EXPECT_EQ(o.files, sorted(c.files));
    }
    for (const std::string& name : c.empty_directories) EXPECT_TRUE(e2e::list_files(path(name)).empty()) << name;
}

INSTANTIATE_TEST_SUITE_P(faults, fault_table_run, ::testing::ValuesIn(fault_table), support::named_by_name());

// ================================================================ names the system refuses

// An input name held by a directory exists, so there is no missing-file message: the run
// fails on the system's refusal, either when the file is opened or at its first read
// (then the "Opening File" line has been written, and no header line).
void expect_input_directory_failure(const run_outcome& o, const std::string& unit, const std::string& before_open,
                                    std::string_view name_field) {
    expect_started(o.result);
    EXPECT_EQ(o.result.exit_status, 255);
    const bool at_open = o.result.err.find("? OPEN(UNIT=") != std::string::npos;
    expect_no_reason(t::check_failure_report(o.result.err, "Is a directory", at_open ? "OPEN" : "READ", unit),
                     "standard error");
    EXPECT_EQ(o.result.err.substr(0, o.result.err.find('\n') + 1), system_error_heading);
    const std::string opening = "\n\n Opening File : " + std::string(name_field) + "\n";
    EXPECT_EQ(o.result.out, before_open + (at_open ? "" : opening));
    EXPECT_EQ(o.result.out.find("Does not exist"), std::string::npos);
}

TEST_F(fault_run, catalogue_name_taken_by_a_directory) {
    ASSERT_TRUE(e2e::write_file(dir.work, observations_file_name, joined(observations_header) + three_blocks));
    ASSERT_EQ(::mkdir(path(catalogue_file_name).c_str(), 0755), 0);
    const run_outcome o = run(box_answers());
    expect_input_directory_failure(o, "12", t::banner() + t::menu(), t::catalogue_name_field);
    EXPECT_EQ(o.files, sorted({catalogue_file_name, observations_file_name}));
}

TEST_F(fault_run, observations_name_taken_by_a_directory) {
    ASSERT_TRUE(e2e::write_file(dir.work, catalogue_file_name, joined(catalogue_header) + three_stations));
    ASSERT_EQ(::mkdir(path(observations_file_name).c_str(), 0755), 0);
    const run_outcome o = run(box_answers());
    expect_input_directory_failure(
        o, "13", t::banner() + t::menu() + t::opening_file(t::catalogue_name_field, first_five(catalogue_header)),
        t::observations_name_field);
    EXPECT_EQ(o.files, sorted({catalogue_file_name, observations_file_name}));
}

// Stations 5001 onwards, one record in January and one in December of 1950 each, all in
// the box, with the expected lines and files of saving every one of them.
stations_expected many_stations(int count, std::string& catalogue, std::string& observations) {
    stations_expected e;
    for (int i = 0; i < count; ++i) {
        const std::string id = decimal(5001 + i);
        const std::string lat = decimal(10 + i % 40) + ".25";
        const std::string lon = decimal(5 + i % 30) + ".50";
        catalogue += station(id, lat, lon, "7.0");
        observations += record(id, "1950.042", decimal(i % 50) + ".5") + record(id, "1950.958", "-3.25");
        e.save(5001 + i, lon, lat, "7.0", 1950, 1950, 1950, 1950,
               {{1950, 1, decimal(i % 50) + ".5"}, {1950, 12, "-3.25"}});
    }
    return e;
}

// An output file bound to /dev/full: the system refuses its writes with ENOSPC. When the
// refusal comes depends on how much output is gathered before it is passed on, but the run
// always ends with the report, never with the closing lines, the terminal shows exactly
// the progress lines of the stations whose output was begun, and the device is left alone
// while the regular file is cut back to match it.
struct full_device_case {
    std::string name;
    int stations;
    bool series_full;  // else the coordinates file
};

void PrintTo(const full_device_case& c, std::ostream* os) { *os << c.name; }

class full_device_run : public fault_run, public ::testing::WithParamInterface<full_device_case> {};

TEST_P(full_device_run, ends_with_the_write_refusal) {
    const full_device_case& c = GetParam();
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
    std::string catalogue, observations;
    const stations_expected e = many_stations(c.stations, catalogue, observations);
    write_archive(catalogue, observations);
    const std::string& full_name = c.series_full ? series_name : coordinates_name;
    ASSERT_EQ(::symlink("/dev/full", path(full_name).c_str()), 0);
    const x::run_answers answers = box_answers();
    const run_outcome o = run(answers);
    expect_failure(o.result, system_error_heading, "No space left on device", "WRITE", c.series_full ? "14" : "15");
    if (!c.series_full) {
        // The coordinates header is written as soon as the dialogue is over, so the device
        // refuses it before the catalogue is read.
        EXPECT_EQ(o.result.out, dialogue(answers));
        EXPECT_EQ(o.series, std::optional<std::string>(""));
        return;
    }

    const std::string before_stations = dialogue(answers) + t::qualifying_stations(c.stations);
    ASSERT_EQ(o.result.out.substr(0, before_stations.size()), before_stations);
    std::string shown = o.result.out.substr(before_stations.size());
    std::size_t progress = 0;
    while (progress < e.progress_lines.size() && shown.starts_with(e.progress_lines[progress])) {
        shown.erase(0, e.progress_lines[progress].size());
        ++progress;
    }
    EXPECT_EQ(shown, "") << "the terminal holds more than whole progress lines";
    EXPECT_GE(progress, 1u) << "the series file is refused only once a station is written";
    // No station reached the device whole, so the coordinates file is cut back to its header.
    EXPECT_EQ(o.coordinates, std::optional<std::string>(coordinates_header));
}

INSTANTIATE_TEST_SUITE_P(outputs, full_device_run,
                         ::testing::Values(full_device_case{"series_few_stations", 3, true},
                                           full_device_case{"series_many_stations", 1500, true},
                                           full_device_case{"coordinates_few_stations", 3, false},
                                           full_device_case{"coordinates_many_stations", 1500, false}),
                         support::named_by_name());

// ================================================================ the output pair

// Both files hold the first `whole` stations of `e` exactly, and nothing else.
void expect_same_whole_stations(const run_outcome& o, const stations_expected& e, std::size_t whole) {
    std::string rows = coordinates_header, blocks;
    for (std::size_t i = 0; i < whole; ++i) {
        rows += e.coordinates_rows[i];
        blocks += e.series_blocks[i];
    }
    EXPECT_EQ(o.coordinates, std::optional<std::string>(rows));
    EXPECT_EQ(o.series, std::optional<std::string>(blocks));
}

// How many stations the coordinates file lists (its lines after the header).
std::size_t stations_listed(const std::optional<std::string>& coordinates) {
    if (!coordinates) return 0;
    return static_cast<std::size_t>(std::count(coordinates->begin(), coordinates->end(), '\n')) - 1;
}

// Another run holds the lock of one of the two files: this run ends at set-up with the
// report naming that file, and neither file's bytes change.
struct locked_case {
    std::string name;
    bool series_locked;  // else the coordinates file
};

void PrintTo(const locked_case& c, std::ostream* os) { *os << c.name; }

class locked_run : public fault_run, public ::testing::WithParamInterface<locked_case> {};

TEST_P(locked_run, leaves_both_files_untouched) {
    const locked_case& c = GetParam();
    write_archive(three_stations, three_blocks);
    ASSERT_TRUE(e2e::write_file(dir.work, series_name, older_series));
    ASSERT_TRUE(e2e::write_file(dir.work, coordinates_name, older_coordinates));
    const std::string& locked_name = c.series_locked ? series_name : coordinates_name;
    const int holder = ::open(path(locked_name).c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const run_outcome o = run(box_answers());
    ::close(holder);
    expect_failure(o.result, system_error_heading, locked_name + " is in use by another run", "OPEN",
                   c.series_locked ? "14" : "15");
    EXPECT_EQ(o.result.out, t::banner() + t::menu() +
                                t::opening_file(t::catalogue_name_field, first_five(catalogue_header)) +
                                t::opening_file(t::observations_name_field, first_five(observations_header)));
    EXPECT_EQ(o.series, std::optional<std::string>(older_series));
    EXPECT_EQ(o.coordinates, std::optional<std::string>(older_coordinates));
}

INSTANTIATE_TEST_SUITE_P(outputs, locked_run,
                         ::testing::Values(locked_case{"series_locked", true},
                                           locked_case{"coordinates_locked", false}),
                         support::named_by_name());

// A file-size limit of 48 KiB (96 blocks of 512 bytes for /bin/sh) refuses the series file
// part-way through a row when its first 64 KiB are passed on, while the terminal output
// stays below it (SIGXFSZ ignored, so the write fails with EFBIG): both files are cut back
// to the same whole stations.
TEST_F(fault_run, write_refused_part_way_leaves_no_torn_row) {
    std::string catalogue, observations;
    const stations_expected e = many_stations(1500, catalogue, observations);
    write_archive(catalogue, observations);
    const std::string wrapper = dir.base + "/limited.sh";
    ASSERT_TRUE(e2e::write_file(dir.base, "limited.sh",
                                "#!/bin/sh\ntrap '' XFSZ\nulimit -f 96\nexec " + std::string(VARNEX_BINARY) + "\n"));
    ASSERT_EQ(::chmod(wrapper.c_str(), 0755), 0);
    run_outcome o;
    o.result = e2e::run_program(dir, wrapper, x::answer_lines(box_answers()), e2e::run_options{});
    o.series = read_regular(series_name);
    o.coordinates = read_regular(coordinates_name);
    expect_failure(o.result, system_error_heading, "File too large", "WRITE", "14");
    const std::size_t whole = stations_listed(o.coordinates);
    EXPECT_GE(whole, 1u);
    EXPECT_LT(whole, 1500u);
    expect_same_whole_stations(o, e, whole);
}

// SIGTERM and SIGINT in the middle of a long run end it at the next station boundary:
// exit status 128 plus the signal, nothing written after the last progress line, and both
// files holding the same whole stations. The catalogue lists the stations in the reverse
// order of data.txt, so every station costs a pass over the file.
struct stopped_case {
    std::string name;
    int signal_number;
};

void PrintTo(const stopped_case& c, std::ostream* os) { *os << c.name; }

class stopped_run : public fault_run, public ::testing::WithParamInterface<stopped_case> {};

TEST_P(stopped_run, ends_at_a_station_boundary) {
    constexpr int count = 1500;
    std::string observations;
    std::vector<std::string> stations;
    stations_expected e;
    for (int i = count - 1; i >= 0; --i) {
        const std::string id = decimal(5001 + i);
        stations.push_back(station(id, "45.00", "10.00", "7.0"));
        for (int y = 1900; y <= 1950; ++y)
            for (int m = 1; m <= 12; ++m) observations += record(id, x::month_date_text(y, m), "1.5");
    }
    std::string catalogue;
    for (const std::string& line : stations) catalogue += line;
    write_archive(catalogue, observations);
    e2e::run_options options;
    options.signal_number = GetParam().signal_number;
    options.signal_marker = ">> Saving Station-:";
    options.signal_after = 3;
    const e2e::program_result r = e2e::run_program(dir, VARNEX_BINARY, x::answer_lines(box_answers()), options);
    ASSERT_EQ(r.launch_error, "");
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal_number, 0);
    EXPECT_EQ(r.exit_status, 128 + GetParam().signal_number);
    EXPECT_EQ(r.err, "");
    std::size_t saved = 0;
    for (std::size_t at = r.out.find(options.signal_marker); at != std::string::npos;
         at = r.out.find(options.signal_marker, at + 1))
        ++saved;
    EXPECT_GE(saved, 3u);
    EXPECT_LT(saved, static_cast<std::size_t>(count));
    EXPECT_TRUE(r.out.ends_with(" 1950\n")) << "the last line is not a progress line";
    const std::optional<std::string> coordinates = read_regular(coordinates_name);
    const std::optional<std::string> series = read_regular(series_name);
    ASSERT_TRUE(coordinates && series);
    EXPECT_EQ(stations_listed(coordinates), saved);
    EXPECT_EQ(static_cast<std::size_t>(std::count(series->begin(), series->end(), '\n')), 2 * saved);
    EXPECT_TRUE(series->ends_with("   1.500   1.500\n"));
}

INSTANTIATE_TEST_SUITE_P(signals, stopped_run,
                         ::testing::Values(stopped_case{"sigterm", SIGTERM}, stopped_case{"sigint", SIGINT}),
                         support::named_by_name());

// ================================================================ sizes

// 50,000 stations in the box, more than the table's planned 40,000, each with one record
// in 2000: every one is kept, searched, saved and written, in catalogue order. One thread,
// as in engine_capacity: a team per station would be slow on a busy machine.
TEST_F(fault_run, fifty_thousand_stations_in_the_box) {
    constexpr int count = 50000;
    const x::run_answers answers = box_answers(2000, 2000, "1.0");
    std::string catalogue, observations;
    std::vector<x::catalogue_station> table;
    std::vector<x::observation_record> records;
    for (int i = 0; i < count; ++i) {
        const std::string id = decimal(300001 + i);
        const std::string lat = decimal(1 + i % 59) + "." + decimal(10 + i % 90);
        const std::string lon = decimal(1 + (i / 59) % 39) + "." + decimal(10 + (i / 7) % 90);
        const std::string value = decimal(i % 60 - 20) + ".5";
        catalogue += station(id, lat, lon, "1.0");
        const std::string date = x::month_date_text(2000, 1 + i % 12);
        observations += record(id, date, value);
        table.push_back({300001 + i, x::real_from_text(lat), x::real_from_text(lon), 1.0f});
        records.push_back({300001 + i, x::real_from_text(date), x::real_from_text(value)});
    }
    write_archive(catalogue, observations);
    const x::pass_result pass = x::expected_pass(table, records, answers);
    ASSERT_EQ(pass.model_error, "");
    ASSERT_EQ(pass.qualifying, count);
    ASSERT_EQ(pass.saved, count);
    const run_outcome o = run(answers, {{"OMP_NUM_THREADS", "1"}}, 300);
    expect_normal_end(o.result,
                      dialogue(answers) + t::qualifying_stations(count) + pass.terminal + t::closing(pass.saved));
    ASSERT_TRUE(o.series.has_value());
    ASSERT_TRUE(o.coordinates.has_value());
    expect_no_reason(t::first_difference(pass.series, *o.series), series_name);
    expect_no_reason(t::first_difference(pass.coordinates, *o.coordinates), coordinates_name);
}

}  // namespace
