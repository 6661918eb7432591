// The built program started with arguments: what it prints on each stream, its exit status,
// and that it leaves its working directory as it found it, since every option is checked
// before any file is opened.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/batch_options.hpp"
#include "tests/support/run_program.hpp"

namespace {

struct run_result {
    std::string out;
    std::string err;
    int exit_status = -1;
};

// Runs the program in dir.work with `args`, standard input empty, standard output into
// `out_path` (dir.base/out when empty) and standard error into dir.base/err.
run_result run_with_args(const e2e::scratch_dir& dir, const std::vector<std::string>& args, std::string out_path = "") {
    const bool own_out = out_path.empty();
    if (own_out) out_path = dir.base + "/out";
    const std::string err_path = dir.base + "/err";
    std::vector<char*> argv = {const_cast<char*>(VARNEX_BINARY)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::chdir(dir.work.c_str()) != 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    run_result result;
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    }
    if (own_out) result.out = e2e::read_file(dir.base, "out").value_or("(no file)");
    result.err = e2e::read_file(dir.base, "err").value_or("(no file)");
    return result;
}

struct batch_case {
    const char* name;
    std::vector<std::string> args;
    int exit_status;
    std::string out;
    std::string err;
};

const std::string try_help = "Try 'varnex --help'.\n";

std::vector<batch_case> batch_cases() {
    return {
        {"help", {"--help"}, 0, app::batch_help_text(), ""},
        {"help_short", {"-h", "--bogus"}, 0, app::batch_help_text(), ""},
        {"version", {"--version"}, 0, app::version_text(), ""},
        {"version_short", {"-V"}, 0, app::version_text(), ""},
        {"bad_number",
         {"--lat", "1e5,10", "--lon", "0,1", "--years", "1950"},
         2,
         "",
         "varnex: --lat: not a plain decimal number: \"1e5\"\n" + try_help},
        {"missing_option", {"--lat=-45,10"}, 2, "", "varnex: --years FIRST-LAST is required\n" + try_help},
        {"unknown_option", {"--frobnicate"}, 2, "", "varnex: unknown option: \"--frobnicate\"\n" + try_help},
        {"no_selector",
         {"--years", "1950", "--csv", "s.csv"},
         2,
         "",
         "varnex: a selector is required: --lat/--lon, --stations or --near\n" + try_help},
        {"list_with_an_output",
         {"--lat", "0,1", "--list", "--csv", "-"},
         2,
         "",
         "varnex: --list cannot be used with --csv\n" + try_help},
        {"list_without_archive",
         {"--stations", "101", "--list"},
         1,
         "",
         "varnex: site_summary.txt: No such file or directory\n"},
        {"two_stdouts",
         {"--lat", "0,1", "--lon", "0,1", "--years", "1950", "--report", "-", "--csv", "-"},
         2,
         "",
         "varnex: --report - and --csv - both write to standard output\n" + try_help},
        {"valid_run_without_archive",
         {"--lat", "-45,10", "--lon", "170,-170", "--years", "1950-1980", "--report", "r.tsv"},
         1,
         "",
         "varnex: the box crosses the 180th meridian: longitudes 170.000..180 and -180..-170.000\n"
         "varnex: site_summary.txt: No such file or directory\n"},
        {"valid_run_missing_archive_directory",
         {"--lat", "0,1", "--lon", "0,1", "--years", "1950", "-C", "no-such-dir"},
         1,
         "",
         "varnex: no-such-dir/site_summary.txt: No such file or directory\n"},
    };
}

class BatchCommandLineTest : public ::testing::TestWithParam<batch_case> {};

TEST_P(BatchCommandLineTest, PrintsExitsAndTouchesNoFile) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_FALSE(dir.work.empty());
    const run_result result = run_with_args(dir, GetParam().args);
    EXPECT_EQ(result.exit_status, GetParam().exit_status);
    EXPECT_EQ(result.out, GetParam().out);
    EXPECT_EQ(result.err, GetParam().err);
    EXPECT_TRUE(e2e::list_files(dir.work).empty());
    e2e::remove_scratch_dir(dir);
}

INSTANTIATE_TEST_SUITE_P(Lines, BatchCommandLineTest, ::testing::ValuesIn(batch_cases()),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(BatchCommandLine, HelpOnAFullDeviceIsAFailure) {
    const e2e::scratch_dir dir = e2e::make_scratch_dir();
    ASSERT_FALSE(dir.work.empty());
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    const run_result result = run_with_args(dir, {"--help"}, "/dev/full");
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "varnex: standard output: No space left on device\n");
    e2e::remove_scratch_dir(dir);
}

}  // namespace
