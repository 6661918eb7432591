// A batch run: the extraction the command line describes, without a dialogue. It never
// prompts, never reads standard input and never pauses.
#pragma once
#include <cstddef>

#include "app/batch_options.hpp"

namespace app {

// Runs the extraction; returns the exit status: 0 on success (whether or not a station is
// saved), 1 when the file system or the archive refuses, 128 plus the signal when SIGINT
// or SIGTERM stopped it. Messages go to standard error.
int run_batch(const batch_options& options);

// --list: prints the selected stations on standard output, reading only the catalogue;
// returns 0, or 1 when the catalogue or a file of identifiers is refused, 2 when that file
// holds what is no identifier.
int run_list(const batch_options& options);

}  // namespace app
