// Where the blocks of data.txt start, remembered while the file is read, so that a search
// after a rewind (or any search over records read before) can go straight to the block it
// wants instead of reading every record again. The index only describes records that were
// read in order, without a failure, from the first record up to `known_end`; it never
// guesses beyond that.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "textio/limits.hpp"

namespace engine {

using textio::default_block_index_cap;

// The start of a block: a plain record (four values written out) whose identifier differs
// from the record before it, or a barrier: the first of a run of records read by the
// general rules, whose identifiers the index does not know.
struct index_entry {
    std::int64_t offset = 0;
    long line = 0;  // the record's number in the file
    std::int32_t id = 0;
    bool barrier = false;
};

enum class last_record_kind { none, plain, general };

struct block_index {
    std::size_t cap = default_block_index_cap;
    bool started = false;
    bool full = false;           // the cap was reached: the index describes no more
    std::int64_t known_end = 0;  // every record from the first up to here is described
    std::int64_t first_offset = 0;
    std::int32_t last_id = 0;  // identifier of the record just before known_end
    last_record_kind last_kind = last_record_kind::none;
    // known_end is the end of the file, and the record before it starts here.
    bool reaches_end = false;
    std::int64_t final_record_offset = 0;
    long final_record_line = 0;
    std::vector<index_entry> entries;     // in offset order
    std::vector<std::uint32_t> barriers;  // entries that are barriers, in offset order
    // The block starts by identifier, then offset: sorted when a search first needs them.
    // Searches can jump only after a rewind, that is once the whole file was read, so the
    // entries rarely grow after that and the sort is made about once.
    std::vector<std::uint32_t> by_id;
};

// The index starts at the first record of the file, at `offset`.
void start_index(block_index& x, std::int64_t offset);

// A plain record read at `offset`, record number `line`. Every plain record may be passed,
// but passing only the first of a run with one identifier is enough.
void note_plain_record(block_index& x, std::int64_t offset, long line, std::int32_t id);

// A record read by the general rules (its first line at `offset`).
void note_general_record(block_index& x, std::int64_t offset, long line);

// Records from `begin` to `end` were read in order, each passed to the two functions above
// as they require.
void note_reached(block_index& x, std::int64_t begin, std::int64_t end);

// The end of the file was met at `at`, right after the record at `last_record_offset`,
// record number `line`.
void note_end_of_file(block_index& x, std::int64_t at, std::int64_t last_record_offset, long line);

// A place to go on reading from.
struct index_jump {
    bool jump = false;
    std::int64_t offset = 0;
    long line = 0;  // number of the record at `offset`
};

// Where a forward search for `wanted` from the record at `at` may go on reading with the
// same result as reading every record from `at`: the first block of `wanted` after `at`,
// or the last block start before the first stretch the index cannot answer for (the last
// record, when that stretch is the end of the file). No jump
// when the record at `at` is itself undescribed or `wanted`'s.
index_jump jump_for(block_index& x, std::int64_t at, std::int32_t wanted);

// The offset of the first entry after `offset` (known_end when there is none): where a
// block that starts at `offset` ends.
std::int64_t next_entry_after(const block_index& x, std::int64_t offset);

}  // namespace engine
