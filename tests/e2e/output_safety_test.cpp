// Whole runs in which a user's mistake or an outside event meets the outputs: an output
// named over an input or over another output, streams and links at output names, signals
// at every stage of a run, a dialogue that ends before its last answer, a disk that fills
// up, a standard stream that is full or closed. Each case states what the run prints and
// what every file holds afterwards; no case may cost an input or an older output a byte.
//
// The runs are started through /bin/sh, as a user types them: "$V" is the program. A run
// is stopped at an exact call by preloading tests/support/signal_shim.cpp.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/batch_runs.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/run_program.hpp"

namespace {

const std::string try_help = "Try 'varnex --help'.\n";
const std::string tsf = "QORN_TAVEq.TSF";
const std::string yx = "QORNTAVEq.YX";
const std::string older_tsf = "an older series file\n";
const std::string older_yx = "an older coordinates file\n";
// The box, span and share of the verdict archive (tests/support/batch_runs.hpp).
const std::string verdict_box = "--lat -10,60 --lon 0,40 --years 1950-1951 --max-missing 0.25";
// The same run as dialogue answers.
const std::string verdict_answers = "1\n\n60.00\n-10.00\n40.00\n0.00\nT\n1950\n1951\nT\n0.25\n1\n";

class output_safety : public ::testing::Test {
protected:
    void SetUp() override {
        dir = e2e::make_scratch_dir();
        ASSERT_FALSE(dir.base.empty());
    }
    void TearDown() override {
        if (HasFailure())
            std::fprintf(stderr, "run kept in %s\n", dir.base.c_str());
        else
            e2e::remove_scratch_dir(dir);
    }

    // Runs a shell script in the work directory, with "$V" the program and `env` on top.
    e2e::program_result sh(const std::string& script, std::vector<e2e::env_setting> env = {},
                           std::string_view input = "") const {
        e2e::run_options options;
        options.args = {"-c", script};
        env.push_back({"V", VARNEX_BINARY});
        env.push_back({"ASAN_OPTIONS", "verify_asan_link_order=0"});
        options.env = env;
        return e2e::run_program(dir, "/bin/sh", input, options);
    }

    std::string read(const std::string& name) const { return e2e::read_file(dir.work, name).value_or("(none)"); }
    void write(const std::string& name, const std::string& bytes) const {
        ASSERT_TRUE(e2e::write_file(dir.work, name, bytes));
    }
    std::vector<std::string> files(const std::string& sub) const { return e2e::list_files(dir.work + "/" + sub); }

