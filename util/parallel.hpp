// The rule by which the program's data-parallel loops decide to use a team of threads,
// and the contiguous static division of their iterations.
#pragma once
#include <omp.h>

#include <algorithm>

namespace util {

// Threads assumed when a loop decides whether to go parallel; fixed, so that the decision
// never depends on the machine or the environment.
inline constexpr long planning_threads = 2;

// Cost factors of the loops that use the rule.
inline constexpr long blank_fill_cost = 2;
inline constexpr long sign_flip_cost = 4;

// A loop of n iterations with cost factor c is worth a parallel region when
// c·n·(T−1) > T·(128·T + 4096): n > 4352 for the blank fill, n > 2176 for sign flips.
inline bool worth_parallel(long n, long cost) {
    const long t = planning_threads;
    return n > 1 && cost * n * (t - 1) > t * (128 * t + 4096);
}

// Whether the run may use a second thread beside the main one: OMP_NUM_THREADS (or, when
// it is not set, the cores) allow more than one.
inline bool second_thread_allowed() { return omp_get_max_threads() > 1; }

// Starts the OpenMP team now, with the stop signals blocked, so that none of its threads
// ever takes them (a team is kept for the whole run); nothing when one thread is allowed.
void start_thread_team();

// Runs body(i) for i in [0, n). In parallel, thread t of P takes the contiguous block
// [t·b, min((t+1)·b, n)) with b = ⌈n/P⌉; the caller goes on only when all blocks are done.
template <class Body>
void parallel_loop(long n, bool parallel, Body&& body) {
    if (!parallel) {
        for (long i = 0; i < n; ++i) body(i);
        return;
    }
#pragma omp parallel
    {
        const long threads = omp_get_num_threads();
        const long block = (n + threads - 1) / threads;
        const long first = omp_get_thread_num() * block;
        const long last = std::min(first + block, n);
        for (long i = first; i < last; ++i) body(i);
    }
}

}  // namespace util
