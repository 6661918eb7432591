// The reader's three stages run in-process on a data.txt, and what the general free-form
// reader reads from the same file record by record, for the tests that compare them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/block_scan.hpp"
#include "engine/block_search.hpp"

namespace support {

// data.txt's text: 111 header lines, then `lines`.
std::string observations_text(const std::vector<std::string>& lines);

struct staged_station {
    engine::search_outcome outcome = engine::search_outcome::missing_reported;
    std::vector<float> dates;
    std::vector<float> values;
};

struct staged_run {
    engine::scanned_archive archive;
    std::vector<staged_station> stations;  // in table order, up to a search that fails
    std::string failure;                   // the failure's message and line, when one does
    // The stations whose values, where the table found the records plain, differ when read
    // with every record's form checked, or from a copy of the block.
    std::string unchecked_differs;
};

// Opens data.txt at `path`, passes its header and runs the stages for the stations in
// `table_ids` (table order), scanning `chunk_bytes` at a time.
staged_run run_stages(const std::string& path, const std::vector<std::int32_t>& table_ids, std::int64_t chunk_bytes);

// The table as text, every field of it: two tables are the same when their texts are.
std::string describe(const engine::block_table& t);

// What differs between a table of `path` and the records the general free-form reader
// reads in order from the first record, with empty values keeping the previous record's:
// the count, the end, the runs of the table's stations, the lines and the records that
// span lines, and what each special record carries and gives. Empty when nothing does.
std::string table_against_reading(const engine::block_table& t, const std::string& path);

}  // namespace support
