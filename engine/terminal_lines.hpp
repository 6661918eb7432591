// The lines the dialogue shows while the engine works: the count of stations in the box,
// a station missing from data.txt, an implausible value, and a progress line for every
// saved station.
#pragma once
#include "engine/run_settings.hpp"
#include "engine/sink.hpp"
#include "textio/units.hpp"

namespace engine {

// With `show_count` false the count line is left out and only the station lines are shown.
class terminal_lines_sink : public station_sink {
public:
    terminal_lines_sink(const run_settings& run, textio::out_unit& terminal, bool show_count = true)
        : run_(run), terminal_(terminal), show_count_(show_count) {}
    void table_loaded(std::int32_t qualifying_count) override;
    void station(const station_row& row, const station_verdict& verdict, const year_month_grid& grid) override;

private:
    const run_settings& run_;
    textio::out_unit& terminal_;
    bool show_count_;
};

}  // namespace engine
