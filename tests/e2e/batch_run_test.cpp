// Whole batch runs: the series and coordinates files against a dialogue run with the same
// choices, the directories of the archive and of the outputs, the station report, the
// messages on standard error with their exit statuses, and how output files are replaced.
// Standard input is a directory in every batch run, so a run that read it would fail.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/engine/client_tools.hpp"
#include "tests/support/archive_names.hpp"
#include "tests/support/batch_runs.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/engine_expect.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/text.hpp"
#include "tests/support/transcript.hpp"

namespace {

namespace x = e2e::engine_expect;
namespace t = e2e::transcript;

using support::catalogue_file_name;
using support::observations_file_name;

const std::string tsf = "QORN_TAVEq.TSF";
const std::string yx = "QORNTAVEq.YX";

void finish(const e2e::scratch_dir& dir) {
    if (::testing::Test::HasFailure()) {
        std::fprintf(stderr, "run kept in %s\n", dir.base.c_str());
    } else {
        e2e::remove_scratch_dir(dir);
    }
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> archive_and(std::vector<std::string> names) {
    names.push_back(catalogue_file_name);
    names.push_back(observations_file_name);
    return sorted(std::move(names));
}

e2e::program_result batch(const e2e::scratch_dir& dir, const std::vector<std::string>& args) {
    return support::run_batch(dir, VARNEX_BINARY, args);
}

// The number the summary line gives before `what`, as in "3 saved"; -1 when absent.
int summary_count(const std::string& err, const std::string& what) {
    const std::size_t at = err.find(" " + what);
    if (at == std::string::npos) return -1;
    std::size_t start = at;
    while (start > 0 && err[start - 1] >= '0' && err[start - 1] <= '9') --start;
    return start == at ? -1 : std::stoi(err.substr(start, at - start));
}

// ---------------------------------------------------------------- the same files as the dialogue

struct equivalence_case {
    std::string name;
    std::string archive;            // varnex_archive options besides the years 1950-2010
    std::vector<std::string> args;  // the batch command line
    x::run_answers dialogue;        // the same run in the dialogue
    bool limit_rejects = false;     // the missing-month limit turns stations away
};

x::run_answers answers(int type, std::string max_lat, std::string min_lat, std::string max_lon, std::string min_lon,
                       int fyod, int lyod, std::string fraction) {
    return {type, std::move(max_lat), std::move(min_lat), std::move(max_lon), std::move(min_lon), fyod,
            lyod, std::move(fraction)};
}

std::vector<std::string> globe(std::vector<std::string> more) {
    std::vector<std::string> args = {"--lat", "-90,90", "--lon", "-180,180", "--years", "1960-1990"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

x::run_answers globe_answers(int type, std::string fraction) {
    return answers(type, "90.00", "-90.00", "180.00", "-180.00", 1960, 1990, std::move(fraction));
}

std::vector<equivalence_case> equivalence_cases() {
    return {
        {"plain_box_without_limit",
         "--stations 100 --seed 301 --missing 0.1 --gaps",
         {"--lat", "20,70", "--lon", "-90.00,90", "--years", "1960-1990"},
         answers(1, "70.00", "20.00", "90.00", "-90.00", 1960, 1990, "-1")},
        {"dateline_box_tmax_no_missing_month",
         "--stations 120 --seed 302 --dateline --missing 0.005",
         {"--lat", "-60,70", "--lon", "170,-170", "--years", "1970-1980", "--type", "tmax", "--max-missing", "0"},
         answers(2, "70.00", "-60.00", "-170.00", "170.00", 1970, 1980, "0"),
         true},
        {"tmin_fraction", "--stations 100 --seed 303 --missing 0.2", globe({"--type", "tmin", "--max-missing", "0.2"}),
         globe_answers(3, "0.2"), true},
        {"tave_raw_percentage", "--stations 100 --seed 304 --missing 0.25 --spurious 0.1",
         globe({"--type", "tave-raw", "--max-missing", "25%"}), globe_answers(4, "0.25"), true},
        {"percentage_not_exact_in_binary", "--stations 100 --seed 305 --missing 0.07", globe({"--max-missing", "7%"}),
         globe_answers(1, "0.07"), true},
        {"fraction_of_a_percentage", "--stations 100 --seed 306 --missing 0.125 --absent 2",
         globe({"--type", "tmax", "--max-missing", "12.5%"}), globe_answers(2, "0.125"), true},
        {"whole_percentage", "--stations 100 --seed 307 --missing 0.3", globe({"--max-missing", "100%"}),
         globe_answers(1, "1.0")},
    };
}

void PrintTo(const equivalence_case& c, std::ostream* os) { *os << c.name; }

class batch_equivalence : public ::testing::TestWithParam<equivalence_case> {};

TEST_P(batch_equivalence, writes_the_dialogue_files) {
    const equivalence_case& c = GetParam();
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_FALSE(dir.base.empty());
    ASSERT_EQ(
        support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work, "--first-year 1950 --last-year 2010 " + c.archive),
        "");
    const support::output_names names = support::outputs_for_choice(c.dialogue.data_type);

    const e2e::program_result dialogue =
        e2e::run_program(dir, VARNEX_BINARY, x::answer_lines(c.dialogue), e2e::run_options{});
    ASSERT_EQ(dialogue.exit_status, 0) << dialogue.err;
    const std::optional<std::string> series = e2e::read_file(dir.work, names.series);
    const std::optional<std::string> coordinates = e2e::read_file(dir.work, names.coordinates);
    ASSERT_TRUE(series && coordinates) << "the dialogue wrote no pair";
    std::filesystem::remove(dir.work + "/" + names.series);
    std::filesystem::remove(dir.work + "/" + names.coordinates);

    const e2e::program_result r = batch(dir, c.args);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(t::first_difference(*series, e2e::read_file(dir.work, names.series).value_or("(none)")), "");
    EXPECT_EQ(t::first_difference(*coordinates, e2e::read_file(dir.work, names.coordinates).value_or("(none)")), "");
    EXPECT_EQ(e2e::list_files(dir.work), archive_and({names.series, names.coordinates}));
    EXPECT_GT(summary_count(r.err, "saved"), 0) << r.err;
    if (c.limit_rejects) {
        EXPECT_GT(summary_count(r.err, "with too many missing months"), 0) << r.err;
    }
    finish(dir);
}

INSTANTIATE_TEST_SUITE_P(choices, batch_equivalence, ::testing::ValuesIn(equivalence_cases()),
                         support::named_by_name());

// The directory standing in for standard input does make reads fail: the dialogue, which
// reads its answers there, cannot run on it.
TEST(batch_standard_input, a_directory_fails_the_dialogue) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    const e2e::program_result r = support::run_batch(dir, VARNEX_BINARY, {});
    EXPECT_NE(r.exit_status, 0);
    EXPECT_NE(r.err.find("Is a directory"), std::string::npos) << r.err;
    finish(dir);
}

// ---------------------------------------------------------------- the verdict archive

const std::vector<std::string> verdict_box = {"--lat",   "-10,60",    "--lon",         "0,40",
                                              "--years", "1950-1951", "--max-missing", "0.25"};

std::vector<std::string> verdict_run(std::vector<std::string> more) {
    std::vector<std::string> args = verdict_box;
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::string series_row(const std::string& year, const std::string& fields) { return year + fields + "\n"; }

// Written out by hand from the archive: longitude, latitude and fourth value as free-form
// reals, the values in f8.3, January to December.
const std::string verdict_series =
    "   10.0000 \t  45.0000 \t  100.000  101  RFMT=(i4,12f8.3) MISS= -99.000\n" +
    series_row("1950",
               "  10.010  10.020  10.030  10.040  10.050  10.060  10.070  10.080  10.090  10.100  10.110  10.120") +
    series_row("1951",
               "  11.010  11.020  11.030  11.040  11.050  11.060  11.070  11.080  11.090  11.100  11.110  11.120") +
    "   39.7500 \t -0.500000 \t -12.5000  107  RFMT=(i4,12f8.3) MISS= -99.000\n" +
    series_row("1950",
               "   0.000  -2.500  -3.500 -99.000 -99.000  -6.500  -7.500  -8.500  -9.500 -10.500 -11.500 -12.500") +
    series_row("1951",
               "   0.000  -2.500  -3.500 -99.000 -99.000  -6.500  -7.500  -8.500  -9.500 -10.500 -11.500 -12.500") +
    "   0.250000 \t  59.2500 \t  7.00000  17508491  RFMT=(i4,12f8.3) MISS= -99.000\n" +
    series_row("1950",
               "  22.125  22.125  22.125  22.125  22.125  22.125  22.125  22.125  22.125  22.125  22.125  22.125") +
    series_row("1951",
               "  22.125  22.125  22.125  22.125  22.125  22.125  22.125  22.125  22.125  22.125  22.125  22.125");

const std::string verdict_coordinates = support::coordinates_header + "   10.0000 \t  45.0000 \t  101\n" +
                                        "   39.7500 \t -0.500000 \t  107\n" + "   0.250000 \t  59.2500 \t  17508491\n";

const std::string verdict_report =
    "station_id\tlongitude\tlatitude\tverdict\tdetail\n"
    "101\t10.0000\t45.0000\tsaved\t\n"
    "102\t10.5000\t45.5000\tno-records\t\n"
    "103\t11.0000\t46.0000\tspan-not-covered\tfirst=1951 last=1952\n"
    "104\t11.5000\t46.5000\ttoo-many-missing\tmissing=10 limit=6\n"
    "105\t12.0000\t47.0000\timplausible\tvalue=120.500 year=1950 month=3\n"
    "107\t39.7500\t-0.500000\tsaved\t\n"
    "17508491\t0.250000\t59.2500\tsaved\t\n";

const std::string verdict_summary =
    "varnex: 7 stations in the box, 3 saved, 1 without records, 1 not covering 1950-1951, 1 with too many missing "
    "months, 1 with implausible values\n";

const std::string wrote_pair = "varnex: wrote " + tsf + "\nvarnex: wrote " + yx + "\n";

TEST(batch_places, archive_and_outputs_in_other_directories) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    std::filesystem::create_directory(dir.base + "/archive");
    std::filesystem::create_directory(dir.base + "/out");
    ASSERT_TRUE(support::write_verdict_archive(dir.base + "/archive"));
    const e2e::program_result r = batch(dir, verdict_run({"-C", "../archive", "--output-dir", "../out"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, verdict_summary + "varnex: wrote ../out/" + tsf + "\nvarnex: wrote ../out/" + yx + "\n");
    EXPECT_EQ(t::first_difference(verdict_series, e2e::read_file(dir.base + "/out", tsf).value_or("")), "");
    EXPECT_EQ(e2e::read_file(dir.base + "/out", yx), verdict_coordinates);
    EXPECT_EQ(e2e::list_files(dir.base + "/out"), sorted({tsf, yx}));
    EXPECT_TRUE(e2e::list_files(dir.work).empty());

    const e2e::program_result here = batch(dir, verdict_run({"--archive=../archive", "-o", "."}));
    EXPECT_EQ(here.exit_status, 0);
    EXPECT_EQ(e2e::read_file(dir.work, tsf), verdict_series);
    EXPECT_EQ(e2e::list_files(dir.work), sorted({tsf, yx}));
    finish(dir);
}

TEST(batch_report, one_line_per_station_of_the_box_with_its_verdict) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    const e2e::program_result to_file = batch(dir, verdict_run({"--report", "stations.tsv"}));
    EXPECT_EQ(to_file.exit_status, 0);
    EXPECT_EQ(to_file.out, "");
    EXPECT_EQ(to_file.err, verdict_summary + wrote_pair + "varnex: wrote stations.tsv\n");
    EXPECT_EQ(t::first_difference(verdict_report, e2e::read_file(dir.work, "stations.tsv").value_or("")), "");

    const e2e::program_result to_stdout = batch(dir, verdict_run({"--report", "-", "--no-tsf", "-q"}));
    EXPECT_EQ(to_stdout.exit_status, 0);
    EXPECT_EQ(to_stdout.out, verdict_report);
    EXPECT_EQ(to_stdout.err, "");
    finish(dir);
}

// ---------------------------------------------------------------- messages and exit statuses

struct message_case {
    std::string name;
    std::vector<std::string> args;
    int exit_status;
    std::string err;
    std::vector<std::string> files;  // the working directory afterwards, besides the archive
    bool archive = true;             // false: the working directory holds no archive
};

const std::string dateline_note =
    "varnex: the box crosses the 180th meridian: longitudes 170.000..180 and -180..-170.000\n";

std::string verbose_lines() {
    return x::progress_line(1, 10.0f, 45.0f, 101, 1950, 1951) + t::station_data_missing(102) +
           x::spurious_report(105, 12.0f, 47.0f, 120.5f) + x::progress_line(2, 39.75f, -0.5f, 107, 1950, 1951) +
           x::progress_line(3, 0.25f, 59.25f, 17508491, 1950, 1951);
}

std::vector<message_case> message_cases() {
    const std::vector<std::string> pair = {tsf, yx};
    const std::vector<std::string> none;
    return {
        {"summary", verdict_run({}), 0, verdict_summary + wrote_pair, pair},
        {"quiet", verdict_run({"-q"}), 0, "", pair},
        {"verbose", verdict_run({"-v"}), 0, verbose_lines() + verdict_summary + wrote_pair, pair},
        {"nothing_saved",
         {"--lat", "45.25,46.25", "--lon", "0,40", "--years", "1950-1951"},
         0,
         "varnex: 2 stations in the box, 0 saved, 1 without records, 1 not covering 1950-1951, 0 with too many "
         "missing months, 0 with implausible values\n" +
             wrote_pair + "varnex: warning: no station saved\n",
         pair},
        {"dateline_box",
         {"--lat", "-10,60", "--lon", "170,-170", "--years", "1950-1951"},
         0,
         dateline_note +
             "varnex: 0 stations in the box, 0 saved, 0 without records, 0 not covering 1950-1951, 0 with too many "
             "missing months, 0 with implausible values\n" +
             wrote_pair + "varnex: warning: no station saved\n",
         pair},
        {"dateline_box_quiet", {"--lat", "-10,60", "--lon", "170,-170", "--years", "1950-1951", "-q"}, 0, "", pair},
        {"output_directory_missing", verdict_run({"-o", "nowhere"}), 1,
         "varnex: output directory nowhere does not exist (-o)\n", none},
        {"one_station_one_year",
         {"--lat", "44.75,45.25", "--lon", "0,40", "--years", "1950"},
         0,
         "varnex: 1 station in the box, 1 saved, 0 without records, 0 not covering 1950, 0 with too many missing "
         "months, 0 with implausible values\n" +
             wrote_pair,
         pair},
        {"output_directory_a_file", verdict_run({"-o", "data.txt"}), 1, "varnex: data.txt: Not a directory\n", none},
        {"csv_directory_missing_before_the_archive", verdict_run({"--csv", "nowhere/series.csv"}), 1,
         "varnex: nowhere/series.csv: No such file or directory\n", none, false},
        {"netcdf_directory_missing_before_the_archive", verdict_run({"--netcdf", "nowhere/series.nc"}), 1,
         "varnex: nowhere/series.nc: No such file or directory\n", none, false},
        {"report_directory_missing_before_the_archive", verdict_run({"--report", "nowhere/r.tsv", "-q"}), 1,
         "varnex: nowhere/r.tsv: No such file or directory\n", none, false},
        {"archive_missing", verdict_run({}), 1, "varnex: site_summary.txt: No such file or directory\n", none, false},
        {"usage_error",
         {"--lat", "-10,60", "--lon", "0,40", "--years", "1950-1951", "--max-missing", "101%"},
         2,
         "varnex: --max-missing: percentage out of range 0% to 100%: \"101%\"\nTry 'varnex --help'.\n",
         none},
    };
}

void PrintTo(const message_case& c, std::ostream* os) { *os << c.name; }

class batch_messages : public ::testing::TestWithParam<message_case> {};

TEST_P(batch_messages, exact_standard_error_and_exit_status) {
    const message_case& c = GetParam();
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    if (c.archive) {
        ASSERT_TRUE(support::write_verdict_archive(dir.work));
    }
    const e2e::program_result r = batch(dir, c.args);
    EXPECT_EQ(r.exit_status, c.exit_status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(t::first_difference(c.err, r.err), "");
    EXPECT_EQ(e2e::list_files(dir.work), c.archive ? archive_and(c.files) : sorted(c.files));
    finish(dir);
}

INSTANTIATE_TEST_SUITE_P(runs, batch_messages, ::testing::ValuesIn(message_cases()), support::named_by_name());

// An output refused by the system is named as the user named it, not by the temporary
// file it is written under, with the system's reason after the library's.
TEST(batch_messages_outputs, name_the_final_file_and_the_system_reason) {
    const std::pair<std::string, std::string> cases[] = {
        {"--csv s.csv", "varnex: s.csv: write: File too large\n"},
        {"--netcdf s.nc", "varnex: s.nc: NetCDF: HDF error: File too large\n"},
    };
    for (const auto& [option, err] : cases) {
        const e2e::scratch_dir dir = e2e::make_scratch_dir();
        ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work, "--stations 300"), "");
        e2e::run_options run;
        run.args = {"-c",
                    "ulimit -f 40; trap '' XFSZ; exec \"$V\" -q --no-tsf --lat -90,90 --lon -180,180 --years "
                    "1901-2000 " +
                        option + " </dev/null"};
        run.env = {{"V", VARNEX_BINARY}};
        const e2e::program_result r = e2e::run_program(dir, "/bin/sh", "", run);
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(e2e::list_files(dir.work), archive_and({}));
        finish(dir);
    }
}

// The longest value, 4,194,304 bytes, is read wherever it lies on its line; one byte more
// stops the run with the documented read failure.
TEST(batch_messages_longest_value, is_read_and_one_byte_more_is_refused) {
    constexpr std::size_t longest = 4 * 1024 * 1024;
    for (const std::size_t blanks_before : {std::size_t{0}, std::size_t{3} * 1024 * 1024}) {
        for (const std::size_t length : {longest, longest + 1}) {
            const e2e::scratch_dir dir = e2e::make_scratch_dir();
            const std::string value = std::string(length - 4, '0') + "12.5";
            ASSERT_TRUE(support::write_archive(dir.work, {support::station_line("7", "5.0", "5.0", "1")},
                                               {"7 1 1950.042 " + std::string(blanks_before, ' ') + value}));
            const e2e::program_result r =
                batch(dir, {"-q", "--lat", "0,10", "--lon", "0,10", "--years", "1950", "--no-tsf", "--report", "-"});
            const bool read = length == longest;
            EXPECT_EQ(r.exit_status, read ? 0 : 1) << length << " after " << blanks_before;
            EXPECT_EQ(r.err, read ? "" : "varnex: data.txt:112: Value too large for defined data type\n");
            if (read) {
                EXPECT_NE(r.out.find("7\t5.00000\t5.00000\tsaved\t\n"), std::string::npos);
            }
            finish(dir);
        }
    }
}

// A malformed number is shown as its first 40 bytes and "...", bytes outside printable
// ASCII as \xHH, however long or binary the token.
TEST(batch_messages_malformed, show_a_short_printable_text) {
    const std::string huge = "12" + std::string(3000000, 'x');
    const std::string binary = std::string("1.5\x1b[2J\0\x7f\xff", 10);
    const std::pair<std::string, std::string> cases[] = {
        {huge, "12" + std::string(38, 'x') + "..."},
        {binary, "1.5\\x1B[2J\\x00\\x7F\\xFF"},
    };
    for (const auto& [token, shown] : cases) {
        const e2e::scratch_dir dir = e2e::make_scratch_dir();
        ASSERT_TRUE(support::write_archive(dir.work, {support::station_line("7", "5.0", "5.0", "1")},
                                           {"7 1 1950.042 " + token}));
        const e2e::program_result r = batch(dir, {"--lat", "0,10", "--lon", "0,10", "--years", "1950"});
        EXPECT_EQ(r.exit_status, 1);
        EXPECT_EQ(r.err, "varnex: data.txt:112: field 4: malformed number \"" + shown + "\"\n");
        finish(dir);
    }
}

TEST(batch_messages_directory, not_writable_output_directory) {
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes into any directory";
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    std::filesystem::create_directory(dir.work + "/locked");
    ::chmod((dir.work + "/locked").c_str(), 0555);
    const e2e::program_result r = batch(dir, verdict_run({"-o", "locked"}));
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "varnex: locked: Permission denied\n");
    EXPECT_TRUE(e2e::list_files(dir.work + "/locked").empty());
    ::chmod((dir.work + "/locked").c_str(), 0755);
    finish(dir);
}

// ---------------------------------------------------------------- replacing the output files

const std::string old_series = "old series\n";
const std::string old_report = "old report\n";

// The verdict archive with the record of June 1950 of station 101 made malformed.
bool write_malformed_archive(const std::string& dir) {
    if (!support::write_verdict_archive(dir)) return false;
    std::string text = e2e::read_file(dir, observations_file_name).value_or("");
    std::size_t start = 0;
    for (int line = 1; line < support::verdict_archive_june_1950_line; ++line) start = text.find('\n', start) + 1;
    text.replace(start, text.find('\n', start) - start, "101 1 1950.458 1.2x");
    return e2e::write_file(dir, observations_file_name, text);
}

TEST(batch_replacement, a_failed_run_leaves_old_files_and_removes_new_names) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(write_malformed_archive(dir.work));
    ASSERT_TRUE(e2e::write_file(dir.work, tsf, old_series));
    ASSERT_TRUE(e2e::write_file(dir.work, "stations.tsv", old_report));
    const e2e::program_result r =
        batch(dir, verdict_run({"--report", "stations.tsv", "--csv", "series.csv", "--netcdf", "series.nc"}));
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "varnex: data.txt:117: field 4: malformed number \"1.2x\"\n");
    EXPECT_EQ(e2e::list_files(dir.work), archive_and({tsf, "stations.tsv"}));
    EXPECT_EQ(e2e::read_file(dir.work, tsf), old_series);
    EXPECT_EQ(e2e::read_file(dir.work, "stations.tsv"), old_report);
    finish(dir);
}

