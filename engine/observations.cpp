#include "engine/observations.hpp"
#include "textio/limits.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/record_skim.hpp"
#include "textio/convert.hpp"
#include "textio/failure.hpp"
#include "textio/plain_number.hpp"
#include "textio/read.hpp"

namespace engine {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

using textio::plain_number;

// The identifier: the nearest double to the text (at most 15 digits and a power of ten,
// both exact, so one division rounds correctly), truncated toward zero.
std::int32_t plain_identifier(const plain_number& n) {
    const double value = static_cast<double>(n.digits) / textio::exact_powers_of_ten[n.decimals];
    return textio::truncate_to_int32(n.negative ? -value : value);
}

// The common record: four plain numbers separated by blanks or tabs, the fourth ended by a
// blank, tab, comma, slash or the end of the record; a carriage return only at the very end.
// Whatever follows the fourth value is discarded, as the free-form rules discard it. Of a
// record cut to its kept length, the fourth value must end before the cut.
bool scan_plain_record(std::string_view record, plain_number fields[4], bool cut = false) {
    const char* p = record.data();
    const char* end = p + record.size();
    if (!cut && end > p && end[-1] == '\r') --end;
    for (int i = 0; i < 4; ++i) {
        while (p < end && is_blank(*p)) ++p;
        if (p == end || !textio::scan_plain_number(p, end, fields[i])) return false;
        if (p < end && !is_blank(*p) && !(i == 3 && (*p == ',' || *p == '/'))) return false;
    }
    return !cut || p < end;
}

void skip_header(textio::in_unit& unit) {
    std::string_view record;
    for (int i = 0; i < observations_header_lines; ++i)
        if (!textio::next_raw_record(unit, record))
            textio::raise_failure(
                textio::failure_at(textio::failure_kind::end_of_file, "READ", unit.unit, unit.name, unit.line + 1));
}

// After a rewind: the header was read once without failure, so with the index on the
// reading goes straight to the first record, where the header ended before.
void pass_header_again(textio::in_unit& unit, const observation_reader& r) {
    if (r.index.cap == 0) {
        skip_header(unit);
        return;
    }
    textio::seek_record(unit, r.index.first_offset, observations_header_lines + 1);
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

void read_general_record(textio::in_unit& unit, observation_record& record, bool& more) {
    const textio::in_item targets[] = {textio::target_identifier(record.id), textio::target_real(record.second),
                                       textio::target_real(record.date), textio::target_real(record.value)};
    more = textio::read_free_form(unit, targets, true) == textio::read_outcome::ok;
}

void convert_plain_record(const plain_number fields[4], observation_record& record) {
    record.id = plain_identifier(fields[0]);
    record.second = textio::plain_number_value(fields[1]);
    record.date = textio::plain_number_value(fields[2]);
    record.value = textio::plain_number_value(fields[3]);
}

// The fields of the plain record, judged so before, at the start of `text` (which runs on
// past it).
void scan_judged_record(std::string_view text, plain_number fields[4]) {
    scan_plain_record(text.substr(0, text.find('\n')), fields);
}

std::int32_t identifier_at(std::string_view text) {
    plain_number fields[4];
    scan_judged_record(text, fields);
    return plain_identifier(fields[0]);
}

// The records passed quickly are not converted one by one; an empty field of a record read
// by the general rules takes the values of the last of them, converted once it is passed.
void keep_values_of(observation_reader& r, std::string_view record) {
    plain_number fields[4];
    scan_judged_record(record, fields);
    convert_plain_record(fields, r.last_record);
}

// Goes on where the index says a search for `wanted` gives the same result as reading
// every record from here. The record there is a plain one, which sets every value an
// empty field takes.
void jump_by_index(textio::in_unit& unit, observation_reader& r, std::int32_t wanted) {
    const index_jump jump = jump_for(r.index, textio::input_offset(unit), wanted);
    if (!jump.jump) return;
    textio::seek_record(unit, jump.offset, jump.line);
    // Where it lands, a search needs the block and the record after it.
    textio::expect_window_through(unit, next_entry_after(r.index, jump.offset));
}

// Moves data.txt past the first `records` records of the window, which take `bytes`, the
// last of them at `last_record_offset`.
void pass_records(textio::in_unit& unit, observation_reader& r, const textio::record_window& w, std::size_t bytes,
                  long records, std::size_t last_record_offset) {
    if (records == 0) return;
    keep_values_of(r, w.bytes.substr(last_record_offset));
    textio::pass_window_records(unit, w, bytes, records, last_record_offset);
}

enum class next_record { own, other, ends_block, none };

// A record longer than a window (or a last line without line feed), as the unit gives it:
// plain when its four values end before the cut. The record is read either way.
bool read_long_plain_record(textio::in_unit& unit, plain_number fields[4]) {
    std::string_view text;
    return textio::next_raw_record(unit, text) && scan_plain_record(text, fields, textio::record_goes_on(unit));
}

// Reads the record at the reading position: by the plain rules when it is plain, else by
// the general rules, which may read on into the records after it. A record of another
// station after the block is left to be read again by the next search: a plain one is not
// passed (or is gone back over), and after one read by the general rules the reading goes
// back to the start of the last line it took.
next_record read_next_record(textio::in_unit& unit, observation_reader& r, std::int32_t wanted) {
    const std::int64_t from = textio::input_offset(unit);
    const long line = unit.line + 1;
    const textio::record_window w = textio::next_record_window(unit);
    const std::size_t feed = w.bytes.find('\n');
    const bool in_window = feed != std::string_view::npos;
    plain_number fields[4];
    if (in_window ? scan_plain_record(w.bytes.substr(0, feed), fields) : read_long_plain_record(unit, fields)) {
        const std::int32_t id = plain_identifier(fields[0]);
        note_plain_record(r.index, from, line, id);
        note_reached(r.index, from,
                     in_window ? from + static_cast<std::int64_t>(feed) + 1 : textio::input_offset(unit));
        if (id != wanted && r.block_found) {
            if (!in_window) textio::seek_record(unit, from, line);
            return next_record::ends_block;
        }
        convert_plain_record(fields, r.last_record);
        if (in_window) textio::pass_window_records(unit, w, feed + 1, 1, 0);
        return id == wanted ? next_record::own : next_record::other;
    }
    if (textio::input_offset(unit) != from) textio::seek_record(unit, from, line);
    bool more = false;
    read_general_record(unit, r.last_record, more);
    if (!more) return next_record::none;
    note_general_record(r.index, from, line);
    note_reached(r.index, from, textio::input_offset(unit));
    if (r.last_record.id == wanted) return next_record::own;
    if (!r.block_found) return next_record::other;
    textio::seek_record(unit, unit.last_record_start, unit.line);
    return next_record::ends_block;
}

// Passes over the judged records of other stations from the reading position, noting the
// block starts the index lacks.
skim_result skim_window(observation_reader& r, const judged_view& v, const wanted_digits& digits) {
    const textio::record_window& w = v.window;
    const bool indexing = !r.index.full && w.offset + static_cast<std::int64_t>(v.bytes) > r.index.known_end;
    r.starts.clear();
    const skim_result skimmed = skim_judged_records(r.judging.judged, v.from, digits, indexing ? &r.starts : nullptr);
    for (const record_start& s : r.starts)
        note_plain_record(r.index, w.offset + static_cast<std::int64_t>(s.offset), w.line + s.record + 1,
                          identifier_at(w.bytes.substr(s.offset)));
    note_reached(r.index, w.offset, w.offset + static_cast<std::int64_t>(skimmed.bytes));
    return skimmed;
}

// Passes over the records of other stations that can be judged quickly, window after
// window, up to a record left to the record reader.
void pass_other_stations(textio::in_unit& unit, observation_reader& r, const wanted_digits& digits) {
    for (;;) {
        // A search that goes round through the top reads the file's last record on its own:
        // judging a window for it would put aside the judged landings it comes back to.
        if (r.index.reaches_end && textio::input_offset(unit) == r.index.final_record_offset) return;
        const judged_view v = judged_window(unit, r.judging);
        const skim_result skimmed = skim_window(r, v, digits);
        pass_records(unit, r, v.window, skimmed.bytes, skimmed.records, skimmed.last_record_offset);
        if (skimmed.bytes == 0 || skimmed.bytes < v.bytes) return;
    }
}

// Passes the gathered records of the block's own station, not the record of another station
// that ends it.
void pass_own_records(textio::in_unit& unit, observation_reader& r, const judged_view& v, const gather_result& g) {
    const long own = g.records - (g.ended_by_other_station ? 1 : 0);
    if (own == 0) return;
    const judged_records& j = r.judging.judged;
    const std::size_t base = judged_start(j, v.from);
    const std::size_t bytes = g.ended_by_other_station ? g.last_record_offset : g.bytes;
    pass_records(unit, r, v.window, bytes, own, judged_start(j, v.from + static_cast<std::size_t>(own) - 1) - base);
}

// Reads the plain records of the block being collected, window after window; true when a
// record of another station ends the block (it is left for the next search).
bool gather_block_records(textio::in_unit& unit, observation_reader& r, station_table& table, std::int32_t row,
                          const wanted_digits& digits) {
    for (;;) {
        const judged_view v = judged_window(unit, r.judging);
        const textio::record_window& w = v.window;
        if (unconverted_run_at(r.judging.judged, v.from, digits)) {
            judge_block_again(r.judging, w);
            continue;
        }
        const gather_result gathered =
            gather_judged_records(r.judging.judged, v.from, digits, r.block_dates, r.block_values);
        if (gathered.records == 0) return false;
        if (gathered.ended_by_other_station)
            note_plain_record(r.index, w.offset + static_cast<std::int64_t>(gathered.last_record_offset),
                              w.line + gathered.records, identifier_at(w.bytes.substr(gathered.last_record_offset)));
        note_reached(r.index, w.offset, w.offset + static_cast<std::int64_t>(gathered.bytes));
        pass_own_records(unit, r, v, gathered);
        r.block_count = static_cast<std::int32_t>(r.block_dates.size());
        table.last_year[row] = textio::truncate_to_int32(r.block_dates.back());
        if (gathered.ended_by_other_station) return true;
        if (gathered.bytes < v.bytes) return false;
    }
}

using textio::landing_batch;
using textio::landing_batch_bytes;
using textio::landing_batch_gap;

// Where a search from `from` for `wanted` lands, as the index tells: straight on its block,
// or, when no block of it lies ahead, through the last record and a rewind to the top.
index_jump foreseen_landing(block_index& x, std::int64_t from, std::int32_t wanted) {
    index_jump jump = jump_for(x, from, wanted);
    const bool through_the_top = x.reaches_end && (jump.jump ? jump.offset == x.final_record_offset &&
                                                                   !x.entries.empty() && x.entries.back().id != wanted
                                                             : from >= x.known_end);
    if (through_the_top) jump = jump_for(x, x.first_offset, wanted);
    return jump;
}

// The landings of the next stations of the chain, each search starting where the block
// before it ends, as long as they lie within one window: the stretch from the first to the
// record after the last block, for the helper to judge.
void foresee_landings(observation_reader& r, const station_table& table, const textio::in_unit& unit) {
    landings& coming = r.judging.coming;
    coming.first_row = r.chain_row;
    coming.last_row = r.chain_row - 1;
    coming.text = {};
    std::int64_t low = -1, high = -1;
    std::int64_t blocks_bytes = 0;  // of the blocks searched, which the stretch holds besides others
    while (r.chain_row >= 0 && r.chain_row < table.qualifying_count && r.chain_row < coming.first_row + landing_batch) {
        const index_jump jump = foreseen_landing(r.index, r.chain_from, table.station_id[r.chain_row]);
        if (!jump.jump) break;
        const std::int64_t block_end = next_entry_after(r.index, jump.offset);
        const std::int64_t from = low < 0 ? jump.offset : std::min(low, jump.offset);
        // The stretch is at least this long; a block too far off is left before its end is
        // looked for, a page the reading may never come to.
        const auto fits = [&](std::int64_t size) {
            return size <= landing_batch_bytes && size <= blocks_bytes + (block_end - jump.offset) + landing_batch_gap;
        };
        if (low >= 0 && !fits(std::max(high, block_end) - from)) break;
        const std::string_view text = textio::mapped_records_through(unit, from, std::max(high, block_end));
        if (text.empty() || (low >= 0 && !fits(static_cast<std::int64_t>(text.size())))) break;
        blocks_bytes += block_end - jump.offset;
        low = from;
        high = std::max(high, block_end);
        coming.offset = low;
        coming.text = text;
        coming.last_row = r.chain_row;
        r.chain_from = block_end;
        ++r.chain_row;
    }
    if (coming.last_row < coming.first_row) r.chain_row = -1;
}

// When the search for `row` lies beyond the landings judged so far, takes those the helper
// judged, and has it judge the next.
void go_on_with_landings(observation_reader& r, const station_table& table, const textio::in_unit& unit,
                         std::int32_t row) {
    window_judge& j = r.judging;
    if (!j.landings_on_helper || row <= j.landed_last_row) return;
    if (!take_landings(j, row)) {
        r.chain_row = -1;
        return;
    }
    foresee_landings(r, table, unit);
    judge_landings(j);
}

}  // namespace

bool read_observation(textio::in_unit& unit, observation_record& record) {
    const textio::record_window w = textio::next_window(unit);
    const std::size_t feed = w.bytes.find('\n');
    plain_number fields[4];
    if (feed != std::string_view::npos && scan_plain_record(w.bytes.substr(0, feed), fields)) {
        convert_plain_record(fields, record);
        textio::pass_window_records(unit, w, feed + 1, 1, 0);
        return true;
    }
    bool more = false;
    read_general_record(unit, record, more);
    return more;
}

block_outcome collect_station_block(observation_reader& r, station_table& table, std::int32_t row,
                                    textio::in_unit& observations) {
    textio::in_unit& unit = observations;
    r.block_count = 0;
    r.block_found = false;
    r.block_dates.clear();
    r.block_values.clear();
    keep_values_near(r.judging, table, row);
    go_on_with_landings(r, table, unit, row);
    const std::int32_t wanted = table.station_id[row];
    const wanted_digits digits = digits_of(wanted);
    if (!r.index.started) start_index(r.index, textio::input_offset(unit));
    for (;;) {
        for (;;) {
            if (!r.block_found) {
                jump_by_index(unit, r, wanted);
                pass_other_stations(unit, r, digits);
            } else if (gather_block_records(unit, r, table, row, digits)) {
                return block_outcome::ended_by_record;
            }
            const next_record got = read_next_record(unit, r, wanted);
            if (got == next_record::none) break;
            if (got == next_record::ends_block) return block_outcome::ended_by_record;
            if (got == next_record::other) continue;
            const float date = r.last_record.date;
            const std::int32_t year = textio::truncate_to_int32(date);
            if (!r.block_found) {
                table.first_year[row] = year;
                r.block_found = true;
                ++r.found_count;
                r.rewind_count = 0;
            }
            table.last_year[row] = year;
            store_record(r, date, r.last_record.value);
        }
        note_end_of_file(r.index, textio::input_offset(unit), unit.last_record_start, unit.line);
        if (r.block_found) return block_outcome::ended_by_eof;
        if (r.found_count >= table.qualifying_count) return block_outcome::no_block;
        ++r.rewind_count;
        textio::rewind_input(unit);
        pass_header_again(unit, r);
        if (r.rewind_count <= 1) continue;
        r.rewind_count = 0;
        return block_outcome::missing_reported;
    }
}

void judge_coming_landings(observation_reader& r, const station_table& table, std::int32_t row,
                           const textio::in_unit& observations) {
    if (!ready_for_landings(r.judging) || row < r.judging.landed_last_row) return;
    r.chain_row = row + 1;
    r.chain_from = textio::input_offset(observations);
    foresee_landings(r, table, observations);
    judge_landings(r.judging);
}

void prepare_reader(observation_reader& r, bool second_thread) { prepare_judging(r.judging, second_thread); }

}  // namespace engine
