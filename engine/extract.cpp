#include "engine/extract.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/block_scan.hpp"
#include "engine/block_search.hpp"
#include "engine/block_values.hpp"
#include "engine/held_values.hpp"
#include "engine/month.hpp"
#include "engine/stations.hpp"
#include "textio/convert.hpp"
#include "textio/failure.hpp"
#include "textio/limits.hpp"
#include "util/ssort.hpp"
#include "util/stop_signal.hpp"
#include "util/work_team.hpp"

namespace engine {
namespace {

// A station's block as read: its values laid out as the grid's rows for the years they
// fill or, where those rows would have over twice as many cells as the block has records
// (a few records years apart), as each value with its cell. The blocks of a batch are
// read on several threads at once: each on a cache line of its own, so that one thread's
// writes never stall another's.
struct alignas(64) station_block {
    std::vector<float> rows;  // 12 a year from placed_first to placed_last, missing where none
    std::vector<float> values;
    std::vector<std::int32_t> cells;  // of `values` (year × 12 + month − 1), in date order
    std::int32_t first_year = 0;      // of the block's first and last records in file order
    std::int32_t last_year = 0;
    std::int32_t placed_first = last_grid_year + 1;
    std::int32_t placed_last = 0;
    search_outcome outcome = search_outcome::missing_reported;  // of the search it is passed for
};

// What one reading thread uses again from block to block.
struct block_reading {
    std::vector<float> dates;
    std::vector<float> values;
    std::vector<std::int32_t> cells;
};

// Dates strictly increasing already stand in the one order any sort gives them, so the
// sort is only needed when some date is not above the one before (equal dates, records
// out of order, or a date that compares neither way).
void order_values(block_reading& r) {
    const float* d = r.dates.data();
    const auto count = static_cast<std::int32_t>(r.dates.size());
    for (std::int32_t k = 1; k < count; ++k) {
        if (!(d[k - 1] < d[k])) {
            util::ssort(r.dates.data(), r.values.data(), count, 2);
            return;
        }
    }
}

// The block's values as they are placed, in date order: a later record of the same month
// overwrites an earlier one. Records whose year lies outside the grid, or whose date has no
// month, have no cell. Done on the reading thread, so that telling the sinks about the
// station copies rows instead of placing each value.
void lay_out_block(block_reading& r, station_block& b) {
    b.rows.clear();
    b.values.clear();
    b.cells.clear();
    b.placed_first = last_grid_year + 1;
    b.placed_last = 0;
    if (r.dates.empty()) return;
    b.first_year = textio::truncate_to_int32(r.dates.front());
    b.last_year = textio::truncate_to_int32(r.dates.back());
    order_values(r);
    r.cells.resize(r.dates.size());
    const placed_years placed = cells_of_dates(r.dates.data(), r.dates.size(), last_grid_year, r.cells.data());
    if (placed.first > placed.last) return;
    b.placed_first = placed.first;
    b.placed_last = placed.last;
    const auto cell_count = static_cast<std::size_t>(placed.last - placed.first + 1) * 12;
    const float* const values = r.values.data();
    const std::int32_t* const cells = r.cells.data();
    const std::size_t count = r.cells.size();
    if (cell_count <= 2 * count + 24) {
        // The grid's years lie one after the other: cell c is month c % 12 of year c / 12,
        // found without dividing.
        b.rows.assign(cell_count, missing_value);
        float* const row_cells = b.rows.data() - static_cast<std::ptrdiff_t>(placed.first) * 12;
        for (std::size_t k = 0; k < count; ++k)
            if (cells[k] >= 0) row_cells[cells[k]] = values[k];
        return;
    }
    for (std::size_t k = 0; k < count; ++k) {
        if (cells[k] < 0) continue;
        b.cells.push_back(cells[k]);
        b.values.push_back(values[k]);
    }
}

// The block's values in the grid, which holds none since its last reset.
void place_block(const station_block& b, station_grid& grid) {
    if (b.placed_first > b.placed_last) return;
    if (!b.rows.empty()) {
        std::memcpy(&grid.cells[b.placed_first][0], b.rows.data(), b.rows.size() * sizeof(float));
    } else {
        float* const cells = &grid.cells[0][0];
        for (std::size_t k = 0; k < b.cells.size(); ++k) cells[b.cells[k]] = b.values[k];
    }
    grid.placed_first = std::min(grid.placed_first, b.placed_first);
    grid.placed_last = std::max(grid.placed_last, b.placed_last);
}

// A value that is not a number lies in no range: it is as spurious as 100.1. Every
// comparison is made and their results combined by bits, so that a loop over cells has no
// branch.
bool is_spurious(float v) { return (v != missing_value) & (!(v >= spurious_below) | !(v <= spurious_above)); }

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

// The identifiers of the tables' stations, sorted, each once: the stations whose blocks
// the block table keeps.
std::vector<std::int32_t> wanted_identifiers(const std::vector<selection_pass>& selections) {
    std::vector<std::int32_t> ids;
    for (const selection_pass& s : selections)
        ids.insert(ids.end(), s.table.station_id.begin(), s.table.station_id.begin() + s.table.qualifying_count);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

// One selection's place in the pass.
struct selection_state {
    search_state search;
    std::int32_t next_row = 0;  // the next station to search
    bool searching = true;      // false once its stations are searched, or a search failed
};

// A station of a batch: its selection, its row, its search, and the block read for it
// (one block may serve several selections that found the same pieces).
struct batch_station {
    std::size_t selection = 0;
    std::int32_t row = 0;
    station_search search;
    std::size_t block = 0;
};

// The stations searched together, and their blocks, each read once.
struct station_batch {
    std::vector<batch_station> stations;
    std::vector<const std::vector<block_piece>*> distinct;  // the pieces of each block to read
    std::vector<station_block> blocks;
};

// Everything the pass keeps from one batch to the next. While one batch is read, the one
// before it is told to the sinks and the one after it searched.
struct pass_state {
    scanned_archive archive;
    std::vector<std::int32_t> wanted;      // the tables' stations, sorted, each once
    std::vector<std::int32_t> unsearched;  // of each, the rows of the tables not searched yet
    std::vector<selection_state> selections;
    std::unique_ptr<station_grid> grid = std::make_unique<station_grid>();
    station_batch batches[3];             // one told to the sinks, one read, one searched
    std::vector<block_reading> readings;  // one a thread of the team
};

// One station: its block screened and told to the sink.
void pass_station(selection_pass& selection, std::int32_t row, const station_block& b, station_grid& grid) {
    station_table& table = selection.table;
    station_verdict verdict;
    if (b.outcome == search_outcome::missing_reported) {
        verdict.kind = verdict_kind::no_records;
        verdict.reported_missing = true;
    } else {
        table.first_year[row] = b.first_year;
        table.last_year[row] = b.last_year;
        reset_grid(grid);
        place_block(b, grid);
        verdict = screen_station(*selection.run, row_of(table, row), grid);
    }
    count_verdict(verdict, selection.summary);
    verdict.saved_count = selection.summary.saved;
    selection.sink->station(row_of(table, row), verdict, grid.cells);
}

// Where a station stands in the catalogue: the selections go through it together, so that
// a station several of them hold is searched by each in the same batch.
std::int64_t catalogue_place(const station_table& t, std::int32_t row) {
    return t.catalogue_row.empty() ? row : t.catalogue_row[static_cast<std::size_t>(row)];
}

// The text of a search's pieces: searches with the same text read the same block.
std::string pieces_key(const std::vector<block_piece>& pieces) {
    std::string key;
    for (const block_piece& p : pieces) {
        const std::int64_t numbers[] = {p.offset, p.ordinal, p.count, p.values.id, p.plain ? 1 : 0};
        const float reals[] = {p.values.date, p.values.value};
        key.append(reinterpret_cast<const char*>(numbers), sizeof numbers);
        key.append(reinterpret_cast<const char*>(reals), sizeof reals);
    }
    return key;
}

// The searches of the next batch: station by station in catalogue order, each selection's
// in its table order, until the blocks hold about as many records as a batch's memory
// allows. A selection whose search fails searches no further; one whose next search the
// table so far cannot tell waits for more of it.
void search_batch(std::vector<selection_pass>& selections, pass_state& state, station_batch& batch) {
    using place = std::pair<std::int64_t, std::size_t>;  // (catalogue place, selection)
    std::priority_queue<place, std::vector<place>, std::greater<place>> next;
    for (std::size_t k = 0; k < selections.size(); ++k) {
        selection_state& s = state.selections[k];
        if (s.next_row >= selections[k].table.qualifying_count) s.searching = false;
        if (s.searching) next.push({catalogue_place(selections[k].table, s.next_row), k});
    }
    std::int64_t records = 0;
    // The batch's stations are searched into the slots of the batch before, whose pieces
    // keep their room: a station costs no allocation.
    std::size_t taken = 0;
    while (!next.empty() && records < textio::batch_records &&
           static_cast<std::int64_t>(taken) < textio::batch_stations) {
        const std::size_t k = next.top().second;
        next.pop();
        selection_pass& selection = selections[k];
        selection_state& s = state.selections[k];
        if (taken == batch.stations.size()) batch.stations.emplace_back();
        batch_station& b = batch.stations[taken];
        b.selection = k;
        b.row = s.next_row;
        if (!try_search_station(state.archive.table, s.search, selection.table.station_id[b.row],
                                selection.table.qualifying_count, b.search))
            continue;
        ++taken;
        ++s.next_row;
        const auto at = std::lower_bound(state.wanted.begin(), state.wanted.end(), selection.table.station_id[b.row]);
        --state.unsearched[static_cast<std::size_t>(at - state.wanted.begin())];
        for (const block_piece& p : b.search.pieces) records += p.offset < 0 ? 1 : p.count;
        if (b.search.outcome == search_outcome::failed || s.next_row >= selection.table.qualifying_count)
            s.searching = false;
        if (s.searching) next.push({catalogue_place(selection.table, s.next_row), k});
    }
    batch.stations.resize(taken);
}

// Each block the batch's searches found, once: a block several selections found is read
// once. The stations of one selection each have their own (two find the same block only
// where an identifier is listed twice, and it is read twice).
void name_blocks(station_batch& batch, std::size_t selections) {
    batch.distinct.clear();
    if (selections == 1) {
        for (batch_station& b : batch.stations) {
            b.block = batch.distinct.size();
            batch.distinct.push_back(&b.search.pieces);
        }
        return;
    }
    std::unordered_map<std::string, std::size_t> known;
    for (batch_station& b : batch.stations) {
        const auto [at, added] = known.try_emplace(pieces_key(b.search.pieces), batch.distinct.size());
        if (added) batch.distinct.push_back(&b.search.pieces);
        b.block = at->second;
    }
}

// The batch's stations told to their sinks, each selection's in its table order. A
// selection whose search failed is told no more.
void pass_batch(std::vector<selection_pass>& selections, pass_state& state, station_batch& batch) {
    for (const batch_station& b : batch.stations) {
        if (util::stop_signal() != 0) return;
        selection_pass& selection = selections[b.selection];
        if (b.search.outcome == search_outcome::failed) {
            selection.failed = true;
            selection.failure = state.archive.failures[static_cast<std::size_t>(b.search.failure)];
            continue;
        }
        station_block& block = batch.blocks[b.block];
        block.outcome = b.search.outcome;
        pass_station(selection, b.row, block, *state.grid);
    }
}

// The next batch searched and its blocks named, into `batch`; null when no station is left
// to search or the pass is to stop.
station_batch* next_batch(std::vector<selection_pass>& selections, pass_state& state, station_batch& batch) {
    if (state.archive.stopped || util::stop_signal() != 0) return nullptr;
    search_batch(selections, state, batch);
    if (batch.stations.empty()) return nullptr;
    name_blocks(batch, selections.size());
    return &batch;
}

// The blocks of `next` read on every thread of the team at once, while the calling thread
// first tells the sinks about `done`, read before, and then does `then` (each may be
// null). A failure of the sinks is thrown once all are done, before one of the reading:
// their stations come before. `then` is not done after a failure of the sinks.
void read_and_pass(const textio::in_unit& data, std::vector<selection_pass>& selections, pass_state& state,
                   station_batch* next, station_batch* done, const std::function<void()>& then = nullptr) {
    const long count = next ? static_cast<long>(next->distinct.size()) : 0;
    if (next && next->blocks.size() < next->distinct.size()) next->blocks.resize(next->distinct.size());
    std::exception_ptr thrown, passing;
    std::mutex thrown_lock;
    std::vector<value_reader> readers(util::team_threads());
    state.readings.resize(readers.size());
    // Item 0, which the calling thread takes first, tells the sinks about `done` and does `then`.
    const std::size_t first_block = done || then ? 1 : 0;
    util::share_items(first_block + static_cast<std::size_t>(count), [&](std::size_t item, std::size_t thread) {
        if (item < first_block) {
            try {
                if (done) pass_batch(selections, state, *done);
                if (then) then();
            } catch (...) {
                passing = std::current_exception();
            }
            return;
        }
        const std::size_t i = item - first_block;
        station_block& b = next->blocks[i];
        try {
            block_reading& r = state.readings[thread];
            read_block_values(data, state.archive.table, *next->distinct[i], r.dates, r.values, readers[thread],
                              &state.archive.kept, &state.archive.held);
            lay_out_block(r, b);
        } catch (...) {
            const std::lock_guard<std::mutex> held(thrown_lock);
            if (!thrown) thrown = std::current_exception();
        }
    });
    byte_range read;
    for (const value_reader& r : readers) {
        read.from = std::min(read.from, r.mapped.from);
        read.to = std::max(read.to, r.mapped.to);
    }
    // The pages the batch read are handed back: only the blocks being read stay in memory.
    if (read.to > read.from) textio::hand_back(data, read.from, read.to);
    if (passing) std::rethrow_exception(passing);
    if (thrown) std::rethrow_exception(thrown);
}

}  // namespace

station_verdict screen_station(const run_settings& run, const station_row& row, const station_grid& grid) {
    station_verdict v;
    // The span's cells lie one after the other. Most stations hold no implausible value: a
    // pass without a branch tells, and counts the missing months as it goes.
    const float* const cells = &grid.cells[run.fyod][0];
    const std::size_t count = run.fyod <= run.lyod ? static_cast<std::size_t>(run.lyod - run.fyod + 1) * 12 : 0;
    std::int32_t spurious = 0, missing = 0;
    for (std::size_t k = 0; k < count; ++k) {
        spurious |= static_cast<std::int32_t>(is_spurious(cells[k]));
        missing += static_cast<std::int32_t>(cells[k] == missing_value);
    }
    if (spurious != 0) {
        const std::size_t k = static_cast<std::size_t>(std::find_if(cells, cells + count, is_spurious) - cells);
        v.kind = verdict_kind::implausible;
        v.value = cells[k];
        v.year = run.fyod + static_cast<std::int32_t>(k / 12);
        v.month = static_cast<int>(k % 12) + 1;
        return v;
    }
    if (row.first_year > run.fyod || row.last_year < run.lyod) {
        v.kind = verdict_kind::span_not_covered;
        return v;
    }
    v.missing = missing;
    v.limit = run.max_missing;
    v.kind = v.missing <= run.max_missing ? verdict_kind::saved : verdict_kind::too_many_missing;
    return v;
}

namespace {

// Each listed identifier absent from the catalogue, after the table's stations.
void pass_not_in_catalogue(selection_pass& selection, const station_grid& grid) {
    for (const std::int32_t id : selection.table.not_in_catalogue) {
        if (util::stop_signal() != 0) return;
        station_row row;
        row.id = id;
        station_verdict verdict;
        verdict.kind = verdict_kind::not_in_catalogue;
        count_verdict(verdict, selection.summary);
        verdict.saved_count = selection.summary.saved;
        selection.sink->station(row, verdict, grid.cells);
    }
}

// The one pass over data.txt for the stations of every table. Each search is worked out
// as soon as the records scanned so far tell its outcome, and its block read while the
// scan's pages are still mapped: with the catalogue in the order of data.txt, the blocks
// are read as the scan passes them.
void pass_stations(std::vector<selection_pass>& selections, pass_state& state, textio::in_unit& data) {
    const std::vector<std::int32_t>& wanted = state.wanted = wanted_identifiers(selections);
    if (wanted.empty()) return;  // no search reads data.txt
    state.unsearched.assign(wanted.size(), 0);
    for (const selection_pass& s : selections)
        for (std::int32_t row = 0; row < s.table.qualifying_count; ++row)
            ++state.unsearched[static_cast<std::size_t>(
                std::lower_bound(wanted.begin(), wanted.end(), s.table.station_id[row]) - wanted.begin())];
    // An input copied as it is read keeps only the runs that a search still to come may read.
    const auto may_read = [&state](std::int32_t station) {
        return state.unsearched[static_cast<std::size_t>(station)] > 0;
    };
    textio::spool_rest_of_input(data, copy_memory_budget(wanted.size()));
    state.selections.assign(selections.size(), selection_state{});
    station_batch* done = nullptr;  // read, and still to be told to the sinks
    std::size_t k = 0;              // the batch searched into next
    // While the team reads a batch, this thread tells the sinks about the one before it and
    // then searches the one after it, in the third batch: with blocks scattered over the
    // file, the searches take as long as the reading. The last batch read is told to the
    // sinks beside the next wave's scan.
    const auto pass_what_is_known = [&](const scanned_archive&, side_work& beside) {
        station_batch* next = next_batch(selections, state, state.batches[k]);
        const bool took = next != nullptr;
        while (next) {
            station_batch* following = nullptr;
            k = (k + 1) % std::size(state.batches);
            read_and_pass(data, selections, state, next, done,
                          [&] { following = next_batch(selections, state, state.batches[k]); });
            done = next;
            next = following;
        }
        if (done) beside = [&] { pass_batch(selections, state, *std::exchange(done, nullptr)); };
        return took;
    };
    // The unit's mapping outlives every thread that reads it: the unit is closed by the
    // caller, after this pass and its parallel loops are over.
    scan_blocks(data, textio::input_offset(data), data.line + 1, wanted, textio::scan_chunk_bytes, state.archive,
                pass_what_is_known, may_read);
    data.begin = data.end;  // data.txt has been read to its end (or its first failure)
    if (done) read_and_pass(data, selections, state, nullptr, done);
}

}  // namespace

void extract_selections(std::vector<selection_pass>& selections, textio::in_unit& observations) {
    pass_state state;
    for (selection_pass& s : selections) {
        s.summary = extraction_summary{};
        s.summary.qualifying = s.table.qualifying_count;
        s.failed = false;
        s.sink->table_loaded(s.summary.qualifying);
    }
    pass_stations(selections, state, observations);
    for (selection_pass& s : selections) {
        if (!s.failed) pass_not_in_catalogue(s, *state.grid);
        s.summary.stop_signal = util::stop_signal();
    }
}

extraction_summary extract_stations(const run_settings& run, station_table table, textio::in_unit& observations,
                                    station_sink& sink) {
    std::vector<selection_pass> one(1);
    one[0].run = &run;
    one[0].table = std::move(table);
    one[0].sink = &sink;
    extract_selections(one, observations);
    if (one[0].failed) textio::raise_failure(one[0].failure);
    return one[0].summary;
}

extraction_summary extract_stations(const run_settings& run, archive& files, station_sink& sink) {
    station_table table;
    load_station_catalogue(box_selection(run), files.catalogue, table);
    return extract_stations(run, std::move(table), files.observations, sink);
}

}  // namespace engine