// Another run holds the lock on one final name: nothing is written, and a final name
// created for a lock before the refusal is removed again.
struct lock_case {
    std::string name;
    std::string locked;                 // held by the test while the program runs
    std::vector<std::string> existing;  // final names that hold old bytes before the run
    std::vector<std::string> args;
    std::string err;
};

std::vector<lock_case> lock_cases() {
    return {
        {"series_file",
         "QORN_TAVEq.TSF",
         {tsf, yx},
         verdict_run({"--report", "stations.tsv"}),
         "varnex: QORN_TAVEq.TSF is in use by another run\n"},
        {"coordinates_file_after_a_new_series_file",
         "QORNTAVEq.YX",
         {yx},
         verdict_run({"-q"}),
         "varnex: QORNTAVEq.YX is in use by another run\n"},
        {"series_file_in_the_output_directory",
         "out/QORN_TAVEq.TSF",
         {"out/" + tsf},
         verdict_run({"-o", "out"}),
         "varnex: out/QORN_TAVEq.TSF is in use by another run\n"},
        {"report",
         "stations.tsv",
         {"stations.tsv"},
         verdict_run({"--report", "stations.tsv"}),
         "varnex: stations.tsv is in use by another run\n"},
    };
}

void PrintTo(const lock_case& c, std::ostream* os) { *os << c.name; }

