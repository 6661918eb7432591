// The run as a dialogue on the terminal: the phases that talk with the user, and the run
// from the banner to the closing lines.
#pragma once
#include "engine/run_settings.hpp"
#include "engine/series_files.hpp"
#include "textio/failure.hpp"

namespace app {

using engine::run_settings;

// Everything one dialogue run holds: its settings, the archive and the output pair.
struct dialogue_run {
    run_settings settings;
    engine::archive archive;
    engine::series_pair outputs;
};

void show_banner();
void choose_data_type(run_settings& run);
// Opens both archive files and shows their headers; false when one is missing, after its
// message and the pause (the catalogue is closed again).
bool open_input_files(dialogue_run& run);
// Opens (creating them if absent) and locks both output files, without emptying them: an
// older pair stays as it was until the last answer. An output that opens an input file
// fails before anything is written.
void open_output_files(dialogue_run& run);
void ask_region(run_settings& run);
void ask_time_span(run_settings& run);

// The whole run; returns the exit status (0, or 1 for a missing archive file). A failure
// is thrown as textio::io_failure, with the files still open.
int run_dialogue(dialogue_run& run);

// Cuts the output pair back to whole stations, closes every file, writes the three "? "
// lines to standard error; the exit status is 255.
int report_failure(dialogue_run& run, const textio::io_failure& failure);

}  // namespace app
