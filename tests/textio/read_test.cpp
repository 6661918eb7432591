#include "textio/read.hpp"

#include "textio/plain_number.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/capture.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/temp_files.hpp"
#include "textio/failure.hpp"

namespace {

using textio::descriptor;
using textio::descriptor_kind;
using textio::failure_kind;
using textio::format_list;
using textio::in_item;
using textio::read_outcome;

using read_failure = textio::io_failure;

descriptor make_descriptor(descriptor_kind kind) {
    descriptor d{};
    d.kind = kind;
    return d;
}

descriptor data_descriptor(descriptor_kind kind, int width, int decimals = 0) {
    descriptor d = make_descriptor(kind);
    d.width = width;
    d.decimals = decimals;
    return d;
}

format_list list_of(std::vector<descriptor> items) { return format_list{std::move(items)}; }

const float positive_infinity = std::numeric_limits<float>::infinity();
const float largest_float = std::numeric_limits<float>::max();

// Each test reads from a file that holds its input; the unit is numbered as the program's
// observations file.
class ReadTest : public ::testing::Test {
protected:
    void TearDown() override {
        textio::close_all_units();
        for (const std::string& path : created) ::unlink(path.c_str());
    }
    void source(const std::string& bytes) {
        created.push_back(support::write_temp_file("read_test.txt", bytes));
        textio::open_input(unit, 13, created.back());
    }
    read_failure expect_failure(const std::function<void()>& read) {
        if (std::optional<read_failure> f = support::failure_of(read)) return *f;
        ADD_FAILURE() << "the read did not fail";
        return {};
    }

    textio::in_unit unit;
    std::vector<std::string> created;
};

float read_f(textio::in_unit& u, int width, int decimals) {
    float value = -1234.5f;
    const in_item item = textio::target_real(value);
    textio::read_formatted(u, list_of({data_descriptor(descriptor_kind::fixed, width, decimals)}), {&item, 1});
    return value;
}

std::int32_t read_i(textio::in_unit& u, int width) {
    std::int32_t value = -77;
    const in_item item = textio::target_int(value);
    textio::read_formatted(u, list_of({data_descriptor(descriptor_kind::integer, width)}), {&item, 1});
    return value;
}

// ---------------------------------------------------------------------------------------
// fw.d

struct real_field_case {
    const char* typed;
    int width;
    int decimals;
    float expected;
};

class FixedFieldTest : public ReadTest, public ::testing::WithParamInterface<real_field_case> {};

TEST_P(FixedFieldTest, ReadsTheTypedAnswer) {
    const real_field_case& c = GetParam();
    source(std::string(c.typed) + "\n");
    EXPECT_EQ(read_f(unit, c.width, c.decimals), c.expected) << "typed \"" << c.typed << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FixedFieldTest,
    ::testing::Values(real_field_case{"45", 6, 2, 0.45f}, real_field_case{"45.0", 6, 2, 45.0f},
                      real_field_case{"", 6, 2, 0.0f}, real_field_case{"4 5", 6, 2, 0.45f},
                      real_field_case{"45,9", 6, 2, 0.45f}, real_field_case{"-89.75", 6, 2, -89.75f},
                      real_field_case{"45.123456", 6, 2, 45.123f}, real_field_case{"90", 6, 2, 0.90f},
                      real_field_case{"5", 6, 2, 0.05f}, real_field_case{"-45", 6, 2, -0.45f},
                      real_field_case{"4500", 6, 2, 45.0f}, real_field_case{"100", 6, 2, 1.0f},
                      real_field_case{"45.5", 6, 2, 45.5f}, real_field_case{"45.", 6, 2, 45.0f},
                      real_field_case{"  -1 2.5", 8, 2, -12.5f}, real_field_case{"      ", 6, 2, 0.0f},
                      real_field_case{"-", 6, 2, 0.0f}, real_field_case{"-179.75", 7, 2, -179.75f},
                      real_field_case{"-179.755", 7, 2, -179.75f}, real_field_case{"1.5E2", 6, 2, 150.0f},
                      real_field_case{"1.5d2", 6, 2, 150.0f}, real_field_case{"1.5+2", 6, 2, 150.0f},
                      real_field_case{"1.5-3", 6, 2, 0.0015f}, real_field_case{"1.5e-3", 6, 2, 0.0015f},
                      real_field_case{"15E1", 6, 2, 1.5f}, real_field_case{"+7", 6, 2, 0.07f},
                      real_field_case{".5", 6, 2, 0.5f}, real_field_case{"inf", 6, 2, positive_infinity},
                      real_field_case{"-Infinity", 6, 2, -positive_infinity},
                      real_field_case{"I", 6, 2, positive_infinity}, real_field_case{"12345678", 8, 0, 12345678.0f},
                      real_field_case{"1,5", 6, 2, 0.01f}),
    // The descriptor first: the same typed text may be read with different widths.
    [](const ::testing::TestParamInfo<real_field_case>& param_info) {
        return "f" + support::decimal(param_info.param.width) + "_" + support::decimal(param_info.param.decimals) +
               "_" + support::name_part(param_info.param.typed);
    });

TEST_F(ReadTest, FixedFieldNotANumber) {
    source("n\nno\nNaN\n-nan\n");
    EXPECT_TRUE(std::isnan(read_f(unit, 6, 2)));
    EXPECT_TRUE(std::isnan(read_f(unit, 6, 2)));
    EXPECT_TRUE(std::isnan(read_f(unit, 6, 2)));
    EXPECT_TRUE(std::isnan(read_f(unit, 6, 2)));
}

class BadFixedFieldTest : public ReadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadFixedFieldTest, IsFatal) {
    source(std::string("header\n") + GetParam() + "\n");
    std::string header;
    ASSERT_TRUE(textio::read_record(unit, header));
    const read_failure f = expect_failure([&] { read_f(unit, 10, 2); });
    EXPECT_EQ(f.kind, failure_kind::illegal_character);
    EXPECT_EQ(f.operation, "READ");
    EXPECT_EQ(f.unit, 13);
    EXPECT_EQ(f.line, 2);
    EXPECT_EQ(f.file_name, unit.name);
}

