// SIGINT and SIGTERM during the station pass: the run finishes the station it is on and
// stops there, so the output files end after the same whole station.
#pragma once

namespace util {

// From now on SIGINT and SIGTERM are noted instead of ending the process.
void catch_stop_signals();

// The signal noted (SIGINT or SIGTERM), or 0.
int stop_signal();

}  // namespace util
