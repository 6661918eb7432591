#include "engine/observations.hpp"

#include <cstring>
#include <string_view>

#include "textio/failure.hpp"
#include "textio/read.hpp"
#include "textio/terminal.hpp"
#include "util/convert.hpp"

namespace engine {
namespace {

const textio::format_list missing_station = textio::parse_format("(1x,'**station data missing** ',i8)");
const textio::format_list fraction_text = textio::parse_format("(f5.3)");

constexpr const char* month_texts[12] = {"0.042", "0.125", "0.208", "0.292", "0.375", "0.458",
                                         "0.542", "0.625", "0.708", "0.792", "0.875", "0.958"};

constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A plain decimal number: optional sign, digits, optional point and digits. Anything else
// (exponents, commas, slashes, repeat counts, quotes, inf/nan) is left to the general
// free-form reader. The value is the nearest double rounded to float: with at most 15
// significant digits and 22 decimals both the digits and the power of ten are exact
// doubles, so one division rounds correctly.
bool parse_plain_number(const char*& p, const char* end, float& out) {
    const char* s = p;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) negative = (*s++ == '-');
    std::uint64_t digits = 0;
    int significant = 0, decimals = 0, count = 0;
    bool after_point = false;
    for (; s < end; ++s) {
        const char c = *s;
        if (c >= '0' && c <= '9') {
            ++count;
            if (significant > 0 || c != '0') {
                if (++significant > 15) return false;
                digits = digits * 10 + static_cast<unsigned>(c - '0');
            }
            if (after_point) ++decimals;
        } else if (c == '.' && !after_point) {
            after_point = true;
        } else {
            break;
        }
    }
    if (count == 0 || decimals > 22) return false;
    if (s < end && !is_blank(*s) && *s != '\r') return false;
    double value = static_cast<double>(digits) / exact_powers_of_ten[decimals];
    out = static_cast<float>(negative ? -value : value);
    p = s;
    return true;
}

// The common record: four plain numbers separated by blanks or tabs, a carriage return
// only at the very end, and anything after the fourth value.
bool parse_plain_record(std::string_view record, float values[4]) {
    const char* p = record.data();
    const char* end = p + record.size();
    if (end > p && end[-1] == '\r') --end;
    if (std::memchr(p, '\r', static_cast<std::size_t>(end - p))) return false;
    float parsed[4];
    for (float& v : parsed) {
        while (p < end && is_blank(*p)) ++p;
        if (p == end || !parse_plain_number(p, end, v)) return false;
    }
    std::memcpy(values, parsed, sizeof parsed);
    return true;
}

void skip_header(textio::in_unit& unit) {
    std::string_view record;
    for (int i = 0; i < observations_header_lines; ++i)
        if (!textio::next_raw_record(unit, record))
            textio::raise_failure({textio::failure_kind::end_of_file, "READ", unit.unit, 0, unit.name.c_str(),
                                   unit.line + 1});
}

void store_record(observation_reader& r, float date, float value) {
    if (r.block_dates.capacity() < max_block_records) {
        r.block_dates.reserve(max_block_records);
        r.block_values.reserve(max_block_records);
    }
    r.block_dates.push_back(date);
    r.block_values.push_back(value);
    ++r.block_count;
}

}  // namespace

observation_reader& reader() {
    static observation_reader state;
    return state;
}

void start_observation_search() {
    reader().found_count = 0;
    reader().rewind_count = 0;
}

bool read_observation(textio::in_unit& unit, float values[4]) {
    std::string_view record;
    for (;;) {
        if (!textio::next_raw_record(unit, record)) return false;
        if (parse_plain_record(record, values)) return true;
        // Not the plain layout: read it again by the full free-form rules.
        textio::step_back_record(unit);
        const textio::in_item targets[] = {textio::target_real(values[0]), textio::target_real(values[1]),
                                           textio::target_real(values[2]), textio::target_real(values[3])};
        return textio::read_free_form(unit, targets, true) == textio::read_outcome::ok;
    }
}

block_outcome collect_station_block(station_table& table, std::int32_t row, app::run_files& files) {
    observation_reader& r = reader();
    textio::in_unit& unit = files.observations;
    static float values[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    r.block_count = 0;
    r.block_found = false;
    r.block_dates.clear();
    r.block_values.clear();
    const std::int32_t wanted = table.station_id[row];
    for (;;) {
        while (read_observation(unit, values)) {
            if (util::truncate_to_int32(values[0]) != wanted) {
                if (r.block_found) return block_outcome::ended_by_record;
                continue;
            }
            const std::int32_t year = util::truncate_to_int32(values[2]);
            if (!r.block_found) {
                table.first_year[row] = year;
                r.block_found = true;
                ++r.found_count;
                r.rewind_count = 0;
            }
            table.last_year[row] = year;
            store_record(r, values[2], values[3]);
        }
        if (r.block_found) return block_outcome::ended_by_eof;
        if (r.found_count >= table.qualifying_count) return block_outcome::no_block;
        ++r.rewind_count;
        textio::rewind_input(unit);
        skip_header(unit);
        if (r.rewind_count <= 1) continue;
        textio::write_formatted(textio::terminal_output(), missing_station, {textio::item_int(wanted)});
        r.rewind_count = 0;
        return block_outcome::no_block;
    }
}

void release_block(app::run_files& files) { textio::step_back_record(files.observations); }

year_month date_to_year_month(float date) {
    const std::int32_t year = util::truncate_to_int32(date);
    const float fraction = date - static_cast<float>(year);
    char text[5];
    const textio::out_item item = textio::item_real(fraction);
    textio::format_to_string(text, sizeof text, fraction_text, {&item, 1});
    for (int m = 0; m < 12; ++m)
        if (std::memcmp(text, month_texts[m], 5) == 0) return {year, m + 1};
    return {year, 0};
}

}  // namespace engine