    e2e::scratch_dir dir;
};

// The environment that has the shim send `signal_number` at the `count`th `call`.
std::vector<e2e::env_setting> shim(const char* call, int signal_number, const std::string& text = "", int count = 1) {
    std::vector<e2e::env_setting> env = {{"LD_PRELOAD", VARNEX_SIGNAL_SHIM},
                                         {"VARNEX_SHIM_CALL", call},
                                         {"VARNEX_SHIM_SIGNAL", std::to_string(signal_number)},
                                         {"VARNEX_SHIM_COUNT", std::to_string(count)}};
    if (!text.empty()) env.push_back({"VARNEX_SHIM_TEXT", text});
    return env;
}

// Stations a series file holds: one header line each.
int series_stations(const std::string& series) {
    int count = 0;
    for (std::size_t at = series.find("RFMT="); at != std::string::npos; at = series.find("RFMT=", at + 1)) ++count;
    return count;
}

int coordinate_rows(const std::string& coordinates) {
    int lines = 0;
    for (const char c : coordinates) lines += c == '\n';
    return lines - 1;
}

// ---------------------------------------------------------------- clashes and streams

struct batch_case {
    const char* name;
    const char* setup;    // shell lines run before, in the work directory (arc/ and out/ exist)
    std::string command;  // the run
    int exit_status;
    std::string err;
    const char* check;  // a shell test that must hold afterwards, or nothing
};

std::vector<batch_case> batch_cases() {
    const std::string run = "\"$V\" -q -C arc " + verdict_box + " ";
    return {
        {"csv_over_data", "", run + "--no-tsf --csv arc/data.txt", 2,
         "varnex: --csv arc/data.txt would overwrite the archive's data.txt\n" + try_help, nullptr},
        {"report_over_catalogue", "", run + "--no-tsf --report arc/site_summary.txt", 2,
         "varnex: --report arc/site_summary.txt would overwrite the archive's site_summary.txt\n" + try_help, nullptr},
        {"double_slash", "", run + "-o out --csv out/x --netcdf out//x", 2,
         "varnex: --csv out/x and --netcdf out//x name the same file\n" + try_help, nullptr},
        {"dot_spelling", "", run + "--no-tsf --csv out/./x --netcdf out//x", 2,
         "varnex: --csv out/./x and --netcdf out//x name the same file\n" + try_help, nullptr},
        {"report_on_the_pair", "", run + "-o out --report out/QORN_TAVEq.TSF", 2,
         "varnex: -o out/QORN_TAVEq.TSF and --report out/QORN_TAVEq.TSF name the same file\n" + try_help, nullptr},
        {"through_a_linked_directory", "ln -s arc alias", run + "--no-tsf --csv alias/data.txt", 2,
         "varnex: --csv alias/data.txt would overwrite the archive's data.txt\n" + try_help, nullptr},
        {"where_the_archive_link_leads", "mkdir real && mv arc/data.txt real/ && ln -s ../real/data.txt arc/data.txt",
         run + "--no-tsf --csv real/data.txt", 2,
         "varnex: --csv real/data.txt would overwrite the archive's data.txt\n" + try_help, nullptr},
        {"stream_appended_to_the_archive", "", run + "--no-tsf --csv - >> arc/data.txt", 2,
         "varnex: --csv - would overwrite the archive's data.txt\n" + try_help, nullptr},
        {"two_on_standard_output", "", run + "--no-tsf --report - --csv /dev/fd/1", 2,
         "varnex: --report - and --csv /dev/fd/1 both write to standard output\n" + try_help, nullptr},
        {"two_on_standard_error", "", run + "--no-tsf --report /dev/stderr --csv /dev/fd/2", 2,
         "varnex: --report /dev/stderr and --csv /dev/fd/2 both write to standard error\n" + try_help, nullptr},
        {"netcdf_on_a_stream", "", run + "--no-tsf --netcdf /dev/stdout", 2,
         "varnex: --netcdf: cannot write to a stream: \"/dev/stdout\"\n" + try_help, nullptr},
        // Links at a final name are replaced; what they lead to stays.
        {"hard_link_replaced", "ln arc/data.txt out/x.csv", run + "--no-tsf --csv out/x.csv", 0, "",
         "head -1 out/x.csv | grep -qx station_id,longitude,latitude,extra,year,month,value && [ \"$(ls out)\" = x.csv "
         "]"},
        {"symbolic_link_replaced", "ln -s ../arc/data.txt out/x.csv", run + "--no-tsf --csv out/x.csv", 0, "",
         "[ -f out/x.csv ] && [ ! -L out/x.csv ] && head -1 out/x.csv | grep -q station_id"},
        {"dangling_link", "ln -s nowhere out/QORN_TAVEq.TSF", run + "-o out", 1,
         "varnex: out/QORN_TAVEq.TSF is a link to a missing file\n",
         "[ -L out/QORN_TAVEq.TSF ] && [ ! -e out/nowhere ] && [ \"$(ls out)\" = QORN_TAVEq.TSF ]"},
        // A stream is written where it stands: appended output keeps the lines before it.
        {"stream_keeps_earlier_lines", "echo 'earlier line' > log.txt", run + "--no-tsf --csv /dev/stdout >> log.txt",
         0, "",
         "[ \"$(head -2 log.txt)\" = \"$(printf 'earlier "
         "line\\nstation_id,longitude,latitude,extra,year,month,value')\" ]"},
        {"report_on_standard_error", "", run + "--no-tsf --report /dev/stderr 2> err.txt", 0, "",
         "grep -q '^101\t' err.txt && grep -q '^station_id' err.txt"},
        // A message that cannot be written never undoes a run.
        {"standard_error_full", "", "\"$V\" -C arc " + verdict_box + " -o out 2>/dev/full", 0, "",
         "grep -q '^101' out/QORNTAVEq.YX 2>/dev/null || grep -q 101 out/QORNTAVEq.YX"},
        {"standard_error_closed", "", "\"$V\" -C arc " + verdict_box + " -o out --report out/r.tsv 2>&-", 0, "",
         "grep -q 17508491 out/QORNTAVEq.YX && ! grep -q varnex out/QORNTAVEq.YX out/QORN_TAVEq.TSF out/r.tsv"},
        {"usage_error_with_standard_error_closed", "", "\"$V\" --bogus 2>&-", 2, "", nullptr},
        // Standard output closed at start: help, and a stream output there, fail as they
        // always have.
        {"help_on_closed_output", "", "\"$V\" --help >&-", 1, "varnex: standard output: Bad file descriptor\n",
         nullptr},
        {"stream_on_closed_output", "", run + "--no-tsf --csv - >&-", 1,
         "varnex: standard output: write: Bad file descriptor\n", nullptr},
    };
}

void PrintTo(const batch_case& c, std::ostream* os) { *os << c.name; }

class batch_outputs_case : public output_safety, public ::testing::WithParamInterface<batch_case> {};

TEST_P(batch_outputs_case, keeps_the_archive_and_says_why) {
    const batch_case& c = GetParam();
    ASSERT_EQ(::mkdir((dir.work + "/arc").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir.work + "/out").c_str(), 0755), 0);
    ASSERT_TRUE(support::write_verdict_archive(dir.work + "/arc"));
    const std::string catalogue = read("arc/site_summary.txt");
    const std::string observations = read("arc/data.txt");
    ASSERT_EQ(sh(c.setup).exit_status, 0);
    const e2e::program_result r = sh(c.command + " </dev/null");
    EXPECT_EQ(r.exit_status, c.exit_status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(read("arc/site_summary.txt"), catalogue);
    EXPECT_EQ(read("arc/data.txt"), observations);
    if (c.exit_status == 2) {
        EXPECT_EQ(files("out"), std::vector<std::string>{});
    }
    if (c.check) {
        EXPECT_EQ(sh(c.check).exit_status, 0) << c.check;
    }
}

INSTANTIATE_TEST_SUITE_P(outputs, batch_outputs_case, ::testing::ValuesIn(batch_cases()), support::named_by_name());

// A reader that is gone ends the run as it ends a filter: SIGPIPE, no message, no file.
TEST_F(output_safety, broken_pipe_ends_by_sigpipe_and_commits_nothing) {
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    const std::string args = VARNEX_BINARY;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipe_ends[1], 1);
        ::close(pipe_ends[0]);
        if (::chdir(dir.work.c_str()) != 0) ::_exit(126);
        ::execl(VARNEX_BINARY, VARNEX_BINARY, "--lat", "-10,60", "--lon", "0,40", "--years", "1950-1951", "--csv", "-",
                "--report", "r.tsv", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGPIPE);
    EXPECT_EQ(files(""), (std::vector<std::string>{"data.txt", "site_summary.txt"}));
}

