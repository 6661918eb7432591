// A saved station as the extra output formats take it, and what the netCDF file says about
// the whole run: plain values, independent of the run state, so a writer can be fed from
// the station pass or from a test alike.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

#include "engine/sink.hpp"
#include "engine/stations.hpp"

namespace engine {

struct station_series {
    std::int32_t id = 0;  // exact identifier
    float lon = 0.0f;
    float lat = 0.0f;
    float extra = 0.0f;     // the catalogue's fourth value
    std::int32_t fyod = 0;  // span of years
    std::int32_t lyod = 0;
    const float (*rows)[12] = nullptr;  // rows[0] is year fyod ... rows[lyod - fyod] is year lyod; -99.0f = missing
    double distance_km = 0.0;           // from the point of a near selector
};

struct output_meta {
    std::string type_word;  // "tave", "tmax", "tmin", "tave-raw"
    // The selectors as given; without a box the extent of the saved stations stands for it.
    station_selection selection;
    std::int32_t fyod = 0;
    std::int32_t lyod = 0;
    bool has_max_missing = false;
    std::int32_t max_missing = 0;
    std::string catalogue_source;  // first header line of each archive file
    std::string observations_source;
    std::string history;  // command line and UTC timestamp
};

inline constexpr float missing_month = -99.0f;

// A station of the table with the rows of its span in the grid.
inline station_series series_of(const station_row& row, std::int32_t fyod, std::int32_t lyod,
                                const year_month_grid& grid) {
    return {row.id, row.lon, row.lat, row.extra, fyod, lyod, &grid[fyod], row.distance_km};
}

// A file that cannot be created, written or closed; the message names the file and gives
// the system's or the library's reason.
struct output_error : std::runtime_error {
    explicit output_error(const std::string& what, int error = 0) : std::runtime_error(what), error_number(error) {}
    int error_number;  // errno of the refused call, 0 for a failure of the library's own
};

// A sink that hands every saved station of the span to one writer.
template <class Writer, void (*Write)(Writer&, const station_series&)>
class saved_series_sink : public station_sink {
public:
    saved_series_sink(Writer& writer, std::int32_t fyod, std::int32_t lyod)
        : writer_(writer), fyod_(fyod), lyod_(lyod) {}
    void station(const station_row& row, const station_verdict& verdict, const year_month_grid& grid) override {
        if (verdict.kind == verdict_kind::saved) Write(writer_, series_of(row, fyod_, lyod_, grid));
    }

private:
    Writer& writer_;
    std::int32_t fyod_;
    std::int32_t lyod_;
};

}  // namespace engine