class batch_locks : public ::testing::TestWithParam<lock_case> {};

TEST_P(batch_locks, a_locked_output_refuses_the_run) {
    const lock_case& c = GetParam();
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    std::filesystem::create_directory(dir.work + "/out");
    for (const std::string& name : c.existing) ASSERT_TRUE(e2e::write_file(dir.work, name, old_series));
    const std::vector<std::string> before = e2e::list_files(dir.work);
    const std::vector<std::string> before_out = e2e::list_files(dir.work + "/out");
    const int fd = ::open((dir.work + "/" + c.locked).c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const e2e::program_result r = batch(dir, c.args);
    ::close(fd);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(e2e::list_files(dir.work), before);
    EXPECT_EQ(e2e::list_files(dir.work + "/out"), before_out);
    for (const std::string& name : c.existing) EXPECT_EQ(e2e::read_file(dir.work, name), old_series) << name;
    finish(dir);
}

INSTANTIATE_TEST_SUITE_P(holders, batch_locks, ::testing::ValuesIn(lock_cases()), support::named_by_name());

// A successful run puts new files in place of the old ones instead of writing into them: a
// second link to an old file keeps its bytes, and no temporary file is left.
TEST(batch_replacement, a_successful_run_renames_new_files_over_old_ones) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    ASSERT_TRUE(e2e::write_file(dir.work, tsf, old_series));
    ASSERT_TRUE(e2e::write_file(dir.work, "stations.tsv", old_report));
    ASSERT_EQ(::link((dir.work + "/" + tsf).c_str(), (dir.work + "/old.link").c_str()), 0);
    ASSERT_EQ(::chmod((dir.work + "/stations.tsv").c_str(), 0640), 0);
    const e2e::program_result r = batch(dir, verdict_run({"--report", "stations.tsv", "-q"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(e2e::list_files(dir.work), archive_and({tsf, yx, "stations.tsv", "old.link"}));
    EXPECT_EQ(e2e::read_file(dir.work, tsf), verdict_series);
    EXPECT_EQ(e2e::read_file(dir.work, yx), verdict_coordinates);
    EXPECT_EQ(e2e::read_file(dir.work, "stations.tsv"), verdict_report);
    EXPECT_EQ(e2e::read_file(dir.work, "old.link"), old_series);
    struct stat info {};
    ASSERT_EQ(::stat((dir.work + "/stations.tsv").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u) << "the replacement takes the mode of the file it replaces";
    finish(dir);
}

bool is_link_to(const std::string& path, const std::string& target) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && std::filesystem::read_symlink(path) == target;
}

// An output named by a symbolic link replaces the file the link points to; the link stays.
// A symbolic link at an output name is replaced by the new file, as mv replaces it; the
// file it led to keeps its bytes.
TEST(batch_replacement, a_symbolic_link_is_replaced) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    ASSERT_TRUE(e2e::write_file(dir.work, "target.tsv", old_report));
    std::filesystem::create_symlink("target.tsv", dir.work + "/stations.tsv");
    const e2e::program_result r = batch(dir, verdict_run({"--report", "stations.tsv", "--no-tsf"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, verdict_summary + "varnex: wrote stations.tsv\n");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.work + "/stations.tsv"));
    EXPECT_EQ(e2e::read_file(dir.work, "stations.tsv"), verdict_report);
    EXPECT_EQ(e2e::read_file(dir.work, "target.tsv"), old_report);
    EXPECT_EQ(e2e::list_files(dir.work), archive_and({"stations.tsv", "target.tsv"}));
    finish(dir);
}

// An output that is a device is written into, not replaced by a regular file. The device
// is reached through a link in the scratch directory, so that a run that did replace it
// would replace only the link.
TEST(batch_replacement, a_device_is_written_in_place) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    std::filesystem::create_symlink("/dev/null", dir.work + "/discarded.csv");
    const e2e::program_result r = batch(dir, verdict_run({"--csv", "discarded.csv", "--no-tsf", "-q"}));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(is_link_to(dir.work + "/discarded.csv", "/dev/null"));
    EXPECT_EQ(e2e::list_files(dir.work), archive_and({"discarded.csv"}));
    finish(dir);
}

}  // namespace

