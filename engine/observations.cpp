#include "engine/observations.hpp"

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
bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

using textio::plain_number;

// The identifier: the nearest double to the text (at most 15 digits and a power of ten,
// both exact, so one division rounds correctly), truncated toward zero.
std::int32_t plain_identifier(const plain_number& n) {
    const double value = static_cast<double>(n.digits) / textio::exact_powers_of_ten[n.decimals];
    return textio::truncate_to_int32(n.negative ? -value : value);
}

// The common record: four plain numbers separated by blanks or tabs, the fourth ended by a
// blank, tab, comma, slash or the end of the record; a carriage return only at the very end.
// Whatever follows the fourth value is discarded, as the free-form rules discard it.
bool scan_plain_record(std::string_view record, plain_number fields[4]) {
    const char* p = record.data();
    const char* end = p + record.size();
    if (end > p && end[-1] == '\r') --end;
    for (int i = 0; i < 4; ++i) {
        while (p < end && is_blank(*p)) ++p;
        if (p == end || !textio::scan_plain_number(p, end, fields[i])) return false;
        if (p < end && !is_blank(*p) && !(i == 3 && (*p == ',' || *p == '/'))) return false;
    }
    return true;
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

// A plain record of another station is only scanned, not converted, so the values kept
// for the next record's empty fields may lag one record behind. Before they can matter
// (a record read by the general rules, or a rewind) the last record is converted.
void bring_values_up_to_date(textio::in_unit& unit, observation_reader& r) {
    if (!r.values_stale) return;
    std::string_view record;
    plain_number fields[4];
    textio::step_back_record(unit);
    textio::next_raw_record(unit, record);
    scan_plain_record(record, fields);
    convert_plain_record(fields, r.last_record);
    r.values_stale = false;
}

// A plain record that opens with its identifier in plain digits (1 to 10, the first not
// 0): one whose identifier alone tells whether it is the wanted station's.
bool opens_with_plain_digits(std::string_view record) {
    if (record.empty() || record[0] < '1' || record[0] > '9') return false;
    std::size_t n = 1;
    while (n < record.size() && is_digit(record[n])) ++n;
    return n <= max_plain_identifier_digits && n < record.size() && is_blank(record[n]);
}

// The identifier of the plain record at the start of `text` (which runs on past it).
std::int32_t identifier_at(std::string_view text) {
    const std::size_t end = text.find('\n');
    plain_number fields[4];
    scan_plain_record(text.substr(0, end), fields);
    return plain_identifier(fields[0]);
}

// Goes on where the index says a search for `wanted` gives the same result as reading
// every record from here.
void jump_by_index(textio::in_unit& unit, observation_reader& r, std::int32_t wanted) {
    const index_jump jump = jump_for(r.index, textio::input_offset(unit), wanted);
    if (!jump.jump) return;
    textio::seek_record(unit, jump.offset, jump.line);
    // The record there is a plain one: reading it gives every value an empty field takes.
    r.values_stale = false;
}

// Notes that the records in [from, from + bytes) of the file were judged quickly. The
// stretch being followed grows while such records follow on from it; a stretch that
// starts elsewhere replaces it, and the longest stretch seen is kept as well.
void note_judged(observation_reader& r, std::int64_t from, std::size_t bytes) {
    const std::int64_t to = from + static_cast<std::int64_t>(bytes);
    judged_stretch& current = r.judged_current;
    if (current.begin <= from && from <= current.end) {
        current.end = std::max(current.end, to);
    } else if (bytes > 0) {
        current = {from, to};
    }
    if (current.end - current.begin > r.judged_longest.end - r.judged_longest.begin) r.judged_longest = current;
}

// How many bytes from `at` on lie in a judged stretch (0 when `at` lies in none).
std::int64_t judged_from(const observation_reader& r, std::int64_t at) {
    std::int64_t reach = 0;
    for (const judged_stretch& s : {r.judged_current, r.judged_longest})
        if (s.begin <= at && at < s.end) reach = std::max(reach, s.end - at);
    return reach;
}

// The next record's identifier, with its date and value in the record values when the
// record is the station's own. Returns false at the end of the file.
bool next_record_for(textio::in_unit& unit, observation_reader& r, std::int32_t wanted, std::int32_t& id) {
    const std::int64_t from = textio::input_offset(unit);
    std::string_view record;
    if (!textio::next_raw_record(unit, record)) return false;
    plain_number fields[4];
    if (scan_plain_record(record, fields)) {
        if (opens_with_plain_digits(record))
            note_judged(r, from, static_cast<std::size_t>(textio::input_offset(unit) - from));
        id = plain_identifier(fields[0]);
        note_plain_record(r.index, from, unit.line, id);
        note_reached(r.index, from, textio::input_offset(unit));
        r.values_stale = true;
        if (id == wanted) {
            r.last_record.date = textio::plain_number_value(fields[2]);
            r.last_record.value = textio::plain_number_value(fields[3]);
        }
        return true;
    }
    textio::step_back_record(unit);
    bring_values_up_to_date(unit, r);
    const long line = unit.line + 1;
    bool more = false;
    read_general_record(unit, r.last_record, more);
    id = r.last_record.id;
    if (more) {
        note_general_record(r.index, from, line);
        note_reached(r.index, from, textio::input_offset(unit));
    }
    return more;
}

// Moves data.txt past records taken quickly; the values they held are converted only if
// the next record needs them.
void pass_records(textio::in_unit& unit, observation_reader& r, const textio::record_window& w,
                  const skim_result& skimmed) {
    if (skimmed.records == 0) return;
    textio::pass_window_records(unit, w, skimmed.bytes, skimmed.records, skimmed.last_record_offset);
    r.values_stale = true;
}

// Records judged before (a search after a rewind reads them again) need only their
// identifiers.
void pass_judged_again(textio::in_unit& unit, observation_reader& r, const wanted_digits& digits) {
    const std::int64_t reach = judged_from(r, textio::input_offset(unit));
    if (reach == 0) return;
    const textio::record_window w = textio::next_window(unit);
    const auto judged =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(w.bytes.size()), reach));
    pass_records(unit, r, w, skim_judged_records(w.bytes.substr(0, judged), digits));
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
    note_judged(r, w.offset, skimmed.bytes);
    return skimmed;
}

