// The short route for the common record: four plain numbers (textio/plain_number.hpp) at
// the start of a line, separated by blanks or tabs, the fourth ended by a blank, a tab, a
// comma, a slash or the line's end. The free-form rules give the same values for such a
// record; every other record is read by them.
#pragma once
#include <cstdint>

#include "engine/block_table.hpp"
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

// Bytes of data.txt in memory, offsets counted from `base`: the mapping of the file, or a
// copy of part of it. At least 64 bytes past the last may be loaded; what they hold does
// not matter.
struct text_bytes {
    const char* base = nullptr;
    std::size_t size = 0;
};
inline text_bytes bytes_of(const textio::in_unit& data) { return {data.buffer, data.end}; }

// The dates and values of `count` records from `offset` that were all found plain before,
// read without checking their form again; where the record after them starts. Should the
// bytes have changed since, it still stays within the mapping and moves on, but the values
// mean nothing: the caller looks for lost pages after it.
std::int64_t read_known_plain_run(text_bytes data, std::int64_t offset, std::int64_t count, float* dates,
                                  float* values);

// One such record, by blocks: false when its third and fourth values do not both lie in
// its first 64 bytes with at most 8 whole and 8 fraction digits each.
bool known_plain_values_by_blocks(text_bytes data, std::int64_t offset, float& date, float& value, std::int64_t& next);

// Passes the plain records from `offset` that start before `limit`, end by `last_end`, and
// whose identifier is written as the `text_length` bytes at `text_at` (its text up to and
// with the blank after it, below 32 bytes); how many, where the last starts, and `longest`
// grown to the longest of them. Their dates and values are appended to `kept` when it is
// not null, until it holds textio::kept_values_bytes. By blocks only, where blocks_supported: with none passed, the caller reads the
// record on its own.
std::int64_t pass_plain_records_written_as(const textio::in_unit& data, std::int64_t& offset, std::int64_t limit,
                                           std::int64_t last_end, std::int64_t text_at, std::size_t text_length,
                                           std::int64_t& last_start, std::int64_t& longest,
                                           kept_dates_and_values* kept = nullptr);

// By blocks where it can, else character by character.
bool plain_record(const textio::in_unit& data, std::int64_t offset, textio::plain_number fields[4], unsigned convert,
                  std::int64_t& next);

// The identifier of a plain value: the nearest double, truncated toward zero.
std::int32_t plain_identifier(const textio::plain_number& n);

}  // namespace engine