INSTANTIATE_TEST_SUITE_P(Answers, BadFixedFieldTest,
                         ::testing::Values("4a5", "1.2.3", "1.5E2E3", "1.5E", "1.5E+", "+-1", "1e2.5", "1.5E2+3", "x",
                                           "E5", ".E5", "1..", "12-", "1.5'"),
                         support::named_by_text());

// ---------------------------------------------------------------------------------------
// iw

struct integer_field_case {
    const char* typed;
    int width;
    std::int32_t expected;
};

class IntegerFieldTest : public ReadTest, public ::testing::WithParamInterface<integer_field_case> {};

TEST_P(IntegerFieldTest, ReadsTheTypedAnswer) {
    const integer_field_case& c = GetParam();
    source(std::string(c.typed) + "\n");
    EXPECT_EQ(read_i(unit, c.width), c.expected) << "typed \"" << c.typed << "\"";
}

INSTANTIATE_TEST_SUITE_P(Answers, IntegerFieldTest,
                         ::testing::Values(integer_field_case{"1995", 4, 1995}, integer_field_case{"95", 4, 95},
                                           integer_field_case{"2000.5", 4, 2000}, integer_field_case{"19 5", 4, 195},
                                           integer_field_case{"", 4, 0}, integer_field_case{"12345", 4, 1234},
                                           integer_field_case{"-12", 4, -12}, integer_field_case{"+7", 4, 7},
                                           integer_field_case{"-", 4, 0}, integer_field_case{"  ", 4, 0},
                                           integer_field_case{"1,999", 4, 1}, integer_field_case{" 1 9", 4, 19},
                                           integer_field_case{"99999999999", 11, 2147483647},
                                           integer_field_case{"-99999999999", 12, -2147483647 - 1},
                                           integer_field_case{"2147483648", 10, 2147483647},
                                           integer_field_case{"-2147483648", 11, -2147483647 - 1}),
                         [](const ::testing::TestParamInfo<integer_field_case>& param_info) {
                             return "i" + support::decimal(param_info.param.width) + "_" +
                                    support::name_part(param_info.param.typed);
                         });

