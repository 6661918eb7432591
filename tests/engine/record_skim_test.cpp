#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <random>
#include <string>
#include <vector>

#include "engine/record_skim.hpp"
#include "tests/support/temp_files.hpp"
#include "textio/convert.hpp"
#include "textio/failure.hpp"
#include "textio/read.hpp"
#include "textio/units.hpp"

namespace {

// Tokens chosen to sit on every edge of what may be passed over quickly: signs, points,
// leading zeros, long digit strings, exponents, stray characters, and identifiers that
// equal the wanted one only after conversion.
const char* const identifiers[] = {"123",        "124",         "0123",        "123.0",     "123.9",      "+123",
                                   "-123",       "12",          "1234",        "16777217",  "16777216",   "99999999",
                                   "123456789",  "1e2",         "12a",         "",          "10160355",   "10160356",
                                   "010160355",  ".",           "-",           "1.2.3",     "123,",       "17508491",
                                   "17508492",   "1.7508491E7", "17508491.0",  "017508491", "2147483647", "2147483648",
                                   "4294967297", "21474836470", "2147483647.9"};
const char* const numbers[] = {"1",
                               "0",
                               "-0",
                               "+5",
                               "1950.042",
                               "1950.5",
                               "-12.34",
                               ".5",
                               "5.",
                               "-.5",
                               "+.",
                               "1.2.3",
                               "1-2",
                               "1e5",
                               "1d2",
                               "123456789012345",
                               "1234567890123456",
                               "12.34x",
                               "n",
                               "inf",
                               "3*7",
                               "/",
                               ",",
                               "12,5",
                               "00000000000000001",
                               "-",
                               "1950.0416666666666666",
                               "0.1000000000000000055511151231257827"};
const char* const separators[] = {" ", "\t", "  ", " \t ", ",", " , "};

std::string random_record(std::mt19937& random, bool plain_layout) {
    auto pick = [&random](const auto& list) { return std::string(list[random() % std::size(list)]); };
    std::string record;
    if (random() % 8 == 0) record += pick(separators);
    record += plain_layout && random() % 2 ? std::to_string(1 + random() % 20000000) : pick(identifiers);
    const int values = plain_layout ? 3 : static_cast<int>(random() % 6);
    for (int i = 0; i < values; ++i) {
        record += plain_layout ? (random() % 2 ? "\t" : " ") : pick(separators);
        record += plain_layout && i < 2 ? std::to_string(random() % 3000) + "." + std::to_string(random() % 1000)
                                        : pick(numbers);
    }
    if (random() % 3 == 0) record += "\t27\t0.8\t0";
    if (random() % 10 == 0) record += "\r";
    return record;
}

struct reference_reader {
    textio::in_unit unit;
    std::int32_t id = 0;
    float values[4] = {0, 0, 0, 0};

