#include "engine/observation_record.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/plain_record.hpp"
#include "textio/convert.hpp"
#include "textio/items.hpp"
#include "textio/limits.hpp"
#include "textio/plain_number.hpp"
#include "textio/read.hpp"

namespace engine {
namespace {

using textio::plain_number;

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
    std::int64_t next = 0;
    plain_number fields[4];
    if (static_cast<std::size_t>(offset) < data.end &&
        plain_record(data, offset, fields, convert_id | convert_date_and_value, next)) {
        record_reading r;
        r.given = {plain_identifier(fields[0]), textio::plain_number_value(fields[2]),
                   textio::plain_number_value(fields[3])};
        r.mask = given_all;
        r.place = {offset, next, offset, line, line};
        return r;
    }
    return read_general(data, offset, line);
}

bool plain_record_id(const textio::in_unit& data, std::int64_t offset, std::int32_t& id, std::int64_t& next) {
    plain_number fields[4];
    if (!plain_record(data, offset, fields, convert_id, next)) return false;
    id = plain_identifier(fields[0]);
    return true;
}

bool plain_record_checked(const textio::in_unit& data, std::int64_t offset, std::int64_t& next) {
    plain_number fields[4];
    return plain_record(data, offset, fields, 0, next);
}

bool read_plain_values(const textio::in_unit& data, std::int64_t offset, float& date, float& value,
                       std::int64_t& next) {
    plain_number fields[4];
    if (!plain_record(data, offset, fields, convert_date_and_value, next)) return false;
    date = textio::plain_number_value(fields[2]);
    value = textio::plain_number_value(fields[3]);
    return true;
}

}  // namespace engine
