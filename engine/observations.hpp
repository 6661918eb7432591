// The observation reader: finds one station's block of records in data.txt at a time, by
// a forward scan with a rewind to the top when the station is not met before the end.
// Stretches read before are not read again where the block index can answer for them.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/block_index.hpp"
#include "engine/judged_windows.hpp"
#include "engine/record_skim.hpp"
#include "engine/stations.hpp"
#include "textio/limits.hpp"

namespace engine {

enum class block_outcome {
    ended_by_record,   // a record of another station ends the block; the next search starts there
    ended_by_eof,      // the block ran to the end of the file
    missing_reported,  // not found from here to the end nor from the top: the station is missing
    no_block,          // not found, without a report: every station of the table was found already
};

// One observation record: identifier, second number, decimal date and monthly value.
struct observation_record {
    std::int32_t id = 0;
    float second = 0.0f;
    float date = 0.0f;
    float value = 0.0f;
};

struct observation_reader {
    std::vector<float> block_dates;   // the current station's decimal dates, in file order
    std::vector<float> block_values;  // its monthly values, index for index
    std::int32_t block_count = 0;
    bool block_found = false;
    std::int32_t found_count = 0;
    std::int32_t rewind_count = 0;
    // The values of the last record read: an empty field of the next record keeps its
    // value.
    observation_record last_record;
    // Where the blocks read so far start, for the searches over them again.
    block_index index;
    std::vector<record_start> starts;  // scratch for the record judge
    // The next station of the table whose landing is to be foreseen (-1: none), and where
    // its search will start.
    std::int32_t chain_row = -1;
    std::int64_t chain_from = -1;
    // data.txt judged a window at a time, for every station at once.
    window_judge judging;
};

// Prepares the reader for the searches of the table's qualifying stations.
void prepare_reader(observation_reader& r, bool second_thread);

using textio::max_block_records;

// Collects the block of the station in `row` into the reader, searching data.txt forward
// from where the last search stopped, then once from the top.
block_outcome collect_station_block(observation_reader& r, station_table& table, std::int32_t row,
                                    textio::in_unit& observations);

// Once data.txt has been read to its end, most searches land on their block through the
// block index: while the stations are screened, the helper judges the blocks where the
// next searches will land.
void judge_coming_landings(observation_reader& r, const station_table& table, std::int32_t row,
                           const textio::in_unit& observations);

// Reads one observation record. Returns false at the end of the file. Values left empty
// keep those of the previous record.
bool read_observation(textio::in_unit& unit, observation_record& record);

}  // namespace engine
