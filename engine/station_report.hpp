// The station report: a tab-separated table of every station of the box, in table order,
// with the first reason the screening found to keep or drop it.
#pragma once
#include "engine/sink.hpp"
#include "textio/units.hpp"

namespace engine {

inline constexpr const char* report_header = "station_id\tlongitude\tlatitude\tverdict\tdetail\n";

// "saved", "no-records", "span-not-covered", "too-many-missing" or "implausible".
const char* verdict_word(verdict_kind kind);

// The detail column: empty for saved and no-records; "first=YYYY last=YYYY" (the block's
// years), "missing=N limit=M", or "value=V year=YYYY month=M" with V to 3 decimals.
std::string verdict_detail(const station_row& row, const station_verdict& verdict);

// Writes the header line when the table is loaded, then one line per station.
class station_report_sink : public station_sink {
public:
    explicit station_report_sink(textio::out_unit& out) : out_(out) {}
    void table_loaded(std::int32_t qualifying_count) override;
    void station(const station_row& row, const station_verdict& verdict, const year_month_grid& grid) override;

private:
    textio::out_unit& out_;
};

}  // namespace engine
