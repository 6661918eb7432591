// Names of the archive files the program reads and of the output pair it writes, and the
// coordinates file's header line, as every whole-program test and fuzz target needs them.
#pragma once

#include <string>
#include <string_view>

namespace support {

inline const std::string catalogue_file_name = "site_summary.txt";
inline const std::string observations_file_name = "data.txt";
inline const std::string coordinates_header = "#Lon\tLat\tStation ID#\n";

struct output_names {
    std::string series;
    std::string coordinates;
};

// Series file "QORN_" + tag + ".TSF", coordinates file "QORN" + tag + ".YX"; any choice
// other than 1 to 3 falls back to the plain TAVE pair.
output_names outputs_for_choice(int data_type);

}  // namespace support
