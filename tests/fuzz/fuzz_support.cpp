#include "tests/fuzz/fuzz_support.hpp"

#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fuzz {
namespace {

std::string& scratch_dir() {
    static std::string dir;
    return dir;
}

void remove_scratch_dir() {
    std::error_code error;
    if (!scratch_dir().empty()) std::filesystem::remove_all(scratch_dir(), error);
}

void make_scratch_dir() {
    if (!scratch_dir().empty()) return;
    char pattern[] = "/tmp/varnex-fuzz-XXXXXX";
    if (!::mkdtemp(pattern)) fail("cannot make a scratch directory");
    scratch_dir() = pattern;
    std::atexit(remove_scratch_dir);
}

void silence_standard_output() {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::dup2(null, 1) != 1) fail("cannot send standard output to /dev/null");
    ::close(null);
}

}  // namespace

std::string scratch_path(std::string_view name) {
    std::string path = scratch_dir();
    path += '/';
    path += name;
    return path;
}

void write_file(const std::string& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (file.fail()) fail("cannot write", path);
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void fail(const char* what, std::string_view detail) {
    std::fprintf(stderr, "\nFUZZ CHECK FAILED: %s %.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

}  // namespace fuzz

// libFuzzer calls this once before the first input when a target defines it; defining it
// here, next to the helpers every target links, gives all targets the same set-up.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::make_scratch_dir();
    if (fuzz::target.silence_standard_output) fuzz::silence_standard_output();
    if (fuzz::target.threads > 0) omp_set_num_threads(fuzz::target.threads);
    return 0;
}
