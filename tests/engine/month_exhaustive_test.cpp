#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "engine/month.hpp"

namespace {

float from_bits(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Under the sanitizers every float from 0.03 up (the months begin above 0.0415) is still
// checked, and below it one float in `sanitized_stride`: the full loop would take minutes.
#ifdef VARNEX_SANITIZED
constexpr std::uint32_t exhaustive_from = 0x3CF5C28Fu;  // 0.03f
constexpr std::uint32_t sanitized_stride = 4093;        // prime: every last-bits pattern recurs
#else
constexpr std::uint32_t exhaustive_from = 0;
constexpr std::uint32_t sanitized_stride = 1;
#endif

// The float after `bits` that the loop checks.
std::uint32_t next_checked(std::uint32_t bits) {
    return bits >= exhaustive_from ? bits + 1 : std::min(bits + sanitized_stride, exhaustive_from);
}

// Every float fraction in [0, 1): the quick month lookup and the comparison of the
// "(f5.3)" text with the month texts give the same month.
TEST(MonthOfFraction, AgreesWithTheTextForEveryFractionInZeroToOne) {
    const std::uint32_t one = 0x3F800000u;
    const std::uint32_t slices = 1024;  // contiguous ranges of bit patterns, shared out among threads
    long mismatches = 0, months = 0, checked = 0;
#pragma omp parallel for schedule(dynamic, 1) reduction(+ : mismatches, months, checked)
    for (std::int64_t slice = 0; slice < static_cast<std::int64_t>(slices); ++slice) {
        const std::uint32_t first = static_cast<std::uint32_t>(one / slices * slice);
        const std::uint32_t last = slice + 1 == slices ? one : static_cast<std::uint32_t>(one / slices * (slice + 1));
        // A strided range starts at its slice's first multiple of the stride.
        std::uint32_t bits = first;
        if (bits < exhaustive_from && bits % sanitized_stride != 0)
            bits = std::min(bits + (sanitized_stride - bits % sanitized_stride), std::max(first, exhaustive_from));
        for (; bits < last; bits = next_checked(bits)) {
            const float f = from_bits(bits);
            const int quick = engine::month_of_fraction(f);
            months += quick != 0;
            mismatches += quick != engine::month_of_fraction_by_text(f);
            ++checked;
        }
    }
    EXPECT_GE(checked, static_cast<long>((one - exhaustive_from) + exhaustive_from / sanitized_stride));
    EXPECT_EQ(mismatches, 0);
    // Each month text covers the fractions within half a thousandth of it: about 2^13
    // floats around each mid-month point (their spacing is 2^-24 to 2^-27 there).
    EXPECT_GT(months, 12 * 8000);
}

// Every float from 1 to 2102 (the grid's years and the dates just past them; one in
// sanitized_stride under the sanitizers), in runs that are not multiples of eight, then
// negative, huge and not-a-number dates: the cells and years of eight dates at a time are
// those of dating each date on its own.
TEST(CellsOfDates, EightAtOnceAgreeWithOneByOne) {
    constexpr std::uint32_t one = 0x3F800000u, past_grid = 0x45036000u;  // 1.0f, 2102.0f
    constexpr std::size_t run = 4099;
    long mismatches = 0, runs = 0;
#pragma omp parallel for schedule(dynamic, 64) reduction(+ : mismatches, runs)
    for (std::int64_t from = one; from < past_grid; from += static_cast<std::int64_t>(run * sanitized_stride)) {
        float dates[run];
        std::int32_t fast[run], slow[run];
        const auto count = static_cast<std::size_t>(
            std::min<std::int64_t>(run, (past_grid - from + sanitized_stride - 1) / sanitized_stride));
        for (std::size_t k = 0; k < count; ++k)
            dates[k] = from_bits(static_cast<std::uint32_t>(from + k * sanitized_stride));
        const engine::placed_years a = engine::cells_of_dates(dates, count, 2100, fast);
        const engine::placed_years b = engine::cells_of_dates_one_by_one(dates, count, 2100, slow);
        mismatches += a.first != b.first || a.last != b.last || !std::equal(fast, fast + count, slow);
        ++runs;
    }
    EXPECT_EQ(mismatches, 0);
    const std::int64_t step = static_cast<std::int64_t>(run * sanitized_stride);
    EXPECT_EQ(runs, (past_grid - one + step - 1) / step);
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float odd[] = {nan,    -inf,  inf,       -1950.042f, -0.958f, 0.042f,        2100.958f,      2101.042f,
                         3e9f,   -3e9f, 1950.042f, 1950.0f,    1950.5f, 2147483520.0f, -2147483648.0f, 1.042f,
                         1e-40f, -0.0f};
    float dates[32];
    std::int32_t fast[32], slow[32];
    for (std::size_t k = 0; k < 32; ++k) dates[k] = odd[(k * 7) % std::size(odd)];
    const engine::placed_years a = engine::cells_of_dates(dates, 32, 2100, fast);
    const engine::placed_years b = engine::cells_of_dates_one_by_one(dates, 32, 2100, slow);
    EXPECT_EQ(a.first, b.first);
    EXPECT_EQ(a.last, b.last);
    for (std::size_t k = 0; k < 32; ++k) EXPECT_EQ(fast[k], slow[k]) << dates[k];
}

TEST(MonthOfFraction, NegativeAndOutOfRangeFractionsHaveNoMonth) {
    const float cases[] = {-0.0f,
                           -0.042f,
                           -0.958f,
                           1.0f,
                           1.042f,
                           12.042f,
                           -1e30f,
                           1e30f,
                           std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity()};
    for (const float f : cases) {
        EXPECT_EQ(engine::month_of_fraction(f), 0) << f;
        EXPECT_EQ(engine::month_of_fraction_by_text(f), 0) << f;
    }
}

}  // namespace