class BadIntegerFieldTest : public ReadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadIntegerFieldTest, IsFatal) {
    source(std::string(GetParam()) + "\n");
    const read_failure f = expect_failure([&] { read_i(unit, 4); });
    EXPECT_EQ(f.kind, failure_kind::illegal_character);
    EXPECT_EQ(f.operation, "READ");
    EXPECT_EQ(f.line, 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, BadIntegerFieldTest, ::testing::Values("19a5", "x", "1.5", "12-", "+-1", "1e2"),
                         support::named_by_text());

// ---------------------------------------------------------------------------------------
// a, record layout, several items

TEST_F(ReadTest, TextFieldTakesTheVariableLength) {
    source("abc\n0123456789abcdef\na\tb,'q'\n");
    char field[10];
    const in_item item = textio::target_text(field, sizeof field);
    const format_list list = list_of({data_descriptor(descriptor_kind::text, 0)});
    textio::read_formatted(unit, list, {&item, 1});
    EXPECT_EQ(std::string(field, sizeof field), "abc       ");
    textio::read_formatted(unit, list, {&item, 1});
    EXPECT_EQ(std::string(field, sizeof field), "0123456789");
    textio::read_formatted(unit, list, {&item, 1});
    EXPECT_EQ(std::string(field, sizeof field), "a       b,");
}

TEST_F(ReadTest, TextFieldWiderThanTheVariableKeepsItsRightmostCharacters) {
    source("abcdef12\nxyz\n");
    char field[4];
    std::int32_t number = -1;
    const in_item items[] = {textio::target_text(field, sizeof field), textio::target_int(number)};
    const format_list list =
        list_of({data_descriptor(descriptor_kind::text, 6), data_descriptor(descriptor_kind::integer, 2)});
    textio::read_formatted(unit, list, items);
    EXPECT_EQ(std::string(field, sizeof field), "cdef");
    EXPECT_EQ(number, 12);
    // The columns the record lacks are blanks, and they too are among the rightmost.
    textio::read_formatted(unit, list, items);
    EXPECT_EQ(std::string(field, sizeof field), "z   ");
    EXPECT_EQ(number, 0);
}

TEST_F(ReadTest, TextFieldNarrowerThanTheVariableIsStoredFromTheLeft) {
    source("abcdef\n");
    char field[4];
    const in_item item = textio::target_text(field, sizeof field);
    textio::read_formatted(unit, list_of({data_descriptor(descriptor_kind::text, 2)}), {&item, 1});
    EXPECT_EQ(std::string(field, sizeof field), "ab  ");
}

TEST_F(ReadTest, HeaderLinesAreReadOneRecordEach) {
    source("line one\r\n\nline three\n");
    char field[12];
    const in_item item = textio::target_text(field, sizeof field);
    const format_list list = list_of({data_descriptor(descriptor_kind::text, 0)});
    textio::read_formatted(unit, list, {&item, 1});
    EXPECT_EQ(std::string(field, sizeof field), "line one    ");
    textio::read_formatted(unit, list, {&item, 1});
    EXPECT_EQ(std::string(field, sizeof field), "            ");
    textio::read_formatted(unit, list, {&item, 1});
    EXPECT_EQ(std::string(field, sizeof field), "line three  ");
    EXPECT_EQ(unit.line, 3);
}

TEST_F(ReadTest, ShortRecordLeavesTheRestBlank) {
    source("12\n");
    std::int32_t year = -1;
    float value = -1.0f;
    const in_item items[] = {textio::target_int(year), textio::target_real(value)};
    textio::read_formatted(
        unit, list_of({data_descriptor(descriptor_kind::integer, 4), data_descriptor(descriptor_kind::fixed, 8, 3)}),
        items);
    EXPECT_EQ(year, 12);
    EXPECT_EQ(value, 0.0f);
}

TEST_F(ReadTest, CommaEndsANumericFieldEarly) {
    source("12,34 5.5,x\n");
    std::int32_t first = 0, second = 0;
    float third = 0.0f;
    const in_item items[] = {textio::target_int(first), textio::target_int(second), textio::target_real(third)};
    textio::read_formatted(
        unit,
        list_of({data_descriptor(descriptor_kind::integer, 4), data_descriptor(descriptor_kind::integer, 3),
                 data_descriptor(descriptor_kind::fixed, 8, 2)}),
        items);
    EXPECT_EQ(first, 12);
    EXPECT_EQ(second, 34);
    EXPECT_EQ(third, 5.5f);
}

TEST_F(ReadTest, SkipSlashAndRestartOfTheList) {
    source("xx12\nskipped line\n  34\n56\n78\n");
    std::int32_t a = 0, b = 0;
    const in_item two[] = {textio::target_int(a), textio::target_int(b)};
    descriptor skip = make_descriptor(descriptor_kind::skip);
    skip.width = 2;
    textio::read_formatted(
        unit,
        list_of({skip, data_descriptor(descriptor_kind::integer, 2), make_descriptor(descriptor_kind::slash),
                 make_descriptor(descriptor_kind::slash), data_descriptor(descriptor_kind::integer, 4)}),
        two);
    EXPECT_EQ(a, 12);
    EXPECT_EQ(b, 34);
    // Items left at the end of the list take the list again on the next record.
    textio::read_formatted(unit, list_of({data_descriptor(descriptor_kind::integer, 4)}), two);
    EXPECT_EQ(a, 56);
    EXPECT_EQ(b, 78);
    EXPECT_EQ(unit.line, 5);
}

TEST_F(ReadTest, FormattedReadPastTheEndIsFatal) {
    source("1950\n");
    EXPECT_EQ(read_i(unit, 4), 1950);
    const read_failure f = expect_failure([&] { read_i(unit, 4); });
    EXPECT_EQ(f.kind, failure_kind::end_of_file);
    EXPECT_EQ(f.operation, "READ");
    EXPECT_EQ(f.unit, 13);
    EXPECT_EQ(f.line, 2);
}

TEST_F(ReadTest, FormattedFieldsOfLastLineWithoutLineFeed) {
    source("h\n-12.5");
    std::string header;
    ASSERT_TRUE(textio::read_record(unit, header));
    EXPECT_EQ(read_f(unit, 6, 2), -12.5f);
}

TEST_F(ReadTest, ProgramListsParsedFromText) {
    source("45\n-179.755\n2000.5\nheader\twith tab\n");
    float latitude = 0.0f, longitude = 0.0f;
    std::int32_t year = 0;
    char header[20];
    const in_item lat = textio::target_real(latitude);
    const in_item lon = textio::target_real(longitude);
    const in_item first_year = textio::target_int(year);
    const in_item line = textio::target_text(header, sizeof header);
    textio::read_formatted(unit, textio::parse_format("(f6.2)"), {&lat, 1});
    textio::read_formatted(unit, textio::parse_format("(f7.2)"), {&lon, 1});
    textio::read_formatted(unit, textio::parse_format("(i4)"), {&first_year, 1});
    textio::read_formatted(unit, textio::parse_format("(a)"), {&line, 1});
    EXPECT_EQ(latitude, 0.45f);
    EXPECT_EQ(longitude, -179.75f);
    EXPECT_EQ(year, 2000);
    EXPECT_EQ(std::string(header, sizeof header), "header  with tab    ");
}

// ---------------------------------------------------------------------------------------
// Free-form reads

std::int32_t free_int(textio::in_unit& u, std::int32_t start) {
    std::int32_t value = start;
    const in_item item = textio::target_int(value);
    EXPECT_EQ(textio::read_free_form(u, {&item, 1}, false), read_outcome::ok);
    return value;
}

float free_real(textio::in_unit& u, float start) {
    float value = start;
    const in_item item = textio::target_real(value);
    EXPECT_EQ(textio::read_free_form(u, {&item, 1}, false), read_outcome::ok);
    return value;
}

bool free_logical(textio::in_unit& u, bool start) {
    bool value = start;
    const in_item item = textio::target_logical(value);
    EXPECT_EQ(textio::read_free_form(u, {&item, 1}, false), read_outcome::ok);
    return value;
}

struct integer_answer_case {
    const char* typed;
    std::int32_t expected;  // the variable holds -5 before the read
};

class FreeIntegerTest : public ReadTest, public ::testing::WithParamInterface<integer_answer_case> {};

TEST_P(FreeIntegerTest, ReadsTheAnswer) {
    source(std::string(GetParam().typed) + "\nnext 99\n");
    EXPECT_EQ(free_int(unit, -5), GetParam().expected) << "typed \"" << GetParam().typed << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FreeIntegerTest,
    ::testing::Values(integer_answer_case{"2", 2}, integer_answer_case{"  2  ", 2}, integer_answer_case{"3 4", 3},
                      integer_answer_case{"3,4", 3}, integer_answer_case{",", -5}, integer_answer_case{"  ,  7", -5},
                      integer_answer_case{"/", -5}, integer_answer_case{"7/", 7}, integer_answer_case{"-17", -17},
                      integer_answer_case{"+5", 5}, integer_answer_case{"007", 7}, integer_answer_case{"\t4\t", 4},
                      integer_answer_case{"2*8", 8}, integer_answer_case{"3*", -5},
                      integer_answer_case{"99999999999", 2147483647},
                      integer_answer_case{"-99999999999", -2147483647 - 1},
                      integer_answer_case{"2147483647", 2147483647}, integer_answer_case{"2147483648", 2147483647},
                      integer_answer_case{"-2147483648", -2147483647 - 1},
                      integer_answer_case{"-2147483649", -2147483647 - 1}, integer_answer_case{"2\r", 2}),
    support::named_by<&integer_answer_case::typed>());

TEST_F(ReadTest, EmptyLinesBeforeAnAnswerArePassedOver) {
    source("\n   \n\t\n3\n4\n");
    EXPECT_EQ(free_int(unit, 0), 3);
    EXPECT_EQ(unit.line, 4);
    EXPECT_EQ(free_int(unit, 0), 4);
}

TEST_F(ReadTest, RestOfTheAnswerLineIsDiscarded) {
    source("3 4\n5\n");
    EXPECT_EQ(free_int(unit, 0), 3);
    EXPECT_EQ(free_int(unit, 0), 5);
}

class BadFreeIntegerTest : public ReadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadFreeIntegerTest, IsFatal) {
    source(std::string("1\n\n") + GetParam() + "\n");
    EXPECT_EQ(free_int(unit, 0), 1);
    const read_failure f = expect_failure([&] { free_int(unit, 0); });
    EXPECT_EQ(f.kind, failure_kind::illegal_character);
    EXPECT_EQ(f.operation, "READ");
    EXPECT_EQ(f.unit, 13);
    EXPECT_EQ(f.line, 3);
}

