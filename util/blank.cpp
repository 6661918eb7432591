#include "util/blank.hpp"

#include "util/parallel.hpp"

namespace util {

void blank(char* field, std::int32_t length) {
    const long n = length > 0 ? length : 0;
    parallel_loop(n, worth_parallel(n, blank_fill_cost), [field](long i) { field[i] = ' '; });
}

}  // namespace util
