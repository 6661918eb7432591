// The team of threads among which the scan of data.txt and the reading of blocks share their
// items. Its threads wait for work without spinning: the two cores are shared with the
// threads that decompress or copy a streamed input and with the series writers, and a
// thread spinning while it waits would keep them from running.
#pragma once
#include <cstddef>
#include <functional>

namespace util {

// Threads that take items, the caller included: as many as OpenMP would use (OMP_NUM_THREADS,
// or else the cores).
std::size_t team_threads();

// Runs body(item, thread) for every item in [0, count), each taken by the next free thread
// (the caller is thread 0, and takes the first), and returns once all are done. `body`
// must not throw. Called from one thread at a time. The team's threads are started at the
// first call, with the stop signals blocked, and joined when the program ends.
void share_items(std::size_t count, const std::function<void(std::size_t item, std::size_t thread)>& body);

}  // namespace util
