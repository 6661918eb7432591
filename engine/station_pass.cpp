#include "engine/station_pass.hpp"

#include <string_view>

#include "engine/observations.hpp"
#include "engine/stations.hpp"
#include "textio/terminal.hpp"
#include "util/parallel.hpp"
#include "util/ssort.hpp"
#include "util/stop_signal.hpp"

namespace engine {
namespace {

using textio::item_int;
using textio::item_real;
using textio::item_text;

const textio::format_list skipped_line = textio::parse_format("(1x,'Record will be skipped ***************')");

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

// Years of the grid that hold placed values: [first, last], empty when first > last.
struct placed_years {
    std::int32_t first = 1;
    std::int32_t last = last_grid_year;  // the grid is all unknown before the first reset
};

placed_years& placed() {
    static placed_years years;
    return years;
}

void reset_years(std::int32_t first, std::int32_t last, bool parallel) {
    year_month_grid& g = grid();
    util::parallel_loop(last - first + 1, parallel, [&g, first](long i) {
        for (float& cell : g[first + i]) cell = missing_value;
    });
}

// Every cell of the grid holds the missing value before a station's values are placed.
// Only the years the previous station wrote can hold anything else, so only they are
// reset: the first reset of a run covers all 2,020 years as one parallel loop; after it,
// one parallel region per station would cost more than the few rows it clears (and on a
// busy machine a region can wait for a core for a whole time slice).
void reset_grid() {
    placed_years& years = placed();
    if (years.first <= years.last) reset_years(years.first, years.last, years.last - years.first + 1 == last_grid_year);
    years = {last_grid_year + 1, 0};
}

// Values in date order: a later record of the same month overwrites an earlier one.
// Records whose year lies outside the grid, or whose date has no month, are not placed.
void place_block(const observation_reader& r) {
    year_month_grid& g = grid();
    placed_years& years = placed();
    for (std::int32_t k = 0; k < r.block_count; ++k) {
        const year_month when = date_to_year_month(r.block_dates[k]);
        if (when.month == 0 || when.year < 1 || when.year > last_grid_year) continue;
        g[when.year][when.month - 1] = r.block_values[k];
        if (when.year < years.first) years.first = when.year;
        if (when.year > years.last) years.last = when.year;
    }
}

bool is_spurious(float v) { return v != missing_value && (v > spurious_above || v < spurious_below); }

// The first implausible value of the span, years first, then months; nullptr when none.
const float* first_spurious(const app::run_settings& run) {
    const year_month_grid& g = grid();
    for (std::int32_t y = run.fyod; y <= run.lyod; ++y)
        for (const float& v : g[y])
            if (is_spurious(v)) return &v;
    return nullptr;
}

std::int32_t count_missing(const app::run_settings& run) {
    const year_month_grid& g = grid();
    std::int32_t missing = 0;
    for (std::int32_t y = run.fyod; y <= run.lyod; ++y)
        for (float v : g[y]) missing += (v == missing_value);
    return missing;
}

void report_spurious(const app::run_settings& run, const station_table& t, std::int32_t row, float value) {
    textio::out_unit& terminal = textio::terminal_output();
    const std::string_view tab(&run.separator, 1);
    textio::write_free_form(terminal, {item_text(" :-Spurious values detected in record e.g., :- ")});
    textio::write_free_form(terminal, {item_text("  "), item_int(t.station_id[row]), item_text(tab),
                                       item_real(t.station_lon[row]), item_text(tab), item_real(t.station_lat[row]),
                                       item_text(tab), item_real(value)});
    textio::write_formatted(terminal, skipped_line);
}

void announce_saved(const app::run_settings& run, const station_table& t, std::int32_t row, std::int32_t saved) {
    const std::string_view tab(&run.separator, 1);
    textio::write_free_form(textio::terminal_output(),
                            {item_int(saved), item_text(" >> Saving Station-: "), item_real(t.station_lon[row]),
                             item_text(tab), item_real(t.station_lat[row]), item_text(tab),
                             item_int(t.station_id[row]), item_text(tab), item_int(t.first_year[row]), item_int(0),
                             item_int(t.last_year[row])});
}

// Screens the station whose block is in the reader; true when it is to be saved.
bool passes_screening(const app::run_settings& run, const station_table& t, std::int32_t row) {
    if (const float* spurious = first_spurious(run)) {
        report_spurious(run, t, row, *spurious);
        return false;
    }
    if (t.first_year[row] > run.fyod || t.last_year[row] < run.lyod) return false;
    return count_missing(run) <= run.max_missing;
}

}  // namespace

year_month_grid& grid() {
    static year_month_grid cells;
    return cells;
}

std::int32_t run_station_pass(const app::run_settings& run, app::run_files& files) {
    station_table& table = stations();
    observation_reader& r = reader();
    std::int32_t saved = 0;
    start_observation_search();
    for (std::int32_t row = 0; row < table.qualifying_count; ++row) {
        const block_outcome outcome = collect_station_block(table, row, files);
        if (outcome == block_outcome::no_block) continue;
        order_block(r);
        reset_grid();
        place_block(r);
        if (passes_screening(run, table, row)) {
            ++saved;
            announce_saved(run, table, row, saved);
            write_station_output(run, files, row);
        }
        if (outcome == block_outcome::ended_by_record) release_block(files);
        if (util::stop_signal() != 0) break;
    }
    return saved;
}

}  // namespace engine
