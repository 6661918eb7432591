// What the formatted and free-form readers share: records fetched clean, values stored
// into items, and the failures that end a read.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "textio/items.hpp"
#include "textio/units.hpp"

namespace textio {

[[noreturn]] void raise_end_of_input(const in_unit& u);

// `field` counts the values of the read from 1; `text` is the value as typed.
[[noreturn]] void raise_illegal_character(const in_unit& u, long line, int field, std::string_view text);

// A value of a long record that runs on for more than a piece: it is not held.
[[noreturn]] void raise_value_too_long(const in_unit& u);

// How a TAB is cleaned: to blanks up to the next tab stop, where columns count (formatted
// fields), or to one blank, where it only separates values (free-form reads, which take
// no text values here), so that a line of TABs never grows eightfold in memory.
enum class tab_rule { to_tab_stop, one_blank };

// Next record with CRs dropped and TABs cleaned; the view points into the unit's buffer
// when the record has neither, into `scratch` otherwise.
bool load_record(in_unit& u, std::string& scratch, std::string_view& record, tab_rule tabs);

// The next piece of the part cut off a long record, cleaned as if it followed the record's
// first `column` characters (as cleaned); the view points into the unit's buffer or into
// `scratch`, as for load_record. `column` moves past it.
bool load_record_piece(in_unit& u, std::string& scratch, std::string_view& piece, std::size_t& column, tab_rule tabs);

// A number stored into an item of any type, converted to it; a character item is left alone.
void store_integer(const in_item& item, std::int32_t value);
void store_real(const in_item& item, float value);

// The variable takes the text from its first position; positions beyond it are blanks.
void store_text(const in_item& item, std::string_view text);

}  // namespace textio
