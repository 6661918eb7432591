// Whole-program runs for the end-to-end tests: a fresh scratch directory per run, the
// archive files written into it, the built program started there with its answers on
// standard input (redirected from a file, as a user would with `varnex < answers.txt`),
// and everything it leaves behind read back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

// `base` holds the answers and the captured streams; `work` is the program's working
// directory and holds nothing but the archive files and what the program creates.
struct scratch_dir {
    std::string base;
    std::string work;
};

struct env_setting {
    std::string name;
    std::string value;
};

struct program_result {
    std::string out;           // standard output, byte for byte
    std::string err;           // standard error, byte for byte
    int exit_status = -1;      // exit code when the program ended by itself
    int signal_number = 0;     // signal that ended it, 0 when it exited
    bool timed_out = false;    // killed after the time limit
    long peak_rss_kb = 0;      // the program's largest resident set, in KiB
    std::string launch_error;  // non-empty when the program could not be started
};

inline constexpr int default_time_limit_seconds = 60;
inline constexpr int wrapper_time_factor = 20;

// Creates a new directory under the system's temporary directory; empty strings on failure.
scratch_dir make_scratch_dir();

// Removes the scratch directory and all it holds.
void remove_scratch_dir(const scratch_dir& dir);

// Writes `bytes` exactly (no line-end translation) to dir/name; false on failure.
bool write_file(const std::string& dir, std::string_view name, std::string_view bytes);

// Reads dir/name whole; nullopt when it does not exist or cannot be read.
std::optional<std::string> read_file(const std::string& dir, std::string_view name);

// Names of the entries of `dir`, sorted.
std::vector<std::string> list_files(const std::string& dir);

// Runs `program` (no arguments) in dir.work with `answers` on standard input. The
// environment is the test process's own with `extra_env` set on top. A run that outlives
// `time_limit_seconds` is killed and reported with timed_out.
//
// When the test process has VARNEX_WRAPPER set (for example "valgrind -q
// --error-exitcode=99"), the program is started under that command, its words split at
// blanks and the first one looked up in PATH, and every time limit is multiplied by
// wrapper_time_factor.
program_result run_program(const scratch_dir& dir, const std::string& program, std::string_view answers,
                           const std::vector<env_setting>& extra_env,
                           int time_limit_seconds = default_time_limit_seconds);

struct run_options {
    std::vector<std::string> args;  // command-line arguments after the program name
    std::vector<env_setting> env;
    int time_limit_seconds = default_time_limit_seconds;
    // When signal_number is set, it is sent to the program once its standard output holds
    // `signal_marker` at least `signal_after` times.
    int signal_number = 0;
    std::string signal_marker;
    int signal_after = 0;
    // When set, standard input is opened from this path instead of the answers; a directory
    // makes every read of standard input fail (EISDIR).
    std::string stdin_path;
};

program_result run_program(const scratch_dir& dir, const std::string& program, std::string_view answers,
                           const run_options& options);

}  // namespace e2e
