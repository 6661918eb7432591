// What the files of the unit layer share and nothing else uses: the registry of open
// units, the two sources an input unit is read from, the lost-page watch of mapped inputs,
// and the failure report of a refused call.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textio/units.hpp"

namespace textio {

// What reading an input unit asks of the source of its bytes: a mapped file, read where
// the system keeps it (mapped_source.cpp), or a buffer filled by read(2), for what cannot
// be mapped (buffered_source.cpp). The functions keep no state of their own, only the
// unit's, so that views of one mapping may be read on several threads at once.
struct input_source {
    // The next record, as next_raw_record gives it; false at the end of the source.
    bool (*next_record)(in_unit& u, std::string_view& record);
    // `count` bytes of the record last read, from u.cut_from on.
    std::string_view (*next_piece)(in_unit& u, std::size_t count);
    // Gives the pages wholly within [from, to) back to the system, where there are any.
    void (*hand_back)(const in_unit& u, std::size_t from, std::size_t to);
    // The offset of the first page lost to the file being cut short, or -1.
    std::int64_t (*first_lost)(const in_unit& u);
    // Lets go of the mapping or the buffer; the descriptor is the caller's.
    void (*release)(in_unit& u);
};

extern const input_source mapped_source;
extern const input_source buffered_source;

// The one place where the kind of a unit's source is chosen.
inline const input_source& source_of(const in_unit& u) { return u.mapped ? mapped_source : buffered_source; }

// Maps a regular file whole for `u` to read; false, with `u` unchanged, when it cannot be
// mapped.
bool map_whole_file(in_unit& u, int fd);

// Gives `u` a buffer of initial_input_capacity; a refusal is an OPEN failure.
void allocate_buffer(in_unit& u);

// Takes the bytes [u.begin, stop) as the record read, cut to max_record_bytes, and moves
// the reading position to `next`.
void take_record(in_unit& u, std::size_t stop, std::size_t next, std::string_view& record);

// The record last read runs from `start` for `length` bytes before its line feed.
void note_cut(in_unit& u, std::int64_t start, std::size_t length);

// Units opened by name, so that the stop and the failure report can close them; the
// terminal is never closed, so it is not listed. At most max_open_units of each at once.
void register_input(in_unit& u);
void unregister_input(const in_unit& u);
void register_output(out_unit& u);
void unregister_output(const out_unit& u);

// For an input copied as it is read (spooled_source.cpp): below this offset, every byte the
// copy keeps lies in its file, so its pages may be handed back; above it, the copy's only
// place is memory. Read on any thread.
std::size_t copy_on_disk_below(const spooler& s);

// Whether an open mapped input holds `address`. Called from the SIGBUS handler: it reads
// the registry only.
bool within_a_mapped_input(std::uintptr_t address);

// A failure report of `operation` on `unit` refused by the system with `error`.
[[noreturn]] void raise_system(int error, const char* operation, int unit, const std::string& name, long line = 0);

// File names come from fixed-length fields: their trailing blanks are not part of the name.
std::string_view without_trailing_blanks(std::string_view name);

// close(2), not retried after EINTR (on Linux the descriptor is released either way): 0 or
// the error number.
int close_descriptor(int fd);

std::size_t page_size();

// Writes every byte, or returns the error number; `done` counts the bytes taken either way.
int write_all(int fd, const char* bytes, std::size_t count, std::size_t& done);
int write_all(int fd, const char* bytes, std::size_t count);

// A mapped file cut short by another process while it is read (lost_pages.cpp): the
// handler is installed once, check_not_lost is a READ failure (EIO) when bytes before
// `offset` were lost, and forget_lost_pages is called before a mapping goes away.
void watch_for_lost_pages();
void check_not_lost(const in_unit& u, std::size_t offset);
// The offset in a mapped file of its first lost page, or -1 (mapped_source's first_lost).
std::int64_t lost_offset(const in_unit& u);
void forget_lost_pages(const in_unit& u);

// Stops the thread that copies an input's source (spooled_source.cpp) and lets go of the
// source, never raising; before the copy, the unit's descriptor, is closed.
void stop_spool(in_unit& u) noexcept;

// For close_all_units: passes on an output's pending bytes (0 or the error number), and
// lets go of an input's buffer or mapping.
int write_pending(out_unit& u);
void release_input(in_unit& u);

}  // namespace textio
