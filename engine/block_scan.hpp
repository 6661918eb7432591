// The block table built in one pass over data.txt, in chunks that both cores scan at once.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/block_table.hpp"
#include "engine/held_values.hpp"
#include "textio/failure.hpp"
#include "textio/units.hpp"

namespace engine {

struct scanned_archive {
    block_table table;
    // The records that could not be read, as the sequential reading reports them; the
    // table refers to them by index.
    std::vector<textio::io_failure> failures;
    bool stopped = false;  // a stop signal came before the scan was done
    kept_wave kept;        // while the listener is told about a wave
    held_values held;      // of the kept values, those a later search reads
};

// Work left by the listener to be done beside the next wave's scan, by the scanning thread
// while the others scan (and in any case before the listener is told again).
using side_work = std::function<void()>;

// Told about the table as it grows: after each wave of chunks is put in it, while their
// pages are still mapped, and once more when it is complete. Called on the scanning thread,
// between the waves' parallel scans. It answers whether it took any block found so far:
// while it takes none (its next station lies further on, or needs the whole file), the
// scan keeps no values for it. It may leave work in `beside`.
using table_listener = std::function<bool(const scanned_archive&, side_work& beside)>;

// Whether a later search may read the runs of the station at this place among those asked
// for: an input copied as it is read keeps only those.
using station_filter = std::function<bool(std::int32_t)>;

// Scans the mapped data.txt from `first_offset` (the first record, line `first_line`) to
// its end, or to the first record that cannot be read, into `out`, waiting for the bytes of
// an input still being copied (textio::spool_rest_of_input) as it goes, keeping the runs of the
// stations in `wanted` (sorted, without repeats). `chunk_bytes` is how much each scan takes
// at a time. The stop flag is looked at after each chunk is put in the table; a stop ends
// the scan without telling the listener.
void scan_blocks(textio::in_unit& data, std::int64_t first_offset, long first_line,
                 const std::vector<std::int32_t>& wanted, std::int64_t chunk_bytes, scanned_archive& out,
                 const table_listener& grown = {}, const station_filter& may_read = {});

}  // namespace engine
