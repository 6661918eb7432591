// Many selections in one pass (--selections FILE): each selection's files against a
// separate run of the same options, byte for byte; a record that fails some selections while
// the others commit; {name} in the output paths; and every usage error of the file with its
// exact message, before anything is written.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/engine/client_tools.hpp"
#include "tests/support/batch_runs.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/transcript.hpp"
#include "textio/limits.hpp"

namespace {

e2e::program_result batch(const e2e::scratch_dir& dir, std::vector<std::string> args,
                          const std::vector<std::string>& more = {}) {
    args.insert(args.end(), more.begin(), more.end());
    return support::run_batch(dir, VARNEX_BINARY, args);
}

using support::lines_of;

// The lines of standard error that name no file written, with "NAME: " taken from those of
// the selection NAME.
std::string messages_of(const std::string& err, const std::string& name = "") {
    std::string kept;
    for (std::string line : lines_of(err)) {
        const std::string label = "varnex: " + name + ": ";
        if (!name.empty() && line.rfind(label, 0) != 0) continue;
        if (!name.empty()) line = "varnex: " + line.substr(label.size());
        if (line.rfind("varnex: wrote ", 0) != 0) kept += line + "\n";
    }
    return kept;
}

// ncdump's text of a netCDF file without its history, the one attribute that names the run.
std::string dump_without_history(const std::string& path) {
    std::string kept;
    for (const std::string& line : lines_of(client::run_command("ncdump " + client::quoted(path)).output))
        if (line.find(":history = ") == std::string::npos) kept += line + "\n";
    return kept;
}

const char* const pair_files[] = {"QORN_TAVEq.TSF", "QORNTAVEq.YX"};

// ---------------------------------------------------------------- against separate runs

const std::vector<std::string> defaults = {"--lat", "-60,60", "--years", "1955-1995", "--max-missing", "0.2"};

struct selection_case {
    const char* name;
    const char* line;                   // the options of its line in the file
    std::vector<std::string> separate;  // the same selection as a run of its own
};

const selection_case selection_cases[] = {
    {"defaults", "", defaults},
    {"years_only", "--years 1970-1999", {"--lat", "-60,60", "--years", "1970-1999", "--max-missing", "0.2"}},
    {"pacific", "--lon 120,-120", {"--lon", "120,-120", "--years", "1955-1995", "--max-missing", "0.2"}},
    {"listed", "--stations @ids.txt", {"--stations", "@ids.txt", "--years", "1955-1995", "--max-missing", "0.2"}},
    {"near.radius",
     "--near 10,20 --radius 3000 --max-missing 50%",
     {"--near", "10,20", "--radius", "3000", "--years", "1955-1995", "--max-missing", "50%"}},
    {"nearest-5",
     "--near -30,150  --nearest 5\t--years 1960-1970",
     {"--near", "-30,150", "--nearest", "5", "--years", "1960-1970", "--max-missing", "0.2"}},
    {"All_3",
     "--lat -40,60 --stations @ids.txt --near 0,0 --nearest 7",
     {"--lat", "-40,60", "--stations", "@ids.txt", "--near", "0,0", "--nearest", "7", "--years", "1955-1995",
      "--max-missing", "0.2"}},
    {"empty", "--lat 89.9,90", {"--lat", "89.9,90", "--years", "1955-1995", "--max-missing", "0.2"}},
    {"existing",
     "--lat 0,30 --lon 0,60",
     {"--lat", "0,30", "--lon", "0,60", "--years", "1955-1995", "--max-missing", "0.2"}},
};

// One pass for every case of the table, then each case alone, into a directory of its own.
// The directory of "existing" is there before, with a file the run leaves and a series file
// it replaces.
TEST(selection_runs, each_selection_is_its_separate_run) {
    REQUIRE_CLIENT(client::program_found("ncdump"), "ncdump");
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_EQ(support::generate_archive(VARNEX_ARCHIVE_TOOL, dir.work,
                                        "--first-year 1950 --last-year 2000 --stations 150 --seed 407 --missing 0.1 "
                                        "--absent 4 --shuffle-blocks --big-ids --gaps --spurious 0.05"),
              "");
    const std::vector<std::string> listed = lines_of(batch(dir, {"--lat", "-40,60", "--lon", "120,-30", "--list"}).out);
    ASSERT_GT(listed.size(), 20u);
    std::string ids = "1\n";
    for (std::size_t i = listed.size() - 1; i > 0; --i) ids += listed[i].substr(0, listed[i].find('\t')) + "\n";
    ASSERT_TRUE(e2e::write_file(dir.work, "ids.txt", ids + "2\n"));
    std::string file = "# name and options\n\n";
    for (const selection_case& c : selection_cases) file += std::string(c.name) + " " + c.line + "\n";
    ASSERT_TRUE(e2e::write_file(dir.work, "sel.txt", file));
    std::filesystem::create_directories(dir.work + "/runs/existing");
    ASSERT_TRUE(e2e::write_file(dir.work + "/runs/existing", "keep.txt", "kept\n"));
    ASSERT_TRUE(e2e::write_file(dir.work + "/runs/existing", pair_files[0], "old\n"));
    std::vector<std::string> args = defaults;
    args.insert(args.end(), {"--selections", "sel.txt", "-o", "runs", "--report", "runs/{name}.tsv", "--csv",
                             "runs/{name}.csv", "--netcdf", "runs/{name}.nc"});
    const e2e::program_result together = batch(dir, args);
    ASSERT_EQ(together.exit_status, 0) << together.err;
    EXPECT_EQ(e2e::read_file(dir.work + "/runs/existing", "keep.txt"), "kept\n");
    for (const selection_case& c : selection_cases) {
        SCOPED_TRACE(c.name);
        const std::string alone = std::string("alone_") + c.name;
        std::filesystem::create_directory(dir.work + "/" + alone);
        const e2e::program_result r = batch(dir, c.separate,
                                            {"-o", alone, "--report", alone + "/r.tsv", "--csv", alone + "/s.csv",
                                             "--netcdf", alone + "/" + c.name + ".nc"});
        ASSERT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(messages_of(together.err, c.name), messages_of(r.err));
        const std::string runs = dir.work + "/runs", own = runs + "/" + c.name;
        for (const char* name : pair_files)
            EXPECT_EQ(e2e::read_file(own, name), e2e::read_file(dir.work + "/" + alone, name));
        EXPECT_EQ(e2e::read_file(runs, c.name + std::string(".tsv")), e2e::read_file(dir.work + "/" + alone, "r.tsv"));
        EXPECT_EQ(e2e::read_file(runs, c.name + std::string(".csv")), e2e::read_file(dir.work + "/" + alone, "s.csv"));
        EXPECT_EQ(e2e::transcript::first_difference(dump_without_history(dir.work + "/" + alone + "/" + c.name + ".nc"),
                                                    dump_without_history(runs + "/" + c.name + ".nc")),
                  "");
    }
    e2e::remove_scratch_dir(dir);
}

// {name} wherever it stands, and a single selection may write one file without it, or a
// stream.
TEST(selection_runs, name_in_output_paths) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    ASSERT_TRUE(e2e::write_file(dir.work, "one.txt", "north.a --lat 40,90\n"));
    const e2e::program_result r = batch(dir, {"--selections", "one.txt", "--years", "1950-1951", "--report",
                                              "{name}-{name}.tsv", "--csv", "-", "--netcdf", "s.nc", "-q"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(e2e::list_files(dir.work), (std::vector<std::string>{"data.txt", "north.a", "north.a-north.a.tsv",
                                                                   "one.txt", "s.nc", "site_summary.txt"}));
    EXPECT_EQ(e2e::list_files(dir.work + "/north.a"), (std::vector<std::string>{pair_files[1], pair_files[0]}));
    const e2e::program_result alone = batch(dir, {"--lat", "40,90", "--years", "1950-1951", "--csv", "-", "--no-tsf"});
    EXPECT_EQ(r.out, alone.out);
    e2e::remove_scratch_dir(dir);
}

// As many selections as a run takes, each with its report: every one writes its files,
// and each pair equals the first one's (the same box).
TEST(selection_runs, the_most_selections_a_run_takes) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    std::string file;
    for (int i = 1; i <= textio::max_selections; ++i) file += "s" + std::to_string(i) + " --lat -90,90\n";
    ASSERT_TRUE(e2e::write_file(dir.work, "sel.txt", file));
    const e2e::program_result r =
        batch(dir, {"--selections", "sel.txt", "--years", "1950-1951", "--report", "{name}.tsv", "-q"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string pair = e2e::read_file(dir.work + "/s1", pair_files[0]).value_or("");
    EXPECT_FALSE(pair.empty());
    for (int i = 1; i <= textio::max_selections; ++i) {
        const std::string name = "s" + std::to_string(i);
        EXPECT_EQ(e2e::read_file(dir.work + "/" + name, pair_files[0]).value_or(""), pair) << name;
        EXPECT_TRUE(std::filesystem::exists(dir.work + "/" + name + ".tsv")) << name;
    }
    e2e::remove_scratch_dir(dir);
}

// ---------------------------------------------------------------- a failed record

// The last record of data.txt, station 17508491's, malformed: the selections holding that
// station fail, each with its separate run's message, and leave nothing, not even the
// directory made for them; the directory that was there stays. The other one commits.
TEST(selection_failures, failed_selections_commit_nothing_and_the_others_commit) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    std::string data = e2e::read_file(dir.work, "data.txt").value_or("");
    ASSERT_EQ(data.substr(data.size() - 7), "22.125\n");
    data.replace(data.size() - 7, 6, "2x.125");
    ASSERT_TRUE(e2e::write_file(dir.work, "data.txt", data));
    ASSERT_TRUE(e2e::write_file(dir.work, "sel.txt",
                                "far --stations 17508491,107\nalps --stations 103,101\nbox --lat -10,60\n"));
    std::filesystem::create_directories(dir.work + "/runs/box");
    const std::vector<std::string> outputs = {"-o", "runs", "--report", "runs/{name}.tsv", "--csv", "runs/{name}.csv"};
    const e2e::program_result r = batch(dir, {"--selections", "sel.txt", "--years", "1950-1951"}, outputs);
    EXPECT_EQ(r.exit_status, 1);
    const std::string failure = batch(dir, {"--stations", "17508491", "--years", "1950-1951", "--no-tsf"}).err;
    ASSERT_EQ(failure, "varnex: data.txt:265: field 4: malformed number \"2x.125\"\n");
    const std::string message = failure.substr(std::string("varnex: ").size());
    EXPECT_EQ(r.err, "varnex: far: " + message +
                         "varnex: alps: 2 stations selected, 1 saved, 0 without records, 1 not covering 1950-1951, 0 "
                         "with too many missing months, 0 with implausible values\n"
                         "varnex: alps: wrote runs/alps/QORN_TAVEq.TSF\n"
                         "varnex: alps: wrote runs/alps/QORNTAVEq.YX\n"
                         "varnex: alps: wrote runs/alps.tsv\n"
                         "varnex: alps: wrote runs/alps.csv\n"
                         "varnex: box: " +
                         message + "varnex: selections failed: far, box\n");
    EXPECT_EQ(e2e::list_files(dir.work + "/runs"), (std::vector<std::string>{"alps", "alps.csv", "alps.tsv", "box"}));
    EXPECT_EQ(e2e::list_files(dir.work + "/runs/box"), std::vector<std::string>{});
    std::filesystem::create_directory(dir.work + "/alone");
    ASSERT_EQ(batch(dir, {"--stations", "103,101", "--years", "1950-1951", "-o", "alone", "--report", "alone/alps.tsv",
                          "--csv", "alone/alps.csv"})
                  .exit_status,
              0);
    for (const char* name : pair_files)
        EXPECT_EQ(e2e::read_file(dir.work + "/runs/alps", name), e2e::read_file(dir.work + "/alone", name));
    for (const char* name : {"alps.tsv", "alps.csv"})
        EXPECT_EQ(e2e::read_file(dir.work + "/runs", name), e2e::read_file(dir.work + "/alone", name));
    e2e::remove_scratch_dir(dir);
}

// ---------------------------------------------------------------- usage errors

struct usage_case {
    std::string name;
    std::string file;               // sel.txt
    std::vector<std::string> args;  // after --selections sel.txt
    std::string message;            // the first line, without "varnex: "
};

const std::vector<std::string> years = {"--years", "1950"};

std::vector<usage_case> line_usage_cases() {
    std::string many;
    for (int i = 1; i <= textio::max_selections + 1; ++i) many += "s" + std::to_string(i) + " --lat 0,1\n";
    const std::string last = std::to_string(textio::max_selections + 1);
    return {
        {"name_with_a_slash", "a/b --lat 1,2\n", years,
         R"(sel.txt:1: name not made of letters, digits, ".", "_" and "-": "a/b")"},
        {"name_left_out", "# alps\n\n  --lat 1,2\n", years,
         R"(sel.txt:3: expected a name before the options: "--lat")"},
        {"name_dot_dot", ".. --lat 1,2\n", years, R"(sel.txt:1: name cannot be . or ..: "..")"},
        {"name_twice", "a --lat 1,2\n# a\n\na --lat 3,4\n", years, R"(sel.txt:4: name already on line 1: "a")"},
        {"bad_value_after_crlf", "a --lat 1,2\r\nb --lat x\r\n", years, R"(sel.txt:2: --lat: expected MIN,MAX: "x")"},
        {"output_option_on_a_line", "a --lat 1,2 -o x\n", years,
         "sel.txt:1: --output-dir cannot be used on a line of --selections"},
        {"years_nowhere", "a --lat 1,2\n", {"--max-missing", "0.5"}, "sel.txt:1: --years FIRST-LAST is required"},
        {"selector_nowhere",
         "a --years 1950\n",
         {},
         "sel.txt:1: a selector is required: --lat/--lon, --stations or --near"},
        {"no_selection", "# nothing\n\n", years, "sel.txt: no selection in the file"},
        {"too_many", many, years,
         "sel.txt:" + last + ": more than " + std::to_string(textio::max_selections) + " selections"},
        {"bad_identifier_file", "a --stations @ids.txt\n", years,
         R"(sel.txt:1: --stations: ids.txt:2: not a plain decimal number: "x")"},
    };
}

std::vector<usage_case> run_usage_cases() {
    const std::string two = "a --lat 1,2\nb --lat 3,4\n";
    const auto with_years = [](std::vector<std::string> args) {
        args.insert(args.begin(), years.begin(), years.end());
        return args;
    };
    return {
        {"one_csv_for_two", two, with_years({"--csv", "s.csv"}),
         R"(--csv: needs {name} with more than one selection: "s.csv")"},
        {"one_stream_for_two", two, with_years({"--report", "-"}),
         R"(--report: needs {name} with more than one selection: "-")"},
        {"directory_and_report", two, with_years({"-o", "runs", "--report", "runs/{name}"}),
         "-o runs/a and --report runs/a name the same file"},
        {"directory_over_the_archive", "data.txt --lat 1,2\n", years,
         "-o data.txt would overwrite the archive's data.txt"},
        {"with_list", two, {"--list"}, "--list cannot be used with --selections"},
        {"with_verbose", two, with_years({"-v"}), "--verbose cannot be used with --selections"},
    };
}

// Exit status 2, the exact message, and nothing written or made.
void expect_usage_error(const usage_case& c, const std::string& message) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    std::filesystem::create_directory(dir.work + "/runs");
    ASSERT_TRUE(e2e::write_file(dir.work, "sel.txt", c.file));
    ASSERT_TRUE(e2e::write_file(dir.work, "ids.txt", "101\nx\n"));
    const e2e::program_result r = batch(dir, {"--selections", "sel.txt"}, c.args);
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out + r.err, "varnex: " + message + "\nTry 'varnex --help'.\n");
    EXPECT_EQ(e2e::list_files(dir.work),
              (std::vector<std::string>{"data.txt", "ids.txt", "runs", "sel.txt", "site_summary.txt"}));
    EXPECT_EQ(e2e::list_files(dir.work + "/runs"), std::vector<std::string>{});
    e2e::remove_scratch_dir(dir);
}

class selection_usage : public ::testing::TestWithParam<usage_case> {};

TEST_P(selection_usage, of_a_line) { expect_usage_error(GetParam(), "--selections: " + GetParam().message); }

INSTANTIATE_TEST_SUITE_P(selection_lines, selection_usage, ::testing::ValuesIn(line_usage_cases()),
                         support::named_by_name());

class selection_run_usage : public ::testing::TestWithParam<usage_case> {};

TEST_P(selection_run_usage, of_the_run) { expect_usage_error(GetParam(), GetParam().message); }

INSTANTIATE_TEST_SUITE_P(selection_options, selection_run_usage, ::testing::ValuesIn(run_usage_cases()),
                         support::named_by_name());

// A file that cannot be read is no usage error.
TEST(selection_failures, unreadable_file) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_TRUE(support::write_verdict_archive(dir.work));
    const e2e::program_result r = batch(dir, {"--selections", "sel.txt", "--years", "1950"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "varnex: sel.txt: No such file or directory\n");
    e2e::remove_scratch_dir(dir);
}

}  // namespace
