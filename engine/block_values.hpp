// The values: the dates and monthly values of the blocks the searches found, read again
// from the mapped data.txt. Each station's block is read on its own, so stations are read
// on several threads at once.
#pragma once
#include <vector>

#include "engine/block_search.hpp"
#include "engine/block_table.hpp"
#include "textio/units.hpp"

namespace engine {

// The block's dates and values in file order. A page of data.txt lost since the table was
// built throws textio::io_failure.
void read_block_values(const textio::in_unit& data, const block_table& t, const std::vector<block_piece>& pieces,
                       std::vector<float>& dates, std::vector<float>& values);

}  // namespace engine
