// Shared pieces of the libFuzzer targets: a private scratch directory, files written from
// the fuzzer's bytes, and checks that stop the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textio/failure.hpp"

namespace fuzz {

// A fatal condition raised by the text layer or the engine.
using raised = textio::io_failure;

// How a target wants its process set up before the first input. Every target defines
// `fuzz::target` once; the one LLVMFuzzerInitialize (in fuzz_support.cpp) reads it.
struct target_settings {
    // Send standard output (the program's terminal) to /dev/null, so that a run prints
    // nothing between libFuzzer's own lines.
    bool silence_standard_output = false;
    // OpenMP threads of the engine's parallel parts; 0 leaves the default.
    int threads = 0;
};
extern const target_settings target;

// Path of `name` inside this process's scratch directory (removed at exit).
std::string scratch_path(std::string_view name);

// Writes the bytes exactly; aborts when the file cannot be written.
void write_file(const std::string& path, std::string_view bytes);

// Whole file, or an empty string when it cannot be read.
std::string read_file(const std::string& path);

// Stops the fuzzer with a message when a property of the program does not hold.
[[noreturn]] void fail(const char* what, std::string_view detail = {});
inline void check(bool holds, const char* what, std::string_view detail = {}) {
    if (!holds) fail(what, detail);
}

// Reads the fuzzer's bytes from the front.
struct byte_source {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t take() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    std::string_view rest() const { return {reinterpret_cast<const char*>(data), size}; }
};

}  // namespace fuzz
