#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/month.hpp"
#include "engine/observation_record.hpp"
#include "engine/plain_record.hpp"
#include "engine/run_settings.hpp"
#include "engine/stations.hpp"
#include "tests/support/temp_files.hpp"
#include "textio/read.hpp"
#include "textio/units.hpp"

namespace {

engine::run_settings box(float max_lat, float min_lat, float max_lon, float min_lon) {
    engine::run_settings run;
    run.max_lat = max_lat;
    run.min_lat = min_lat;
    run.max_lon = max_lon;
    run.min_lon = min_lon;
    run.crosses_dateline = min_lon > max_lon ? 1 : 0;
    return run;
}

TEST(RegionFilter, EdgesDatelineAndNaN) {
    const engine::run_settings plain = box(50, 40, 10, -10);
    const engine::run_settings dateline = box(10, -10, -170, 170);
    const engine::run_settings meridian = box(90, -90, 10, 10);
    struct {
        const engine::run_settings& run;
        float lat, lon;
        bool inside;
    } cases[] = {
        {plain, 50, 0, true},       {plain, 40, 0, true},          {plain, 45, -10, true},
        {plain, 45, 10, true},      {plain, 50.001f, 0, false},    {plain, 45, 10.001f, false},
        {plain, NAN, 0, false},     {plain, 45, NAN, false},       {dateline, 0, 175, true},
        {dateline, 0, 180, true},   {dateline, 0, -180, true},     {dateline, 0, -175, true},
        {dateline, 0, 0, false},    {dateline, 0, -169.9f, false}, {dateline, 0, 170, true},
        {dateline, 11, 175, false}, {meridian, 0, 10, true},       {meridian, 0, 10.0001f, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(engine::inside_box(engine::box_selection(c.run).box, c.lat, c.lon), c.inside)
            << c.lat << " " << c.lon;
}

TEST(MonthAssignment, ByTheThreeDecimalText) {
    struct {
        float date;
        std::int32_t year;
        int month;
    } cases[] = {
        {1950.042f, 1950, 1},  {1950.125f, 1950, 2},   {1950.958f, 1950, 12}, {1950.5f, 1950, 0},    {1950.0f, 1950, 0},
        {1950.0416f, 1950, 1}, {1950.0424f, 1950, 1},  {1950.375f, 1950, 5},  {1950.792f, 1950, 10}, {1.042f, 1, 1},
        {2020.958f, 2020, 12}, {-1950.042f, -1950, 0}, {NAN, INT32_MIN, 0},   {1e30f, INT32_MIN, 0},
    };
    for (const auto& c : cases) {
        const engine::year_month got = engine::date_to_year_month(c.date);
        EXPECT_EQ(got.year, c.year) << c.date;
        EXPECT_EQ(got.month, c.month) << c.date;
    }
}

// The record reader's short route for plain numbers must give, value for value and bit for
// bit, what the general free-form reader gives for the same records, and end where it ends.
TEST(ObservationRecords, QuickPathAgreesWithFreeFormRules) {
    std::string text =
        "10160355\t1\t1950.042\t12.34\t0\t0\t0\n"
        "  10160355 1 1950.125 -3.5\r\n"
        "10160355,1,1950.208,4.25\n"
        "\n"
        "   \n"
        "10160355 1 1950.292 1.5e1 extra words\n"
        "10160355 1 1950.375 /\n"
        "10160355 1\n1950.458 7.75\n"
        "+10160355 -0 .5 5.\n"
        "16777217 2 1950.5416666666666666 0.1000000000000000055511151231257827\n"
        "99999999999999999999 3 2020.958 -0.0\n"
        "12 3 1950.042 3*7\n"
        "12 3 1950.0 25\r\n";
    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        const auto id = static_cast<long>(random() % 100000000);
        const auto date = static_cast<double>(random() % 2020000) / 1000.0 + 1.0;
        const auto value = static_cast<double>(static_cast<long>(random() % 2000001) - 1000000) / 1000.0;
        char line[128];
        std::snprintf(line, sizeof line, "%ld\t%d\t%.3f\t%.*f\t1\t2\t3\n", id, static_cast<int>(random() % 9), date,
                      static_cast<int>(random() % 6), value);
        text += line;
    }
    const std::string path = support::write_temp_file("observations.txt", text);
    textio::in_unit quick, general;
    textio::open_input(quick, 13, path);
    textio::open_input(general, 13, path);
    float second = 0.0f;
    engine::carried_values a, b;
    const textio::in_item targets[] = {textio::target_identifier(b.id), textio::target_real(second),
                                       textio::target_real(b.date), textio::target_real(b.value)};
    long records = 0;
    std::int64_t offset = 0;
    long line = 1;
    for (;;) {
        const engine::record_reading r = engine::read_record_at(quick, offset, line);
        const bool more_general = textio::read_free_form(general, targets, true) == textio::read_outcome::ok;
        ASSERT_EQ(!r.is_end, more_general) << records;
        if (r.is_end) break;
        ++records;
        a = engine::merged(a, r.given, r.mask);
        ASSERT_EQ(a.id, b.id) << "record " << records;
        ASSERT_EQ(std::memcmp(&a.date, &b.date, sizeof(float)), 0) << "record " << records;
        ASSERT_EQ(std::memcmp(&a.value, &b.value, sizeof(float)), 0) << "record " << records;
        ASSERT_EQ(r.place.last_line, general.line);
        ASSERT_EQ(r.place.end, textio::input_offset(general));
        offset = r.place.end;
        line = r.place.last_line + 1;
    }
    EXPECT_EQ(records, 20000 + 11);
    textio::close_input(quick);
    textio::close_input(general);
    std::remove(path.c_str());
}

}  // namespace

namespace {

std::uint32_t bits_of(float f) {
    std::uint32_t u = 0;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// The short route by blocks of character classes gives what the character-by-character
// route gives, wherever a record lies (the end of the file too), and answers for nearly
// every plain record.
TEST(PlainRecords, ByBlocksAgreeWithCharacterByCharacter) {
    if (!engine::blocks_supported()) GTEST_SKIP() << "no AVX2 here";
    std::vector<std::string> lines = {
        "7 1 1950.042 1.5",
        "  7\t1  1950.125\t-2.5\r",
        "+7 -0 .5 5.",
        "7 1 1950.0 2.5,x",
        "7 1 1950.0 2.5/",
        "7 1 1950.0 2.5\r\r",
        "7 1 1950.0 2.5\rx",
        "7 1 1950.0",
        "7 1 1950.0 -",
        "7 1 1950.0 1.2.3",
        "7 1 1950.0 +-1",
        "7 1 1950.0 1-",
        "7 1 1950.0 .",
        "1234567890123456 1 2 3",
        "123456789012345 1 2 3",
        "7 1 1950.0 2.5e1",
        "7 1 1950.0 2.5" + std::string(80, ' ') + "tail",
        std::string(70, ' ') + "7 1 1950.0 2.5",
        "7,1,1950.0,2.5",
        "7 1 1950.0 2*3",
        std::string("7 1 1950.0 2.5\0", 15),
        "7 1 1950.0 2.5 " + std::string(300, 'x'),
        // Values of 16 bytes, more than 8 whole or fraction digits, two points.
        "7 1 12345678901234.5 -123456789012345",
        "7 1 +1234567890123.45 123456789.25",
        "7 1 1234.123456789 -0.5",
        "7 1 1950.0 12.3.4",
        "7 1 -. 1..",
    };
    // Tokens on every edge of the short route: signs, points, leading zeros, long digit
    // strings, exponents, stray characters, identifiers equal only after conversion.
    const char* const tokens[] = {"123",
                                  "0123",
                                  "123.0",
                                  "123.9",
                                  "+123",
                                  "-123",
                                  "16777217",
                                  "1e2",
                                  "12a",
                                  "",
                                  ".",
                                  "-",
                                  "1.2.3",
                                  "123,",
                                  "1.7508491E7",
                                  "017508491",
                                  "2147483647",
                                  "2147483648",
                                  "2147483647.9",
                                  "1",
                                  "-0",
                                  "+5",
                                  "1950.042",
                                  ".5",
                                  "5.",
                                  "-.5",
                                  "+.",
                                  "1-2",
                                  "1d2",
                                  "123456789012345",
                                  "1234567890123456",
                                  "n",
                                  "inf",
                                  "3*7",
                                  "/",
                                  "12,5",
                                  "00000000000000001",
                                  "1950.0416666666666666",
                                  "0.1000000000000000055511151231257827"};
    const char* const separators[] = {" ", "\t", "  ", " \t ", ",", " , "};
    std::mt19937 random(2024);
    const auto pick = [&random](const auto& list) { return std::string(list[random() % std::size(list)]); };
    for (int i = 0; i < 20000; ++i) {
        const bool plain_layout = random() % 4 != 0;
        std::string line = random() % 8 == 0 ? pick(separators) : "";
        line += plain_layout && random() % 2 ? std::to_string(1 + random() % 20000000) : pick(tokens);
        const int values = plain_layout ? 3 : static_cast<int>(random() % 6);
        for (int k = 0; k < values; ++k) {
            line += plain_layout ? (random() % 2 ? "\t" : " ") : pick(separators);
            line += plain_layout && k < 2 ? std::to_string(random() % 3000) + "." + std::to_string(random() % 1000)
                                          : pick(tokens);
        }
        if (random() % 3 == 0) line += "\t27\t0.8\t0";
        if (random() % 10 == 0) line += "\r";
        lines.push_back(line);
    }
    std::string text;
    std::vector<std::int64_t> starts;
    for (const std::string& line : lines) {
        starts.push_back(static_cast<std::int64_t>(text.size()));
        text += line + "\n";
    }
    starts.push_back(static_cast<std::int64_t>(text.size()));
    text += lines[0];  // a last record without a line feed
    const std::string path = support::write_temp_file("plain_records.txt", text);
    textio::in_unit data;
    textio::open_input(data, 13, path);
    ASSERT_TRUE(data.mapped);
    long plain = 0, answered = 0, known = 0;
    for (const std::int64_t offset : starts) {
        textio::plain_number a[4], b[4];
        std::int64_t next_a = 0, next_b = 0;
        const bool by_characters = engine::plain_record_by_characters(data, offset, b, next_b);
        const bool by_blocks = engine::plain_record_by_blocks(data, offset, a, 3, next_a);
        plain += by_characters;
        answered += by_blocks;
        if (by_blocks) {
            ASSERT_TRUE(by_characters) << "at " << offset;
            ASSERT_EQ(next_a, next_b) << "at " << offset;
            for (const int k : {0, 2, 3}) {
                ASSERT_EQ(a[k].digits, b[k].digits) << "at " << offset;
                ASSERT_EQ(a[k].decimals, b[k].decimals) << "at " << offset;
                ASSERT_EQ(a[k].negative, b[k].negative) << "at " << offset;
            }
        }
        // Its date and value kept as it is passed: the same bits.
        const std::size_t id_end = text.find_first_of(" \t", text.find_first_not_of(" \t", offset));
        const std::size_t id_length = id_end - static_cast<std::size_t>(offset) + 1;
        if (by_blocks && id_length < 32) {
            std::int64_t at = offset, last = 0, longest = 0;
            engine::kept_dates_and_values kept;
            ASSERT_EQ(engine::pass_plain_records_written_as(data, at, offset + 1, INT64_MAX, offset, id_length, last,
                                                            longest, &kept),
                      1)
                << "at " << offset;
            ASSERT_EQ(bits_of(kept.dates[0]), bits_of(textio::plain_number_value(b[2]))) << "at " << offset;
            ASSERT_EQ(bits_of(kept.values[0]), bits_of(textio::plain_number_value(b[3]))) << "at " << offset;
        }
        // A record found plain is read again without its form checked: the same bits.
        float date = 0.0f, value = 0.0f;
        std::int64_t next_known = 0;
        if (by_characters &&
            engine::known_plain_values_by_blocks(engine::bytes_of(data), offset, date, value, next_known)) {
            ++known;
            ASSERT_EQ(next_known, next_b) << "at " << offset;
            ASSERT_EQ(bits_of(date), bits_of(textio::plain_number_value(b[2]))) << "at " << offset;
            ASSERT_EQ(bits_of(value), bits_of(textio::plain_number_value(b[3]))) << "at " << offset;
        }
    }
    EXPECT_GT(plain, 4000);
    EXPECT_GT(answered, plain * 95 / 100) << "the blocks answer for nearly every plain record";
    EXPECT_GT(known, plain * 70 / 100) << "values read unchecked for most plain records";
    textio::close_input(data);
    std::remove(path.c_str());
}

// A run passed in one call, where most records are written like the one before (digits
// changed in place) and some are not: the same records, dates, values and ends as each
// record passed on its own, up to the first that is not plain or not of the run; and the
// same again when the run is read as known to be plain.
TEST(PlainRecords, RunsPassedWholeAgreeWithEachRecordOnItsOwn) {
    if (!engine::blocks_supported()) GTEST_SKIP() << "no AVX2 here";
    // Lines of identifier 7 by their shape; a digit placeholder 'd' becomes a random digit.
    const std::string shapes[] = {"7\t1\tdddd.ddd\t-d.ddd\td.ddd\tdd\t0",
                                  "7\t1\tdddd.ddd\td.ddd\td.ddd\tdd\t0",
                                  "7 1 dddd.d dd.d",
                                  "7 1 dddd.d -dd.d,x",
                                  "7 1 dddd.d d.d/",
                                  "7 1 dddd.d d.d\r",
                                  "7 1 dddd.d d.d\rx",
                                  "7  1 dddd.d +.dd",
                                  "7 1 dddd.d ddddddddd",
                                  "7 1 dddd.ddddddddd d",
                                  "7 1 dddd.d d.d.d",
                                  "8 1 dddd.d d.d",
                                  "7 1 dddd.d d.d" + std::string(70, ' ') + "tail"};
    std::mt19937 random(77);
    std::string text;
    std::vector<std::int64_t> starts;
    std::size_t shape = 0;
    for (int i = 0; i < 30000; ++i) {
        // Mostly the shape before, now and then another.
        if (random() % 5 == 0) shape = random() % std::size(shapes);
        starts.push_back(static_cast<std::int64_t>(text.size()));
        for (const char ch : std::string(shapes[shape]))
            text += ch == 'd' ? static_cast<char>('0' + random() % 10) : ch;
        text += '\n';
    }
    starts.push_back(static_cast<std::int64_t>(text.size()));
    text += "7 1 1950.5 2.5";  // the last record ends the file without a line feed
    const std::string path = support::write_temp_file("plain_runs.txt", text);
    textio::in_unit data;
    textio::open_input(data, 13, path);
    ASSERT_TRUE(data.mapped);
    const auto size = static_cast<std::int64_t>(text.size());
    long passed_whole = 0;
    for (std::size_t from = 0; from < starts.size(); ++from) {
        // Each record on its own: how far the run goes, and its dates and values.
        std::vector<float> dates, values;
        std::int64_t at = starts[from], last = -1, longest = 0;
        for (std::int64_t next = at; at < size; at = next) {
            engine::kept_dates_and_values one;
            std::int64_t one_last = 0, one_longest = 0;
            next = at;
            if (engine::pass_plain_records_written_as(data, next, next + 1, INT64_MAX, starts[from], 2, one_last,
                                                      one_longest, &one) != 1)
                break;
            dates.push_back(one.dates[0]);
            values.push_back(one.values[0]);
            last = one_last;
            longest = std::max(longest, one_longest);
        }
        // The same run in one call.
        engine::kept_dates_and_values kept;
        std::int64_t whole_at = starts[from], whole_last = -1, whole_longest = 0;
        const std::int64_t count = engine::pass_plain_records_written_as(data, whole_at, size, INT64_MAX, starts[from],
                                                                         2, whole_last, whole_longest, &kept);
        ASSERT_EQ(count, static_cast<std::int64_t>(dates.size())) << "from " << starts[from];
        ASSERT_EQ(whole_at, at) << "from " << starts[from];
        if (count == 0) continue;
        ASSERT_EQ(whole_last, last) << "from " << starts[from];
        ASSERT_EQ(whole_longest, longest) << "from " << starts[from];
        for (std::int64_t k = 0; k < count; ++k) {
            ASSERT_EQ(bits_of(kept.dates[k]), bits_of(dates[k])) << "record " << k << " from " << starts[from];
            ASSERT_EQ(bits_of(kept.values[k]), bits_of(values[k])) << "record " << k << " from " << starts[from];
        }
        // Read again as a run known to be plain: the same values, and the same end.
        std::vector<float> known_dates(dates.size()), known_values(values.size());
        ASSERT_EQ(engine::read_known_plain_run(engine::bytes_of(data), starts[from], count, known_dates.data(),
                                               known_values.data()),
                  at)
            << "from " << starts[from];
        for (std::int64_t k = 0; k < count; ++k) {
            ASSERT_EQ(bits_of(known_dates[k]), bits_of(dates[k])) << "record " << k << " from " << starts[from];
            ASSERT_EQ(bits_of(known_values[k]), bits_of(values[k])) << "record " << k << " from " << starts[from];
        }
        passed_whole += count;
        from += static_cast<std::size_t>(count) - 1;  // the next run starts where this one stopped
    }
    EXPECT_GT(passed_whole, 15000);
    textio::close_input(data);
    std::remove(path.c_str());
}

}  // namespace