namespace {

// Longitudes from 0 to 360 name the same box as from -180 to 180: every output of
// --lon 150,220 has the bytes of --lon 150,-140, the netCDF file but for its history.
TEST(batch_longitudes, from_0_to_360_give_the_bytes_of_the_same_box) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work,
                                        "--stations 300 --dateline --first-year 1950 --last-year 1960"),
              "");
    std::vector<std::string> texts[2];
    const char* const boxes[2] = {"150,-140", "150,220"};
    for (int i = 0; i < 2; ++i) {
        const std::string out = "out" + std::to_string(i);
        std::filesystem::create_directory(dir.work + "/" + out);
        const e2e::program_result r =
            batch(dir, {"-q", "--lat", "-60,60", "--lon", boxes[i], "--years", "1951-1959", "-o", out, "--csv",
                        out + "/s.csv", "--report", out + "/r.tsv", "--netcdf", out + "/s.nc"});
        ASSERT_EQ(r.exit_status, 0) << r.err;
        for (const std::string& name : {tsf, yx, std::string("s.csv"), std::string("r.tsv")})
            texts[i].push_back(e2e::read_file(dir.work + "/" + out, name).value_or("(none)"));
        if (client::program_found("ncdump")) {
            const client::command_result dump = client::run_command(
                "ncdump " + client::quoted(dir.work + "/" + out + "/s.nc") + " | grep -v ':history = '");
            texts[i].push_back(dump.output);
        }
    }
    EXPECT_GT(texts[0][0].size(), 1000u) << "the box saves stations";
    EXPECT_EQ(texts[0], texts[1]);
    finish(dir);
}

}  // namespace

namespace {

// The command line's years reach from 1700 to 2100: stations whose records cover both
// ends are saved, with the first and last months of the span in the series.
TEST(batch_years, from_1700_to_2100_are_saved_whole) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_EQ(
        support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work, "--stations 5 --first-year 1700 --last-year 2100"),
        "");
    const e2e::program_result r = batch(dir, {"-q", "--lat", "-90,90", "--lon", "0,360", "--years", "1700-2100",
                                              "--max-missing", "0", "--no-tsf", "--csv", "s.csv"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    const std::string csv = e2e::read_file(dir.work, "s.csv").value_or("");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 5 * 401 * 12);
    EXPECT_NE(csv.find(",1700,1,"), std::string::npos);
    EXPECT_NE(csv.find(",2100,12,"), std::string::npos);
    finish(dir);
}

}  // namespace
