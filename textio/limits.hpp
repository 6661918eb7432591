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

// A reader's scratch text is kept between reads up to this size; one grown past it for a
// long record is given back after the read.
inline constexpr std::size_t kept_scratch_bytes = 64 * 1024;

// Readable bytes that every input buffer keeps beyond its valid end, so that a scanner
// may load whole 64-byte blocks near the end (the extra bytes are not data).
inline constexpr std::size_t input_slack = 64;

// ---- Input units

// The buffer of a source that cannot be mapped (a pipe, a device).
inline constexpr std::size_t initial_input_capacity = 256 * 1024;
// A line end is looked for this much at a time, and the pages a reader went through are
// handed back to the system each time it has passed `release_step`, so that what the file
// occupies in memory stays the same for any size of file or line.
inline constexpr std::size_t mapped_window_bytes = 4 * 1024 * 1024;
inline constexpr std::size_t release_step = 4 * 1024 * 1024;
// Units opened by name at once, of each direction: enough for the selections below, within
// the 1,024 open files a process is usually allowed.
inline constexpr int max_open_units = 512;
// Selections of one pass (--selections): each keeps its series, coordinates and report
// units open until the pass ends. A grid of 10-degree cells over the land, or every
// country's box, is one pass.
inline constexpr int max_selections = max_open_units / 3;

// ---- Compressed input

// A gzip member, zstd frame or xz stream whose decoder would need more memory than this is
// refused: 2^28 bytes, the largest zstd window accepted.
inline constexpr std::uint64_t max_decoder_memory = std::uint64_t{256} * 1024 * 1024;
inline constexpr int max_decoder_window_log = 28;
// The decompressing thread reads this much compressed input at a time, and passes on what
// it decoded this much at a time, through a pipe.
inline constexpr std::size_t compressed_read_bytes = 256 * 1024;
inline constexpr std::size_t decompressed_write_bytes = 256 * 1024;
// A pipe the program reads from (the decompressing thread's, or a FIFO or standard input
// that is a pipe) is asked to hold this much, so that its writer runs further ahead between
// two reads; the system's default is 64 KiB.
inline constexpr std::size_t pipe_buffer_bytes = 1024 * 1024;
// What cannot be mapped is copied into memory by a thread that reads this much at a time,
// into address space reserved for at most this many bytes and made writable this far ahead
// of the copy at a time.
inline constexpr std::size_t spool_read_bytes = 1024 * 1024;
inline constexpr std::size_t spool_writable_step = 2 * 1024 * 1024;
inline constexpr std::size_t spool_reserved_bytes = std::size_t{1} << 40;
// The copy runs at most this far ahead of what its reader asked for. The pages of a stretch
// of it let go of, at least `recycled_bytes` long, are used again for what comes next, while
// the copy has less than `recycled_room` made writable ahead of it: more than a wave of the
// scan and a step of the room, so that the wave let go of is taken whenever the copy asks.
inline constexpr std::size_t spool_ahead_bytes = 8 * 1024 * 1024;
inline constexpr std::size_t recycled_bytes = 256 * 1024;
inline constexpr std::size_t recycled_room = 8 * 1024 * 1024;
// What the copy keeps for later searches stays in memory up to this many bytes, less
// `station_bytes_elsewhere` for each station asked for; the rest is moved into a file.
inline constexpr std::size_t copy_memory_bytes = 16 * 1024 * 1024;

// ---- Output

// An output unit, and the CSV file, pass their bytes to the system this much at a time.
inline constexpr std::size_t output_flush_size = 64 * 1024;
inline constexpr std::size_t csv_write_threshold = 64 * 1024;

// ---- Stations and blocks

// The station table's nominal capacity (it grows past it) and a block's (likewise).
inline constexpr std::size_t max_stations = 40000;
inline constexpr std::size_t max_block_records = 3600;

// ---- The block table and the values

// data.txt is scanned this much at a time, on every thread at once; the pages of a chunk
// are handed back once it is scanned.
inline constexpr std::int64_t scan_chunk_bytes = 1024 * 1024;
// Chunks scanned before they are put together in order: what their scans hold at once. Their
// pages stay mapped until the blocks found in them are read.
inline constexpr std::size_t scan_wave = 4;
// A chunk's scan keeps the dates and values of the table's plain runs up to this many bytes
// (8 a record); the blocks past it are read again.
inline constexpr std::size_t kept_values_bytes = 2 * 1024 * 1024;
// The dates and values kept by the scan of the plain runs that later searches will read
// are held on, in about 2.5 bytes a record, taken a page at a time, up to this many bytes
// less `station_bytes_elsewhere` for each station asked for (what the catalogue, the tables
// and the sinks take for it, measured on 200,000 stations); the blocks past it are read
// again. An input copied as it is read holds none: its copy keeps their text in memory
// (copy_memory_bytes), and both would pass the memory a run may take.
inline constexpr std::size_t held_values_bytes = 36 * 1024 * 1024;
inline constexpr std::size_t held_page_bytes = 1024 * 1024;
inline constexpr std::size_t station_bytes_elsewhere = 128;
// The stations whose blocks are read at once: at most this many, holding about this many
// records (8 bytes each). The pages they read stay mapped until the batch is done.
inline constexpr std::int64_t batch_records = 1 << 19;
inline constexpr std::int32_t batch_stations = 256;

// A block of plain records that surely lies within this many bytes is copied from the file
// to be read, not read through the mapping (its records' count times the longest).
inline constexpr std::int64_t copied_piece_bytes = 1 << 20;
// unless it starts within this many bytes after the blocks read before it by the same
// thread: the system maps the pages of a file around the one read, about this many.
inline constexpr std::int64_t nearby_block_bytes = 64 * 1024;

// A record read by the short route lies on a line of at most this many bytes; a longer line
// is read by the general rules, a piece at a time.
inline constexpr std::size_t plain_line_reach = 64 * 1024;

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
static_assert(mapped_window_bytes >= max_record_bytes, "a window holds any kept record whole");
static_assert(release_step >= mapped_window_bytes, "the window being read is never handed back");
static_assert(static_cast<std::size_t>(scan_chunk_bytes) <= release_step, "a scanned chunk is handed back whole");
static_assert((std::uint64_t{1} << max_decoder_window_log) == max_decoder_memory, "the zstd limit is the limit");
static_assert(held_page_bytes <= held_values_bytes && held_page_bytes % 2 == 0, "values are held in pages");
static_assert(scan_wave >= 2, "a wave keeps both cores busy");
static_assert(plain_line_reach <= max_record_bytes, "a plain record is a kept record");
static_assert(wake_batch <= most_waiting, "the writer is woken before the pass must wait");
static_assert(initial_input_capacity + pipe_buffer_bytes + decompressed_write_bytes < spool_ahead_bytes,
              "a decompressed input handed over to its copy never waits for the copy's reader");

}  // namespace textio
