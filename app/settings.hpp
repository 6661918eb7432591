// The run settings record: filled by the dialogue, read by the station data engine.
// One instance lives for the whole run.
#pragma once
#include <cstdint>
#include <vector>

#include "textio/units.hpp"

namespace app {

// Character fields keep their declared lengths; names are left-aligned and blank-padded,
// and trailing blanks are not part of a file name.
struct run_settings {
    char separator = '\t';
    std::int32_t crosses_dateline = 0;
    std::int32_t data_type = 0;
    char type_tag[5] = {' ', ' ', ' ', ' ', ' '};
    char catalogue_name[16] = {};
    char observations_name[16] = {};
    char output_name[30] = {};
    float max_lat = 0.0f;
    float min_lat = 0.0f;
    float max_lon = 0.0f;
    float min_lon = 0.0f;
    std::int32_t fyod = 0;
    std::int32_t lyod = 0;
    float missing_fraction = 0.0f;
    std::int32_t max_missing = 0;
    // Answer cells shared between questions: an answer that supplies no value leaves the
    // cell as the previous use left it.
    bool confirm_answer = false;
    std::int32_t reject_answer = 0;
};

// The four files of a run, by unit number.
inline constexpr int catalogue_unit = 12;
inline constexpr int observations_unit = 13;
inline constexpr int series_unit = 14;
inline constexpr int coordinates_unit = 15;

// Lengths of the series and coordinates files where a saved station ends.
struct pair_lengths {
    std::int64_t series = 0;
    std::int64_t coordinates = 0;
};

struct run_files {
    textio::in_unit catalogue;     // 12, site_summary.txt
    textio::in_unit observations;  // 13, data.txt
    textio::out_unit series;       // 14, .TSF
    textio::out_unit coordinates;  // 15, .YX
    // Where the two files end after the header and after each saved station, from the last
    // one both files are known to hold on: a failure cuts them back to a common one.
    std::vector<pair_lengths> station_ends;
};

run_settings& settings();
run_files& files();

}  // namespace app
