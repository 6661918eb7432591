// The searches: which block each station's search finds, worked out from the block table
// alone. A search reads forward from where the last one stopped and, when it meets the end
// of the file without finding its station, once more from the top; a station not found
// then is reported missing. Nothing here reads the file.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/block_table.hpp"

namespace engine {

enum class search_outcome : std::uint8_t {
    ended_by_record,   // a record of another station ends the block; the next search starts there
    ended_by_end,      // the block runs to the end of the file
    missing_reported,  // not found from here to the end nor from the top
    failed,            // the search reads a record that cannot be read
};

// Part of a block: `count` records read in order from the one at `offset` (its ordinal
// given), with `values` carried into the first; or, when `offset` is -1, one record whose
// values are `values`.
struct block_piece {
    std::int64_t offset = -1;
    std::int64_t ordinal = 0;
    std::int64_t count = 0;
    carried_values values;
    bool plain = false;  // every record of it gives four plain numbers on its line
};

struct station_search {
    search_outcome outcome = search_outcome::missing_reported;
    std::int32_t failure = -1;  // for `failed`: which of the table's failures
    std::vector<block_piece> pieces;
};

// Where the reading stands between searches, and the counts the searches share.
struct search_state {
    enum class place : std::uint8_t { record, alternate, past_end };
    place at = place::record;
    std::int64_t ordinal = 0;     // at a record
    std::int64_t offset = -1;     // of that record, when known
    std::int32_t alternate = -1;  // at an alternate record
    // Whether the values carried in are those of the file-order reading there; else they
    // are `carried`.
    bool in_step = true;
    carried_values carried;
    std::int32_t found_count = 0;
    std::int32_t rewind_count = 0;
    std::int64_t rewinds = 0;
};

// The search for station `id`, the next of a table of `qualifying` stations, from `state`,
// in a complete table.
station_search search_station(const block_table& t, search_state& state, std::int32_t id, std::int32_t qualifying);

// The same while the table is still growing: false, with `state` as it was, when the
// records scanned so far do not tell the search's outcome.
bool try_search_station(const block_table& t, search_state& state, std::int32_t id, std::int32_t qualifying,
                        station_search& out);

}  // namespace engine
