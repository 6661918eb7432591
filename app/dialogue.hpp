// The phases of the run that talk with the user.
#pragma once

namespace app {

void show_banner();
void choose_data_type();
void open_input_files();
void open_output_files();
void ask_region();
void ask_time_span();

}  // namespace app
