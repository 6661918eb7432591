// The block table: where the records of data.txt lie, found in one pass over the file
// whatever the question, so that the searches for the stations of the table can be worked
// out without reading the file again.
//
// The records are numbered in file order from 0 (their ordinal). A block is a run of
// records with one identifier. Most records give all their values on one line; those that
// leave a value empty (it keeps the value of the record read before), or span lines, are
// kept apart as special records, because what they hold depends on the way a search came
// to them. A search that ends a block on a record spanning lines goes on from that
// record's last line: what the records read from there hold is kept as alternate records.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "textio/limits.hpp"

namespace engine {

// The values an empty field of the next record takes: those of the record read last.
struct carried_values {
    std::int32_t id = 0;
    float date = 0.0f;
    float value = 0.0f;
};

// Which of a record's values it writes out; the others were left empty.
inline constexpr std::uint8_t given_id = 1;
inline constexpr std::uint8_t given_date = 2;
inline constexpr std::uint8_t given_value = 4;
inline constexpr std::uint8_t given_all = 7;

inline carried_values merged(const carried_values& carried, const carried_values& given, std::uint8_t mask) {
    return {(mask & given_id) ? given.id : carried.id, (mask & given_date) ? given.date : carried.date,
            (mask & given_value) ? given.value : carried.value};
}

// A run of records of one station, in 16 bytes. A run longer than a count holds is kept
// as several entries that follow each other.
struct block_entry {
    std::uint64_t ordinal : 40;  // of its first record
    std::uint64_t count : 23;
    // Every record of the run gave its four values as plain numbers on its line: the
    // values can be read again without checking the record's form.
    std::uint64_t plain : 1;
    std::int64_t offset = 0;  // where its first record starts
};
inline constexpr std::uint64_t block_count_limit = (std::uint64_t{1} << 23) - 1;
inline constexpr std::uint64_t block_ordinal_limit = (std::uint64_t{1} << 40) - 1;

// How a reading ends: the file's end (perhaps after a record cut short, whose given
// values are kept), or a record that cannot be read.
enum class reading_end : std::uint8_t { end_of_file, failure };

// Where a record lies and what it gives.
struct record_place {
    std::int64_t offset = 0;
    std::int64_t end = 0;  // after its last line
    std::int64_t last_line_offset = 0;
    long line = 0;
    long last_line = 0;
    bool spans_lines() const { return last_line != line; }
};

// Where a reading goes on: an alternate record, or the file-order record of an ordinal
// (record_count: where the file-order reading meets its end). Neither: nowhere yet.
struct reading_step {
    std::int32_t alternate = -1;
    std::int64_t ordinal = -1;
};

struct special_record {
    std::int64_t ordinal = 0;
    record_place place;
    carried_values given;
    std::uint8_t mask = 0;
    // What the record read before it leaves, read in file order from the first record
    // with nothing carried (all zeros): the reading of the first pass.
    carried_values carried_in;
    reading_step from_last_line;  // when it spans lines
};

// A record read from a line where a record of the file-order reading does not start.
struct alternate_record {
    record_place place;
    carried_values given;
    std::uint8_t mask = 0;
    bool is_end = false;  // no record: the reading ends here (`end` tells how)
    reading_end end = reading_end::end_of_file;
    std::int32_t failure = -1;  // which, when it ends on a record that cannot be read
    reading_step next;
    reading_step from_last_line;  // when it spans lines
};

// Dates and values read while the records were checked, appended in file order, up to
// textio::kept_values_bytes. The room is taken whole, and left unset, when the first is
// kept: appending is in the scan's inner loop.
struct kept_dates_and_values {
    static constexpr std::size_t room = textio::kept_values_bytes / (2 * sizeof(float));
    std::unique_ptr<float[]> dates;
    std::unique_ptr<float[]> values;
    std::size_t count = 0;

    bool full() const { return count >= room; }
    void make_room() {
        if (dates) return;
        dates.reset(new float[room]);
        values.reset(new float[room]);
    }
    // After make_room, while not full.
    void add(float date, float value) {
        dates[count] = date;
        values[count] = value;
        ++count;
    }
};

// Records of a plain run whose dates and values the scan kept.
struct kept_run {
    std::int64_t ordinal = 0;
    std::int64_t count = 0;
    std::int32_t station = 0;  // the identifier's place among those asked for
    const float* dates = nullptr;
    const float* values = nullptr;
};

// Whether the runs from `run` on (kept or held, in file order) hold every record from
// `ordinal` to `ordinal + count`, one run after the other.
template <class Run>
bool runs_hold(Run run, Run end, std::int64_t ordinal, std::int64_t count) {
    const std::int64_t past = ordinal + count;
    for (std::int64_t at = ordinal; at < past; ++run) {
        if (run == end || run->ordinal > at || run->ordinal + run->count <= at) return false;
        at = std::min(past, run->ordinal + run->count);
    }
    return true;
}

// What the scan of the chunks last put in the table kept of their plain runs, in file
// order, so that the blocks found there are not read again. Dropped once the next chunks
// are scanned, after the work beside them has held what later searches read.
struct kept_wave {
    std::vector<kept_run> runs;
    std::vector<kept_dates_and_values> storage;  // what the runs point into
};

struct block_table {
    std::int64_t first_offset = 0;  // of the first record, after the header
    long first_line = 0;
    std::int64_t record_count = 0;  // records read in file order before the end
    // How the file-order reading ends, and the values given by a record cut short there.
    reading_end end = reading_end::end_of_file;
    std::int32_t end_failure = -1;
    carried_values end_given;
    std::uint8_t end_mask = 0;
    carried_values final_carried;           // what the file-order reading leaves at the end
    std::int64_t longest_plain_record = 0;  // bytes, its line feed included
    // The stations asked for, sorted, and their runs: those of ids[i] are
    // station_blocks[i], in file order.
    std::vector<std::int32_t> ids;
    std::vector<std::vector<block_entry>> station_blocks;
    std::vector<special_record> specials;  // in file order
    std::vector<long> lines_before;        // lines_before[k]: lines the first k specials span beyond one each
    std::vector<alternate_record> alternates;
    // While the scan goes on, the table holds the records read so far (record_count of
    // them), without the end and the alternate readings: what lies beyond is not known.
    bool complete = false;
};

// The special record of an ordinal, or null.
const special_record* special_at(const block_table& t, std::int64_t ordinal);

// The line of the record of an ordinal.
long line_of(const block_table& t, std::int64_t ordinal);

}  // namespace engine
