#include "tests/support/run_program.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace e2e {

namespace {

namespace fs = std::filesystem;

std::string join_path(const std::string& dir, std::string_view name) {
    std::string path = dir;
    path += '/';
    path += name;
    return path;
}

// The child's environment: the test process's own, with every extra setting replacing a
// variable of the same name or added at the end. Built before fork, because the child
// may only make async-signal-safe calls.
std::vector<std::string> child_environment(const std::vector<env_setting>& extra_env) {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        bool replaced = false;
        for (const env_setting& setting : extra_env) {
            if (text.size() > setting.name.size() && text.substr(0, setting.name.size()) == setting.name &&
                text[setting.name.size()] == '=') {
                replaced = true;
            }
        }
        if (!replaced) entries.emplace_back(text);
    }
    for (const env_setting& setting : extra_env) entries.push_back(setting.name + "=" + setting.value);
    return entries;
}

// The words of VARNEX_WRAPPER, the first one resolved through PATH; empty when unset.
std::vector<std::string> wrapper_words() {
    std::vector<std::string> words;
    const char* text = std::getenv("VARNEX_WRAPPER");
    if (text == nullptr) return words;
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const std::size_t end = std::min(rest.find(' '), rest.size());
        words.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    if (!words.empty() && words[0].find('/') == std::string::npos) {
        const char* path = std::getenv("PATH");
        std::string_view dirs(path ? path : "/usr/bin:/bin");
        while (!dirs.empty()) {
            const std::size_t colon = std::min(dirs.find(':'), dirs.size());
            const std::string candidate = std::string(dirs.substr(0, colon)) + "/" + words[0];
            if (::access(candidate.c_str(), X_OK) == 0) {
                words[0] = candidate;
                break;
            }
            dirs.remove_prefix(colon == dirs.size() ? colon : colon + 1);
        }
    }
    return words;
}

int open_for_child(const std::string& path, int flags) { return ::open(path.c_str(), flags | O_CLOEXEC, 0644); }

// Runs in the forked child: only async-signal-safe calls until execve.
[[noreturn]] void exec_child(const char* work, const char* program, char* const argv[], char* const envp[], int in_fd,
                             int out_fd, int err_fd, int report_fd) {
    // Own process group, so a run killed at the time limit takes anything it started along.
    ::setpgid(0, 0);
    if (::chdir(work) == 0 && ::dup2(in_fd, 0) == 0 && ::dup2(out_fd, 1) == 1 && ::dup2(err_fd, 2) == 2) {
        ::execve(program, argv, envp);
    }
    int error = errno;
    ssize_t written = ::write(report_fd, &error, sizeof error);
    (void)written;
    ::_exit(127);
}

std::size_t occurrences(const std::string& text, std::string_view marker) {
    std::size_t count = 0;
    for (std::size_t at = text.find(marker); !marker.empty() && at != std::string::npos; at = text.find(marker, at + 1))
        ++count;
    return count;
}

// Waits for the child, killing it once the time limit has passed, and sending it the
// planned signal once its output (in out_path) shows the marker often enough.
void wait_for_child(pid_t pid, int time_limit_seconds, const run_options& options, const std::string& out_path,
                    program_result& result) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(time_limit_seconds);
    int status = 0;
    bool signal_sent = options.signal_number == 0;
    struct rusage usage {};
    for (;;) {
        pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (!signal_sent) {
            std::ifstream out(out_path, std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
            if (occurrences(text, options.signal_marker) >= static_cast<std::size_t>(options.signal_after)) {
                ::kill(pid, options.signal_number);
                signal_sent = true;
            }
        }
        if (done < 0 && errno != EINTR) {
            result.launch_error = std::string("waitpid failed: ") + std::strerror(errno);
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {}
            result.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.peak_rss_kb = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal_number = WTERMSIG(status);
}

}  // namespace

scratch_dir make_scratch_dir() {
    std::error_code error;
    fs::path root = fs::temp_directory_path(error);
    if (error) root = "/tmp";
    std::string pattern = (root / "varnex-e2e-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) return {};
    scratch_dir dir;
    dir.base = buffer.data();
    dir.work = join_path(dir.base, "run");
    if (::mkdir(dir.work.c_str(), 0755) != 0) return {};
    return dir;
}

void remove_scratch_dir(const scratch_dir& dir) {
    if (dir.base.empty()) return;
    std::error_code error;
    fs::remove_all(dir.base, error);
}

bool write_file(const std::string& dir, std::string_view name, std::string_view bytes) {
    std::ofstream file(join_path(dir, name), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}

std::optional<std::string> read_file(const std::string& dir, std::string_view name) {
    std::ifstream file(join_path(dir, name), std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> list_files(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

program_result run_program(const scratch_dir& dir, const std::string& program, std::string_view answers,
                           const std::vector<env_setting>& extra_env, int time_limit_seconds) {
    run_options options;
    options.env = extra_env;
    options.time_limit_seconds = time_limit_seconds;
    return run_program(dir, program, answers, options);
}

program_result run_program(const scratch_dir& dir, const std::string& program, std::string_view answers,
                           const run_options& options) {
    int time_limit_seconds = options.time_limit_seconds;
    program_result result;
    const std::string in_path = join_path(dir.base, "answers.txt");
    const std::string out_path = join_path(dir.base, "stdout.txt");
    const std::string err_path = join_path(dir.base, "stderr.txt");
    if (!write_file(dir.base, "answers.txt", answers)) {
        result.launch_error = "cannot write " + in_path;
        return result;
    }

    std::vector<std::string> env_text = child_environment(options.env);
    std::vector<char*> envp;
    for (std::string& entry : env_text) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> command = wrapper_words();
    if (!command.empty()) time_limit_seconds *= wrapper_time_factor;
    command.push_back(program);
    command.insert(command.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string& program_text = command.front();

    int in_fd = open_for_child(options.stdin_path.empty() ? in_path : options.stdin_path, O_RDONLY);
    int out_fd = open_for_child(out_path, O_WRONLY | O_CREAT | O_TRUNC);
    int err_fd = open_for_child(err_path, O_WRONLY | O_CREAT | O_TRUNC);
    int report[2] = {-1, -1};
    if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
        result.launch_error = std::string("cannot prepare the run: ") + std::strerror(errno);
        for (int fd : {in_fd, out_fd, err_fd, report[0], report[1]}) {
            if (fd >= 0) ::close(fd);
        }
        return result;
    }

    // The child's peak resident set, as wait4 reports it, starts from this process's at the
    // fork: memory that tests freed is handed back first, so that the peak is the program's.
    ::malloc_trim(0);
    pid_t pid = ::fork();
    if (pid == 0)
        exec_child(dir.work.c_str(), program_text.c_str(), argv.data(), envp.data(), in_fd, out_fd, err_fd, report[1]);
    ::close(report[1]);
    ::close(in_fd);
    ::close(out_fd);
    ::close(err_fd);
    if (pid < 0) {
        result.launch_error = std::string("fork failed: ") + std::strerror(errno);
        ::close(report[0]);
        return result;
    }

    wait_for_child(pid, time_limit_seconds, options, out_path, result);
    int child_error = 0;
    if (::read(report[0], &child_error, sizeof child_error) == static_cast<ssize_t>(sizeof child_error)) {
        result.launch_error = "cannot start " + program + ": " + std::strerror(child_error);
    }
    ::close(report[0]);

    result.out = read_file(dir.base, "stdout.txt").value_or("");
    result.err = read_file(dir.base, "stderr.txt").value_or("");
    return result;
}

}  // namespace e2e
