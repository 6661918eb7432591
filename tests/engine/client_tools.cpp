#include "tests/engine/client_tools.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace client {

std::string quoted(const std::string& word) {
    std::string q = "'";
    for (const char ch : word) {
        if (ch == '\'')
            q += "'\\''";
        else
            q.push_back(ch);
    }
    return q + "'";
}

command_result run_command(const std::string& command) {
    command_result r;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return r;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
    const int status = ::pclose(pipe);
    if (status != -1 && WIFEXITED(status)) r.exit_status = WEXITSTATUS(status);
    return r;
}

bool clients_required() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

bool python_has(const std::string& modules) {
    if (::access("/usr/bin/python3", X_OK) != 0) return false;
    return run_command("/usr/bin/python3 -c " + quoted("import " + modules)).exit_status == 0;
}

bool program_found(const std::string& program) { return run_command("command -v " + quoted(program)).exit_status == 0; }

command_result run_python(const std::string& script, const std::string& arguments) {
    return run_command("/usr/bin/python3 -c " + quoted(script) + " " + arguments);
}

std::string make_temp_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/varnex-out-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

void remove_tree(const std::string& dir) {
    if (!dir.empty()) run_command("rm -rf " + quoted(dir));
}

std::string read_whole_file(const std::string& path) {
    std::string bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

}  // namespace client
