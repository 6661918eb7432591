// Reading through a buffer, for what cannot be mapped (a pipe, a device, the terminal) or
// is asked to be read so: a fixed window refilled by read(2), the start of a record longer
// than the window kept aside, and the part cut off a record read again by pread. The rest
// of a source read whole is copied and mapped by spooled_source.cpp.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "textio/detail/decompression.hpp"
#include "textio/detail/unit_support.hpp"
#include "textio/failure.hpp"

namespace textio {
namespace {

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

// One read: a terminal gives what has been typed, so this never waits beyond one line. The
// end of a decompressed file is where a stream that cannot be decoded is reported.
void fill_buffer(in_unit& u) {
    const std::size_t room = u.capacity - u.end;
    ssize_t n;
    do {
        n = ::read(u.fd, u.buffer + u.end, room);
    } while (n < 0 && errno == EINTR);
    if (n < 0) raise_system(errno, "READ", u.unit, u.name, u.line + 1);
    if (n == 0) {
        finish_decompression(u);
        u.at_end = true;
        return;
    }
    u.end += static_cast<std::size_t>(n);
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

bool next_buffered_record(in_unit& u, std::string_view& record) {
    std::size_t scan = u.begin;  // bytes before `scan` are known to hold no line feed
    for (;;) {
        if (scan < u.end) {
            const void* found = std::memchr(u.buffer + scan, '\n', u.end - scan);
            if (found) {
                const std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(found) - u.buffer);
                take_record(u, stop, stop + 1, record);
                return true;
            }
            scan = u.end;
        }
        if (u.at_end) {
            if (u.begin == u.end) return false;
            take_record(u, u.end, u.end, record);
            return true;
        }
        if (u.begin == 0 && u.end == u.capacity) return take_long_record(u, record);
        scan -= make_room(u);
        fill_buffer(u);
    }
}

// The bytes cut off are read again where they lie in the file, into the long record's
// space; a source that cannot be read again fails here.
std::string_view buffered_piece(in_unit& u, std::size_t count) {
    hold_long_record(u);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(u.fd, u.long_record + done, count - done, u.cut_from + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) raise_system(n < 0 ? errno : EIO, "READ", u.unit, u.name, u.line);
        done += static_cast<std::size_t>(n);
    }
    return std::string_view(u.long_record, count);
}

// A buffer holds no mapped pages to hand back, and a file cut short while it is read
// through one only ends sooner.
void keep_pages(const in_unit&, std::size_t, std::size_t) {}
std::int64_t nothing_lost(const in_unit&) { return -1; }

void free_buffer(in_unit& u) { std::free(u.buffer); }

}  // namespace

constinit const input_source buffered_source = {
    .next_record = next_buffered_record,
    .next_piece = buffered_piece,
    .hand_back = keep_pages,
    .first_lost = nothing_lost,
    .release = free_buffer,
};

// A fixed window of the file that never grows; input_slack bytes past it stay readable.
void allocate_buffer(in_unit& u) {
    u.buffer = static_cast<char*>(std::malloc(initial_input_capacity + input_slack));
    if (!u.buffer) raise_system(ENOMEM, "OPEN", u.unit, u.name);
    u.capacity = initial_input_capacity;
    u.mapped = false;
}

}  // namespace textio