// ---------------------------------------------------------------- signals

struct signal_case {
    const char* name;
    bool dialogue;
    const char* call;  // where the shim sends the signal
    const char* text;  // for write: the text written
    int signal_number;
    int exit_status;
    bool committed;  // a batch run: the outputs replaced
};

std::vector<signal_case> signal_cases() {
    return {
        {"dialogue_at_the_menu", true, "write", "Enter Selection", SIGINT, 130, false},
        {"dialogue_at_set_up", true, "flock", "", SIGHUP, 129, false},
        {"dialogue_during_the_questions", true, "write", "Define the time span", SIGTERM, 143, false},
        {"dialogue_during_the_pass", true, "write", ">> Saving Station-:", SIGTERM, 143, false},
        {"batch_at_set_up", false, "mkstemp", "", SIGINT, 130, false},
        {"batch_during_the_pass", false, "write", ">> Saving Station-:", SIGHUP, 129, false},
        {"batch_before_the_commit", false, "fsync", "", SIGTERM, 143, false},
        {"batch_at_the_commit", false, "rename", "", SIGTERM, 0, true},
    };
}

void PrintTo(const signal_case& c, std::ostream* os) { *os << c.name; }

class signal_run : public output_safety, public ::testing::WithParamInterface<signal_case> {};

