// Held values: the dates and values of plain runs that the scan kept and that a later
// search will read, held on past their wave in about two and a half bytes a record instead
// of eight, so that a catalogue in another order than data.txt does not have them read
// again.
//
// A float is held as an integer N and a count of decimals d whose product with the nearest
// double to 10^-d, rounded to float, gives it back bit for bit (checked as it is held): a
// value as a 16-bit N, a date as the step of its N from the one before, which is the held
// run's base step plus 0 to 15. A record that does not fit starts a new held run; one that
// fits in no way ends the holding of its run, whose blocks are then read again.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "engine/block_table.hpp"

namespace engine {

// Records held one after the other in file order, with one count of decimals for their
// dates and one for their values.
struct held_run {
    std::int64_t ordinal = 0;
    std::int32_t count = 0;
    std::int32_t first_date = 0;           // N of the first record's date
    std::int32_t date_step = 0;            // the base step of the dates' N
    std::uint32_t first_step = 0;          // the place of its first record in `steps`
    const std::int16_t* values = nullptr;  // N of each value
    const std::uint8_t* steps = nullptr;   // of the dates past the base step, two a byte, low first
    std::uint8_t date_decimals = 0;
    std::uint8_t value_decimals = 0;
};

// Filled on the scanning thread between two reads of it; read by the threads that read the
// values of a batch, which never run while it is filled. What it points into lives as long
// as it does.
struct held_values {
    std::size_t budget = 0;     // bytes it may take, pages and runs
    std::deque<held_run> runs;  // in file order; a deque, so that growing never copies them
    // The first ordinal of each run, looked up first: a piece that is not held is told by
    // a search over 8 bytes a run that mostly stay in the cache, not over the runs.
    std::vector<std::int64_t> firsts;
    std::vector<std::unique_ptr<std::uint8_t[]>> pages;
    std::size_t page_size = 0;  // of the last page
    std::size_t page_used = 0;  // of the last page, from its start
    std::size_t taken = 0;      // bytes of all pages and runs
};

// The budget of the values held for a table of `stations`: the memory that each station
// asked for takes elsewhere comes out of it. An input being copied as it is read (`copied`)
// holds none: the copy keeps the text of the runs later searches read, in memory up to
// copy_memory_budget, and the two together would pass the memory a run may take.
std::size_t held_values_budget(std::size_t stations, bool copied);

// What the copy of an input read as it comes keeps in memory for later searches, for a
// table of `stations`; the rest goes into its file.
std::size_t copy_memory_budget(std::size_t stations);

// Holds the `count` records of a plain run from `ordinal` while there is room; false once a
// record could not be held (those before it are).
bool hold_run(held_values& held, std::int64_t ordinal, const float* dates, const float* values, std::int64_t count);

// Whether another run may still be held.
bool has_room(const held_values& held);

// A plain piece whose records are all held, appended; false, with nothing appended, when
// some are not.
bool take_held_values(const held_values& held, std::int64_t ordinal, std::int64_t count, std::vector<float>& dates,
                      std::vector<float>& values);

}  // namespace engine
