// The records of data.txt judged a window at a time, for every station at once, so that the
// searches and blocks over a window are answered without looking at its bytes again. With a
// second thread, most of the next window is judged there while this one is searched.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/record_skim.hpp"
#include "engine/stations.hpp"
#include "textio/units.hpp"
#include "util/helper_thread.hpp"

namespace engine {

// The blocks where the next searches will land, foreseen through the block index, and the
// stretch of data.txt that holds them, judged.
struct landings {
    std::int32_t first_row = 0;  // the stations whose searches land there
    std::int32_t last_row = -1;
    std::int64_t offset = -1;
    std::string_view text;
    std::size_t split = 0;  // the helper judges the text before this, this thread from here
    judged_records judged;
};

struct window_judge {
    // The records of the last window judged, starting at file offset judged_offset; the
    // dates and values are kept for the stations searched.
    judged_records judged;
    judged_records judged_ahead;  // the part of a window judged on the helper
    judged_records judged_here;   // the part judged on this thread, to go after the helper's
    std::int64_t judged_offset = -1;
    std::size_t run_limit = SIZE_MAX;  // judging ends with the first record of this many runs
    // The stations whose dates and values are kept: those of the table from `near_first`
    // on, a stretch of the catalogue ahead of the search, sorted. Each judging takes the
    // set of its time, so the set may change while the helper judges.
    std::shared_ptr<const std::vector<std::int32_t>> searched_ids;
    std::int32_t near_first = -1;
    // How many: at first a number that covers the blocks of a window judged ahead unless
    // they are very short; each block that has to be judged again (its station lay beyond
    // them when it was judged) doubles it.
    std::int32_t near_count = 1024;
    // The window the helper judges ahead, up to `ahead_split`, while this thread goes on
    // with the window before; the part from the split on is judged here when it is reached.
    std::string_view ahead;
    std::int64_t ahead_offset = -1;
    std::size_t ahead_split = 0;
    // The share of a window judged ahead that is left to this thread, in percent: it also
    // searches the window before, so its share follows which of the two waits for the other.
    int ahead_share_here = 50;
    // The landings of the coming searches, judged on the helper while this thread searches
    // the stretch judged before; the stations whose landings are in `judged` now.
    landings coming;
    bool landings_on_helper = false;
    std::int32_t landed_last_row = -1;
    int landings_share_here = 20;  // percent of each stretch of landings judged here
    // Absent when the run has one thread. Last, so that it stops before what it judges into
    // goes away. The helper reads data.txt's mapping: the observations unit, and with it the
    // mapping, is closed only after the station pass, once this judge (and the helper) is
    // gone, so the mapping outlives every thread that reads it.
    std::unique_ptr<util::helper_thread> helper;
};

// Starts the helper when the run may use a second thread.
void prepare_judging(window_judge& r, bool second_thread);

// Keeps the dates and values of the stations near `row` in the table, from it on.
void keep_values_near(window_judge& r, const station_table& table, std::int32_t row);

// Judges again, from the window's start, the block of a station whose values were not kept
// when its records were judged (the station lay far ahead in the table then).
void judge_block_again(window_judge& r, const textio::record_window& w);

// The window at the reading position, and the index of its first record among the judged
// records: those judged before when the position is one of their record starts (and
// judging them did not end before a record that may be judged), else the window's own.
struct judged_view {
    textio::record_window window;
    std::size_t from = 0;
    std::size_t bytes = 0;  // judged bytes from the reading position on
};

// The window at the reading position of `unit`, with its records judged.
judged_view judged_window(textio::in_unit& unit, window_judge& r);

// Whether the helper is free to judge landings.
bool ready_for_landings(const window_judge& r);

// Has the helper judge the landings in `coming`.
void judge_landings(window_judge& r);

// Waits for the landings the helper judged and makes them the judged records, when the
// search for `row` lands among them; false when it does not.
bool take_landings(window_judge& r, std::int32_t row);

}  // namespace engine
