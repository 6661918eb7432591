#include "engine/grid.hpp"

namespace engine {
namespace {

void reset_years(year_month_grid& cells, std::int32_t first, std::int32_t last) {
    for (std::int32_t year = first; year <= last; ++year)
        for (float& cell : cells[year]) cell = missing_value;
}

}  // namespace

// Even the first reset, of all 2,100 years, clears only 101 KB: a parallel region would
// cost more (and keep a thread waiting on a core the run needs).
void reset_grid(station_grid& grid) {
    if (grid.placed_first <= grid.placed_last) reset_years(grid.cells, grid.placed_first, grid.placed_last);
    grid.placed_first = last_grid_year + 1;
    grid.placed_last = 0;
}

}  // namespace engine
