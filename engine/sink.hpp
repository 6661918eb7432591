// What the station engine tells its callers: the table it built, then each station of
// the table, in table order, with its verdict. Every output (the terminal lines, the
// series and coordinates files, the CSV and netCDF files, the station report) is a sink.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/grid.hpp"

namespace engine {

// A station of the table as the catalogue gave it, with the years of its block.
struct station_row {
    std::int32_t id = 0;
    float lat = 0.0f;
    float lon = 0.0f;
    float extra = 0.0f;           // the catalogue's fourth value
    std::int32_t first_year = 0;  // year of the first record of its block
    std::int32_t last_year = 0;   // year of the last record of its block
    double distance_km = 0.0;     // from the point of a near selector
};

// The first reason the screening finds, in its own order. A listed identifier that no
// catalogue station has is told last, as not_in_catalogue, with only its identifier.
enum class verdict_kind { saved, no_records, span_not_covered, too_many_missing, implausible, not_in_catalogue };

struct station_verdict {
    verdict_kind kind = verdict_kind::saved;
    std::int32_t saved_count = 0;   // saved: how many stations are saved, this one included
    bool reported_missing = false;  // no_records: the search ran to the end twice and says so
    std::int32_t missing = 0;       // too_many_missing: missing months of the span
    std::int32_t limit = 0;         //   and the largest number allowed
    float value = 0.0f;             // implausible: the first such value of the span,
    std::int32_t year = 0;          //   its year
    int month = 0;                  //   and month
};

class station_sink {
public:
    virtual ~station_sink() = default;
    // The table is complete: `qualifying_count` stations lie in the box.
    virtual void table_loaded(std::int32_t qualifying_count) { (void)qualifying_count; }
    // One station of the table. `grid` holds its values for the span only when it is saved.
    virtual void station(const station_row& row, const station_verdict& verdict, const year_month_grid& grid) = 0;
};

// Hands everything to several sinks, in the order given.
class fan_out_sink : public station_sink {
public:
    explicit fan_out_sink(std::vector<station_sink*> sinks) : sinks_(std::move(sinks)) {}
    void table_loaded(std::int32_t qualifying_count) override {
        for (station_sink* s : sinks_) s->table_loaded(qualifying_count);
    }
    void station(const station_row& row, const station_verdict& verdict, const year_month_grid& grid) override {
        for (station_sink* s : sinks_) s->station(row, verdict, grid);
    }

private:
    std::vector<station_sink*> sinks_;
};

}  // namespace engine
