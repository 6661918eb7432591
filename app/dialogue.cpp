// The dialogue run from the banner to the closing lines.
#include "app/dialogue.hpp"

#include "app/terminal_ops.hpp"
#include "engine/background_sink.hpp"
#include "engine/extract.hpp"
#include "engine/terminal_lines.hpp"
#include "textio/terminal.hpp"
#include "util/parallel.hpp"
#include "util/stop_signal.hpp"

namespace app {
namespace {

using textio::parse_format;

const textio::format_list saved_count_line = parse_format("(/1x,'Number of save station records = ',i6)");
const textio::format_list normal_end = parse_format("(/,1x,'Normal Termination of Program.')");
const textio::format_list credit = parse_format("(1x,'Varnex, station series extraction for the Valmora archive.',/)");

// The station lines on the terminal come before the files' rows of the same station, so
// that a refused write is reported after the progress line of the station it belongs to.
// Both are made on a second thread, in station order, while the pass reads on.
engine::extraction_summary extract(dialogue_run& run) {
    engine::terminal_lines_sink terminal(run.settings, textio::terminal_output());
    engine::series_files_sink files(run.settings, run.outputs);
    engine::fan_out_sink both({&terminal, &files});
    if (!util::second_thread_allowed()) return engine::extract_stations(run.settings, run.archive, both);
    engine::background_sink behind(both, run.settings.fyod, run.settings.lyod);
    return engine::extract_stations_behind(run.settings, run.archive, behind, {&behind});
}

void close_run_files(dialogue_run& run) {
    engine::flush_series_pair(run.outputs);
    textio::close_input(run.archive.observations);
    textio::close_output(run.outputs.series);
    textio::close_output(run.outputs.coordinates);
}

}  // namespace

int run_dialogue(dialogue_run& run) {
    show_banner();
    choose_data_type(run.settings);
    if (!open_input_files(run)) return 1;
    open_output_files(run);
    ask_region(run.settings);
    ask_time_span(run.settings);

    // Until here a stop signal ended the process with the older pair untouched; from here
    // on it ends the run at a station boundary, both files after the same whole station.
    util::note_stop_signals();
    if (const int signal_number = util::stop_signal(); signal_number != 0) return 128 + signal_number;
    engine::start_series_pair(run.outputs, run.settings.separator);
    const engine::extraction_summary summary = extract(run);
    // Read once the writers are done: a signal that came while they wrote the last
    // stations also stops the run.
    if (const int signal_number = util::stop_signal(); signal_number != 0) {
        engine::cut_back_to_whole_stations(run.outputs);
        textio::close_all_units();
        return 128 + signal_number;
    }
    close_run_files(run);
    say(saved_count_line, {textio::item_int(summary.saved)});
    say(normal_end);
    say(credit);
    return 0;
}

int report_failure(dialogue_run& run, const textio::io_failure& failure) {
    engine::cut_back_to_whole_stations(run.outputs);
    textio::close_all_units();
    write_error_text(failure_report_text(failure));
    return 255;
}

}  // namespace app