// Passes over the records of other stations that can be judged quickly, window after
// window, up to a record left to the record reader.
void pass_other_stations(textio::in_unit& unit, observation_reader& r, const wanted_digits& digits) {
    for (;;) {
        pass_judged_again(unit, r, digits);
        const judged_view v = judged_window(unit, r.judging);
        const skim_result skimmed = skim_window(r, v, digits);
        pass_records(unit, r, v.window, skimmed);
        if (skimmed.bytes == 0 || skimmed.bytes < v.bytes) return;
    }
}

// Reads the plain records of the block being collected, window after window; true when a
// record of another station was read and ends the block.
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
        note_judged(r, w.offset, gathered.bytes);
        textio::pass_window_records(unit, w, gathered.bytes, gathered.records, gathered.last_record_offset);
        r.values_stale = true;
        r.block_count = static_cast<std::int32_t>(r.block_dates.size());
        table.last_year[row] = textio::truncate_to_int32(r.block_dates.back());
        if (gathered.ended_by_other_station) return true;
        if (gathered.bytes < v.bytes) return false;
    }
}

// A batch of landings: as many stations as lie in this many bytes of data.txt, and not
// more than that many stations.
constexpr std::int64_t landing_batch_bytes = 2 * 1024 * 1024;
constexpr std::int32_t landing_batch = 256;

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
    while (r.chain_row >= 0 && r.chain_row < table.qualifying_count && r.chain_row < coming.first_row + landing_batch) {
        const index_jump jump = foreseen_landing(r.index, r.chain_from, table.station_id[r.chain_row]);
        if (!jump.jump) break;
        const std::int64_t block_end = next_entry_after(r.index, jump.offset);
        const std::int64_t from = low < 0 ? jump.offset : std::min(low, jump.offset);
        const std::string_view text = landings_text(unit, from, std::max(high, block_end));
        if (text.empty() || (low >= 0 && static_cast<std::int64_t>(text.size()) > landing_batch_bytes)) break;
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
    std::string_view text;
    if (!textio::next_raw_record(unit, text)) return false;
    plain_number fields[4];
    if (scan_plain_record(text, fields)) {
        convert_plain_record(fields, record);
        return true;
    }
    textio::step_back_record(unit);
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
    std::int32_t id = 0;
    for (;;) {
        for (;;) {
            if (!r.block_found) {
                jump_by_index(unit, r, wanted);
                pass_other_stations(unit, r, digits);
            } else if (gather_block_records(unit, r, table, row, digits)) {
                return block_outcome::ended_by_record;
            }
            if (!next_record_for(unit, r, wanted, id)) break;
            if (id != wanted) {
                if (r.block_found) return block_outcome::ended_by_record;
                continue;
            }
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
        bring_values_up_to_date(unit, r);
        textio::rewind_input(unit);
        pass_header_again(unit, r);
        if (r.rewind_count <= 1) continue;
        r.rewind_count = 0;
        return block_outcome::missing_reported;
    }
}

void judge_coming_landings(observation_reader& r, const station_table& table, std::int32_t row,
                           const textio::in_unit& observations, block_outcome outcome) {
    if (!ready_for_landings(r.judging) || row < r.judging.landed_last_row) return;
    r.chain_row = row + 1;
    r.chain_from =
        outcome == block_outcome::ended_by_record ? observations.last_record_start : textio::input_offset(observations);
    if (r.chain_from < 0) return;
    foresee_landings(r, table, observations);
    judge_landings(r.judging);
}

void prepare_reader(observation_reader& r, bool second_thread) { prepare_judging(r.judging, second_thread); }

void release_block(textio::in_unit& observations) { textio::step_back_record(observations); }

}  // namespace engine
