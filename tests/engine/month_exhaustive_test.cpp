#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "engine/observations.hpp"

namespace {

float from_bits(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Every float fraction in [0, 1): the quick month lookup and the comparison of the
// "(f5.3)" text with the month texts give the same month.
TEST(MonthOfFraction, AgreesWithTheTextForEveryFractionInZeroToOne) {
    const std::uint32_t one = 0x3F800000u;
    long mismatches = 0, months = 0;
#pragma omp parallel for schedule(static, 1 << 20) reduction(+ : mismatches, months)
    for (std::int64_t bits = 0; bits < static_cast<std::int64_t>(one); ++bits) {
        const float f = from_bits(static_cast<std::uint32_t>(bits));
        const int quick = engine::month_of_fraction(f);
        months += quick != 0;
        mismatches += quick != engine::month_of_fraction_by_text(f);
    }
    EXPECT_EQ(mismatches, 0);
    // Each month text covers the fractions within half a thousandth of it: about 2^13
    // floats around each mid-month point (their spacing is 2^-24 to 2^-27 there).
    EXPECT_GT(months, 12 * 8000);
}

TEST(MonthOfFraction, NegativeAndOutOfRangeFractionsHaveNoMonth) {
    const float cases[] = {-0.0f, -0.042f, -0.958f, 1.0f, 1.042f, 12.042f, -1e30f, 1e30f,
                           std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity()};
    for (const float f : cases) {
        EXPECT_EQ(engine::month_of_fraction(f), 0) << f;
        EXPECT_EQ(engine::month_of_fraction_by_text(f), 0) << f;
    }
}

}  // namespace