INSTANTIATE_TEST_SUITE_P(Answers, BadFreeIntegerTest,
                         ::testing::Values("2.0", "x", "1e3", "+", "-", "1-", "12a", "'5'", "0*5", "*5", "2*2.5"),
                         support::named_by_text());

struct real_answer_case {
    const char* typed;
    float expected;  // the variable holds 8.5 before the read
};

class FreeRealTest : public ReadTest, public ::testing::WithParamInterface<real_answer_case> {};

TEST_P(FreeRealTest, ReadsTheValue) {
    source(std::string(GetParam().typed) + "\n");
    EXPECT_EQ(free_real(unit, 8.5f), GetParam().expected) << "typed \"" << GetParam().typed << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Values, FreeRealTest,
    ::testing::Values(real_answer_case{"25", 25.0f}, real_answer_case{".25", 0.25f}, real_answer_case{"0.25", 0.25f},
                      real_answer_case{"-120.25", -120.25f}, real_answer_case{"1.5E2", 150.0f},
                      real_answer_case{"1.5d2", 150.0f}, real_answer_case{"1.5+2", 150.0f},
                      real_answer_case{"1.5-3", 0.0015f}, real_answer_case{"1950.042", 1950.042f},
                      real_answer_case{",", 8.5f}, real_answer_case{"/", 8.5f},
                      real_answer_case{"1e400", positive_infinity}, real_answer_case{"-1e400", -positive_infinity},
                      real_answer_case{"1e-400", 0.0f}, real_answer_case{"1e99999999999999999999", positive_infinity},
                      real_answer_case{"1e-99999999999999999999", 0.0f}, real_answer_case{"0e99999", 0.0f},
                      real_answer_case{"3.5e38", positive_infinity},
                      real_answer_case{"3.4028236e38", positive_infinity},
                      real_answer_case{"3.40282356e38", largest_float},
                      real_answer_case{"340282356779733661637539395458142568448", positive_infinity},
                      real_answer_case{"1.4e-45", std::numeric_limits<float>::denorm_min()},
                      real_answer_case{"7e-46", 0.0f}, real_answer_case{"16777217", 16777216.0f},
                      real_answer_case{"inf", positive_infinity}, real_answer_case{"2*4.5", 4.5f}),
    support::named_by<&real_answer_case::typed>());

