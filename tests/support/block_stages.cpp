#include "tests/support/block_stages.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/block_values.hpp"
#include "textio/items.hpp"
#include "textio/read.hpp"
#include "textio/units.hpp"

namespace support {
namespace {

constexpr int header_lines = 111;

std::string bits(float f) {
    std::uint32_t u = 0;
    std::memcpy(&u, &f, sizeof u);
    return std::to_string(u);
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

std::string text_of(const engine::carried_values& v) {
    return std::to_string(v.id) + "/" + bits(v.date) + "/" + bits(v.value);
}

std::string text_of(const engine::record_place& p) {
    return std::to_string(p.offset) + "-" + std::to_string(p.end) + " lines " + std::to_string(p.line) + "-" +
           std::to_string(p.last_line) + " last at " + std::to_string(p.last_line_offset);
}

std::string text_of(const engine::reading_step& s) {
    return "(" + std::to_string(s.alternate) + "," + std::to_string(s.ordinal) + ")";
}

void open_past_header(textio::in_unit& u, const std::string& path) {
    textio::open_input(u, 13, path);
    std::string_view skipped;
    for (int i = 0; i < header_lines; ++i) textio::next_raw_record(u, skipped);
}

struct read_record {
    engine::record_place place;
    engine::carried_values values;
};

struct reading {
    std::vector<read_record> records;
    bool failed = false;
    engine::carried_values final_carried;
};

reading read_in_order(const std::string& path) {
    textio::in_unit u;
    open_past_header(u, path);
    reading r;
    engine::carried_values v;
    float second = 0.0f;
    const textio::in_item items[] = {textio::target_identifier(v.id), textio::target_real(second),
                                     textio::target_real(v.date), textio::target_real(v.value)};
    for (;;) {
        read_record rec;
        rec.place.offset = textio::input_offset(u);
        rec.place.line = u.line + 1;
        try {
            if (textio::read_free_form(u, items, true) == textio::read_outcome::end_of_file) break;
        } catch (const textio::io_failure&) {
            r.failed = true;
            break;
        }
        rec.place.end = textio::input_offset(u);
        rec.place.last_line = u.line;
        rec.place.last_line_offset = u.last_record_start;
        rec.values = v;
        r.records.push_back(rec);
    }
    r.final_carried = v;
    textio::close_input(u);
    return r;
}

}  // namespace

std::string observations_text(const std::vector<std::string>& lines) {
    std::string text;
    for (int i = 1; i <= header_lines; ++i) text += "header line " + std::to_string(i) + "\n";
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

staged_run run_stages(const std::string& path, const std::vector<std::int32_t>& table_ids, std::int64_t chunk_bytes) {
    textio::in_unit u;
    open_past_header(u, path);
    textio::spool_rest_of_input(u);
    std::vector<std::int32_t> wanted = table_ids;
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    staged_run run;
    // The values of a search, read as the pass reads them (from what the scan kept, where it
    // kept them), then with every record's form checked, then from a copy of the block:
    // all three must give the same bits.
    const auto read_station = [&](const engine::station_search& s, std::int32_t id, const engine::kept_wave& kept) {
        staged_station station;
        station.outcome = s.outcome;
        if (s.outcome == engine::search_outcome::failed) {
            const textio::io_failure& f = run.archive.failures[static_cast<std::size_t>(s.failure)];
            run.failure = f.message + " at line " + std::to_string(f.line);
            run.stations.push_back(station);
            return;
        }
        engine::value_reader read;
        engine::read_block_values(u, run.archive.table, s.pieces, station.dates, station.values, read, &kept);
        std::vector<engine::block_piece> checked = s.pieces;
        for (engine::block_piece& p : checked) p.plain = false;
        staged_station again;
        engine::read_block_values(u, run.archive.table, checked, again.dates, again.values, read);
        engine::value_reader far;
        far.last_end = INT64_MAX;
        staged_station copied;
        engine::read_block_values(u, run.archive.table, s.pieces, copied.dates, copied.values, far);
        if (!same_bits(again.dates, station.dates) || !same_bits(again.values, station.values) ||
            !same_bits(again.dates, copied.dates) || !same_bits(again.values, copied.values))
            run.unchecked_differs += std::to_string(id) + " ";
        run.stations.push_back(std::move(station));
    };
    // Each search is worked out, and its block read, as soon as the records scanned so far
    // tell its outcome.
    engine::search_state state;
    const auto search_what_is_known = [&](const engine::scanned_archive& a, engine::side_work&) {
        const auto qualifying = static_cast<std::int32_t>(table_ids.size());
        const std::size_t before = run.stations.size();
        while (run.stations.size() < table_ids.size() && run.failure.empty()) {
            const std::int32_t id = table_ids[run.stations.size()];
            engine::station_search s;
            if (!engine::try_search_station(a.table, state, id, qualifying, s)) break;
            read_station(s, id, a.kept);
        }
        return run.stations.size() > before;
    };
    engine::scan_blocks(u, textio::input_offset(u), u.line + 1, wanted, chunk_bytes, run.archive, search_what_is_known);
    textio::close_input(u);
    return run;
}

std::string describe(const engine::block_table& t) {
    std::string d = "first " + std::to_string(t.first_offset) + " line " + std::to_string(t.first_line) + " records " +
                    std::to_string(t.record_count) + " end " + std::to_string(static_cast<int>(t.end)) + " " +
                    std::to_string(t.end_failure) + " given " + text_of(t.end_given) + " mask " +
                    std::to_string(t.end_mask) + " final " + text_of(t.final_carried) + "\n";
    for (std::size_t i = 0; i < t.ids.size(); ++i)
        for (const engine::block_entry& b : t.station_blocks[i])
            d += "run " + std::to_string(t.ids[i]) + " from " + std::to_string(b.ordinal) + " count " +
                 std::to_string(b.count) + " at " + std::to_string(b.offset) + "\n";
    for (const engine::special_record& s : t.specials)
        d += "special " + std::to_string(s.ordinal) + " " + text_of(s.place) + " gives " + text_of(s.given) + " mask " +
             std::to_string(s.mask) + " carried " + text_of(s.carried_in) + " then " + text_of(s.from_last_line) + "\n";
    for (const engine::alternate_record& a : t.alternates)
        d += "alternate " + text_of(a.place) + " gives " + text_of(a.given) + " mask " + std::to_string(a.mask) +
             " end " + std::to_string(a.is_end) + std::to_string(static_cast<int>(a.end)) + " next " + text_of(a.next) +
             " then " + text_of(a.from_last_line) + "\n";
    return d;
}

std::string table_against_reading(const engine::block_table& t, const std::string& path) {
    const reading r = read_in_order(path);
    std::string d;
    const auto count = static_cast<std::int64_t>(r.records.size());
    if (t.record_count != count)
        d += "records: " + std::to_string(t.record_count) + " for " + std::to_string(count) + "\n";
    if ((t.end == engine::reading_end::failure) != r.failed) d += "the end differs\n";
    if (!r.failed && text_of(t.final_carried) != text_of(r.final_carried)) d += "the values left at the end differ\n";
    if (!d.empty()) return d;
    // The runs of the table's stations, as the reading in order has them.
    std::string expected_runs, table_runs;
    for (std::size_t i = 0; i < t.ids.size(); ++i) {
        const auto id_at = [&r](std::int64_t k) { return r.records[static_cast<std::size_t>(k)].values.id; };
        for (std::int64_t k = 0; k < count; ++k) {
            if (id_at(k) != t.ids[i] || (k > 0 && id_at(k - 1) == t.ids[i])) continue;
            std::int64_t end = k;
            while (end < count && id_at(end) == t.ids[i]) ++end;
            expected_runs += std::to_string(t.ids[i]) + ":" + std::to_string(k) + "+" + std::to_string(end - k) + "@" +
                             std::to_string(r.records[static_cast<std::size_t>(k)].place.offset) + " ";
        }
        for (const engine::block_entry& b : t.station_blocks[i])
            table_runs += std::to_string(t.ids[i]) + ":" + std::to_string(b.ordinal) + "+" + std::to_string(b.count) +
                          "@" + std::to_string(b.offset) + " ";
    }
    if (expected_runs != table_runs) d += "runs: " + table_runs + "for " + expected_runs + "\n";
    for (std::int64_t k = 0; k < count; ++k) {
        const read_record& rec = r.records[static_cast<std::size_t>(k)];
        if (engine::line_of(t, k) != rec.place.line) d += "line of " + std::to_string(k) + "\n";
        const engine::special_record* s = engine::special_at(t, k);
        if (rec.place.spans_lines() && !s) d += "record " + std::to_string(k) + " spans lines, not special\n";
        if (!s) continue;
        const engine::carried_values before =
            k > 0 ? r.records[static_cast<std::size_t>(k - 1)].values : engine::carried_values{};
        if (text_of(s->carried_in) != text_of(before)) d += "carried into " + std::to_string(k) + "\n";
        if (text_of(engine::merged(s->carried_in, s->given, s->mask)) != text_of(rec.values))
            d += "values of " + std::to_string(k) + "\n";
        if (text_of(s->place) != text_of(rec.place))
            d += "place of " + std::to_string(k) + ": " + text_of(s->place) + " for " + text_of(rec.place) + "\n";
    }
    return d;
}

}  // namespace support
