// The lines the dialogue shows while the engine works: the count of stations in the box,
// a station missing from data.txt, an implausible value, and a progress line for every
// saved station.
#pragma once
#include "engine/run_settings.hpp"
#include "engine/sink.hpp"
#include "textio/units.hpp"

namespace engine {

class terminal_lines_sink : public station_sink {
public:
    terminal_lines_sink(const run_settings& run, textio::out_unit& terminal) : run_(run), terminal_(terminal) {}
    void table_loaded(std::int32_t qualifying_count) override;
    void station(const station_row& row, const station_verdict& verdict, const year_month_grid& grid) override;

private:
    const run_settings& run_;
    textio::out_unit& terminal_;
};

}  // namespace engine
