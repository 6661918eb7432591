// Captures what a piece of code writes to standard output (file descriptor 1).
#pragma once
#include <unistd.h>

#include <cstdio>
#include <string>

namespace testing_support {

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

}  // namespace testing_support
