// Files known by unit number: input units read records in order (from the file mapped into
// memory, or through a buffer for what cannot be mapped), and a mapped input may be read
// anywhere through views of its own; output units collect records and write them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textio/limits.hpp"

namespace textio {

struct decompressor;
struct spooler;

// An input file (or standard input) read record by record.
struct in_unit {
    int unit = 0;  // terminal_unit for standard input
    int fd = -1;
    std::string name;        // file name for reports ("standard input" for the terminal)
    char* buffer = nullptr;  // a fixed window of the file that never grows, or the mapped file
    std::size_t capacity = 0;
    bool mapped = false;         // buffer is the whole file, mapped; nothing is read into it
    std::size_t map_length = 0;  // bytes of address space held by the mapping; 0 for a buffer or a view
    // The mapped pages from `passed_end` on are not handed back yet; `consumed` bytes were
    // passed since the last hand-back.
    std::size_t consumed = 0;
    std::size_t passed_end = 0;
    char* long_record = nullptr;          // the kept start of a record longer than the buffer
    std::size_t begin = 0;                // next unread byte
    std::size_t end = 0;                  // end of valid bytes
    std::int64_t buffer_offset = 0;       // file offset of buffer[0]
    std::int64_t last_record_start = -1;  // file offset of the record last read
    // The part of the record last read that was cut off it, [cut_from, cut_to) in the file,
    // read on in pieces when it is asked for; empty when the record was given whole.
    std::int64_t cut_from = 0;
    std::int64_t cut_to = 0;
    long line = 0;        // number of the record last read (1 for the first)
    bool at_end = false;  // the source has no more bytes to give
    // The thread that decompresses the file into the pipe `fd`, or none (decompression.cpp).
    decompressor* decoder = nullptr;
    // The thread that copies a source that cannot be mapped into the file now mapped, or none
    // (spooled_source.cpp).
    spooler* spool = nullptr;
};

// An output file or standard output.
struct out_unit {
    int unit = 0;  // terminal_unit for standard output
    int fd = -1;
    std::string name;
    std::string pending;       // bytes written by the program, not yet passed to the system
    std::int64_t written = 0;  // bytes the system took since the file was opened or emptied
    bool is_terminal = false;
    bool regular = false;         // a regular file, which may be emptied and cut back
    bool drops_refusals = false;  // a message stream: a write it refuses is dropped
    // A unit whose pending bytes are passed on before this unit's, so that two files
    // written together fill together on a disk that runs out of space.
    out_unit* flushed_first = nullptr;
};

// At start-up: standard input, output and error that are closed are opened on /dev/null,
// so that no file the run opens takes their descriptors. Output to a standard stream that
// was closed still fails (EBADF), as it would have.
void protect_standard_descriptors();

// open(2) with O_CLOEXEC and mode 0666 (before the umask), tried again after EINTR.
int open_retrying(const std::string& path, int flags);

// flock(LOCK_EX | LOCK_NB) on an open descriptor, tried again after EINTR: 0, or the
// error number (EWOULDBLOCK when another process holds the lock).
int lock_exclusively(int fd);

// Whether an open descriptor is a regular file (not a device, a pipe or a directory).
bool is_regular_file(int fd);

// How a regular file is read: mapped, where the system keeps it, or copied into a buffer
// (what cannot be mapped, such as a pipe, is always read into a buffer).
enum class input_access { mapped_when_possible, buffered };

// Whether a gzip, zstd or xz stream, known by its first bytes whatever the file's name, is
// decompressed as it is read, or read as the bytes it is.
enum class input_coding { as_is, decompress_when_compressed };

// Opens `name` for reading as `unit`; a refusal is a failure report OPEN(UNIT=unit). A file
// that is decompressed is read through a buffer, as a pipe is.
void open_input(in_unit& u, int unit, std::string_view name, input_access access = input_access::mapped_when_possible,
                input_coding coding = input_coding::as_is);
// Standard input as `unit`, named "standard input", through a descriptor of its own that
// closing the unit closes. Read from its start, it is mapped when it is a regular file.
void open_standard_input(in_unit& u, int unit, input_coding coding);
void attach_standard_input(in_unit& u);
void close_input(in_unit& u);

// Next record as raw bytes (line feed removed, nothing else changed, cut to
// max_record_bytes, the rest given by next_record_piece); the view stays valid until the
// next call on the unit. Returns false when the source has no more records. A last line
// without line feed is a record.
bool next_raw_record(in_unit& u, std::string_view& record);

// Whether the record last read was cut to max_record_bytes and has a part left to read.
inline bool record_goes_on(const in_unit& u) { return u.cut_from < u.cut_to; }

// The next piece, of at most max_record_bytes, of the part cut off the record last read
// (by next_raw_record); false when nothing of it is left. The reading position stays after
// the record. A source that cannot be read again (a pipe, the terminal) is a READ failure.
bool next_record_piece(in_unit& u, std::string_view& piece);

// Next record with every carriage return dropped and each TAB expanded to the next
// multiple of 8 columns. Returns false at the end of the source.
bool read_record(in_unit& u, std::string& record);

// File offset of the reading position.
std::int64_t input_offset(const in_unit& u);

// Drops every CR and expands TABs of a raw record, or of a piece of one that starts at
// column `column` of the record as cleaned.
void clean_record(std::string_view raw, std::string& record, std::size_t column = 0);

// A unit of its own over the mapping of `mapped`, positioned at `offset` (a line start,
// line number `line`). It owns nothing: `mapped` must stay open while it is read.
void view_mapping(const in_unit& mapped, in_unit& view, std::int64_t offset, long line);

// An input that cannot be mapped (a pipe, a device, a decompressed file) has the rest of its
// bytes copied, by a thread of its own, into memory that stays where it is as the copy
// grows: offset 0 is the old reading position, and the line count goes on. u.end and
// u.at_end tell what has been copied so far (await_input). What the reader keeps past
// `memory_limit` bytes is moved into a file that no directory names, read at the same
// addresses. A mapped input is left as it is.
void spool_rest_of_input(in_unit& u, std::size_t memory_limit = copy_memory_bytes);

// Waits until `want` bytes of an input being copied (spool_rest_of_input) can be read, or
// its source has ended, and makes them readable: u.end is how many can, and u.at_end says
// whether that is all. A failure of the source is raised here. For any other input, does
// nothing. Called on the thread that opened the unit, while no other reads it.
void await_input(in_unit& u, std::size_t want);

// Lets go of the bytes [from, to) of an input being copied: no reader comes back to them,
// and the copy no longer holds them. What lies between them and the bytes let go of before
// is kept. Called in file order, like await_input; does nothing for any other input.
void release_copied(in_unit& u, std::int64_t from, std::int64_t to);

// For an input being copied: the most bytes it kept at once for later searches, as
// release_copied found them, and how many of them were moved into its file; 0 for an
// input that is not copied.
std::int64_t most_bytes_kept_at_once(const in_unit& u);
std::int64_t bytes_kept_on_disk(const in_unit& u);

// The offset of the first page of a mapped input lost to another process cutting the file
// short while it is read, or -1. Bytes from there on read as zeros.
std::int64_t first_lost_offset(const in_unit& u);

// Hands the mapped pages wholly within [from, to) back to the system; a reader that comes
// back to them reads them again from the page cache.
void hand_back(const in_unit& u, std::int64_t from, std::int64_t to);

// Copies `count` bytes of the file from `offset` into `to`, past the mapping; how many it
// could (fewer at the file's end, 0 on a failure, from a source that cannot seek or from an
// input being copied).
std::size_t copy_bytes_at(const in_unit& u, std::int64_t offset, char* to, std::size_t count);

// Create or open `name` for writing, at its start, without emptying it; `created` tells
// which. A symbolic link to a file that does not exist is a dangling_link failure: nothing
// is created through it.
void open_output(out_unit& u, int unit, std::string_view name, bool* created = nullptr);

// open_output's rule on a path: the descriptor (O_WRONLY, O_CLOEXEC), or -1 with errno set;
// ENOENT for a symbolic link to a missing file.
int open_for_writing(const std::string& path, bool& created);

// Takes an exclusive advisory lock on an open regular file without waiting; false when
// another process holds one. Any other refusal is a failure report. A device is shared by
// nature (two runs may both write to /dev/null), so it is not locked.
bool lock_output(out_unit& u);

// Empties a regular file (a device is left as it is); the writing position stays at 0.
void empty_output(out_unit& u);

// The length the file will have once the pending bytes are written.
inline std::int64_t output_length(const out_unit& u) { return u.written + static_cast<std::int64_t>(u.pending.size()); }

// For the failure path, never raising: passes on the pending bytes that fall below
// `length`, then drops the rest.
void write_output_up_to(out_unit& u, std::int64_t length);

// Cuts a regular file back to `length` bytes (never raising); a device is left alone.
void cut_output(out_unit& u, std::int64_t length);
void attach_standard_output(out_unit& u);
// Standard error as an output unit: written at once, like the terminal.
void attach_standard_error(out_unit& u);
// Standard error for messages: a write it refuses (a full disk, a closed stream, a reader
// gone) is dropped, so that a message never changes how a run ends.
void attach_message_output(out_unit& u);
// An open descriptor (1 standard output, 2 standard error, any other) written at once;
// `name` is what reports call it.
void attach_stream_output(out_unit& u, int fd, std::string name);
// Whether descriptor 0, 1 or 2 was closed when the program started.
bool closed_at_start(int fd);
// Adds bytes; the terminal passes them on at once, files when enough have gathered.
void write_bytes(out_unit& u, std::string_view bytes);
void flush_output(out_unit& u);
void close_output(out_unit& u);

// Closes every open unit, writing pending output; used by the stop and by the failure
// report. Never raises a failure itself.
void close_all_units();

}  // namespace textio
