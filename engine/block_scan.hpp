// The block table built in one pass over data.txt, in chunks that both cores scan at once.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/block_table.hpp"
#include "textio/failure.hpp"
#include "textio/units.hpp"

namespace engine {

struct scanned_archive {
    block_table table;
    // The records that could not be read, as the sequential reading reports them; the
    // table refers to them by index.
    std::vector<textio::io_failure> failures;
    bool stopped = false;  // a stop signal came before the scan was done
};

// Scans the mapped data.txt from `first_offset` (the first record, line `first_line`) to
// its end, or to the first record that cannot be read, keeping the runs of the stations
// in `wanted` (sorted, without repeats). `chunk_bytes` is how much each scan takes at a
// time. The stop flag is looked at after each chunk is put in the table.
scanned_archive scan_blocks(const textio::in_unit& data, std::int64_t first_offset, long first_line,
                            const std::vector<std::int32_t>& wanted, std::int64_t chunk_bytes);

}  // namespace engine
