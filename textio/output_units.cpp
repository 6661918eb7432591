// Output units: files written record by record, standard output and error, and the
// descriptors of the standard streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "textio/detail/unit_support.hpp"
#include "textio/failure.hpp"

namespace textio {
namespace {

// Standard descriptors found closed at start-up, now open on /dev/null.
bool standard_closed_at_start[3] = {false, false, false};

}  // namespace

int write_all(int fd, const char* bytes, std::size_t count, std::size_t& done) {
    done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int write_all(int fd, const char* bytes, std::size_t count) {
    std::size_t done = 0;
    return write_all(fd, bytes, count, done);
}

namespace {

// Passes the first `count` pending bytes to the system; returns 0 or the error number.
// Those bytes are dropped either way, so a failing file is not tried again at the stop.
int write_pending_bytes(out_unit& u, std::size_t count) {
    if (count == 0) return 0;
    if (u.fd < 0) {
        u.pending.clear();
        return EBADF;
    }
    std::size_t done = 0;
    const int error = write_all(u.fd, u.pending.data(), count, done);
    u.written += static_cast<std::int64_t>(done);
    u.pending.erase(0, count);
    return error;
}

int truncate_retrying(int fd, std::int64_t length) {
    int result;
    do {
        result = ::ftruncate(fd, static_cast<off_t>(length));
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

}  // namespace

int write_pending(out_unit& u) { return write_pending_bytes(u, u.pending.size()); }

int open_for_writing(const std::string& path, bool& created) {
    int fd = open_retrying(path, O_WRONLY | O_CREAT | O_EXCL);
    created = fd >= 0;
    // O_EXCL does not follow a symbolic link: the name exists, and is opened where it leads.
    if (fd < 0 && errno == EEXIST) fd = open_retrying(path, O_WRONLY);
    return fd;
}

void open_output(out_unit& u, int unit, std::string_view name, bool* created) {
    if (u.fd >= 0) close_output(u);
    const std::string path(without_trailing_blanks(name));
    bool made = false;
    const int fd = open_for_writing(path, made);
    if (fd < 0 && errno == ENOENT && !made) {
        struct stat link_info;
        if (::lstat(path.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode))
            raise_failure(failure_at(failure_kind::dangling_link, "OPEN", unit, path));
    }
    if (fd < 0) raise_system(errno, "OPEN", unit, path);
    if (created) *created = made;
    u.unit = unit;
    u.fd = fd;
    u.name = path;
    u.pending.clear();
    u.written = 0;
    u.is_terminal = false;
    u.regular = is_regular_file(fd);
    register_output(u);
}

bool lock_output(out_unit& u) {
    if (!u.regular) return true;
    const int error = lock_exclusively(u.fd);
    if (error == 0) return true;
    if (error == EWOULDBLOCK) return false;
    raise_system(error, "OPEN", u.unit, u.name);
}

void empty_output(out_unit& u) {
    if (!u.regular) return;
    const int error = truncate_retrying(u.fd, 0);
    if (error != 0) raise_system(error, "ENDFILE", u.unit, u.name);
    u.written = 0;
}

void write_output_up_to(out_unit& u, std::int64_t length) {
    const std::int64_t wanted = std::max<std::int64_t>(0, length - u.written);
    write_pending_bytes(
        u, static_cast<std::size_t>(std::min<std::int64_t>(wanted, static_cast<std::int64_t>(u.pending.size()))));
    u.pending.clear();
}

void cut_output(out_unit& u, std::int64_t length) {
    u.pending.clear();
    if (!u.regular || u.fd < 0) return;
    if (truncate_retrying(u.fd, length) == 0) u.written = std::min(u.written, length);
}

void protect_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is the one that was closed.
        if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) == fd) standard_closed_at_start[fd] = true;
    }
}

bool closed_at_start(int fd) { return fd >= 0 && fd <= 2 && standard_closed_at_start[fd]; }

void attach_stream_output(out_unit& u, int fd, std::string name) {
    u.unit = terminal_unit;
    u.fd = closed_at_start(fd) ? -1 : fd;
    u.name = std::move(name);
    u.pending.clear();
    u.is_terminal = true;
    u.regular = false;
    u.drops_refusals = false;
}

void attach_standard_output(out_unit& u) { attach_stream_output(u, 1, "standard output"); }

void attach_standard_error(out_unit& u) { attach_stream_output(u, 2, "standard error"); }

void attach_message_output(out_unit& u) {
    attach_standard_error(u);
    u.drops_refusals = true;
}

void write_bytes(out_unit& u, std::string_view bytes) {
    if (bytes.empty()) return;
    if (u.is_terminal) {
        const int error = write_all(u.fd, bytes.data(), bytes.size());
        if (error != 0 && !u.drops_refusals) raise_system(error, "WRITE", u.unit, u.name);
        return;
    }
    u.pending.append(bytes);
    if (u.pending.size() >= output_flush_size) flush_output(u);
}

void flush_output(out_unit& u) {
    if (u.flushed_first) flush_output(*u.flushed_first);
    const int error = write_pending(u);
    if (error != 0) raise_system(error, "WRITE", u.unit, u.name);
}

void close_output(out_unit& u) {
    if (u.fd < 0) return;
    int error = write_pending(u);
    if (u.is_terminal) {
        if (error != 0 && !u.drops_refusals) raise_system(error, "WRITE", u.unit, u.name);
        return;
    }
    const char* operation = "WRITE";
    const int close_error = close_descriptor(u.fd);
    if (error == 0 && close_error != 0) {
        error = close_error;
        operation = "CLOSE";
    }
    unregister_output(u);
    u.fd = -1;
    if (error != 0) raise_system(error, operation, u.unit, u.name);
}

}  // namespace textio