class BadFreeRealTest : public ReadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BadFreeRealTest, IsFatal) {
    source(std::string(GetParam()) + "\n");
    const read_failure f = expect_failure([&] { free_real(unit, 0.0f); });
    EXPECT_EQ(f.kind, failure_kind::illegal_character);
    EXPECT_EQ(f.line, 1);
}

INSTANTIATE_TEST_SUITE_P(Values, BadFreeRealTest, ::testing::Values("1.2.3", "12a", "1.5E", "x1", "1e2.5", "--1"),
                         support::named_by_text());

struct identifier_case {
    const char* typed;
    std::int32_t expected;  // the variable holds 4242 before the read
};

class FreeIdentifierTest : public ReadTest, public ::testing::WithParamInterface<identifier_case> {};

TEST_P(FreeIdentifierTest, IsTheNearestDoubleTruncated) {
    source(std::string(GetParam().typed) + "\n");
    std::int32_t value = 4242;
    const in_item item = textio::target_identifier(value);
    textio::read_free_form(unit, {&item, 1}, false);
    EXPECT_EQ(value, GetParam().expected) << "typed \"" << GetParam().typed << "\"";
}

constexpr std::int32_t most_negative_int32 = std::numeric_limits<std::int32_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Values, FreeIdentifierTest,
    ::testing::Values(identifier_case{"17508491", 17508491}, identifier_case{"17508492", 17508492},
                      identifier_case{"1.7508491E7", 17508491}, identifier_case{"17508491.0", 17508491},
                      identifier_case{"017508491", 17508491}, identifier_case{"16777217", 16777217},
                      identifier_case{"2147483647", 2147483647}, identifier_case{"2147483647.99", 2147483647},
                      identifier_case{"2147483648", most_negative_int32},
                      identifier_case{"-2147483648", most_negative_int32},
                      identifier_case{"-2147483647.5", -2147483647}, identifier_case{"123.9", 123},
                      identifier_case{"-7.5", -7}, identifier_case{"-0.5", 0},
                      identifier_case{"1e30", most_negative_int32}, identifier_case{"nan", most_negative_int32},
                      identifier_case{"inf", most_negative_int32}, identifier_case{"-inf", most_negative_int32},
                      identifier_case{",", 4242}, identifier_case{"/", 4242}, identifier_case{"2*99", 99}),
    support::named_by<&identifier_case::typed>());

TEST_F(ReadTest, BadIdentifierIsFatal) {
    source("17508491x\n");
    std::int32_t value = 0;
    const in_item item = textio::target_identifier(value);
    const read_failure f = expect_failure([&] { textio::read_free_form(unit, {&item, 1}, false); });
    EXPECT_EQ(f.kind, failure_kind::illegal_character);
}

TEST_F(ReadTest, RealOfManyDigitsIsTheNearestValue) {
    source("0." + std::string(1000, '3') + "\n" + "0." + std::string(499, '0') + "1e500\n" + "1" +
           std::string(400, '0') + "e-400\n");
    EXPECT_EQ(free_real(unit, 0.0f), static_cast<float>(1.0 / 3.0));
    EXPECT_EQ(free_real(unit, 0.0f), 1.0f);
    EXPECT_EQ(free_real(unit, 0.0f), 1.0f);
}

