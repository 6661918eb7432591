// The short route for the common record: four plain numbers (textio/plain_number.hpp) at
// the start of a line, separated by blanks or tabs, the fourth ended by a blank, a tab, a
// comma, a slash or the line's end. The free-form rules give the same values for such a
// record; every other record is read by them.
#pragma once
#include <cstdint>

#include "textio/plain_number.hpp"
#include "textio/units.hpp"

namespace engine {

// Which of the four values a route converts; each checks all four.
enum plain_conversion : unsigned { convert_id = 1, convert_date_and_value = 2 };

// The record at `offset` of the mapped data.txt, when it is plain: the values asked for,
// and where the next record starts. The two ways give the same answers; by blocks of 64
// character classes at once answers only when it is sure (false otherwise), and only on a
// processor with the instructions for it (blocks_supported).
bool plain_record_by_characters(const textio::in_unit& data, std::int64_t offset, textio::plain_number fields[4],
                                std::int64_t& next);
bool plain_record_by_blocks(const textio::in_unit& data, std::int64_t offset, textio::plain_number fields[4],
                            unsigned convert, std::int64_t& next);
bool blocks_supported();

// The date and value of a record found plain before, read without checking its form again,
// and where the next record starts; by blocks answers only when the third and fourth
// values start within the record's first 64 bytes.
bool known_plain_values_by_blocks(const textio::in_unit& data, std::int64_t offset, float& date, float& value,
                                  std::int64_t& next);

// By blocks where it can, else character by character.
bool plain_record(const textio::in_unit& data, std::int64_t offset, textio::plain_number fields[4], unsigned convert,
                  std::int64_t& next);

// The identifier of a plain value: the nearest double, truncated toward zero.
std::int32_t plain_identifier(const textio::plain_number& n);

}  // namespace engine
