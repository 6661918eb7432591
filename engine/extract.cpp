#include "engine/extract.hpp"

#include <memory>

#include "engine/month.hpp"
#include "engine/observations.hpp"
#include "engine/stations.hpp"
#include "util/parallel.hpp"
#include "util/ssort.hpp"
#include "util/stop_signal.hpp"

namespace engine {
namespace {

// Everything the pass keeps from one station to the next.
struct pass_state {
    station_table table;
    observation_reader reader;
    std::unique_ptr<station_grid> grid = std::make_unique<station_grid>();
};

// Dates strictly increasing already stand in the one order any sort gives them, so the
// sort is only needed when some date is not above the one before (equal dates, records
// out of order, or a date that compares neither way).
void order_block(observation_reader& r) {
    const float* d = r.block_dates.data();
    for (std::int32_t k = 1; k < r.block_count; ++k) {
        if (!(d[k - 1] < d[k])) {
            util::ssort(r.block_dates.data(), r.block_values.data(), r.block_count, 2);
            return;
        }
    }
}

// Values in date order: a later record of the same month overwrites an earlier one.
// Records whose year lies outside the grid, or whose date has no month, are not placed.
void place_block(const observation_reader& r, station_grid& grid) {
    const month_intervals& months = month_table();
    for (std::int32_t k = 0; k < r.block_count; ++k) {
        const year_month when = date_to_year_month(r.block_dates[k], months);
        place_value(grid, when.year, when.month, r.block_values[k]);
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

station_verdict verdict_of_search(block_outcome outcome) {
    station_verdict v;
    v.kind = verdict_kind::no_records;
    v.reported_missing = outcome == block_outcome::missing_reported;
    return v;
}

// One station: its block collected, screened and told to the sink.
void pass_station(const run_settings& run, archive& files, pass_state& state, std::int32_t row, station_sink& sink,
                  extraction_summary& summary) {
    observation_reader& r = state.reader;
    const block_outcome outcome = collect_station_block(r, state.table, row, files.observations);
    judge_coming_landings(r, state.table, row, files.observations);
    station_verdict verdict;
    if (outcome == block_outcome::missing_reported || outcome == block_outcome::no_block) {
        verdict = verdict_of_search(outcome);
    } else {
        order_block(r);
        reset_grid(*state.grid);
        place_block(r, *state.grid);
        verdict = screen_station(run, row_of(state.table, row), *state.grid);
    }
    count_verdict(verdict, summary);
    verdict.saved_count = summary.saved;
    sink.station(row_of(state.table, row), verdict, state.grid->cells);
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
    state.reader.index.cap = run.index_cap;
    load_station_catalogue(run, files.catalogue, state.table);
    prepare_reader(state.reader, util::second_thread_allowed());
    summary.qualifying = state.table.qualifying_count;
    sink.table_loaded(summary.qualifying);
    for (std::int32_t row = 0; row < state.table.qualifying_count && util::stop_signal() == 0; ++row)
        pass_station(run, files, state, row, sink, summary);
    summary.stop_signal = util::stop_signal();
    return summary;
}

}  // namespace engine
