// The settings of one run, filled by the dialogue or the command line and read by the
// station engine, and the archive's two open input files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textio/units.hpp"

namespace engine {

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

// The files of a run, by unit number.
inline constexpr int catalogue_unit = 12;
inline constexpr int observations_unit = 13;
inline constexpr int series_unit = 14;
inline constexpr int coordinates_unit = 15;

inline constexpr int catalogue_header_lines = 60;
inline constexpr int observations_header_lines = 111;

// site_summary.txt and data.txt, open and positioned at their first data line.
struct archive {
    textio::in_unit catalogue;     // 12
    textio::in_unit observations;  // 13
};

// The tags of the data types 1 to 4, part of both output file names.
inline constexpr const char* data_type_tags[] = {"TAVEq", "TMAXq", "TMINq", "_TAVE"};

// The series and coordinates file names of a tag: "QORN_" tag ".TSF", "QORN" tag ".YX".
inline std::string series_file_name(std::string_view tag) { return "QORN_" + std::string(tag) + ".TSF"; }
inline std::string coordinates_file_name(std::string_view tag) { return "QORN" + std::string(tag) + ".YX"; }

// The monthly values a station can have in the span fyod to lyod.
inline std::int32_t potential_months(std::int32_t fyod, std::int32_t lyod) { return (lyod - fyod) * 12 + 12; }

// The largest number of missing months a saved station may have, for a span of
// `potential_months` and a share of them: the single-precision product, truncated. A
// share of zero allows no missing month; a negative or not-a-number share sets no limit
// (the potential months themselves).
std::int32_t missing_month_limit(std::int32_t potential_months, float fraction);

}  // namespace engine
