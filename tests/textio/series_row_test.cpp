// Rows of the series file by the dedicated route, against the general iw and fw.d writers.
// Every float of the value range is compared by the separate exhaustive check
// (tests/exhaustive, `make exhaustive`); this is its sampled, quick counterpart.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "textio/format.hpp"
#include "textio/series_row.hpp"

namespace {

float from_bits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

std::string general_value(float value) {
    std::string out;
    textio::append_fixed_field(out, value, 8, 3);
    return out;
}

std::string quick_value(float value) {
    char field[8];
    textio::put_series_value(field, value);
    return std::string(field, 8);
}

std::string general_year(std::int32_t year) {
    std::string out;
    textio::append_integer_field(out, year, 4);
    return out;
}

std::string quick_year(std::int32_t year) {
    char field[4];
    textio::put_series_year(field, year);
    return std::string(field, 4);
}

std::string row(std::int32_t year, const float (&months)[12]) {
    std::string out;
    textio::append_series_row(out, year, months);
    return out;
}

// Values of the grid outside the plausible range, and floats near every boundary of the
// quick route.
std::vector<float> special_values() {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> v = {-99.0f,
                            0.0f,
                            -0.0f,
                            inf,
                            -inf,
                            100.0f,
                            -70.0f,
                            9999.999f,
                            9999.9995f,
                            -999.999f,
                            -999.9995f,
                            10000.0f,
                            -1000.0f,
                            1000.0f,
                            999.9996f,
                            -999.9996f,
                            1000.9995f,
                            16383.999f,
                            16384.0f,
                            -16384.0f,
                            8388608.0f,
                            1e30f,
                            -1e30f,
                            std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::max(),
                            0.0005f,
                            -0.0005f,
                            0.00049999997f,
                            0.0004f,
                            -0.0004f,
                            0.9995f,
                            1e-30f,
                            -1e-30f};
    for (std::uint32_t payload : {0x400000u, 0x1u, 0x7fffffu, 0x123456u, 0x400001u}) {
        v.push_back(from_bits(0x7f800000u | payload));
        v.push_back(from_bits(0xff800000u | payload));
    }
    for (std::uint32_t bits : {0x1u, 0x7fffffu, 0x800000u, 0x1000u}) {  // subnormals and the smallest normal
        v.push_back(from_bits(bits));
        v.push_back(from_bits(0x80000000u | bits));
    }
    // Both neighbours of every power of two in the quick route's exponent range.
    for (std::uint32_t biased = 1; biased < 255; ++biased) {
        const std::uint32_t bits = biased << 23;
        for (std::uint32_t b : {bits - 1, bits, bits + 1}) {
            v.push_back(from_bits(b));
            v.push_back(from_bits(0x80000000u | b));
        }
    }
    return v;
}

struct field_case {
    float value;
    const char* field;
};

TEST(SeriesRow, ValuesGiveTheirFieldsExactly) {
    const field_case cases[] = {
        {-99.0f, " -99.000"},
        {12.3456f, "  12.346"},
        {-0.0f, "   0.000"},
        {0.0f, "   0.000"},
        {1234.567f, "1234.567"},
        {-1234.5f, "********"},
        {-1.936f, "  -1.936"},
        {-3.2f, "  -3.200"},
        {100.0f, " 100.000"},
        {-70.0f, " -70.000"},
        {0.0005f, "   0.001"},
        {-0.0004f, "   0.000"},
        {-0.5f, "  -0.500"},
        {0.9996f, "   1.000"},
        {9999.999f, "9999.999"},
        {10000.0f, "********"},
        {-999.999f, "-999.999"},
        {-1000.0f, "********"},
        {std::numeric_limits<float>::quiet_NaN(), "     NaN"},
        {-std::numeric_limits<float>::infinity(), "    -INF"},
        {1e-40f, "   0.000"},
    };
    for (const field_case& c : cases) EXPECT_EQ(quick_value(c.value), c.field) << c.value;
}

TEST(SeriesRow, RowOfOneYearHasItsBytesExactly) {
    const float months[12] = {-3.2f, -99.0f, 10.0f, 10.0f, 10.0f, 10.0f, 10.0f, 10.0f, 10.0f, 10.0f, 10.0f, 10.0f};
    std::string expected = "1950  -3.200 -99.000";
    for (int i = 0; i < 10; ++i) expected += "  10.000";
    expected += "\n";
    EXPECT_EQ(row(1950, months), expected);
    EXPECT_EQ(row(1950, months).size(), textio::series_row_length);
}

TEST(SeriesRow, RowAppendsToWhatIsThere) {
    const float months[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::string out = "x";
    textio::append_series_row(out, 7, months);
    EXPECT_EQ(out,
              "x   7   1.000   2.000   3.000   4.000   5.000   6.000   7.000   8.000   9.000  10.000  11.000"
              "  12.000\n");
}

TEST(SeriesRow, SpecialValuesAgreeWithTheGeneralWriter) {
    for (const float v : special_values())
        EXPECT_EQ(quick_value(v), general_value(v)) << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(v);
}

// A million floats of the plausible range: half uniform in value, half uniform in bit
// pattern (which reaches the small magnitudes), both signs.
TEST(SeriesRow, MillionRandomPlausibleValuesAgreeWithTheGeneralWriter) {
    std::mt19937 random(20260314u);
    std::uniform_real_distribution<float> by_value(-70.0f, 100.0f);
    std::uniform_int_distribution<std::uint32_t> by_bits(0, 0x42c80000u);  // 0 .. 100.0f
    long mismatches = 0;
    for (int i = 0; i < 1000000; ++i) {
        float v = by_value(random);
        if (i % 2 == 1) {
            v = from_bits(by_bits(random));
            if (v <= 70.0f && (random() & 1u)) v = -v;
        }
        if (quick_value(v) != general_value(v) && ++mismatches <= 10)
            ADD_FAILURE() << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(v) << ": " << quick_value(v)
                          << " against " << general_value(v);
    }
    EXPECT_EQ(mismatches, 0);
}

// Rows go four values at a time where they can: rows whose values are drawn from the
// special ones and the plausible range, so that every lane meets each kind of value beside
// every other kind.
TEST(SeriesRow, RowsOfMixedValuesAgreeWithTheGeneralWriter) {
    const std::vector<float> specials = special_values();
    std::mt19937 random(20261209u);
    std::uniform_real_distribution<float> plausible(-70.0f, 100.0f);
    for (int r = 0; r < 100000; ++r) {
        float months[12];
        std::string expected = general_year(1900 + r % 200);
        for (float& m : months) {
            m = random() % 4 == 0 ? specials[random() % specials.size()] : plausible(random);
            expected += general_value(m);
        }
        ASSERT_EQ(row(1900 + r % 200, months), expected + "\n") << "row " << r;
    }
}

TEST(SeriesRow, QuickRouteCoversEveryPlausibleValue) {
    char field[8];
    for (const float v : {-99.0f, -70.0f, 100.0f, 0.0f, -0.0f, 1e-40f, -1e-40f, 0.001f})
        EXPECT_TRUE(textio::put_series_value_quickly(field, v)) << v;
    for (const float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 16384.0f,
                          10000.0f, -1000.0f})
        EXPECT_FALSE(textio::put_series_value_quickly(field, v)) << v;
}

TEST(SeriesRow, YearsAgreeWithTheGeneralWriter) {
    for (std::int32_t year = -2000; year <= 12000; ++year) ASSERT_EQ(quick_year(year), general_year(year)) << year;
    for (const std::int32_t year : {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()})
        EXPECT_EQ(quick_year(year), general_year(year)) << year;
    EXPECT_EQ(quick_year(1), "   1");
    EXPECT_EQ(quick_year(2020), "2020");
    EXPECT_EQ(quick_year(10000), "****");
    EXPECT_EQ(quick_year(-999), "-999");
}

}  // namespace
