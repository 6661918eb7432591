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
    u.window_reach = mapped_window_bytes;
    u.touched_low = 0;
    u.touched_high = 0;
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
    u.after_seek = false;
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

// The reader passed [from, u.begin). Once it has passed a hand-back step of records,
// wherever they lay (a search may jump back and forth; each jump, but not a seek back to a
// record just passed, counts as a block of pages mapped), every page it may have touched since the
// last hand-back is handed back: those of the records, and of the window after each.
void note_passed(in_unit& u, std::size_t from) {
    if (!u.mapped) return;
    u.touched_low = std::min(u.touched_low, from);
    u.touched_high = std::max(u.touched_high, std::min(u.end, u.begin + mapped_window_bytes));
    u.consumed += u.begin > from ? u.begin - from : 0;
    // The system maps the pages around a page read in blocks of up to this much.
    const bool jumped = from > u.passed_end || from + mapped_around_bytes < u.passed_end;
    if (jumped) u.consumed += mapped_around_bytes;
    u.passed_end = u.begin;
    if (u.consumed < release_step) return;
    // The window after the reading position is kept: it is being read (and the next one may
    // be read ahead of it on another thread).
    const std::size_t kept_end = std::min(u.end, u.begin + mapped_window_bytes);
    release_range(u, u.touched_low, std::min(u.touched_high, u.begin));
    release_range(u, std::max(u.touched_low, kept_end), u.touched_high);
    u.touched_low = u.begin;
    u.touched_high = u.begin;
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
    const std::size_t room = u.after_seek ? std::min(u.capacity - u.end, read_after_seek) : u.capacity - u.end;
    u.after_seek = false;
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

// Moves the reading position to file offset `target`: inside the buffer when the bytes
// are still there, by seeking otherwise.
void reposition(in_unit& u, std::int64_t target, const char* operation) {
    const std::int64_t buffered_end = u.buffer_offset + static_cast<std::int64_t>(u.end);
    if (target >= u.buffer_offset && target <= buffered_end) {
        u.begin = static_cast<std::size_t>(target - u.buffer_offset);
        return;
    }
    if (::lseek(u.fd, static_cast<off_t>(target), SEEK_SET) < 0) raise_system(errno, operation, u.unit, u.name, u.line);
    u.buffer_offset = target;
    u.begin = 0;
    u.end = 0;
    u.at_end = false;
    u.after_seek = true;
}

}  // namespace

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

std::string_view mapped_window_at(const in_unit& u, std::int64_t offset) {
    if (!u.mapped || offset < 0 || static_cast<std::size_t>(offset) >= u.end) return {};
    const char* first = u.buffer + offset;
    const std::size_t available = u.end - static_cast<std::size_t>(offset);
    const void* last_line_feed = ::memrchr(first, '\n', std::min(available, u.window_reach));
    if (!last_line_feed) return {};
    return {first, static_cast<std::size_t>(static_cast<const char*>(last_line_feed) - first) + 1};
}

std::string_view mapped_records_through(const in_unit& u, std::int64_t offset, std::int64_t last) {
    if (!u.mapped || offset < 0 || last < offset || static_cast<std::size_t>(last) >= u.end) return {};
    const auto length = static_cast<std::size_t>(last - offset);
    if (length >= mapped_window_bytes) return {};
    const char* first = u.buffer + offset;
    const void* line_feed = std::memchr(
        first + length, '\n', std::min(u.end - static_cast<std::size_t>(offset), mapped_window_bytes) - length);
    if (!line_feed) return {};
    return {first, static_cast<std::size_t>(static_cast<const char*>(line_feed) - first) + 1};
}

record_window mapped_records_here(const in_unit& u, std::size_t bytes) {
    if (!u.mapped || bytes > u.end - u.begin) return {};
    // Records judged from lost pages are never passed: judging stops at the zeros.
    check_not_lost(u, u.begin + std::min<std::size_t>(bytes, 1));
    return {{u.buffer + u.begin, bytes}, input_offset(u), u.line};
}

record_window next_record_window(in_unit& u) {
    if (!u.mapped) return next_window(u);
    return mapped_records_here(u, mapped_records_through(u, input_offset(u), input_offset(u)).size());
}

void expect_window_through(in_unit& u, std::int64_t last) {
    if (u.mapped) u.window_last = last;
}

record_window next_window(in_unit& u) {
    if (u.fd < 0) return {};
    if (u.mapped) {
        std::string_view bytes;
        if (u.window_last >= input_offset(u)) bytes = mapped_records_through(u, input_offset(u), u.window_last);
        u.window_last = -1;
        if (bytes.empty()) bytes = mapped_window_at(u, input_offset(u));
        u.window_reach = std::min(2 * u.window_reach, mapped_window_bytes);
        return mapped_records_here(u, bytes.size());
    }
    for (;;) {
        const char* first = u.buffer + u.begin;
        const void* last_line_feed = ::memrchr(first, '\n', u.end - u.begin);
        const std::size_t whole =
            last_line_feed ? static_cast<std::size_t>(static_cast<const char*>(last_line_feed) - first) + 1 : 0;
        if (whole > 0 || u.at_end || (u.begin == 0 && u.end == u.capacity))
            return {{first, whole}, input_offset(u), u.line};
        make_room(u);
        fill_buffer(u);
    }
}

void pass_window_records(in_unit& u, const record_window& w, std::size_t bytes, long records,
                         std::size_t last_record_offset) {
    u.last_record_start = w.offset + static_cast<std::int64_t>(last_record_offset);
    u.cut_from = u.cut_to = 0;
    const std::size_t from = u.begin;
    u.begin += bytes;
    u.line += records;
    note_passed(u, from);
}

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

void rewind_input(in_unit& u) {
    if (u.fd < 0) return;
    if (u.buffer_offset == 0) {
        u.begin = 0;  // the start of the file is still in the buffer
    } else {
        reposition(u, 0, "REWIND");
    }
    u.line = 0;
    u.last_record_start = -1;
    u.cut_from = u.cut_to = 0;
    u.window_last = -1;
}

void seek_record(in_unit& u, std::int64_t offset, long line) {
    if (u.fd < 0) return;
    reposition(u, offset, "READ");
    u.cut_from = u.cut_to = 0;
    u.window_reach = read_after_seek;
    u.window_last = -1;
    u.line = line - 1;
    u.last_record_start = -1;
}

}  // namespace textio
