#include "engine/grid.hpp"

#include "util/parallel.hpp"

namespace engine {
namespace {

void reset_years(year_month_grid& cells, std::int32_t first, std::int32_t last, bool parallel) {
    util::parallel_loop(last - first + 1, parallel, [&cells, first](long i) {
        for (float& cell : cells[first + i]) cell = missing_value;
    });
}

}  // namespace

// The first reset of a run covers all 2,020 years as one parallel loop; after it, one
// parallel region per station would cost more than the few rows it clears (and on a busy
// machine a region can wait for a core for a whole time slice).
void reset_grid(station_grid& grid) {
    if (grid.placed_first <= grid.placed_last)
        reset_years(grid.cells, grid.placed_first, grid.placed_last,
                    grid.placed_last - grid.placed_first + 1 == last_grid_year);
    grid.placed_first = last_grid_year + 1;
    grid.placed_last = 0;
}

}  // namespace engine
