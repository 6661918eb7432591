// Outside programs that read the output files in the tests (Python with pandas or xarray,
// ncdump): run a command, and decide whether a missing tool skips a test or fails it.
#pragma once
#include <string>

namespace client {

struct command_result {
    int exit_status = -1;  // -1 when the command could not be started or did not exit
    std::string output;    // standard output and standard error together
};

// Runs `command` through the shell.
command_result run_command(const std::string& command);

// Under CI=true every client must be present: a missing one fails the test instead of
// skipping it.
bool clients_required();

// Whether /usr/bin/python3 imports all of `modules` (comma-separated, as in an import line).
bool python_has(const std::string& modules);

// Whether `program` is found in PATH.
bool program_found(const std::string& program);

// Runs `script` with /usr/bin/python3, the arguments following it.
command_result run_python(const std::string& script, const std::string& arguments);

// A new, empty directory under the system's temporary directory; removed by remove_tree.
std::string make_temp_dir();
void remove_tree(const std::string& dir);

// The whole file; empty when it cannot be read.
std::string read_whole_file(const std::string& path);

// Shell quoting of one word.
std::string quoted(const std::string& word);

}  // namespace client

// Skips the test when a client is missing, or fails it under CI=true.
#define REQUIRE_CLIENT(available, what)                                                    \
    do {                                                                                   \
        if (!(available)) {                                                                \
            if (client::clients_required()) FAIL() << (what) << " is missing and CI=true"; \
            GTEST_SKIP() << (what) << " is missing";                                       \
        }                                                                                  \
    } while (false)
