// The steps of a run that the command line and the Python module take alike: the settings
// and selectors of the options, the archive files opened past their headers, what the
// netCDF file says about the run, and the words of an archive failure.
#pragma once
#include <string>

#include "app/batch_options.hpp"
#include "engine/run_settings.hpp"
#include "engine/station_series.hpp"
#include "engine/stations.hpp"
#include "textio/failure.hpp"
#include "textio/units.hpp"

namespace app {

engine::run_settings settings_of(const batch_options& o);

// Why the selectors could not be read: status usage_exit_status with a usage problem
// (`message` without "varnex: "), or 1 when the file of --stations @FILE cannot be read
// (`path` names it); status 0 when they were read.
struct selection_refusal {
    int status = 0;
    std::string message;
    std::string path;
};

// The selectors of the options, with the identifiers of --stations @FILE read; messages
// begin with `context`, the line of a selections file that names the file.
selection_refusal read_selection(const batch_options& o, engine::station_selection& s, const std::string& context = "");

// Opens an archive file, decompressed when it is compressed, and passes over its header;
// returns the header's first line.
std::string open_archive_file(textio::in_unit& unit, int unit_number, const std::string& path, int header_lines);

// The run as the netCDF file describes it; its history is the UTC time and the command line.
engine::output_meta meta_of(const batch_options& o, const engine::station_selection& selection,
                            const engine::run_settings& run, const std::string& catalogue_source,
                            const std::string& observations_source);

// A failure as a message says it, after "varnex: ".
std::string failure_text(const textio::io_failure& failure);

}  // namespace app
