#include "textio/units.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "textio/detail/unit_support.hpp"
#include "textio/failure.hpp"

namespace textio {
namespace {

constexpr int tab_stop = 8;

// ---------------------------------------------------------------------------------------
// Input

// A regular file is read where the system keeps it, through a mapping, instead of being
// copied into a buffer. The mapping lies at the start of reserved address space one page
// longer, whose pages past the file read as zeros, so a scanner may load whole 64-byte
// blocks past its last byte. Anything that cannot be mapped is read into a buffer.
bool map_whole_file(in_unit& u, int fd) {
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return false;
    const auto size = static_cast<std::size_t>(info.st_size);
    const std::size_t page = page_size();
    const std::size_t length = (size + page - 1) / page * page + page;
    void* reserved = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED) return false;
    void* file = ::mmap(reserved, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0);
    if (file == MAP_FAILED) {
        ::munmap(reserved, length);
        return false;
    }
    ::madvise(file, size, MADV_SEQUENTIAL);
    watch_for_lost_pages();
    u.buffer = static_cast<char*>(file);
    u.capacity = size;
    u.end = size;
    u.at_end = true;
    u.mapped = true;
    u.map_length = length;
    u.consumed = 0;
    u.passed_end = 0;
    return true;
}

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
    if (!u.buffer) {
        u.buffer = static_cast<char*>(std::malloc(initial_input_capacity + input_slack));
        if (!u.buffer) raise_system(ENOMEM, "OPEN", unit, std::string(name));
        u.capacity = initial_input_capacity;
        u.mapped = false;
    }
}

// Hands the mapped pages that lie wholly within [from, to) back to the system; they are
// read again from the page cache if the reader comes back to them.
void release_range(const in_unit& u, std::size_t from, std::size_t to) {
    const std::size_t page = page_size();
    from = (from + page - 1) / page * page;
    to = to / page * page;
    if (to > from) ::madvise(u.buffer + from, to - from, MADV_DONTNEED);
}

// The reader passed [from, u.begin). Each time it has passed a hand-back step, the pages it
// went through are handed back, except the window it is in.
void note_passed(in_unit& u, std::size_t from) {
    if (!u.mapped) return;
    u.consumed += u.begin > from ? u.begin - from : 0;
    if (u.consumed < release_step) return;
    release_range(u, u.passed_end, u.begin);
    u.passed_end = u.begin;
    u.consumed = 0;
}

// Makes room at the end of the buffer for more bytes of the record that starts at `begin`
// by dropping the bytes already consumed. Returns how far the kept bytes moved towards the
// front.
std::size_t make_room(in_unit& u) {
    if (u.end < u.capacity || u.begin == 0) return 0;
    const std::size_t shift = u.begin;
    std::memmove(u.buffer, u.buffer + shift, u.end - shift);
    u.buffer_offset += static_cast<std::int64_t>(shift);
    u.end -= shift;
    u.begin = 0;
    return shift;
}

// One read: a terminal gives what has been typed, so this never waits beyond one line.
void fill_buffer(in_unit& u) {
    const std::size_t room = u.capacity - u.end;
    ssize_t n;
    do {
        n = ::read(u.fd, u.buffer + u.end, room);
    } while (n < 0 && errno == EINTR);
    if (n < 0) raise_system(errno, "READ", u.unit, u.name, u.line + 1);
    if (n == 0) {
        u.at_end = true;
        return;
    }
    u.end += static_cast<std::size_t>(n);
}

// The record last read runs from `start` for `length` bytes before its line feed.
void note_cut(in_unit& u, std::int64_t start, std::size_t length) {
    u.cut_from = start + static_cast<std::int64_t>(std::min(length, max_record_bytes));
    u.cut_to = start + static_cast<std::int64_t>(length);
}

bool take_record(in_unit& u, std::size_t stop, std::size_t next, std::string_view& record) {
    record = std::string_view(u.buffer + u.begin, std::min(stop - u.begin, max_record_bytes));
    u.last_record_start = u.buffer_offset + static_cast<std::int64_t>(u.begin);
    note_cut(u, u.last_record_start, stop - u.begin);
    const std::size_t from = u.begin;
    u.begin = next;
    ++u.line;
    note_passed(u, from);
    return true;
}

