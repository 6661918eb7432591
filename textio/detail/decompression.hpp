// Compressed inputs: a gzip, zstd or xz stream, known by its first bytes, is decompressed on
// a thread of its own into a pipe, and the unit reads the pipe through its buffer as it reads
// any other pipe. What the thread met (a corrupt or truncated stream, a refused read) is
// raised on the reading thread when it reaches the end of the pipe.
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

}  // namespace textio