    // Reads one record by the general rules; false unless it was exactly one good record.
    bool read_one(float out[4]) {
        try {
            return read_record_values(out);
        } catch (const textio::io_failure&) {
            return false;
        }
    }
    bool read_record_values(float out[4]) {
        const long before = unit.line;
        const textio::in_item targets[] = {textio::target_identifier(id), textio::target_real(values[1]),
                                           textio::target_real(values[2]), textio::target_real(values[3])};
        if (textio::read_free_form(unit, targets, true) != textio::read_outcome::ok) return false;
        std::memcpy(out, values, sizeof values);
        return unit.line == before + 1;
    }
    void pass_one() {
        std::string_view record;
        textio::next_raw_record(unit, record);
    }
};

std::vector<std::string> split_records(const std::string& text, std::size_t from, std::size_t bytes) {
    std::vector<std::string> records;
    std::size_t at = from;
    while (at < from + bytes) {
        const std::size_t stop = text.find('\n', at);
        records.push_back(text.substr(at, stop - at));
        at = stop + 1;
    }
    return records;
}

// Whatever the quick judge passes over or gathers, the general free-form rules read as one
// whole record with the same identifier verdict and the same date and value.
void check_against_reference(const std::string& text, std::int32_t wanted) {
    const engine::wanted_digits digits = engine::digits_of(wanted);
    ASSERT_TRUE(digits.usable);
    std::string padded = text + std::string(64, '\n');  // the readable slack after the data
    const std::string path = support::write_temp_file("records.txt", text);
    reference_reader reference;
    textio::open_input(reference.unit, 13, path);
    std::size_t pos = 0;
    long passed = 0, gathered = 0;
    float values[4];
    bool gathering = false;
    while (pos < text.size()) {
        const std::string_view rest(padded.data() + pos, text.size() - pos);
        std::size_t bytes;
        if (!gathering) {
            std::vector<engine::record_start> starts;
            const engine::skim_result s = engine::skim_other_stations(rest, digits, &starts);
            std::size_t next_start = 0, offset = 0;
            long index = 0;
            std::int32_t previous_id = 0;
            for (const std::string& record : split_records(text, pos, s.bytes)) {
                ASSERT_TRUE(reference.read_one(values)) << record;
                ASSERT_NE(reference.id, wanted) << record;
                // Every record whose identifier differs from the one before it is listed
                // as a start (a record may be listed with an equal value but other digits).
                const bool listed = next_start < starts.size() && starts[next_start].offset == offset;
                if (listed) {
                    ASSERT_EQ(starts[next_start].record, index) << record;
                    ++next_start;
                }
                ASSERT_TRUE(listed || (index > 0 && reference.id == previous_id)) << record;
                previous_id = reference.id;
                offset += record.size() + 1;
                ++index;
                ++passed;
            }
            ASSERT_EQ(next_start, starts.size());
            bytes = s.bytes;
        } else {
            std::vector<float> dates, monthly;
            const engine::gather_result g = engine::gather_wanted_records(rest, digits, dates, monthly);
            const std::vector<std::string> records = split_records(text, pos, g.bytes);
            ASSERT_EQ(records.size(), dates.size() + (g.ended_by_other_station ? 1 : 0));
            for (std::size_t i = 0; i < records.size(); ++i) {
                ASSERT_TRUE(reference.read_one(values)) << records[i];
                const bool own = reference.id == wanted;
                ASSERT_EQ(own, i < dates.size()) << records[i];
                if (own) {
                    ASSERT_EQ(std::memcmp(&values[2], &dates[i], sizeof(float)), 0) << records[i];
                    ASSERT_EQ(std::memcmp(&values[3], &monthly[i], sizeof(float)), 0) << records[i];
                    ++gathered;
                }
            }
            bytes = g.bytes;
        }
        pos += bytes;
        if (pos >= text.size()) break;
        // The record the judge stopped at is the reader's to judge: step over it.
        const std::size_t stop = text.find('\n', pos);
        pos = stop == std::string::npos ? text.size() : stop + 1;
        reference.pass_one();
        gathering = pos % 3 == 0;  // either judge may meet any record
    }
    textio::close_input(reference.unit);
    std::remove(path.c_str());
    EXPECT_GT(passed, 1000) << gathered;
    EXPECT_GT(gathered, 1000) << passed;
}

// The quick judge uses these instructions and, without them, leaves every record to the
// reader: then it passes over nothing and there is nothing to compare.
bool processor_has_quick_judge_instructions() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}

TEST(RecordSkim, AgreesWithTheFreeFormRulesOnTrickyRecords) {
    if (!processor_has_quick_judge_instructions()) {
        GTEST_SKIP() << "the processor lacks AVX2, BMI or BMI2, so the quick judge is never used";
    }
    std::mt19937 random(2024);
    for (std::int32_t wanted : {123, 10160355, 17508491, 2147483647}) {
        std::string text;
        for (int i = 0; i < 20000; ++i) {
            std::string record = random_record(random, random() % 4 != 0);
            if (random() % 4 == 0) {  // many records of the wanted station in a row
                record = std::to_string(wanted) + "\t1\t1950." + std::to_string(random() % 1000) + "\t" +
                         std::to_string(static_cast<int>(random() % 100) - 50) + ".5";
            }
            text += record + "\n";
        }
        check_against_reference(text, wanted);
    }
}

TEST(RecordSkim, WantedDigitsOnlyWhereDigitsDecide) {
    EXPECT_FALSE(engine::digits_of(0).usable);
    EXPECT_FALSE(engine::digits_of(-5).usable);
    EXPECT_TRUE(engine::digits_of(16777217).usable);
    EXPECT_TRUE(engine::digits_of(2147483647).usable);
    EXPECT_EQ(engine::digits_of(2147483647).length, 10);
    EXPECT_EQ(std::string(engine::digits_of(17508491).text, 8), "17508491");
    EXPECT_EQ(engine::digits_of(123).length, 3);
}

}  // namespace

