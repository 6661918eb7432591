#include "engine/observation_record.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "textio/convert.hpp"
#include "textio/items.hpp"
#include "textio/limits.hpp"
#include "textio/plain_number.hpp"
#include "textio/read.hpp"

namespace engine {
namespace {

using textio::plain_number;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The identifier: the nearest double to the text (at most 15 digits and a power of ten,
// both exact, so one division rounds correctly), truncated toward zero.
std::int32_t plain_identifier(const plain_number& n) {
    const double value = static_cast<double>(n.digits) / textio::exact_powers_of_ten[n.decimals];
    return textio::truncate_to_int32(n.negative ? -value : value);
}

// The common record: four plain numbers separated by blanks or tabs, the fourth ended by a
// blank, tab, comma, slash or the end of the line; a carriage return only at the very end.
// Whatever follows the fourth value is discarded, as the free-form rules discard it.
bool scan_plain_line(std::string_view line, plain_number fields[4]) {
    const char* p = line.data();
    const char* end = p + line.size();
    if (end > p && end[-1] == '\r') --end;
    for (int i = 0; i < 4; ++i) {
        while (p < end && is_blank(*p)) ++p;
        if (p == end || !textio::scan_plain_number(p, end, fields[i])) return false;
        if (p < end && !is_blank(*p) && !(i == 3 && (*p == ',' || *p == '/'))) return false;
    }
    return true;
}

// The line at `offset` and where the next starts; a line longer than a kept record is
// left to the general rules, which read it in pieces.
bool line_at(const textio::in_unit& data, std::int64_t offset, std::string_view& line, std::int64_t& next) {
    const char* first = data.buffer + offset;
    const std::size_t left = data.end - static_cast<std::size_t>(offset);
    const void* feed = std::memchr(first, '\n', std::min(left, textio::max_record_bytes + 1));
    if (!feed && left > textio::max_record_bytes) return false;
    const std::size_t length = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - first) : left;
    line = std::string_view(first, length);
    next = offset + static_cast<std::int64_t>(feed ? length + 1 : length);
    return true;
}

record_reading read_general(const textio::in_unit& data, std::int64_t offset, long line) {
    record_reading r;
    float second = 0.0f;
    const textio::in_item targets[] = {textio::target_identifier(r.given.id), textio::target_real(second),
                                       textio::target_real(r.given.date), textio::target_real(r.given.value)};
    textio::read_extent extent;
    r.is_end = textio::read_free_form_at(data, offset, line, targets, extent) == textio::read_outcome::end_of_file;
    r.mask = static_cast<std::uint8_t>(((extent.stored & 1u) ? given_id : 0) | ((extent.stored & 4u) ? given_date : 0) |
                                       ((extent.stored & 8u) ? given_value : 0));
    r.place = {offset, extent.end, extent.last_line_start, line, extent.last_line};
    if (r.place.last_line < line) r.place.last_line = line;  // nothing was there to read
    if (r.place.last_line_offset < offset) r.place.last_line_offset = offset;
    return r;
}

}  // namespace

record_reading read_record_at(const textio::in_unit& data, std::int64_t offset, long line) {
    std::string_view text;
    std::int64_t next = 0;
    plain_number fields[4];
    if (static_cast<std::size_t>(offset) < data.end && line_at(data, offset, text, next) &&
        scan_plain_line(text, fields)) {
        record_reading r;
        r.given = {plain_identifier(fields[0]), textio::plain_number_value(fields[2]),
                   textio::plain_number_value(fields[3])};
        r.mask = given_all;
        r.place = {offset, next, offset, line, line};
        return r;
    }
    return read_general(data, offset, line);
}

bool plain_line_id(std::string_view line, std::int32_t& id) {
    plain_number fields[4];
    if (line.size() > textio::max_record_bytes || !scan_plain_line(line, fields)) return false;
    id = plain_identifier(fields[0]);
    return true;
}

bool read_plain_values(const textio::in_unit& data, std::int64_t offset, float& date, float& value,
                       std::int64_t& next) {
    std::string_view text;
    plain_number fields[4];
    if (!line_at(data, offset, text, next) || !scan_plain_line(text, fields)) return false;
    date = textio::plain_number_value(fields[2]);
    value = textio::plain_number_value(fields[3]);
    return true;
}

}  // namespace engine
