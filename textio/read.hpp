// The record readers: every answer typed at the terminal and every record of the input
// files is read here.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "textio/format.hpp"
#include "textio/items.hpp"
#include "textio/units.hpp"

namespace textio {

enum class read_outcome { ok, end_of_file };

// Reads one record (more where the list has /) and fills the items by the list's
// a, iw and fw.d descriptors. End of input and bad numbers are fatal.
void read_formatted(in_unit& source, const format_list& list, std::span<const in_item> items);

// Fills the items from as many records as needed. With end_of_file_allowed the end of
// the source gives read_outcome::end_of_file (items filled before keep their values);
// without it the end is fatal.
read_outcome read_free_form(in_unit& source, std::span<const in_item> items, bool end_of_file_allowed);

// Where a free-form read of a mapped input ended, and which items it stored a value in
// (bit i for item i; an item left empty, or after a slash or the end, keeps its value).
struct read_extent {
    std::int64_t end = 0;              // offset after the last line it took
    std::int64_t last_line_start = 0;  // where that line starts
    long last_line = 0;                // and its number
    std::uint32_t stored = 0;
};

// read_free_form with end of file allowed, of the record at `offset` (a line start, line
// number `line`) of a mapped input, without moving the unit: threads may read at once.
read_outcome read_free_form_at(const in_unit& mapped, std::int64_t offset, long line, std::span<const in_item> items,
                               read_extent& extent);

// Decimal text (already checked, blanks removed) to the nearest double, then to float.
float decimal_to_float(std::string_view text);

}  // namespace textio