TEST_P(signal_run, ends_with_every_file_whole) {
    const signal_case& c = GetParam();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    write(tsf, older_tsf);
    write(yx, older_yx);
    write("r.tsv", "an older report\n");
    const auto env = shim(c.call, c.signal_number, c.text);
    const e2e::program_result r =
        c.dialogue
            ? sh("exec \"$V\"", env, verdict_answers)
            : sh("exec \"$V\" -v " + verdict_box + " --report r.tsv --csv new.csv --netcdf new.nc </dev/null", env);
    EXPECT_EQ(r.exit_status, c.exit_status);
    EXPECT_EQ(r.err.find("? "), std::string::npos) << r.err;
    const std::string series = read(tsf), coordinates = read(yx);
    if (c.dialogue && c.exit_status == 143 && std::string(c.text).find("Saving") != std::string::npos) {
        // Stopped in the pass: both files end after the same whole station.
        EXPECT_EQ(coordinates.rfind("#Lon\tLat\tStation ID#\n", 0), 0u);
        EXPECT_EQ(series_stations(series), coordinate_rows(coordinates));
        return;
    }
    if (c.committed) {
        EXPECT_EQ(series_stations(series), 3);
        EXPECT_EQ(read("r.tsv").rfind("station_id", 0), 0u);
        EXPECT_EQ(files(""),
                  (std::vector<std::string>{yx, tsf, "data.txt", "new.csv", "new.nc", "r.tsv", "site_summary.txt"}));
        return;
    }
    EXPECT_EQ(series, older_tsf);
    EXPECT_EQ(coordinates, older_yx);
    EXPECT_EQ(read("r.tsv"), "an older report\n");
    EXPECT_EQ(files(""), (std::vector<std::string>{yx, tsf, "data.txt", "r.tsv", "site_summary.txt"}));
}

INSTANTIATE_TEST_SUITE_P(signals, signal_run, ::testing::ValuesIn(signal_cases()), support::named_by_name());

// ---------------------------------------------------------------- a dialogue that ends early

struct early_end_case {
    const char* name;
    std::string answers;
    bool older_pair;
};

std::vector<early_end_case> early_end_cases() {
    return {
        {"answers_end_at_the_latitude", "1\n\n60.00\n", true},
        {"malformed_latitude", "1\n\nabc\n", true},
        {"answers_end_before_the_last", verdict_answers.substr(0, verdict_answers.size() - 2), true},
        {"new_pair_stays_empty", "1\n\n60.00\n", false},
    };
}

void PrintTo(const early_end_case& c, std::ostream* os) { *os << c.name; }

class early_end : public output_safety, public ::testing::WithParamInterface<early_end_case> {};

TEST_P(early_end, leaves_the_older_pair_as_it_was) {
    const early_end_case& c = GetParam();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    if (c.older_pair) {
        write(tsf, older_tsf);
        write(yx, older_yx);
    }
    const e2e::program_result r = sh("exec \"$V\"", {}, c.answers);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(read(tsf), c.older_pair ? older_tsf : "");
    EXPECT_EQ(read(yx), c.older_pair ? older_yx : "");
}

INSTANTIATE_TEST_SUITE_P(dialogue, early_end, ::testing::ValuesIn(early_end_cases()), support::named_by_name());