TEST_F(ReadTest, RealNotANumber) {
    source("nan\nN\n");
    EXPECT_TRUE(std::isnan(free_real(unit, 0.0f)));
    EXPECT_TRUE(std::isnan(free_real(unit, 0.0f)));
}

struct logical_answer_case {
    const char* typed;
    bool expected_from_false;
    bool expected_from_true;
};

class FreeLogicalTest : public ReadTest, public ::testing::WithParamInterface<logical_answer_case> {};

TEST_P(FreeLogicalTest, FirstLetterDecides) {
    source(std::string(GetParam().typed) + "\n" + GetParam().typed + "\n");
    EXPECT_EQ(free_logical(unit, false), GetParam().expected_from_false) << "typed \"" << GetParam().typed << "\"";
    EXPECT_EQ(free_logical(unit, true), GetParam().expected_from_true) << "typed \"" << GetParam().typed << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FreeLogicalTest,
    ::testing::Values(logical_answer_case{"T", true, true}, logical_answer_case{"t", true, true},
                      logical_answer_case{"True", true, true}, logical_answer_case{".TRUE.", true, true},
                      logical_answer_case{".t", true, true}, logical_answer_case{"F", false, false},
                      logical_answer_case{"false", false, false}, logical_answer_case{"yes", false, false},
                      logical_answer_case{"1", false, false}, logical_answer_case{"x", false, false},
                      logical_answer_case{".", false, false}, logical_answer_case{"..T", false, false},
                      logical_answer_case{",", false, true}, logical_answer_case{"/", false, true},
                      logical_answer_case{"  T  F", true, true}),
    support::named_by<&logical_answer_case::typed>());

TEST_F(ReadTest, CharacterValues) {
    source("abc\n'a b,c/d'\n'it''s'\n\"say \"\"hi\"\"\"\nab,cd\n'ab\ncd'\n2*xy\n");
    char field[10];
    const in_item item = textio::target_text(field, sizeof field);
    const auto next = [&] {
        std::memset(field, '#', sizeof field);
        EXPECT_EQ(textio::read_free_form(unit, {&item, 1}, false), read_outcome::ok);
        return std::string(field, sizeof field);
    };
    EXPECT_EQ(next(), "abc       ");
    EXPECT_EQ(next(), "a b,c/d   ");
    EXPECT_EQ(next(), "it's      ");
    EXPECT_EQ(next(), "say \"hi\"  ");
    EXPECT_EQ(next(), "ab        ");
    EXPECT_EQ(next(), "abcd      ");
    EXPECT_EQ(next(), "xy        ");
}

// The catalogue and observation records: four reals per read, with end-of-file handling.
struct four_values {
    float v[4];
};

read_outcome read_four(textio::in_unit& u, four_values& values) {
    const in_item items[] = {textio::target_real(values.v[0]), textio::target_real(values.v[1]),
                             textio::target_real(values.v[2]), textio::target_real(values.v[3])};
    return textio::read_free_form(u, items, true);
}

TEST_F(ReadTest, RecordsOfFourValues) {
    source(
        "1001 45.5 -120.25 12.0 trailing words\n"  // the rest of the record is discarded
        "\n"
        "1002\t46.25\t-121.5\t7\n"
        "1003, 47 ,-122\n"  // continued on the next record
        ", 8.5\n"           // a comma at the start of a continuation only separates
        "1004,,-123,\n"     // empty value keeps the previous one
        "9.5\n"
        ",1,2,3\n"   // a leading comma is a null value
        "1006 1/\n"  // a slash ends the read
        "2*9 2*\n"   // repeats, also of null values
        "1007 1 2 3\r\n"
        "1008,\n"
        ",,4\n"         // after a comma that ended its record, a comma is a null value
        "1009 1 2 3");  // last line without line feed
    four_values r{{0, 0, 0, 0}};
    const auto expect_next = [&](float a, float b, float c, float d) {
        ASSERT_EQ(read_four(unit, r), read_outcome::ok);
        EXPECT_EQ(r.v[0], a);
        EXPECT_EQ(r.v[1], b);
        EXPECT_EQ(r.v[2], c);
        EXPECT_EQ(r.v[3], d);
    };
    expect_next(1001, 45.5f, -120.25f, 12);
    expect_next(1002, 46.25f, -121.5f, 7);
    expect_next(1003, 47, -122, 8.5f);
    EXPECT_EQ(unit.line, 5);
    expect_next(1004, 47, -123, 9.5f);
    expect_next(1004, 1, 2, 3);
    expect_next(1006, 1, 2, 3);
    expect_next(9, 9, 2, 3);
    expect_next(1007, 1, 2, 3);
    expect_next(1008, 1, 2, 4);
    expect_next(1009, 1, 2, 3);
    EXPECT_EQ(read_four(unit, r), read_outcome::end_of_file);
    EXPECT_EQ(unit.line, 14);
}

