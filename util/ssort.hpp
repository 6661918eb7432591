#pragma once
#include <cstdint>

namespace util {

// Sorts keys[0..n) in place: k = 1 increasing, 2 increasing with `companion` carried along,
// -1 decreasing, -2 decreasing with the companion carried. A non-positive n or any other k
// writes a one-line message to the terminal and leaves both arrays untouched.
// The order given to equal keys is part of the program's output (it decides which of two
// records of the same month is kept), so the steps below must not be changed.
void ssort(float* keys, float* companion, std::int32_t n, std::int32_t k);

}  // namespace util
