// The values: the dates and monthly values of the blocks the searches found, read again
// from the mapped data.txt. Each station's block is read on its own, so stations are read
// on several threads at once.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/block_search.hpp"
#include "engine/block_table.hpp"
#include "engine/held_values.hpp"
#include "textio/units.hpp"

namespace engine {

// The bytes of data.txt a reader went through, to be handed back together: a hand-back
// costs every thread a pause, so it is made once for many blocks.
struct byte_range {
    std::int64_t from = INT64_MAX;
    std::int64_t to = 0;
};

// What one reading thread keeps from block to block: the bytes it read through the mapping,
// to be handed back together, where it read last, and its copy of a block read from one.
struct value_reader {
    byte_range mapped;
    std::int64_t last_end = -1;  // after the block it read last, either way
    std::vector<char> copy;
};

// The block's dates and values in file order, taken from what the scan kept or held where
// it can (`kept` and `held` may be null). A page of data.txt lost since the table was built throws
// textio::io_failure.
void read_block_values(const textio::in_unit& data, const block_table& t, const std::vector<block_piece>& pieces,
                       std::vector<float>& dates, std::vector<float>& values, value_reader& reader,
                       const kept_wave* kept = nullptr, const held_values* held = nullptr);

}  // namespace engine