TEST_F(ReadTest, EndOfFileKeepsTheValuesFilledBefore) {
    source("5 6\n");
    four_values r{{0, 0, 0, 0}};
    EXPECT_EQ(read_four(unit, r), read_outcome::end_of_file);
    EXPECT_EQ(r.v[0], 5.0f);
    EXPECT_EQ(r.v[1], 6.0f);
    EXPECT_EQ(r.v[2], 0.0f);
}

TEST_F(ReadTest, EmptySourceGivesEndOfFile) {
    source("");
    four_values r{{1, 2, 3, 4}};
    EXPECT_EQ(read_four(unit, r), read_outcome::end_of_file);
    EXPECT_EQ(r.v[0], 1.0f);
}

TEST_F(ReadTest, EndOfSourceWithoutEndOfFileHandlingIsFatal) {
    source("1\n\n\n");
    EXPECT_EQ(free_int(unit, 0), 1);
    const read_failure f = expect_failure([&] { free_int(unit, 0); });
    EXPECT_EQ(f.kind, failure_kind::end_of_file);
    EXPECT_EQ(f.operation, "READ");
    EXPECT_EQ(f.unit, 13);
    EXPECT_EQ(f.line, 4);
}

TEST_F(ReadTest, IllegalCharacterNamesTheRecordOfTheValue) {
    source("1 2\n3\nx 4\n");
    four_values r{{0, 0, 0, 0}};
    const read_failure f = expect_failure([&] { read_four(unit, r); });
    EXPECT_EQ(f.kind, failure_kind::illegal_character);
    EXPECT_EQ(f.line, 3);
    EXPECT_EQ(f.file_name, unit.name);
    EXPECT_EQ(r.v[2], 3.0f);
}

TEST_F(ReadTest, ReadWithoutItemsTakesOneRecord) {
    source("\nsecond\n");
    EXPECT_EQ(textio::read_free_form(unit, {}, false), read_outcome::ok);
    EXPECT_EQ(unit.line, 1);
    EXPECT_EQ(textio::read_free_form(unit, {}, true), read_outcome::ok);
    EXPECT_EQ(textio::read_free_form(unit, {}, true), read_outcome::end_of_file);
}

// A read at an offset takes the record from there without moving the unit, and tells
// which values it stored and where it ended: on a later line for a record that goes on.
TEST_F(ReadTest, ReadAtAnOffsetTellsWhatItStoredAndWhereItEnded) {
    const std::string text = "101 0 1950.042 5.5\n102 ,\n, 6.5 7.5 8.5\n103 0 1950.2 /\n104 0\n";
    source(text);
    ASSERT_TRUE(unit.mapped);
    struct {
        std::int64_t offset;
        long line;
        read_outcome outcome;
        float first;
        std::uint32_t stored;
        std::int64_t end;
        long last_line;
    } cases[] = {
        {0, 1, read_outcome::ok, 101.0f, 0xF, 19, 1},
        {19, 2, read_outcome::ok, 102.0f, 0xD, 39, 3},  // the second value left empty
        {25, 3, read_outcome::ok, -1.0f, 0xE, 39, 3},   // from the last line of that record
        {39, 4, read_outcome::ok, 103.0f, 0x7, 54, 4},  // a slash leaves the fourth
        {54, 5, read_outcome::end_of_file, 104.0f, 0x3, 60, 5},
        {60, 6, read_outcome::end_of_file, -1.0f, 0x0, 60, 5},
    };
    for (const auto& c : cases) {
        four_values r{{-1, -1, -1, -1}};
        textio::read_extent extent;
        const textio::in_item items[] = {textio::target_real(r.v[0]), textio::target_real(r.v[1]),
                                         textio::target_real(r.v[2]), textio::target_real(r.v[3])};
        EXPECT_EQ(textio::read_free_form_at(unit, c.offset, c.line, items, extent), c.outcome) << c.offset;
        EXPECT_EQ(r.v[0], c.first) << c.offset;
        EXPECT_EQ(extent.stored, c.stored) << c.offset;
        EXPECT_EQ(extent.end, c.end) << c.offset;
        EXPECT_EQ(extent.last_line, c.last_line) << c.offset;
    }
    EXPECT_EQ(textio::input_offset(unit), 0) << "the unit itself never moved";
}

// A line longer than the kept length is read on in pieces where its values lie further
// on, mapped or through the buffer, and a value that a piece boundary cuts is read whole.
// The lines are made when a test runs: cases are kept for the whole run of the suite.
struct long_line_case {
    const char* name;
    std::string (*line)();
    float expected[4];
};

class LongLineTest : public ReadTest,
                     public ::testing::WithParamInterface<std::tuple<long_line_case, textio::input_access>> {};

const std::size_t kept = textio::max_record_bytes;

