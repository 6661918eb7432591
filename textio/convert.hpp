// The one float-to-int32 conversion of the program.
#pragma once
#include <cstdint>
#include <limits>

namespace textio {

// Truncation toward zero to a 32-bit integer. NaN, infinities and values outside the
// int32 range give the most negative int32, so the conversion is always defined.
inline std::int32_t truncate_to_int32(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace textio
