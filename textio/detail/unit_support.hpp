// What the files of the unit layer share and nothing else uses: the registry of open
// units, the lost-page watch of mapped inputs, and the failure report of a refused call.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textio/units.hpp"

namespace textio {

// Units opened by name, so that the stop and the failure report can close them; the
// terminal is never closed, so it is not listed. At most max_open_units of each at once.
void register_input(in_unit& u);
void unregister_input(const in_unit& u);
void register_output(out_unit& u);
void unregister_output(const out_unit& u);

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

// A new file for reading and writing that no directory names, in $TMPDIR (else /tmp):
// the descriptor, or -1 with errno set.
int spool_file();

// A mapped file cut short by another process while it is read (lost_pages.cpp): the
// handler is installed once, check_not_lost is a READ failure (EIO) when bytes before
// `offset` were lost, and forget_lost_pages is called before a mapping goes away.
void watch_for_lost_pages();
void check_not_lost(const in_unit& u, std::size_t offset);
// The offset in a mapped file of its first lost page, or -1.
std::int64_t lost_offset(const in_unit& u);
void forget_lost_pages(const in_unit& u);

// For close_all_units: passes on an output's pending bytes (0 or the error number), and
// lets go of an input's buffer or mapping.
int write_pending(out_unit& u);
void release_input(in_unit& u);

}  // namespace textio
