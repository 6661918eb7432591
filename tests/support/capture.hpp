// What a piece of code leaves behind that a test wants to look at: the bytes it writes
// to standard output, or the failure it raises.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "textio/failure.hpp"

namespace support {

// Standard output (file descriptor 1) is sent to a temporary file while `action` runs.
template <class Action>
std::string capture_stdout(Action&& action) {
    std::fflush(stdout);
    char path[] = "/tmp/varnex_capture_XXXXXX";
    const int fd = ::mkstemp(path);
    const int saved = ::dup(1);
    ::dup2(fd, 1);
    action();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    std::string text;
    ::lseek(fd, 0, SEEK_SET);
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(n));
    ::close(fd);
    ::unlink(path);
    return text;
}

// The failure `action` raises, or nothing when it finishes.
template <class Action>
std::optional<textio::io_failure> failure_of(Action&& action) {
    try {
        action();
    } catch (const textio::io_failure& f) {
        return f;
    }
    return std::nullopt;
}

}  // namespace support
