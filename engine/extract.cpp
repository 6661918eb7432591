#include "engine/extract.hpp"

#include <omp.h>

#include <algorithm>
#include <atomic>
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
    search_outcome outcome = search_outcome::missing_reported;
    std::int32_t failure = -1;
    std::exception_ptr thrown;  // reading its values failed (a page of data.txt lost)
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

// Values in date order: a later record of the same month overwrites an earlier one.
// Records whose year lies outside the grid, or whose date has no month, are not placed.
void place_block(const station_block& b, station_grid& grid) {
    const month_intervals& months = month_table();
    for (std::size_t k = 0; k < b.dates.size(); ++k) {
        const year_month when = date_to_year_month(b.dates[k], months);
        place_value(grid, when.year, when.month, b.values[k]);
    }
}

// A value that is not a number lies in no range: it is as spurious as 100.1.
bool is_spurious(float v) { return v != missing_value && !(v >= spurious_below && v <= spurious_above); }

station_row row_of(const station_table& t, std::int32_t row) {
    return {t.station_id[row],    t.station_lat[row], t.station_lon[row],
            t.station_extra[row], t.first_year[row],  t.last_year[row]};
}

void count_verdict(const station_verdict& v, extraction_summary& summary) {
    switch (v.kind) {
        case verdict_kind::saved: ++summary.saved; break;
        case verdict_kind::no_records: ++summary.no_records; break;
        case verdict_kind::span_not_covered: ++summary.span_not_covered; break;
        case verdict_kind::too_many_missing: ++summary.too_many_missing; break;
        case verdict_kind::implausible: ++summary.implausible; break;
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

// The stations of a batch from `first_row`: their searches, and the blocks they found.
struct station_batch {
    std::int32_t first_row = 0;
    std::vector<station_search> searches;
    std::vector<station_block> blocks;
    byte_range read;  // the bytes of data.txt its blocks were read from
};

// Everything the pass keeps from one station to the next.
struct pass_state {
    station_table table;
    scanned_archive archive;
    search_state search;
    std::unique_ptr<station_grid> grid = std::make_unique<station_grid>();
};

// One station: its block screened and told to the sink.
void pass_station(const run_settings& run, pass_state& state, std::int32_t row, station_block& b, station_sink& sink,
                  extraction_summary& summary) {
    station_verdict verdict;
    if (b.outcome == search_outcome::missing_reported) {
        verdict.kind = verdict_kind::no_records;
        verdict.reported_missing = true;
    } else {
        state.table.first_year[row] = textio::truncate_to_int32(b.dates.front());
        state.table.last_year[row] = textio::truncate_to_int32(b.dates.back());
        order_block(b);
        reset_grid(*state.grid);
        place_block(b, *state.grid);
        verdict = screen_station(run, row_of(state.table, row), *state.grid);
    }
    count_verdict(verdict, summary);
    verdict.saved_count = summary.saved;
    sink.station(row_of(state.table, row), verdict, state.grid->cells);
}

// The searches of the batch of stations from `first`: it ends once its blocks hold about
// as many records as a batch's memory allows, and with the first search that fails.
void search_batch(pass_state& state, std::int32_t first, station_batch& b) {
    b.first_row = first;
    b.searches.clear();
    b.read = {};
    std::int64_t records = 0;
    for (std::int32_t row = first;
         row < state.table.qualifying_count && records < textio::batch_records && row - first < textio::batch_stations;
         ++row) {
        b.searches.push_back(search_station(state.archive.table, state.search, state.table.station_id[row],
                                            state.table.qualifying_count));
        for (const block_piece& p : b.searches.back().pieces) records += p.offset < 0 ? 1 : p.count;
        if (b.searches.back().outcome == search_outcome::failed) break;
    }
    if (b.blocks.size() < b.searches.size()) b.blocks.resize(b.searches.size());
}

// The values of station i of a batch; a failure is kept for when the station's turn comes.
void read_station(const textio::in_unit& data, const block_table& t, station_batch& b, std::size_t i,
                  byte_range& read) {
    station_block& block = b.blocks[i];
    const station_search& s = b.searches[i];
    block.outcome = s.outcome;
    block.failure = s.failure;
    block.thrown = nullptr;
    try {
        read_block_values(data, t, s.pieces, block.dates, block.values, read);
    } catch (...) {
        block.thrown = std::current_exception();
    }
}

// The stations of a batch screened and told to the sinks, in table order; false when a stop
// signal ended the pass.
bool pass_batch(const run_settings& run, pass_state& state, station_batch& b, station_sink& sink,
                extraction_summary& summary) {
    for (std::size_t i = 0; i < b.searches.size(); ++i) {
        if (util::stop_signal() != 0) return false;
        station_block& block = b.blocks[i];
        if (block.thrown) std::rethrow_exception(block.thrown);
        if (block.outcome == search_outcome::failed)
            textio::raise_failure(state.archive.failures[static_cast<std::size_t>(block.failure)]);
        pass_station(run, state, b.first_row + static_cast<std::int32_t>(i), block, sink, summary);
    }
    return true;
}

// Passes the stations of `current` while the values of `next` are read: the main thread
// screens and tells the sinks, in order, and then joins the other threads reading. The
// stations are shared out one at a time. Sinks are only ever called on the main thread.
bool pass_and_read_on(const run_settings& run, const textio::in_unit& data, pass_state& state, station_batch& current,
                      station_batch& next, station_sink& sink, extraction_summary& summary) {
    std::atomic<std::size_t> claimed{0};
    const std::size_t count = next.searches.size();
    std::exception_ptr thrown;
    bool going_on = true;
    byte_range read;
#pragma omp parallel
    {
        if (omp_get_thread_num() == 0) {
            try {
                going_on = pass_batch(run, state, current, sink, summary);
            } catch (...) {
                thrown = std::current_exception();
            }
        }
        byte_range mine;
        for (std::size_t i = claimed++; i < count; i = claimed++)
            read_station(data, state.archive.table, next, i, mine);
#pragma omp critical(batch_range)
        {
            read.from = std::min(read.from, mine.from);
            read.to = std::max(read.to, mine.to);
        }
    }
    next.read = read;
    // The pages a batch read are handed back once it is passed: only the blocks being read
    // and passed stay in memory.
    if (current.read.to > current.read.from) textio::hand_back(data, current.read.from, current.read.to);
    if (thrown) std::rethrow_exception(thrown);
    return going_on;
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

extraction_summary extract_stations(const run_settings& run, archive& files, station_sink& sink) {
    pass_state state;
    extraction_summary summary;
    load_station_catalogue(run, files.catalogue, state.table);
    summary.qualifying = state.table.qualifying_count;
    sink.table_loaded(summary.qualifying);
    textio::in_unit& data = files.observations;
    if (state.table.qualifying_count == 0) return summary;  // no search reads data.txt
    textio::map_rest_of_input(data);
    // The unit's mapping outlives every thread that reads it: the unit is closed by the
    // caller, after this pass and its parallel loops are over.
    state.archive = scan_blocks(data, textio::input_offset(data), data.line + 1, wanted_identifiers(state.table),
                                textio::scan_chunk_bytes);
    data.begin = data.end;  // data.txt has been read to its end (or its first failure)
    if (state.archive.stopped) {
        summary.stop_signal = util::stop_signal();
        return summary;
    }
    station_batch current, next;
    search_batch(state, 0, current);
    station_batch none;
    pass_and_read_on(run, data, state, none, current, sink, summary);
    while (!current.searches.empty()) {
        const std::int32_t after = current.first_row + static_cast<std::int32_t>(current.searches.size());
        next.searches.clear();
        const bool failing = current.searches.back().outcome == search_outcome::failed;
        if (!failing) search_batch(state, after, next);
        if (!pass_and_read_on(run, data, state, current, next, sink, summary)) break;
        std::swap(current, next);
    }
    summary.stop_signal = util::stop_signal();
    return summary;
}

}  // namespace engine
