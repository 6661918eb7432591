// Compressed inputs: a gzip, zstd or xz stream, known by its first bytes, is decompressed on
// a thread of its own into a pipe, and the unit reads the pipe through its buffer as it reads
// any other pipe; once the unit is copied as it is read (spooled_source.cpp), the thread
// appends to the copy itself. What the thread met (a corrupt or truncated stream, a refused
// read) is raised on the reading thread when it reaches the end of the pipe or the copy.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "textio/units.hpp"

namespace textio {

enum class compression { none, gzip, zstd, xz };

// The most bytes compression_of looks at.
inline constexpr std::size_t magic_bytes = 6;

// The format that a stream starting with `first` is in (fewer than magic_bytes when the
// stream is shorter); `none` for anything else.
compression compression_of(std::string_view first);

// Starts a thread that reads the compressed `source` (whose bytes `first` were already
// read from it) and writes what it decodes into a new pipe, whose read end becomes u.fd.
// The unit owns `source` from here on. A refusal is an OPEN failure of the unit.
void start_decompression(in_unit& u, int source, std::string first, compression format);

// At the end of the pipe: waits for the thread, then raises what ended it, if anything
// did. Called on the reading thread only.
void finish_decompression(in_unit& u);

// Lets go of the thread and of `source`, never raising. The read end of the pipe must be
// closed first, so that a thread still writing stops.
void stop_decompression(in_unit& u);

// From here on the thread appends what it decodes to the unit's copy `s` itself
// (spooled_source.cpp), instead of writing it into the pipe for a copying thread to move:
// what the pipe holds is read into the copy first, on the calling thread, which waits for
// the thread to stop writing into it. A failure is kept in the copy for its reader.
void decode_into_copy(in_unit& u, spooler& s);

// Waits for the thread, never raising: once the copy it appends to is told to stop, and
// before that copy is let go of.
void join_decompression(in_unit& u) noexcept;

// The copy's side (spooled_source.cpp). append_to_copy adds bytes once its reader has room
// for them; false when the unit lets go of the copy, or it could not be written (the reader
// is told). room_in_copy is where the next `count` bytes may be written, once the reader has
// room for them, or null as append_to_copy is false; commit_to_copy adds those of them
// written, as append_to_copy. end_copy: the copy has all it will get, or ends with `error`.
// copy_stop_descriptor is readable once the copy is told to stop.
bool append_to_copy(spooler& s, const char* bytes, std::size_t count);
char* room_in_copy(spooler& s, std::size_t count);
bool commit_to_copy(spooler& s, std::size_t count);
void end_copy(spooler& s, int error = 0);
int copy_stop_descriptor(const spooler& s);

}  // namespace textio
