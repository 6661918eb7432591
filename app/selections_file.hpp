// The selections of --selections FILE: one line per selection, its name and its options,
// over the command line's. Reading it opens no archive file and creates nothing, so that a
// bad line stops the run before anything is read.
#pragma once
#include <string>
#include <vector>

#include "app/batch_options.hpp"

namespace app {

struct named_selection {
    std::string name;
    std::string place;      // "FILE:LINE", as messages name the line
    batch_options options;  // those of a separate run of this selection, outputs included
};

// One selection per line of options.selections_path that is neither blank nor a comment,
// in the file's order. Each one's .TSF and .YX pair goes to the directory NAME under -o,
// and {name} in --report, --csv and --netcdf becomes its name. Returns a usage problem, or
// sets `error_number` when the file cannot be read.
std::string read_selections(const batch_options& options, std::vector<named_selection>& selections, int& error_number);

}  // namespace app