// The line feed is looked for a window at a time, handing back the pages passed, so that
// a long line never stays in memory whole; its kept start is read again when used.
bool next_mapped_record(in_unit& u, std::string_view& record) {
    if (u.begin == u.end) return false;
    std::size_t passed = u.begin;
    for (std::size_t scan = u.begin; scan < u.end;) {
        const std::size_t count = std::min(u.end - scan, mapped_window_bytes);
        const void* found = std::memchr(u.buffer + scan, '\n', count);
        if (found) {
            const std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(found) - u.buffer);
            check_not_lost(u, stop + 1);
            return take_record(u, stop, stop + 1, record);
        }
        scan += count;
        if (scan - passed >= release_step) {
            release_range(u, passed, scan);
            passed = scan;
        }
    }
    check_not_lost(u, u.end);
    return take_record(u, u.end, u.end, record);
}

// Appends bytes of a long record to its kept start, up to max_record_bytes.
void keep_record_bytes(in_unit& u, const char* bytes, std::size_t count, std::size_t& kept) {
    const std::size_t taken = std::min(count, max_record_bytes - kept);
    std::memcpy(u.long_record + kept, bytes, taken);
    kept += taken;
}

// A record that fills the whole buffer without a line feed: its start is kept aside and
// the rest is read through the buffer and dropped, up to the line feed or the end of the
// source, so the memory used stays the same for any length of line.
void hold_long_record(in_unit& u) {
    if (u.long_record) return;
    u.long_record = static_cast<char*>(std::malloc(max_record_bytes + input_slack));
    if (!u.long_record) raise_system(ENOMEM, "READ", u.unit, u.name, u.line + 1);
}

bool take_long_record(in_unit& u, std::string_view& record) {
    hold_long_record(u);
    const std::int64_t start = u.buffer_offset + static_cast<std::int64_t>(u.begin);
    std::size_t kept = 0;
    std::int64_t record_end = start;
    for (;;) {
        const void* found = std::memchr(u.buffer + u.begin, '\n', u.end - u.begin);
        if (found) {
            const std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(found) - u.buffer);
            keep_record_bytes(u, u.buffer + u.begin, stop - u.begin, kept);
            record_end = u.buffer_offset + static_cast<std::int64_t>(stop);
            u.begin = stop + 1;
            break;
        }
        keep_record_bytes(u, u.buffer + u.begin, u.end - u.begin, kept);
        u.buffer_offset += static_cast<std::int64_t>(u.end);
        u.begin = 0;
        u.end = 0;
        record_end = u.buffer_offset;
        if (u.at_end) break;
        fill_buffer(u);
    }
    record = std::string_view(u.long_record, kept);
    u.last_record_start = start;
    note_cut(u, start, static_cast<std::size_t>(record_end - start));
    ++u.line;
    return true;
}

}  // namespace

