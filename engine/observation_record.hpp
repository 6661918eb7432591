// One observation record of data.txt read where it lies: the identifier, a second number,
// the decimal date and the monthly value, by the free-form rules. This is where the block
// table and the values read the file's bytes.
#pragma once
#include <cstdint>
#include <string_view>

#include "engine/block_table.hpp"
#include "textio/units.hpp"

namespace engine {

struct record_reading {
    record_place place;
    carried_values given;
    std::uint8_t mask = 0;  // given_id, given_date, given_value
    // The file ended before the four values: no record, though the values given before
    // the end are kept (they are carried into the next search's first record).
    bool is_end = false;
};

// Reads the record that starts at `offset`, line number `line`, of the mapped data.txt.
// A record that cannot be read throws textio::io_failure, as the sequential reading would
// have reported it there. Safe on several threads at once.
record_reading read_record_at(const textio::in_unit& data, std::int64_t offset, long line);

// Whether the record at `offset` gives its four values on its line, by the short route for
// plain numbers, with its identifier and where the next record starts. A record that does
// not is read by read_record_at.
bool plain_record_id(const textio::in_unit& data, std::int64_t offset, std::int32_t& id, std::int64_t& next);

// The same, without converting any value.
bool plain_record_checked(const textio::in_unit& data, std::int64_t offset, std::int64_t& next);

// The same, for a record known to start at `offset`: its date and value.
bool read_plain_values(const textio::in_unit& data, std::int64_t offset, float& date, float& value, std::int64_t& next);

}  // namespace engine