TEST_F(output_safety, dialogue_refuses_an_output_that_is_an_input) {
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    const std::string observations = read("data.txt");
    ASSERT_EQ(sh("ln -s data.txt " + tsf).exit_status, 0);
    const e2e::program_result r = sh("exec \"$V\"", {}, verdict_answers);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.err, "? System Error:\n? QORN_TAVEq.TSF is the input file data.txt\n? OPEN(UNIT=14,...\n");
    EXPECT_EQ(read("data.txt"), observations);
}

TEST_F(output_safety, dialogue_refuses_a_dangling_link) {
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    ASSERT_EQ(sh("ln -s nowhere " + yx).exit_status, 0);
    const e2e::program_result r = sh("exec \"$V\"", {}, verdict_answers);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.err, "? System Error:\n? QORNTAVEq.YX is a link to a missing file\n? OPEN(UNIT=15,...\n");
    EXPECT_EQ(files(""), (std::vector<std::string>{yx, tsf, "data.txt", "site_summary.txt"}));
}

// ---------------------------------------------------------------- a disk that fills up

// A dialogue run whose series file would reach about 3 MB on a disk, or under a file size
// limit, that takes far less: both files end after the same whole station, at least one.
void expect_whole_stations(const std::string& series, const std::string& coordinates) {
    EXPECT_EQ(coordinates.rfind("#Lon\tLat\tStation ID#\n", 0), 0u);
    EXPECT_GE(series_stations(series), 1);
    EXPECT_EQ(series_stations(series), coordinate_rows(coordinates));
    EXPECT_EQ(series.back(), '\n');
}

const std::string all_stations_answers = "1\n\n90.00\n-90.00\n180.00\n-180.00\nT\n1901\n2000\nT\n1.0\n1\n";

TEST_F(output_safety, file_size_limit_keeps_whole_stations_in_both_files) {
    ASSERT_EQ(
        support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work, "--stations 400 --first-year 1900 --last-year 2000"),
        "");
    // 400 blocks of 512 bytes: the series file stops at 200 KiB with EFBIG.
    const e2e::program_result r = sh("ulimit -f 400; trap '' XFSZ; exec \"$V\"", {}, all_stations_answers);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    expect_whole_stations(read(tsf), read(yx));
}

TEST_F(output_safety, full_disk_keeps_whole_stations_in_both_files) {
    const std::string disk = dir.base + "/disk";
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=400k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_EQ(
        support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work, "--stations 600 --first-year 1900 --last-year 2000"),
        "");
    const e2e::program_result r =
        sh("cd ../disk && ln -s ../run/site_summary.txt ../run/data.txt . && exec \"$V\"", {}, all_stations_answers);
    const std::string series = e2e::read_file(disk, tsf).value_or(""),
                      coordinates = e2e::read_file(disk, yx).value_or("");
    ::umount(disk.c_str());
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    expect_whole_stations(series, coordinates);
}

// ---------------------------------------------------------------- a value that is not a number

TEST_F(output_safety, not_a_number_is_implausible) {
    ASSERT_TRUE(
        support::write_archive(dir.work, {support::station_line("7", "5.0", "5.0", "12")},
                               {support::month_record("7", 1950, 1, "10.0"), support::month_record("7", 1950, 2, "nan"),
                                support::month_record("7", 1950, 3, "-nan")}));
    const e2e::program_result batch =
        sh("exec \"$V\" -q --lat 0,10 --lon 0,10 --years 1950 --no-tsf --report - </dev/null");
    EXPECT_EQ(batch.exit_status, 0);
    EXPECT_EQ(batch.out.substr(batch.out.find('\n') + 1),
              "7\t5.00000\t5.00000\timplausible\tvalue=NaN year=1950 month=2\n");
    const e2e::program_result dialogue =
        sh("exec \"$V\"", {}, "1\n\n10.00\n0.00\n10.00\n0.00\nT\n1950\n1950\nT\n1.0\n1\n");
    EXPECT_EQ(dialogue.exit_status, 0);
    EXPECT_NE(dialogue.out.find("     7 \t  5.00000 \t  5.00000 \t  NaN\n"), std::string::npos) << dialogue.out;
    EXPECT_EQ(read(tsf), "");
}

}  // namespace
