#include "engine/extract.hpp"

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "engine/block_scan.hpp"
#include "engine/block_search.hpp"
#include "engine/block_values.hpp"
#include "engine/month.hpp"
#include "engine/stations.hpp"
#include "textio/convert.hpp"
#include "textio/failure.hpp"
#include "textio/limits.hpp"
#include "util/parallel.hpp"
#include "util/ssort.hpp"
#include "util/stop_signal.hpp"

namespace engine {
namespace {

// A station's block as read, in file order until it is ordered. The blocks of a batch are
// read on several threads at once: each on a cache line of its own, so that one thread's
// writes never stall another's.
struct alignas(64) station_block {
    std::vector<float> dates;
    std::vector<float> values;
    // Worked out on the reading thread once the block is ordered: each value's cell
    // (year × 12 + month − 1, or −1 where the grid holds none) and the years they span.
    std::vector<std::int32_t> cells;
    std::int32_t first_year = 0;  // of the block's first and last records in file order
    std::int32_t last_year = 0;
    std::int32_t placed_first = last_grid_year + 1;
    std::int32_t placed_last = 0;
    search_outcome outcome = search_outcome::missing_reported;
    std::int32_t failure = -1;
};

// Dates strictly increasing already stand in the one order any sort gives them, so the
// sort is only needed when some date is not above the one before (equal dates, records
// out of order, or a date that compares neither way).
void order_block(station_block& b) {
    const float* d = b.dates.data();
    const auto count = static_cast<std::int32_t>(b.dates.size());
    for (std::int32_t k = 1; k < count; ++k) {
        if (!(d[k - 1] < d[k])) {
            util::ssort(b.dates.data(), b.values.data(), count, 2);
            return;
        }
    }
}

// The years of the block's first and last records, its order, and the cell of each value.
// Records whose year lies outside the grid, or whose date has no month, have none.
void lay_out_block(station_block& b) {
    b.cells.clear();
    if (b.dates.empty()) return;
    b.first_year = textio::truncate_to_int32(b.dates.front());
    b.last_year = textio::truncate_to_int32(b.dates.back());
    order_block(b);
    const month_intervals& months = month_table();
    b.placed_first = last_grid_year + 1;
    b.placed_last = 0;
    b.cells.resize(b.dates.size());
    for (std::size_t k = 0; k < b.dates.size(); ++k) {
        const year_month when = date_to_year_month(b.dates[k], months);
        const bool placed = when.month >= 1 && when.month <= 12 && when.year >= 1 && when.year <= last_grid_year;
        b.cells[k] = placed ? when.year * 12 + when.month - 1 : -1;
        if (!placed) continue;
        b.placed_first = std::min(b.placed_first, when.year);
        b.placed_last = std::max(b.placed_last, when.year);
    }
}

// Values in date order: a later record of the same month overwrites an earlier one.
void place_block(const station_block& b, station_grid& grid) {
    for (std::size_t k = 0; k < b.cells.size(); ++k) {
        const std::int32_t c = b.cells[k];
        if (c >= 0) grid.cells[c / 12][c % 12] = b.values[k];
    }
    grid.placed_first = std::min(grid.placed_first, b.placed_first);
    grid.placed_last = std::max(grid.placed_last, b.placed_last);
}

// A value that is not a number lies in no range: it is as spurious as 100.1.
bool is_spurious(float v) { return v != missing_value && !(v >= spurious_below && v <= spurious_above); }

station_row row_of(const station_table& t, std::int32_t row) {
    const double distance = t.distance_km.empty() ? 0.0 : t.distance_km[static_cast<std::size_t>(row)];
    return {t.station_id[row],
            t.station_lat[row],
            t.station_lon[row],
            t.station_extra[row],
            t.first_year[row],
            t.last_year[row],
            distance};
}

void count_verdict(const station_verdict& v, extraction_summary& summary) {
    switch (v.kind) {
        case verdict_kind::saved: ++summary.saved; break;
        case verdict_kind::no_records: ++summary.no_records; break;
        case verdict_kind::span_not_covered: ++summary.span_not_covered; break;
        case verdict_kind::too_many_missing: ++summary.too_many_missing; break;
        case verdict_kind::implausible: ++summary.implausible; break;
        case verdict_kind::not_in_catalogue: ++summary.not_in_catalogue; break;
    }
}

// The identifiers of the table's stations, sorted, each once: the stations whose blocks
// the table keeps.
std::vector<std::int32_t> wanted_identifiers(const station_table& t) {
    std::vector<std::int32_t> ids(t.station_id.begin(), t.station_id.begin() + t.qualifying_count);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

// Everything the pass keeps from one station to the next.
struct pass_state {
    station_table table;
    scanned_archive archive;
    search_state search;
    std::unique_ptr<station_grid> grid = std::make_unique<station_grid>();
    std::vector<station_block> blocks;  // of the stations of the batch being read
};

// One station: its block screened and told to the sink.
void pass_station(const run_settings& run, pass_state& state, std::int32_t row, station_block& b, station_sink& sink,
                  extraction_summary& summary) {
    station_verdict verdict;
    if (b.outcome == search_outcome::missing_reported) {
        verdict.kind = verdict_kind::no_records;
        verdict.reported_missing = true;
    } else {
        state.table.first_year[row] = b.first_year;
        state.table.last_year[row] = b.last_year;
        reset_grid(*state.grid);
        place_block(b, *state.grid);
        verdict = screen_station(run, row_of(state.table, row), *state.grid);
    }
    count_verdict(verdict, summary);
    verdict.saved_count = summary.saved;
    sink.station(row_of(state.table, row), verdict, state.grid->cells);
}

// The searches of a batch of stations from `first`, up to `limit` of them or fewer: a
// batch ends once its blocks hold about as many records as the batch's memory allows, and
// with the first search that fails.
std::int32_t search_batch(pass_state& state, std::int32_t first, std::int32_t limit,
                          std::vector<station_search>& searches) {
    searches.clear();
    std::int64_t records = 0;
    for (std::int32_t row = first;
         row < limit && records < textio::batch_records && row - first < textio::batch_stations; ++row) {
        searches.push_back(search_station(state.archive.table, state.search, state.table.station_id[row],
                                          state.table.qualifying_count));
        for (const block_piece& p : searches.back().pieces) records += p.offset < 0 ? 1 : p.count;
        if (searches.back().outcome == search_outcome::failed) break;
    }
    return static_cast<std::int32_t>(searches.size());
}

// The blocks of a batch, read on every thread at once; a failure is thrown once all are
// done.
void read_batch(const textio::in_unit& data, pass_state& state, const std::vector<station_search>& searches) {
    const auto count = static_cast<long>(searches.size());
    if (state.blocks.size() < searches.size()) state.blocks.resize(searches.size());
    std::exception_ptr thrown;
    byte_range read;
#pragma omp parallel
    {
        byte_range mine;
#pragma omp for schedule(dynamic, 1) nowait
        for (long i = 0; i < count; ++i) {
            station_block& b = state.blocks[static_cast<std::size_t>(i)];
            const station_search& s = searches[static_cast<std::size_t>(i)];
            b.outcome = s.outcome;
            b.failure = s.failure;
            try {
                read_block_values(data, state.archive.table, s.pieces, b.dates, b.values, mine);
                lay_out_block(b);
            } catch (...) {
#pragma omp critical(block_values_failure)
                if (!thrown) thrown = std::current_exception();
            }
        }
#pragma omp critical(block_values_range)
        {
            read.from = std::min(read.from, mine.from);
            read.to = std::max(read.to, mine.to);
        }
    }
    // The pages the batch read are handed back: only the blocks being read stay in memory.
    if (read.to > read.from) textio::hand_back(data, read.from, read.to);
    if (thrown) std::rethrow_exception(thrown);
}

}  // namespace

station_verdict screen_station(const run_settings& run, const station_row& row, const station_grid& grid) {
    station_verdict v;
    for (std::int32_t y = run.fyod; y <= run.lyod; ++y) {
        for (int m = 0; m < 12; ++m) {
            if (!is_spurious(grid.cells[y][m])) continue;
            v.kind = verdict_kind::implausible;
            v.value = grid.cells[y][m];
            v.year = y;
            v.month = m + 1;
            return v;
        }
    }
    if (row.first_year > run.fyod || row.last_year < run.lyod) {
        v.kind = verdict_kind::span_not_covered;
        return v;
    }
    for (std::int32_t y = run.fyod; y <= run.lyod; ++y)
        for (float cell : grid.cells[y]) v.missing += (cell == missing_value);
    v.limit = run.max_missing;
    v.kind = v.missing <= run.max_missing ? verdict_kind::saved : verdict_kind::too_many_missing;
    return v;
}

namespace {

// Each listed identifier absent from the catalogue, after the table's stations.
void pass_not_in_catalogue(const station_table& table, const station_grid& grid, station_sink& sink,
                           extraction_summary& summary) {
    for (const std::int32_t id : table.not_in_catalogue) {
        if (util::stop_signal() != 0) return;
        station_row row;
        row.id = id;
        station_verdict verdict;
        verdict.kind = verdict_kind::not_in_catalogue;
        count_verdict(verdict, summary);
        verdict.saved_count = summary.saved;
        sink.station(row, verdict, grid.cells);
    }
}

// The pass over data.txt for the table's stations.
void pass_stations(const run_settings& run, pass_state& state, textio::in_unit& data, station_sink& sink,
                   extraction_summary& summary) {
    if (state.table.qualifying_count == 0) return;  // no search reads data.txt
    textio::map_rest_of_input(data);
    // The unit's mapping outlives every thread that reads it: the unit is closed by the
    // caller, after this pass and its parallel loops are over.
    state.archive = scan_blocks(data, textio::input_offset(data), data.line + 1, wanted_identifiers(state.table),
                                textio::scan_chunk_bytes);
    data.begin = data.end;  // data.txt has been read to its end (or its first failure)
    std::vector<station_search> searches;
    std::int32_t row = 0;
    while (!state.archive.stopped && row < state.table.qualifying_count && util::stop_signal() == 0) {
        const std::int32_t count = search_batch(state, row, state.table.qualifying_count, searches);
        read_batch(data, state, searches);
        for (std::int32_t i = 0; i < count && util::stop_signal() == 0; ++i, ++row) {
            station_block& b = state.blocks[static_cast<std::size_t>(i)];
            if (b.outcome == search_outcome::failed)
                textio::raise_failure(state.archive.failures[static_cast<std::size_t>(b.failure)]);
            pass_station(run, state, row, b, sink, summary);
        }
    }
}

}  // namespace

extraction_summary extract_stations(const run_settings& run, station_table table, textio::in_unit& observations,
                                    station_sink& sink) {
    pass_state state;
    state.table = std::move(table);
    extraction_summary summary;
    summary.qualifying = state.table.qualifying_count;
    sink.table_loaded(summary.qualifying);
    pass_stations(run, state, observations, sink, summary);
    pass_not_in_catalogue(state.table, *state.grid, sink, summary);
    summary.stop_signal = util::stop_signal();
    return summary;
}

extraction_summary extract_stations(const run_settings& run, archive& files, station_sink& sink) {
    station_table table;
    load_station_catalogue(box_selection(run), files.catalogue, table);
    return extract_stations(run, std::move(table), files.observations, sink);
}

}  // namespace engine