int spool_file() {
    const char* directory = std::getenv("TMPDIR");
    if (!directory || *directory == '\0') directory = "/tmp";
    int fd;
    do {
        fd = ::open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void release_input(in_unit& u) {
    if (u.mapped) {
        forget_lost_pages(u);
        ::munmap(u.buffer, u.map_length);
    } else {
        std::free(u.buffer);
    }
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

// -------------------------------------------------------------------------------------------
// Input units

void open_input(in_unit& u, int unit, std::string_view name, input_access access) {
    if (u.fd >= 0) close_input(u);
    const std::string path(without_trailing_blanks(name));
    const int fd = open_retrying(path, O_RDONLY);
    if (fd < 0) raise_system(errno, "OPEN", unit, path);
    start_input(u, unit, fd, path, 0, access == input_access::mapped_when_possible);
    register_input(u);
}

void attach_standard_input(in_unit& u) {
    const off_t offset = ::lseek(0, 0, SEEK_CUR);
    start_input(u, terminal_unit, 0, "standard input", offset < 0 ? 0 : offset, false);
}

void close_input(in_unit& u) {
    if (u.fd < 0) return;
    const bool own_descriptor = u.unit != terminal_unit;
    const int error = own_descriptor ? close_descriptor(u.fd) : 0;
    unregister_input(u);
    release_input(u);
    if (error != 0) raise_system(error, "CLOSE", u.unit, u.name);
}

std::int64_t input_offset(const in_unit& u) { return u.buffer_offset + static_cast<std::int64_t>(u.begin); }

bool next_raw_record(in_unit& u, std::string_view& record) {
    if (u.fd < 0) return false;
    if (u.mapped) return next_mapped_record(u, record);
    std::size_t scan = u.begin;  // bytes before `scan` are known to hold no line feed
    for (;;) {
        if (scan < u.end) {
            const void* found = std::memchr(u.buffer + scan, '\n', u.end - scan);
            if (found) {
                const std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(found) - u.buffer);
                return take_record(u, stop, stop + 1, record);
            }
            scan = u.end;
        }
        if (u.at_end) {
            if (u.begin == u.end) return false;
            return take_record(u, u.end, u.end, record);
        }
        if (u.begin == 0 && u.end == u.capacity) return take_long_record(u, record);
        scan -= make_room(u);
        fill_buffer(u);
    }
}

bool next_record_piece(in_unit& u, std::string_view& piece) {
    if (u.fd < 0 || u.cut_from >= u.cut_to) return false;
    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(u.cut_to - u.cut_from, max_record_bytes));
    const auto from = static_cast<std::size_t>(u.cut_from);
    if (u.mapped) {
        // The piece before this one is handed back: a long line read in pieces never stays
        // in memory whole.
        release_range(u, from - max_record_bytes, from);
        check_not_lost(u, from + count);
        piece = std::string_view(u.buffer + from, count);
    } else {
        hold_long_record(u);
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::pread(u.fd, u.long_record + done, count - done, u.cut_from + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) raise_system(n < 0 ? errno : EIO, "READ", u.unit, u.name, u.line);
            done += static_cast<std::size_t>(n);
        }
        piece = std::string_view(u.long_record, count);
    }
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

void view_mapping(const in_unit& mapped, in_unit& view, std::int64_t offset, long line) {
    if (view.name != mapped.name) view.name = mapped.name;
    view.unit = mapped.unit;
    view.fd = mapped.fd;
    view.buffer = mapped.buffer;
    view.capacity = mapped.capacity;
    view.mapped = true;
    view.map_length = 0;  // not the view's to unmap
    view.end = mapped.end;
    view.at_end = true;
    view.buffer_offset = 0;
    view.begin = static_cast<std::size_t>(offset);
    view.passed_end = view.begin;
    view.consumed = 0;
    view.line = line - 1;
    view.last_record_start = -1;
    view.cut_from = view.cut_to = 0;
}

std::int64_t first_lost_offset(const in_unit& u) { return lost_offset(u); }

void hand_back(const in_unit& u, std::int64_t from, std::int64_t to) {
    if (u.mapped) release_range(u, static_cast<std::size_t>(from), static_cast<std::size_t>(to));
}

// The rest of a source that cannot be mapped is copied into a file of its own, which no
// directory names and which goes away with its descriptor, and that file is mapped: every
// reader then sees the records the same way, and may read them again.
void map_rest_of_input(in_unit& u) {
    if (u.fd < 0 || u.mapped) return;
    const int copy = spool_file();
    if (copy < 0) raise_system(errno, "READ", u.unit, u.name, u.line + 1);
    const auto fail = [&](int error) {
        close_descriptor(copy);
        raise_system(error, "READ", u.unit, u.name, u.line + 1);
    };
    for (;;) {
        const int error = write_all(copy, u.buffer + u.begin, u.end - u.begin);
        if (error != 0) fail(error);
        u.begin = u.end = 0;
        if (u.at_end) break;
        fill_buffer(u);
    }
    const bool own_descriptor = u.unit != terminal_unit;
    if (own_descriptor) close_descriptor(u.fd);
    std::free(u.buffer);
    u.buffer = nullptr;
    std::free(u.long_record);
    u.long_record = nullptr;
    u.fd = copy;
    u.buffer_offset = 0;
    u.begin = 0;
    u.end = 0;
    u.at_end = false;
    if (!map_whole_file(u, copy)) {
        // Nothing after the header: an empty source reads as one.
        u.buffer = static_cast<char*>(std::calloc(1, input_slack));
        if (!u.buffer) fail(ENOMEM);
        u.capacity = 0;
        u.at_end = true;
    }
}

}  // namespace textio
