// Every size limit of the program in one place: what memory each part may hold, how much it
// reads or writes at a time, and how many of a thing it keeps. The relations that the code
// relies on between them are checked below.
#pragma once
#include <cstddef>
#include <cstdint>

namespace textio {

// ---- Records and values

// A record is kept up to this many bytes; the rest of a longer line is read and dropped,
// so that memory does not follow the length of a line (a header line needs 88 characters,
// a record its first four values).
inline constexpr std::size_t max_record_bytes = 4 * 1024 * 1024;

// The longest value a free-form read takes, wherever it lies on its line: 4,194,304 bytes.
// One byte more is a READ failure (EOVERFLOW), so that memory never follows a value.
inline constexpr std::size_t max_value_bytes = max_record_bytes;

// Readable bytes that every input buffer keeps beyond its valid end, so that a scanner
// may load whole 64-byte blocks near the end (the extra bytes are not data).
inline constexpr std::size_t input_slack = 64;

// ---- Input units

// The buffer of a source that cannot be mapped (a pipe, a device).
inline constexpr std::size_t initial_input_capacity = 256 * 1024;
// The first read, or window, after a seek: a search that jumps to a block often needs only
// that block, and a mapped window's end is looked for at its far end, a page the reading
// may never come to.
inline constexpr std::size_t read_after_seek = 64 * 1024;
// A mapped file is handed to the reader this much at a time, and the pages the reader went
// through are handed back to the system each time it has passed this much, so that what
// the file occupies in memory stays the same for any size of file or line.
inline constexpr std::size_t mapped_window_bytes = 4 * 1024 * 1024;
inline constexpr std::size_t release_step = 8 * 1024 * 1024;
// The system maps the pages around a page read in blocks of up to this much.
inline constexpr std::size_t mapped_around_bytes = 64 * 1024;
// Units opened by name at once, of each direction.
inline constexpr int max_open_units = 64;

// ---- Output

// An output unit, and the CSV file, pass their bytes to the system this much at a time.
inline constexpr std::size_t output_flush_size = 64 * 1024;
inline constexpr std::size_t csv_write_threshold = 64 * 1024;

// ---- Stations and blocks

// The station table's nominal capacity (it grows past it) and a block's (likewise).
inline constexpr std::size_t max_stations = 40000;
inline constexpr std::size_t max_block_records = 3600;
// The most blocks (and runs of records not read as plain records) the block index keeps;
// past it the search reads on, as without an index.
inline constexpr std::size_t default_block_index_cap = 1'000'000;

// ---- Reading ahead on the second core

// Windows at least this long are judged in two parts on two threads.
inline constexpr std::size_t split_window_bytes = 256 * 1024;
// A batch of landings: as many stations as lie in this many bytes of data.txt, and not
// more than that many stations.
inline constexpr std::int64_t landing_batch_bytes = 2 * 1024 * 1024;
inline constexpr std::int32_t landing_batch = 256;
// The blocks of a batch lie close together: judging the stretch that holds them judges at
// most this much of other stations' blocks besides. Blocks that lie apart (a catalogue in
// no order of data.txt's) come one to a batch.
inline constexpr std::int64_t landing_batch_gap = 64 * 1024;
// The records are read where the system keeps the file, straight from memory: asking for
// the bytes this far ahead keeps the reading from waiting on each one.
inline constexpr std::size_t prefetch_distance = 4096;

// ---- Writer threads

// Stations waiting for a sink on its own thread at most: a bound on memory when it is
// slower than the station pass.
inline constexpr std::size_t most_waiting = 256;
// The writer is woken for this many stations at a time, not for each: a wake-up costs
// more than formatting a station's rows.
inline constexpr std::size_t wake_batch = 32;

// ---- How they fit together

static_assert(input_slack >= 64, "a scanner loads whole 64-byte blocks");
static_assert(max_value_bytes <= max_record_bytes, "a value is joined from pieces of a record");
static_assert(read_after_seek <= initial_input_capacity, "the first read after a seek fits the buffer");
static_assert(mapped_window_bytes >= max_record_bytes, "a window holds any kept record whole");
static_assert(release_step >= mapped_window_bytes, "the window being read is never handed back");
static_assert(mapped_around_bytes <= release_step, "a jump counts less than a hand-back step");
static_assert(split_window_bytes < mapped_window_bytes, "a whole window is split between the threads");
static_assert(landing_batch_gap < landing_batch_bytes, "a batch holds blocks that lie close together");
static_assert(static_cast<std::size_t>(landing_batch_bytes) <= mapped_window_bytes,
              "a batch of landings is judged as one window");
static_assert(prefetch_distance < split_window_bytes, "the prefetch stays within the window judged");
static_assert(wake_batch <= most_waiting, "the writer is woken before the pass must wait");

}  // namespace textio