namespace {

// Judges `text` in pieces split at line feeds, as the reader does on two threads.
engine::judged_records judged_in_pieces(const std::string& padded, std::size_t size, int pieces,
                                        const std::vector<std::int32_t>& converted) {
    engine::judged_records whole, piece;
    std::size_t at = 0;
    for (int k = 1; k <= pieces && at < size; ++k) {
        std::size_t to = k == pieces ? size : padded.find('\n', size * static_cast<std::size_t>(k) / pieces);
        to = to == std::string::npos || to >= size ? size : to + 1;
        engine::judge_records(std::string_view(padded.data() + at, to - at), converted, k == 1 ? whole : piece);
        if (k > 1) engine::append_judged(whole, piece);
        if (whole.stopped) break;
        at = to;
    }
    return whole;
}

void expect_same_skim(const engine::skim_result& a, const engine::skim_result& b) {
    ASSERT_EQ(a.bytes, b.bytes);
    ASSERT_EQ(a.records, b.records);
    ASSERT_EQ(a.last_record_offset, b.last_record_offset);
}

}  // namespace

// Records judged once answer every station's search as judging the bytes for that station
// does: the same records passed over, the same run starts, and the same dates and values.
TEST(RecordSkim, JudgedOnceAnswersAsJudgingEachTime) {
    if (!processor_has_quick_judge_instructions()) GTEST_SKIP() << "the quick judge is never used here";
    std::mt19937 random(77);
    for (int pieces : {1, 2, 7}) {
        const std::vector<std::int32_t> stations = {123, 4567, 10160355, 2147483647};
        std::string text;
        for (int i = 0; i < 6000; ++i) {
            const std::int32_t id = stations[(i / (1 + random() % 40)) % stations.size()];
            const char* const values[] = {"-1.936", "+.5", "12", "0.", "-0", "99.125", "-70.0"};
            const char* const endings[] = {"", "\r", "\t31\t0", " 0.412 31 0"};
            std::string record = std::to_string(id) + (random() % 2 ? "\t1\t" : "  1 ") + "1950." +
                                 std::to_string(random() % 1000) + (random() % 2 ? "\t" : " ") +
                                 values[random() % std::size(values)] + endings[random() % std::size(endings)];
            if (i == 5000) record = "1e2 1 1950.5 3";  // the reader's to judge: judging stops here
            text += record + "\n";
        }
        const std::string padded = text + std::string(64, '\n');
        const std::vector<std::int32_t> converted = {123, 4567, 10160355, 2147483647};
        const engine::judged_records judged = judged_in_pieces(padded, text.size(), pieces, converted);
        ASSERT_TRUE(judged.stopped);
        ASSERT_GT(engine::judged_count(judged), 4000u);
        for (std::size_t from = 0; from < engine::judged_count(judged); from += 1 + random() % 5) {
            const std::size_t start = engine::judged_start(judged, from);
            const std::string_view rest(padded.data() + start, text.size() - start);
            for (const std::int32_t wanted : stations) {
                SCOPED_TRACE("pieces " + std::to_string(pieces) + ", record " + std::to_string(from) + ", station " +
                             std::to_string(wanted));
                const engine::wanted_digits digits = engine::digits_of(wanted);
                std::vector<engine::record_start> starts_each, starts_once;
                expect_same_skim(engine::skim_other_stations(rest, digits, &starts_each),
                                 engine::skim_judged_records(judged, from, digits, &starts_once));
                ASSERT_EQ(starts_each.size(), starts_once.size());
                for (std::size_t k = 0; k < starts_each.size(); ++k) {
                    ASSERT_EQ(starts_each[k].offset, starts_once[k].offset);
                    ASSERT_EQ(starts_each[k].record, starts_once[k].record);
                }
                std::vector<float> dates_each, values_each, dates_once, values_once;
                const engine::gather_result each = engine::gather_wanted_records(rest, digits, dates_each, values_each);
                const engine::gather_result once =
                    engine::gather_judged_records(judged, from, digits, dates_once, values_once);
                ASSERT_EQ(each.bytes, once.bytes);
                ASSERT_EQ(each.records, once.records);
                ASSERT_EQ(each.last_record_offset, once.last_record_offset);
                ASSERT_EQ(each.ended_by_other_station, once.ended_by_other_station);
                ASSERT_EQ(dates_each.size(), dates_once.size());
                if (!dates_each.empty()) {  // the bits, so that a NaN or a -0 compares too
                    ASSERT_EQ(std::memcmp(dates_each.data(), dates_once.data(), dates_each.size() * sizeof(float)), 0);
                    ASSERT_EQ(std::memcmp(values_each.data(), values_once.data(), values_each.size() * sizeof(float)),
                              0);
                }
            }
        }
    }
}

