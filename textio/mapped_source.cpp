// Reading a mapped file: records found where the system keeps the file, the pages passed
// handed back, and views that read the mapping of another unit.
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "textio/detail/unit_support.hpp"

namespace textio {
namespace {

// Hands the mapped pages that lie wholly within [from, to) back to the system; they are
// read again from the page cache if the reader comes back to them. The pages of a copy held
// in memory have no other place: they are given back only when let go of (release_copied).
void release_range(const in_unit& u, std::size_t from, std::size_t to) {
    if (u.spool) to = std::min(to, copy_on_disk_below(*u.spool));
    const std::size_t page = page_size();
    from = (from + page - 1) / page * page;
    to = to / page * page;
    if (to > from) ::madvise(u.buffer + from, to - from, MADV_DONTNEED);
}

// The reader passed [from, u.begin). Each time it has passed a hand-back step, the pages it
// went through are handed back, except the window it is in.
void note_passed(in_unit& u, std::size_t from) {
    u.consumed += u.begin > from ? u.begin - from : 0;
    if (u.consumed < release_step) return;
    release_range(u, u.passed_end, u.begin);
    u.passed_end = u.begin;
    u.consumed = 0;
}

bool take_mapped_record(in_unit& u, std::size_t stop, std::size_t next, std::string_view& record) {
    const std::size_t from = u.begin;
    take_record(u, stop, next, record);
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
            return take_mapped_record(u, stop, stop + 1, record);
        }
        scan += count;
        if (scan - passed >= release_step) {
            release_range(u, passed, scan);
            passed = scan;
        }
    }
    check_not_lost(u, u.end);
    return take_mapped_record(u, u.end, u.end, record);
}

std::string_view mapped_piece(in_unit& u, std::size_t count) {
    const auto from = static_cast<std::size_t>(u.cut_from);
    // The piece before this one is handed back: a long line read in pieces never stays
    // in memory whole.
    release_range(u, from - max_record_bytes, from);
    check_not_lost(u, from + count);
    return std::string_view(u.buffer + from, count);
}

void unmap(in_unit& u) {
    forget_lost_pages(u);
    ::munmap(u.buffer, u.map_length);
}

}  // namespace

constinit const input_source mapped_source = {
    .next_record = next_mapped_record,
    .next_piece = mapped_piece,
    .hand_back = release_range,
    .first_lost = lost_offset,
    .release = unmap,
};

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

// The view reads the mapping and moves only its own position, so each thread may read
// through a view of its own while the others read theirs. The mapping outlives every view:
// it goes away only when `mapped` is closed, after its readers are done.
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
    view.spool = mapped.spool;  // the copy's, never the view's to stop
}

}  // namespace textio
