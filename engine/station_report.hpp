// The station report: a tab-separated table of every station of the table, in table order,
// with the first reason the screening found to keep or drop it, then a line for each
// listed identifier that is not in the catalogue.
#pragma once
#include "engine/sink.hpp"
#include "textio/units.hpp"

namespace engine {

inline constexpr const char* report_header = "station_id\tlongitude\tlatitude\tverdict\tdetail\n";
// With a near selector, the distance from the point is the last column.
inline constexpr const char* report_header_with_distance =
    "station_id\tlongitude\tlatitude\tverdict\tdetail\tdistance_km\n";

// "saved", "no-records", "span-not-covered", "too-many-missing", "implausible" or
// "not-in-catalogue".
const char* verdict_word(verdict_kind kind);

// The detail column: empty for saved and no-records; "first=YYYY last=YYYY" (the block's
// years), "missing=N limit=M", or "value=V year=YYYY month=M" with V to 3 decimals.
std::string verdict_detail(const station_row& row, const station_verdict& verdict);

// Writes the header line when the table is loaded, then one line per station; a station
// that is not in the catalogue has empty coordinates (and distance).
class station_report_sink : public station_sink {
public:
    explicit station_report_sink(textio::out_unit& out, bool with_distance = false)
        : out_(out), with_distance_(with_distance) {}
    void table_loaded(std::int32_t qualifying_count) override;
    void station(const station_row& row, const station_verdict& verdict, const year_month_grid& grid) override;

private:
    textio::out_unit& out_;
    bool with_distance_;
};

}  // namespace engine
