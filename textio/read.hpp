// The record readers: every answer typed at the terminal and every record of the input
// files is read here.
#pragma once
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

// Decimal text (already checked, blanks removed) to the nearest double, then to float.
float decimal_to_float(std::string_view text);

}  // namespace textio
