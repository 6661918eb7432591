// Record writers: format lists, iw, fw.d, free-form records and internal records.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "textio/format.hpp"

namespace {

using textio::item_int;
using textio::item_logical;
using textio::item_real;
using textio::item_text;
using textio::out_item;

std::string free_form(std::initializer_list<out_item> items) {
    std::string out;
    textio::append_free_form(out, std::span<const out_item>(items.begin(), items.size()));
    return out;
}

std::string fixed(float value, int width, int decimals) {
    std::string out;
    textio::append_fixed_field(out, value, width, decimals);
    return out;
}

std::string integer(std::int32_t value, int width) {
    std::string out;
    textio::append_integer_field(out, value, width);
    return out;
}

float from_bits(std::uint32_t bits) { return std::bit_cast<float>(bits); }
float next_down(float v) { return from_bits(std::bit_cast<std::uint32_t>(v) - 1); }  // positive v
float next_up(float v) { return from_bits(std::bit_cast<std::uint32_t>(v) + 1); }    // positive v

const float nan_value = std::numeric_limits<float>::quiet_NaN();
const float infinity = std::numeric_limits<float>::infinity();

// ---------------------------------------------------------------------------------------
// fw.d

struct fixed_case {
    float value;
    int width;
    int decimals;
    const char* field;
};

void expect_fixed_cases(std::initializer_list<fixed_case> cases) {
    for (const fixed_case& c : cases) {
        EXPECT_EQ(fixed(c.value, c.width, c.decimals), c.field) << "f" << c.width << "." << c.decimals << " of bits 0x"
                                                                << std::hex << std::bit_cast<std::uint32_t>(c.value);
    }
}

TEST(FixedField, WorkedValuesOfTheProgramsDescriptors) {
    expect_fixed_cases({
        {0.0419921875f, 5, 3, "0.042"}, {0.125f, 5, 3, "0.125"},      {0.9580078f, 5, 3, "0.958"},
        {0.0004f, 5, 3, "0.000"},       {-0.042f, 5, 3, "-.042"},     {-0.0004f, 5, 3, " .000"},
        {45.5f, 6, 2, " 45.50"},        {-90.0f, 6, 2, "-90.00"},     {-0.5f, 6, 2, " -0.50"},
        {-0.001f, 6, 2, "  0.00"},      {100.0f, 6, 2, "100.00"},     {-100.0f, 6, 2, "******"},
        {180.0f, 7, 2, " 180.00"},      {-180.0f, 7, 2, "-180.00"},   {-179.75f, 8, 2, " -179.75"},
        {-99.0f, 8, 3, " -99.000"},     {12.3456f, 8, 3, "  12.346"}, {-0.0f, 8, 3, "   0.000"},
        {1234.567f, 8, 3, "1234.567"},  {-1234.5f, 8, 3, "********"},
    });
}

TEST(FixedField, TiesGoAwayFromZero) {
    expect_fixed_cases({
        {0.125f, 5, 2, " 0.13"},
        {-0.125f, 5, 2, "-0.13"},
        {2.5f, 4, 0, "  3."},
        {-2.5f, 4, 0, " -3."},
        {45.5f, 4, 0, " 46."},
    });
}

TEST(FixedField, ValuesJustBelowAndAboveAHalf) {
    expect_fixed_cases({
        {next_down(0.125f), 5, 2, " 0.12"},  // 0.12499999254...
        {next_up(0.125f), 5, 2, " 0.13"},
        {next_down(2.5f), 4, 0, "  2."},
        {next_down(45.5f), 4, 0, " 45."},
        {1.005f, 5, 2, " 1.00"},  // 1.00499999523...
        {next_up(1.005f), 5, 2, " 1.01"},
        {2.675f, 5, 2, " 2.67"},    // 2.67499995231...
        {0.0005f, 6, 3, " 0.001"},  // 0.00050000002...
        {next_down(0.0005f), 6, 3, " 0.000"},
        {0.0015f, 6, 3, " 0.002"},  // 0.00150000001...
        {next_down(0.0015f), 6, 3, " 0.001"},
        {0.0025f, 6, 3, " 0.002"},  // 0.00249999994...
        {next_up(0.0025f), 6, 3, " 0.003"},
    });
}

TEST(FixedField, CarriesThroughAllNines) {
    expect_fixed_cases({
        {0.9996f, 5, 3, "1.000"},
        {9.9996f, 6, 3, "10.000"},
        {99.9996f, 6, 3, "******"},
        {-0.9996f, 6, 3, "-1.000"},
        {0.99999994f, 8, 3, "   1.000"},
        {-9.9996f, 7, 3, "-10.000"},
    });
}

TEST(FixedField, NegativeValuesThatRoundToZeroShowNoMinus) {
    expect_fixed_cases({
        {-0.0004f, 8, 3, "   0.000"},
        {-0.004f, 6, 2, "  0.00"},
        {-0.4f, 4, 0, "  0."},
        {-0.4f, 2, 0, " ."},
        {-0.0004f, 4, 3, "****"},
        {0.4f, 2, 0, "0."},
        {0.0004f, 4, 3, ".000"},
    });
}

TEST(FixedField, ZerosAndSubnormalsArePositiveZero) {
    expect_fixed_cases({
        {0.0f, 5, 3, "0.000"},
        {-0.0f, 5, 3, "0.000"},
        {0.0f, 4, 0, "  0."},
        {0.0f, 4, 3, ".000"},
        {0.0f, 3, 3, "***"},
        {from_bits(0x00000001u), 8, 3, "   0.000"},
        {from_bits(0x80000001u), 5, 3, "0.000"},  // not " .000": a subnormal counts as zero
        {from_bits(0x807fffffu), 6, 2, "  0.00"},
    });
}

TEST(FixedField, LeadingZeroIsDroppedOnlyWhenThereIsNoRoom) {
    expect_fixed_cases({
        {0.5f, 4, 3, ".500"},
        {-0.5f, 5, 3, "-.500"},
        {-0.5f, 4, 3, "****"},
        {0.042f, 6, 3, " 0.042"},
        {0.0419921875f, 4, 3, ".042"},
        {0.0419921875f, 3, 3, "***"},
    });
}

TEST(FixedField, NotANumberAndInfinity) {
    expect_fixed_cases({
        {nan_value, 8, 2, "     NaN"},
        {-infinity, 6, 2, "  -INF"},
        {infinity, 6, 2, "   INF"},
        {infinity, 3, 1, "INF"},
        {-infinity, 3, 1, "***"},
        {-infinity, 4, 1, "-INF"},
        {nan_value, 2, 0, "**"},
        {-nan_value, 5, 3, " -NaN"},
        {-nan_value, 3, 1, "***"},
    });
}

TEST(FixedField, OnlyEightSignificantDigitsCount) {
    expect_fixed_cases({
        // 1.23456776142... : kept digits reach the 8th, which is 7 and carries.
        {1.2345678f, 14, 8, "    1.23456800"},
        {1.2345678f, 10, 7, " 1.2345680"},
        // 0.30000001192... : the 8th digit 1 stays, the digits behind it are zeros.
        {0.3f, 12, 9, " 0.300000010"},
        {0.3f, 10, 7, " 0.3000000"},
        // 0.12345678359...: 8th digit 8 carries into the 7th.
        {0.12345678f, 12, 9, " 0.123456800"},
        // 123456792 exactly; 8th digit 9 carries, the 9th is cut away.
        {123456789.0f, 16, 2, "    123456800.00"},
        {99999992.0f, 12, 1, "  99999992.0"},
        // 99999.9921875: 8th digit 2 stays.
        {99999.99f, 12, 4, "  99999.9920"},
        {9999999.0f, 12, 1, "   9999999.0"},
        {1.0e10f, 14, 2, "10000000000.00"},
        {1.0e10f, 8, 3, "********"},
    });
}

TEST(FixedField, ExtremeMagnitudes) {
    expect_fixed_cases({
        // 340282346638528859811704183484516925440: 8th digit 4 stays.
        {std::numeric_limits<float>::max(), 45, 1, "    340282340000000000000000000000000000000.0"},
        {std::numeric_limits<float>::min(), 30, 28, "0.0000000000000000000000000000"},
        // 1.17549435082...e-38 at 45 places keeps exactly 8 significant digits.
        {std::numeric_limits<float>::min(), 50, 45, "   0.000000000000000000000000000000000000011754943"},
    });
}

// ---------------------------------------------------------------------------------------
// iw

TEST(IntegerField, Examples) {
    struct integer_case {
        std::int32_t value;
        int width;
        const char* field;
    };
    const integer_case cases[] = {
        {120, 3, "120"},
        {1000, 3, "***"},
        {-12, 3, "-12"},
        {-100, 3, "***"},
        {0, 8, "       0"},
        {0, 1, "0"},
        {-1, 1, "*"},
        {-1, 2, "-1"},
        {12345, 4, "****"},
        {1950, 4, "1950"},
        {INT32_MIN, 11, "-2147483648"},
        {INT32_MIN, 12, " -2147483648"},
        {INT32_MIN, 10, "**********"},
        {INT32_MAX, 10, "2147483647"},
    };
    for (const integer_case& c : cases)
        EXPECT_EQ(integer(c.value, c.width), c.field) << "i" << c.width << " of " << c.value;
}

// ---------------------------------------------------------------------------------------
// Free-form records

struct free_real_case {
    float value;
    const char* text;  // the item's own text, after the record's leading blank
};

TEST(FreeForm, RealExamples) {
    const free_real_case
        cases
            [] =
                {
                    {36.7167f, "  36.7167"},   {-99.0f, " -99.0000"},     {24.0f, "  24.0000"},
                    {-120.25f, " -120.250"},   {0.5f, "  0.500000"},      {0.0f, "  0.000000"},
                    {1234.5f, "  1234.50"},    {0.05f, "  5.000000E-02"}, {-2.5e6f, " -2.500000E+06"},
                    {5.5f, "  5.50000"},       {-0.125f, " -0.125000"},   {123.4f, "  123.400"},
                    {-70.5f, " -70.5000"},     {45.25f, "  45.2500"},     {8.25f, "  8.25000"},
                    {-33.75f, " -33.7500"},    {1.0f, "  1.00000"},       {0.1f, "  0.100000"},
                    {123456.7f, "  123457."},   // 123456.703125: six digits, no places left
                    {999999.44f, "  999999."},  // 999999.4375
                };
    for (const free_real_case& c : cases)
        EXPECT_EQ(free_form({item_real(c.value)}), std::string(" ") + c.text + "\n") << c.value;
}

TEST(FreeForm, RealBoundariesOfTheFixedForm) {
    const free_real_case cases[] = {
        {0.99999994f, "  1.00000"},       // carries to one digit before the point
        {9.999999f, "  10.0000"},         // 9.99999904632...
        {next_down(0.1f), "  0.100000"},  // 0.0999999940...: 0.1 at 7 places
        {0.09999f, "  9.999000E-02"},     // below 0.1: exponent form
        {999999.94f, "  9.999999E+05"},   // 999999.9375: a 7th digit appears at 0 places
        {999999.5f, "  9.999995E+05"},
        {1.0e6f, "  1.000000E+06"},
        {9999999.0f, "  9.999999E+06"},
        {1.0e-5f, "  1.000000E-05"},  // 9.99999974737...e-6
        {5.0e-8f, "  5.000000E-08"},  // rounds to zero at 7 places
        {1.0e-30f, "  1.000000E-30"},
        {std::numeric_limits<float>::max(), "  3.402823E+38"},
        {-std::numeric_limits<float>::min(), " -1.175494E-38"},
    };
    for (const free_real_case& c : cases)
        EXPECT_EQ(free_form({item_real(c.value)}), std::string(" ") + c.text + "\n") << c.value;
}

TEST(FreeForm, NotANumberInfinityAndZeros) {
    const free_real_case cases[] = {
        {nan_value, "  NaN"},
        {-nan_value, " -NaN"},
        {infinity, "  INF"},
        {-infinity, " -INF"},
        {-0.0f, "  0.000000"},
        {from_bits(0x00000001u), "  0.000000"},
        {from_bits(0x80400000u), "  0.000000"},
    };
    for (const free_real_case& c : cases) EXPECT_EQ(free_form({item_real(c.value)}), std::string(" ") + c.text + "\n");
}

// The writer keeps the texts of the last reals it wrote on a thread: a real reads the same
// whatever the thread wrote before it. Each value's text alone comes from a thread that
// wrote nothing before; then lines of values drawn at random, repeats and more values
// than are kept included, must be those texts one after the other.
TEST(FreeForm, RealsReadTheSameWhateverWasWrittenBefore) {
    const float values[] = {1.5f,
                            -1.5f,
                            0.0f,
                            -0.0f,
                            nan_value,
                            -nan_value,
                            from_bits(0x7fc00001u),
                            -99.0f,
                            123456.7f,
                            1e-7f,
                            1e30f,
                            63.93f,
                            -147.65f,
                            from_bits(0x80000001u),
                            infinity,
                            next_up(999999.94f)};
    std::vector<std::string> alone;
    std::thread([&] {
        for (const float v : values) {
            const std::string line = free_form({item_real(v)});
            alone.push_back(line.substr(1, line.size() - 2));  // without the leading blank and the line feed
        }
    }).join();
    std::mt19937 random(12);
    for (int line = 0; line < 2000; ++line) {
        std::vector<out_item> items;
        std::string expected = " ";
        for (std::size_t n = 1 + random() % 12; n > 0; --n) {
            const std::size_t k = random() % std::size(values);
            items.push_back(item_real(values[k]));
            expected += alone[k];
        }
        std::string out;
        textio::append_free_form(out, std::span<const out_item>(items.data(), items.size()));
        ASSERT_EQ(out, expected + "\n") << "line " << line;
    }
}

TEST(FreeForm, IntegersLogicalsAndText) {
    EXPECT_EQ(free_form({item_int(5)}), "   5\n");
    EXPECT_EQ(free_form({item_int(4321)}), "   4321\n");
    EXPECT_EQ(free_form({item_int(-7)}), "  -7\n");
    EXPECT_EQ(free_form({item_int(0)}), "   0\n");
    EXPECT_EQ(free_form({item_int(INT32_MIN)}), "  -2147483648\n");
    EXPECT_EQ(free_form({item_logical(true), item_logical(false)}), "  T F\n");
    EXPECT_EQ(free_form({item_text("abc")}), " abc\n");
    EXPECT_EQ(free_form({item_text("ab"), item_text("cd")}), " abcd\n");
    EXPECT_EQ(free_form({item_int(1), item_text("x"), item_int(2)}), "   1 x  2\n");
    EXPECT_EQ(free_form({item_logical(true), item_text("x")}), "  T x\n");
    EXPECT_EQ(free_form({}), " \n");
}

TEST(FreeForm, RecordOfRealsTabsAndAnInteger) {
    EXPECT_EQ(free_form({item_real(-120.25f), item_text("\t"), item_real(45.5f), item_text("\t"), item_int(4321)}),
              "  -120.250 \t  45.5000 \t  4321\n");
}

TEST(FreeForm, LinesOfTheStationPass) {
    // Progress line of the first saved station.
    EXPECT_EQ(free_form({item_int(1), item_text(" >> Saving Station-: "), item_real(5.5f), item_text("\t"),
                         item_real(-0.125f), item_text("\t"), item_int(7), item_text("\t"), item_int(1900), item_int(0),
                         item_int(2010)}),
              "   1  >> Saving Station-:   5.50000 \t -0.125000 \t  7 \t  1900  0  2010\n");
    // Spurious-value report, first two lines.
    EXPECT_EQ(free_form({item_text(" :-Spurious values detected in record e.g., :- ")}),
              "  :-Spurious values detected in record e.g., :- \n");
    EXPECT_EQ(free_form({item_text("  "), item_int(7), item_text("\t"), item_real(5.5f), item_text("\t"),
                         item_real(-0.125f), item_text("\t"), item_real(123.4f)}),
              "     7 \t  5.50000 \t -0.125000 \t  123.400\n");
}

TEST(FreeForm, LinesOfTheOutputFiles) {
    EXPECT_EQ(free_form({item_real(-70.5f), item_text("\t"), item_real(45.25f), item_text("\t"), item_int(321)}),
              "  -70.5000 \t  45.2500 \t  321\n");
    EXPECT_EQ(free_form({item_real(-70.5f), item_text("\t"), item_real(45.25f), item_text("\t"), item_real(24.0f),
                         item_int(321), item_text(" RFMT=(i4,12f8.3) MISS= -99.000")}),
              "  -70.5000 \t  45.2500 \t  24.0000  321  RFMT=(i4,12f8.3) MISS= -99.000\n");
    EXPECT_EQ(free_form({item_real(8.25f), item_text("\t"), item_real(-33.75f), item_text("\t"), item_int(9)}),
              "   8.25000 \t -33.7500 \t  9\n");
}

// ---------------------------------------------------------------------------------------
// Formatted records

struct record_case {
    const char* list;
    std::vector<out_item> items;
    std::string bytes;
};

void expect_records(const std::vector<record_case>& cases) {
    for (const record_case& c : cases) {
        const textio::format_list list = textio::parse_format(c.list);
        std::string out;
        textio::append_formatted(out, list, c.items);
        EXPECT_EQ(out, c.bytes) << c.list;
    }
}

TEST(Formatted, DialogueLines) {
    expect_records({
        {"(/1x,'Required input files:')", {}, "\n Required input files:\n"},
        {"(2x,'over (89.75,-179.75).'/)", {}, "  over (89.75,-179.75).\n\n"},
        {"(/4x,'Enter Selection ==> ',$)", {}, "\n    Enter Selection ==> "},
        {"(,8x,'Valid range is 90.0 <-> -90.0')", {}, "        Valid range is 90.0 <-> -90.0\n"},
        {"(1x,' FYOD :> ',$)", {}, "  FYOD :> "},
        {"(/1x,'Invalid latitude: ',f6.2)", {item_real(90.01f)}, "\n Invalid latitude:  90.01\n"},
        {"(/1x,'Invalid latitude: ',f6.2)", {item_real(-100.5f)}, "\n Invalid latitude: ******\n"},
        {"(2x,'Valid range = ',i4,'-',i4 )", {item_int(1950), item_int(2020)}, "  Valid range = 1950-2020\n"},
        {"(1x,'*WARNING* LYOD must be greater than',i4)",
         {item_int(1950)},
         " *WARNING* LYOD must be greater than1950\n"},
        {"(/1x,'Number of qualifying stations = ',i8,/)",
         {item_int(5)},
         "\n Number of qualifying stations =        5\n\n"},
        {"(/2x,'[1]=Yes',/,2x,'[2]=No ==> ',$)", {}, "\n  [1]=Yes\n  [2]=No ==> "},
        {"(//1x,'Opening File : ',a)", {item_text("data.txt        ")}, "\n\n Opening File : data.txt        \n"},
        {"(/1x,'The file: ',a,' Does not exist. ')",
         {item_text("site_summary.txt")},
         "\n The file: site_summary.txt Does not exist. \n"},
        {"(/1x,'So, reject stations with more than ',i3,' missing monthly values?')",
         {item_int(1008)},
         "\n So, reject stations with more than *** missing monthly values?\n"},
        {"('#Lon',a,'Lat',a,'Station ID#')", {item_text("\t"), item_text("\t")}, "#Lon\tLat\tStation ID#\n"},
        {"(1x,f8.2,'/',f8.2,':------------------------------:',f8.2,'/',f8.2)",
         {item_real(170.0f), item_real(45.0f), item_real(-170.0f), item_real(45.0f)},
         "   170.00/   45.00:------------------------------: -170.00/   45.00\n"},
    });
}

TEST(Formatted, SeriesRow) {
    std::vector<out_item> items{item_int(1950), item_real(-3.2f), item_real(-99.0f)};
    for (int month = 3; month <= 12; ++month) items.push_back(item_real(10.0f));
    std::string expected = "1950  -3.200 -99.000";
    for (int month = 3; month <= 12; ++month) expected += "  10.000";
    expected += "\n";
    expect_records({{"(i4,12f8.3)", items, expected}});
    EXPECT_EQ(expected.size(), 101u);  // 100 columns and the line feed
}

TEST(Formatted, WalkOfTheList) {
    expect_records({
        // The list starts again, in a new record, while items remain.
        {"(i4)", {item_int(1), item_int(22), item_int(333)}, "   1\n  22\n 333\n"},
        {"(1x,i2,'|')", {item_int(1), item_int(2), item_int(3)}, "  1|\n  2|\n  3|\n"},
        // After the last item the walk stops at the next data descriptor.
        {"(i2,' a',i2,' b')", {item_int(1)}, " 1 a\n"},
        {"(i2,' a',i2,' b')", {item_int(1), item_int(2), item_int(3)}, " 1 a 2 b\n 3 a\n"},
        {"(i4)", {}, "\n"},
        {"(1x,'x',$)", {}, " x"},
        {"('a',/,/,'b')", {}, "a\n\nb\n"},
        {"(1x,'a',2/,'b')", {}, " a\n\nb\n"},
        {"(/)", {}, "\n\n"},
        {"(i3,f6.1,a,i2)", {item_int(7), item_real(2.25f), item_text("xy"), item_int(3)}, "  7   2.3xy 3\n"},
    });
}

TEST(Formatted, ParsingDetails) {
    expect_records({
        {"(i4, 3 f6.1)", {item_int(1), item_real(1.0f), item_real(2.0f), item_real(3.0f)}, "   1   1.0   2.0   3.0\n"},
        {"(1X,I3,F6.2,A)", {item_int(5), item_real(1.5f), item_text("z")}, "   5  1.50z\n"},
        {"( 2x , 'a' , i4 )", {item_int(9)}, "  a   9\n"},
        {"('it''s')", {}, "it's\n"},
        {"(\"say \"\"hi\"\" it's\")", {}, "say \"hi\" it's\n"},
        {"('a, b',/'c')", {}, "a, b\nc\n"},
        {"(a3)", {item_text("abcdef")}, "abc\n"},
        {"(a5)", {item_text("ab")}, "   ab\n"},
        {"(a,',',a)", {item_text("x  "), item_text("y")}, "x  ,y\n"},
        {"(,,i2,,)", {item_int(4)}, " 4\n"},
        {"(5f2.0)", {item_real(1.0f), item_real(2.0f)}, "1.2.\n"},
    });
    EXPECT_EQ(textio::parse_format("(i4,12f8.3)").items.size(), 13u);
    EXPECT_EQ(textio::parse_format("(//1x,'Opening File : ',a)").items.size(), 5u);
}

TEST(Formatted, ItemsOfAnotherTypeAreRenderedSensibly) {
    expect_records({
        {"(f6.2)", {item_int(5)}, "  5.00\n"},
        {"(i4)", {item_real(12.7f)}, "  12\n"},
        {"(i4)", {item_real(-12.7f)}, " -12\n"},
        {"(i11)", {item_real(nan_value)}, "-2147483648\n"},
        {"(i11)", {item_real(3.0e9f)}, "-2147483648\n"},
        {"(i4)", {item_text("ab")}, "****\n"},
        {"(f5.1)", {item_logical(true)}, "*****\n"},
        {"(a)", {item_int(-7)}, "-7\n"},
        {"(a)", {item_real(36.7167f)}, "36.7167\n"},
        {"(a)", {item_logical(false)}, "F\n"},
        {"(a3)", {item_int(12)}, " 12\n"},
    });
}

TEST(InternalRecord, FillsTheFieldAndPadsIt) {
    const textio::format_list f53 = textio::parse_format("(f5.3)");
    const out_item fraction[] = {item_real(0.0419921875f)};
    char field[5];
    textio::format_to_string(field, sizeof field, f53, fraction);
    EXPECT_EQ(std::string(field, sizeof field), "0.042");

    char wide[8];
    textio::format_to_string(wide, sizeof wide, f53, fraction);
    EXPECT_EQ(std::string(wide, sizeof wide), "0.042   ");

    const out_item pair[] = {item_int(12), item_int(345678)};
    char narrow[6];
    textio::format_to_string(narrow, sizeof narrow, textio::parse_format("(i4,i4)"), pair);
    EXPECT_EQ(std::string(narrow, sizeof narrow), "  12**");

    char prompt[6];
    textio::format_to_string(prompt, sizeof prompt, textio::parse_format("(1x,'ab',$)"), {});
    EXPECT_EQ(std::string(prompt, sizeof prompt), " ab   ");
}

TEST(InternalRecord, FractionsOfAYearAlwaysStartWithZeroPoint) {
    const textio::format_list f53 = textio::parse_format("(f5.3)");
    const char* const expected[] = {"0.042", "0.125", "0.208", "0.292", "0.375", "0.458",
                                    "0.542", "0.625", "0.708", "0.792", "0.875", "0.958"};
    for (int month = 0; month < 12; ++month) {
        const out_item fraction[] = {item_real(static_cast<float>(2 * month + 1) / 24.0f)};
        char field[5];
        textio::format_to_string(field, sizeof field, f53, fraction);
        EXPECT_EQ(std::string(field, sizeof field), expected[month]) << month;
    }
}

// ---------------------------------------------------------------------------------------
// Programming errors

using FormatDeathTest = ::testing::Test;

TEST_F(FormatDeathTest, InvalidListsAbort) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const char* bad : {"", "i4", "(i4", "i4)", "(f8)", "(f8.)", "(q)", "((i4))", "(i0)", "(0x)", "(0i4)", "('abc)",
                            "(1x'a')", "(i4 i4)", "(i4)x", "(i4.2)"}) {
        EXPECT_DEATH(textio::parse_format(bad), "") << bad;
    }
}

TEST_F(FormatDeathTest, ItemsWithoutDataDescriptorAbort) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const out_item one[] = {item_int(1)};
    std::string out;
    EXPECT_DEATH(textio::append_formatted(out, textio::parse_format("('x')"), one), "");
    char field[5];
    EXPECT_DEATH(textio::format_to_string(field, sizeof field, textio::parse_format("(/f5.3)"), one), "");
}

}  // namespace
