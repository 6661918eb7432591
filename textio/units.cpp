// Input units: opening and closing them, and the entry points that read them, which go to
// the unit's source (mapped_source.cpp or buffered_source.cpp) for what the two do
// differently; the descriptor calls the output units share.
#include "textio/units.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "textio/detail/decompression.hpp"
#include "textio/detail/unit_support.hpp"
#include "textio/failure.hpp"

namespace textio {
namespace {

constexpr int tab_stop = 8;

void start_input(in_unit& u, int unit, int fd, std::string_view name, std::int64_t offset, bool may_map) {
    u.unit = unit;
    u.fd = fd;
    u.name.assign(name);
    u.begin = 0;
    u.end = 0;
    u.buffer_offset = offset;
    u.last_record_start = -1;
    u.cut_from = u.cut_to = 0;
    u.line = 0;
    u.at_end = false;
    if (may_map && !u.buffer && map_whole_file(u, fd)) return;
    if (!u.buffer) allocate_buffer(u);
}

// Up to magic_bytes of a regular file's start, read where they lie.
std::string first_bytes_at_start(int fd) {
    char first[magic_bytes];
    std::size_t done = 0;
    while (done < magic_bytes) {
        const ssize_t n = ::pread(fd, first + done, magic_bytes - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return std::string(first, done);
}

// Up to magic_bytes of a stream read into the unit's empty buffer, where the reading of a
// plain stream goes on from.
std::string_view first_bytes_read(in_unit& u) {
    while (u.end < magic_bytes && !u.at_end) {
        const ssize_t n = ::read(u.fd, u.buffer + u.end, magic_bytes - u.end);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) raise_system(errno, "READ", u.unit, u.name, 1);
        if (n == 0) u.at_end = true;
        u.end += static_cast<std::size_t>(n);
    }
    return std::string_view(u.buffer, u.end);
}

// The unit is registered before any decompression starts, so that a failure from here on
// closes the descriptor.
void start_opened_input(in_unit& u, int unit, int fd, std::string_view name, bool may_map, input_coding coding) {
    if (coding == input_coding::as_is) {
        start_input(u, unit, fd, name, 0, may_map);
        register_input(u);
        return;
    }
    if (is_regular_file(fd) && ::lseek(fd, 0, SEEK_CUR) == 0) {
        const compression format = compression_of(first_bytes_at_start(fd));
        start_input(u, unit, fd, name, 0, may_map && format == compression::none);
        register_input(u);
        if (format != compression::none) start_decompression(u, fd, std::string(), format);
        return;
    }
    start_input(u, unit, fd, name, 0, false);
    register_input(u);
    const std::string_view first = first_bytes_read(u);
    const compression format = compression_of(first);
    if (format == compression::none) return;
    std::string taken(first);
    u.end = 0;
    u.at_end = false;
    start_decompression(u, fd, std::move(taken), format);
}

}  // namespace

void note_cut(in_unit& u, std::int64_t start, std::size_t length) {
    u.cut_from = start + static_cast<std::int64_t>(std::min(length, max_record_bytes));
    u.cut_to = start + static_cast<std::int64_t>(length);
}

void take_record(in_unit& u, std::size_t stop, std::size_t next, std::string_view& record) {
    record = std::string_view(u.buffer + u.begin, std::min(stop - u.begin, max_record_bytes));
    u.last_record_start = u.buffer_offset + static_cast<std::int64_t>(u.begin);
    note_cut(u, u.last_record_start, stop - u.begin);
    u.begin = next;
    ++u.line;
}

void release_input(in_unit& u) {
    stop_spool(u);
    stop_decompression(u);
    source_of(u).release(u);
    u.buffer = nullptr;
    u.mapped = false;
    u.map_length = 0;
    std::free(u.long_record);
    u.long_record = nullptr;
    u.capacity = 0;
    u.begin = 0;
    u.end = 0;
    u.fd = -1;
    u.at_end = true;
}

int open_retrying(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int lock_exclusively(int fd) {
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

bool is_regular_file(int fd) {
    struct stat info;
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

void open_input(in_unit& u, int unit, std::string_view name, input_access access, input_coding coding) {
    if (u.fd >= 0) close_input(u);
    const std::string path(without_trailing_blanks(name));
    const int fd = open_retrying(path, O_RDONLY);
    if (fd < 0) raise_system(errno, "OPEN", unit, path);
    start_opened_input(u, unit, fd, path, access == input_access::mapped_when_possible, coding);
}

void open_standard_input(in_unit& u, int unit, input_coding coding) {
    if (u.fd >= 0) close_input(u);
    const std::string name = "standard input";
    int fd;
    do {
        fd = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) raise_system(errno, "OPEN", unit, name);
    start_opened_input(u, unit, fd, name, ::lseek(fd, 0, SEEK_CUR) == 0, coding);
}

void attach_standard_input(in_unit& u) {
    const off_t offset = ::lseek(0, 0, SEEK_CUR);
    start_input(u, terminal_unit, 0, "standard input", offset < 0 ? 0 : offset, false);
}

void close_input(in_unit& u) {
    if (u.fd < 0) return;
    stop_spool(u);  // before its copy, the unit's descriptor, is closed
    const bool own_descriptor = u.unit != terminal_unit || u.decoder;
    const int error = own_descriptor ? close_descriptor(u.fd) : 0;
    unregister_input(u);
    release_input(u);
    if (error != 0) raise_system(error, "CLOSE", u.unit, u.name);
}

std::int64_t input_offset(const in_unit& u) { return u.buffer_offset + static_cast<std::int64_t>(u.begin); }

bool next_raw_record(in_unit& u, std::string_view& record) {
    if (u.fd < 0) return false;
    return source_of(u).next_record(u, record);
}

bool next_record_piece(in_unit& u, std::string_view& piece) {
    if (u.fd < 0 || u.cut_from >= u.cut_to) return false;
    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(u.cut_to - u.cut_from, max_record_bytes));
    piece = source_of(u).next_piece(u, count);
    u.cut_from += static_cast<std::int64_t>(count);
    return true;
}

void clean_record(std::string_view raw, std::string& record, std::size_t column) {
    record.clear();
    const bool plain = !std::memchr(raw.data(), '\r', raw.size()) && !std::memchr(raw.data(), '\t', raw.size());
    if (plain) {
        record.assign(raw);
        return;
    }
    for (const char c : raw) {
        if (c == '\r') continue;
        if (c == '\t') {
            record.append(tab_stop - (column + record.size()) % tab_stop, ' ');
        } else {
            record.push_back(c);
        }
    }
}

bool read_record(in_unit& u, std::string& record) {
    std::string_view raw;
    if (!next_raw_record(u, raw)) return false;
    clean_record(raw, record);
    return true;
}

std::int64_t first_lost_offset(const in_unit& u) { return source_of(u).first_lost(u); }

void hand_back(const in_unit& u, std::int64_t from, std::int64_t to) {
    source_of(u).hand_back(u, static_cast<std::size_t>(from), static_cast<std::size_t>(to));
}

std::size_t copy_bytes_at(const in_unit& u, std::int64_t offset, char* to, std::size_t count) {
    if (u.spool) return 0;  // a copy lies in memory, not in its file
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(u.fd, to + done, count - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace textio