TEST_P(LongLineTest, ValuesFarIntoTheLineAreRead) {
    const long_line_case& c = std::get<0>(GetParam());
    created.push_back(support::write_temp_file("long_line.txt", c.line() + "\n9 8 7 6\n"));
    textio::open_input(unit, 13, created.back(), std::get<1>(GetParam()));
    four_values r{{0, 0, 0, 0}};
    ASSERT_EQ(read_four(unit, r), read_outcome::ok);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r.v[i], c.expected[i]) << "value " << i;
    EXPECT_EQ(unit.line, 1);
    ASSERT_EQ(read_four(unit, r), read_outcome::ok);  // the next read starts at the next record
    EXPECT_EQ(r.v[0], 9.0f);
    EXPECT_EQ(unit.line, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LongLineTest,
    ::testing::Combine(
        ::testing::Values(
            long_line_case{
                "values_after_the_kept_length", [] { return std::string(kept + 1000, ' ') + "1 2 3 4"; }, {1, 2, 3, 4}},
            long_line_case{
                "values_three_pieces_on", [] { return std::string(2 * kept + 5, '\t') + "1,2 3\r 4"; }, {1, 2, 3, 4}},
            long_line_case{"value_across_a_piece_boundary",
                           [] { return std::string(kept - 3, ' ') + "123.5 2 3 4"; },
                           {123.5, 2, 3, 4}},
            long_line_case{
                "values_before_and_after", [] { return "1 2 " + std::string(kept, ' ') + "3 4"; }, {1, 2, 3, 4}},
            long_line_case{
                "rest_after_the_values_dropped", [] { return "1 2 3 4 " + std::string(3 * kept, 'x'); }, {1, 2, 3, 4}}),
        ::testing::Values(textio::input_access::mapped_when_possible, textio::input_access::buffered)),
    [](const auto& test) {
        return std::string(std::get<0>(test.param).name) +
               (std::get<1>(test.param) == textio::input_access::buffered ? "_buffered" : "_mapped");
    });

// A single value longer than a piece is not held: the read fails instead of taking a part.
TEST_F(ReadTest, ValueLongerThanAPieceIsAReadFailure) {
    source(std::string(kept - 2, ' ') + std::string(kept + 10, '7') + " 2 3 4\n");
    four_values r{{0, 0, 0, 0}};
    const read_failure f = expect_failure([&] { read_four(unit, r); });
    EXPECT_EQ(f.kind, failure_kind::system);
    EXPECT_EQ(f.operation, "READ");
    EXPECT_EQ(f.error_number, EOVERFLOW);
    EXPECT_EQ(f.line, 1);
}

// ---------------------------------------------------------------------------------------
// decimal_to_float

struct decimal_case {
    const char* text;
    float expected;
};

class DecimalToFloatTest : public ::testing::TestWithParam<decimal_case> {};

TEST_P(DecimalToFloatTest, NearestDoubleThenFloat) {
    EXPECT_EQ(textio::decimal_to_float(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, DecimalToFloatTest,
                         ::testing::Values(decimal_case{"0", 0.0f}, decimal_case{"-0.5", -0.5f},
                                           decimal_case{"0.1", 0.1f}, decimal_case{"1950.958", 1950.958f},
                                           decimal_case{"-99.0", -99.0f}, decimal_case{"16777217", 16777216.0f},
                                           decimal_case{"16777219", 16777220.0f},
                                           // Rounded first to the double 16777217, then to even in single precision.
                                           decimal_case{"16777217.000000000000000000001", 16777216.0f},
                                           decimal_case{"1e39", positive_infinity}, decimal_case{"1e-50", 0.0f},
                                           decimal_case{"1.17549435e-38", std::numeric_limits<float>::min()},
                                           decimal_case{"2.5D1", 25.0f}, decimal_case{"2.5-1", 0.25f}),
                         support::named_by<&decimal_case::text>());

TEST(DecimalToFloat, NegativeZeroKeepsItsSign) {
    const float value = textio::decimal_to_float("-0.0");
    EXPECT_EQ(value, 0.0f);
    EXPECT_TRUE(std::signbit(value));
}

}  // namespace

// The multiplication gives, for every digit string below 2^24 and up to 8 decimals, the
// float of the nearest double: the two are compared bit for bit, with both signs.
TEST(PlainNumberValue, MultiplicationMatchesTheNearestDoubleEverywhereItIsUsed) {
    long mismatches = 0;
    for (int decimals = 0; decimals <= 8; ++decimals) {
        for (std::uint64_t digits = 0; digits < textio::float_exact_limit; ++digits) {
            for (const bool negative : {false, true}) {
                const float fast = textio::plain_number_value(digits, decimals, negative);
                const float exact = textio::plain_number_value_by_double(digits, decimals, negative);
                mismatches += std::memcmp(&fast, &exact, sizeof fast) != 0;
            }
        }
        const float negative_zero = textio::plain_number_value(0, decimals, true);
        EXPECT_TRUE(std::signbit(negative_zero));
    }
    EXPECT_EQ(mismatches, 0);
    const float negative = textio::plain_number_value(1936, 3, true);
    const float negative_exact = textio::plain_number_value_by_double(1936, 3, true);
    EXPECT_EQ(std::memcmp(&negative, &negative_exact, sizeof negative), 0);
}