// Runs of a station not asked for keep no values: gathering them is left to the reader.
TEST(RecordSkim, UnconvertedRunsAreLeftToTheReader) {
    if (!processor_has_quick_judge_instructions()) GTEST_SKIP() << "the quick judge is never used here";
    const std::string text = "11 1 1950.042 1.5\n11 1 1950.125 2.5\n12 1 1950.042 3.5\n";
    const std::string padded = text + std::string(64, '\n');
    engine::judged_records judged;
    const std::vector<std::int32_t> converted = {12};
    engine::judge_records(std::string_view(padded.data(), text.size()), converted, judged);
    ASSERT_EQ(engine::judged_count(judged), 3u);
    EXPECT_FALSE(judged.stopped);
    std::vector<float> dates, values;
    EXPECT_EQ(engine::gather_judged_records(judged, 0, engine::digits_of(11), dates, values).records, 0);
    const engine::gather_result own = engine::gather_judged_records(judged, 2, engine::digits_of(12), dates, values);
    EXPECT_EQ(own.records, 1);
    EXPECT_EQ(dates, std::vector<float>{1950.042f});
    EXPECT_EQ(values, std::vector<float>{3.5f});
}

// Where a search lands on its block, judging ends with the record after the block: enough
// for the block and the record that ends it, and not a stop at a record left to the reader.
TEST(RecordSkim, JudgingWithARunLimitEndsAfterTheBlock) {
    if (!processor_has_quick_judge_instructions()) GTEST_SKIP() << "the quick judge is never used here";
    const std::string text =
        "7 1 1950.042 1.5\n7 1 1950.125 2.5\n7 1 1950.208 3.5\n8 1 1950.042 4.5\n"
        "8 1 1950.125 5.5\n9 1 1950.042 6.5\n";
    const std::string padded = text + std::string(64, '\n');
    const std::vector<std::int32_t> converted = {7, 8, 9};
    engine::judged_records judged;
    engine::judge_records(std::string_view(padded.data(), text.size()), converted, judged, 2);
    ASSERT_EQ(engine::judged_count(judged), 4u);
    EXPECT_FALSE(judged.stopped);
    std::vector<float> dates, values;
    const engine::gather_result block = engine::gather_judged_records(judged, 0, engine::digits_of(7), dates, values);
    EXPECT_EQ(block.records, 4);
    EXPECT_TRUE(block.ended_by_other_station);
    EXPECT_EQ(block.bytes, text.find("8 1 1950.125"));
    EXPECT_EQ(values, (std::vector<float>{1.5f, 2.5f, 3.5f}));
    engine::judge_records(std::string_view(padded.data(), text.size()), converted, judged, 1);
    EXPECT_EQ(engine::judged_count(judged), 1u);
    EXPECT_FALSE(judged.stopped);
}

// Two parts of one text judged with different stations asked for: a run that goes on from
// one part into the other keeps its values only when both parts kept them.
TEST(RecordSkim, ARunAcrossPartsKeepsValuesOnlyWhenBothPartsDid) {
    if (!processor_has_quick_judge_instructions()) GTEST_SKIP() << "the quick judge is never used here";
    const std::string first = "5 1 1950.042 1.5\n7 1 1950.042 2.5\n7 1 1950.125 3.5\n";
    const std::string second = "7 1 1950.208 4.5\n7 1 1950.292 5.5\n8 1 1950.042 6.5\n";
    const std::string padded_first = first + second + std::string(64, '\n');
    const std::string padded_second = second + std::string(64, '\n');
    const std::vector<std::int32_t> with_seven = {5, 7, 8};
    const std::vector<std::int32_t> without_seven = {5, 8};
    for (const bool seven_first : {true, false}) {
        engine::judged_records judged, later;
        engine::judge_records(std::string_view(padded_first.data(), first.size()),
                              seven_first ? with_seven : without_seven, judged);
        engine::judge_records(std::string_view(padded_second.data(), second.size()),
                              seven_first ? without_seven : with_seven, later);
        engine::append_judged(judged, later);
        ASSERT_EQ(engine::judged_count(judged), 6u);
        EXPECT_TRUE(engine::unconverted_run_at(judged, 1, engine::digits_of(7)));
        std::vector<float> dates, values;
        EXPECT_EQ(engine::gather_judged_records(judged, 1, engine::digits_of(7), dates, values).records, 0);
        const engine::gather_result last =
            engine::gather_judged_records(judged, 5, engine::digits_of(8), dates, values);
        EXPECT_EQ(last.records, 1);
        EXPECT_EQ(values, std::vector<float>{6.5f});
    }
}
