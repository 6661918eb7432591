// Every float that an f8.3 field can show, and then some, through the series row's quick
// routes (value by value, and four of a row at once) against the general fw.d writer: all
// bit patterns of magnitude below 2^14 (every plausible value in [-70, 100] included, both
// zeros, all subnormals) with both signs, and every infinity and NaN payload. About 2.4 billion values: minutes on two cores, so
// this runs on demand (`make exhaustive`), not with the suite.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "textio/format.hpp"
#include "textio/series_row.hpp"

namespace {

constexpr std::uint32_t below_2_pow_14 = 141u << 23;  // first bit pattern of 16384.0f
constexpr std::uint32_t not_finite_from = 0x7f800000u;
constexpr std::uint32_t plausible_positive_end = 0x42c80000u;  // 100.0f
constexpr std::uint32_t plausible_negative_end = 0x428c0000u;  // magnitude 70.0f

struct tally {
    std::uint64_t checked = 0;
    std::uint64_t mismatches = 0;
    std::uint64_t general = 0;            // values the quick route handed to the general writer
    std::uint64_t plausible_general = 0;  // of those, values in [-70, 100]
};

bool plausible(std::uint32_t magnitude_bits, bool negative) {
    return magnitude_bits <= (negative ? plausible_negative_end : plausible_positive_end);
}

// Values gathered into a row, which formats them four at a time where it can.
struct row_check {
    float months[12] = {};
    std::string expected;
    int filled = 0;
};

void check_row(row_check& r, tally& t) {
    if (r.filled == 0) return;
    for (; r.filled < 12; ++r.filled) {
        r.months[r.filled] = 0.0f;
        r.expected += "   0.000";
    }
    std::string out;
    textio::append_series_row(out, 0, r.months);
    if (out.compare(textio::series_year_width, r.expected.size(), r.expected) != 0 && ++t.mismatches <= 10) {
#pragma omp critical
        std::fprintf(stderr, "row: '%s', general '%s'\n", out.c_str(), r.expected.c_str());
    }
    r.filled = 0;
    r.expected.clear();
}

// One slice of magnitudes [from, to) with both signs, each value alone and in a row.
void check_slice(std::uint32_t from, std::uint32_t to, tally& t) {
    std::string expected;
    char field[8];
    row_check row;
    for (std::uint32_t magnitude = from; magnitude < to; ++magnitude) {
        for (const std::uint32_t sign : {0u, 0x80000000u}) {
            const float v = std::bit_cast<float>(magnitude | sign);
            expected.clear();
            textio::append_fixed_field(expected, v, 8, 3);
            if (!textio::put_series_value_quickly(field, v)) {
                ++t.general;
                if (plausible(magnitude, sign != 0)) ++t.plausible_general;
            }
            textio::put_series_value(field, v);
            if (std::memcmp(field, expected.data(), 8) != 0 && ++t.mismatches <= 10) {
#pragma omp critical
                std::fprintf(stderr, "bits 0x%08x: quick '%.8s', general '%s'\n", magnitude | sign, field,
                             expected.c_str());
            }
            ++t.checked;
            row.months[row.filled++] = v;
            row.expected += expected;
            if (row.filled == 12) check_row(row, t);
        }
    }
    check_row(row, t);
}

// [from, to) cut into slices that the threads share out.
tally check_range(std::uint32_t from, std::uint32_t to) {
    constexpr std::uint32_t slice = 1u << 20;
    const std::int64_t slices = (static_cast<std::int64_t>(to) - from + slice - 1) / slice;
    std::uint64_t checked = 0, mismatches = 0, general = 0, plausible_general = 0;
#pragma omp parallel for schedule(dynamic, 1) reduction(+ : checked, mismatches, general, plausible_general)
    for (std::int64_t i = 0; i < slices; ++i) {
        const std::uint32_t a = from + static_cast<std::uint32_t>(i) * slice;
        const std::uint32_t b = to - a > slice ? a + slice : to;
        tally t;
        check_slice(a, b, t);
        checked += t.checked;
        mismatches += t.mismatches;
        general += t.general;
        plausible_general += t.plausible_general;
    }
    return {checked, mismatches, general, plausible_general};
}

TEST(SeriesRowExhaustive, EveryFloatBelowTwoToTheFourteenAndEveryNaNAgreeWithTheGeneralWriter) {
    const auto started = std::chrono::steady_clock::now();
    const tally finite = check_range(0, below_2_pow_14);
    const tally not_finite = check_range(not_finite_from, 0x80000000u);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "checked %llu floats (%llu with infinities and NaNs) in %.1f s: %llu mismatches, %llu through the "
        "general writer (%llu of them in [-70, 100])\n",
        static_cast<unsigned long long>(finite.checked + not_finite.checked),
        static_cast<unsigned long long>(not_finite.checked), seconds,
        static_cast<unsigned long long>(finite.mismatches + not_finite.mismatches),
        static_cast<unsigned long long>(finite.general + not_finite.general),
        static_cast<unsigned long long>(finite.plausible_general));
    EXPECT_EQ(finite.mismatches + not_finite.mismatches, 0u);
    EXPECT_EQ(finite.checked, 2ull * below_2_pow_14);
    EXPECT_EQ(not_finite.checked, 2ull * (0x80000000u - not_finite_from));
    EXPECT_EQ(finite.plausible_general, 0u);  // the quick route itself covers the whole plausible range
}

}  // namespace
