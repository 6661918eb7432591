// Expected results of the station pass, worked out independently of the program from a
// description of the archive (the catalogue stations and the observation records in
// file order) and the run's answers. The rules followed here are the archive's reading
// rules as the user sees them: the region box, the forward block search with its rewind
// fallback, dating by the three-decimal text of the year fraction, the year-by-month
// grid, the implausible-value check, the span test and the missing-month count.
//
// Lines are rendered with the record writers of textio (tested on their own), so an
// expectation differs from the program only where the engine's decisions differ.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace e2e::engine_expect {

// ---- Numbers as the program reads them

// Decimal text to the nearest double, then to single precision.
float real_from_text(std::string_view text);
// Truncation toward zero; NaN, infinities and values outside 32 bits give INT32_MIN.
std::int32_t truncate_to_int(float value);
// An identifier as the program reads it: the nearest double, truncated toward zero.
std::int32_t identifier_from_text(std::string_view text);
// The decimal date text of a month: "1950.042" for January 1950.
std::string month_date_text(int year, int month);
// The year and month of a decimal date; month 0 when the date has none.
std::pair<std::int32_t, int> year_and_month(float date);

// ---- Rendered lines (each ends with its line feed)

std::string progress_line(int saved_count, float lon, float lat, std::int32_t id, std::int32_t first_year,
                          std::int32_t last_year);
std::string spurious_report(std::int32_t id, float lon, float lat, float value);
std::string coordinates_row(float lon, float lat, std::int32_t id);
std::string series_header(float lon, float lat, float extra, std::int32_t id);
std::string series_row(int year, const std::array<float, 12>& months);
// The f8.2 field of a box corner.
std::string corner_field(float degrees);

// ---- The run's answers

struct run_answers {
    int data_type = 1;
    // Typed with a decimal point and within the field widths (6 for latitudes, 7 for
    // longitudes), so each reads as its text.
    std::string max_lat, min_lat, max_lon, min_lon;
    int fyod = 0;
    int lyod = 0;
    std::string fraction;  // free-form real
};

// The answer lines of the whole dialogue: choice, pause, box, confirmation, span,
// confirmation, fraction, and 1 at the final question.
std::string answer_lines(const run_answers& answers);
int potential_months(const run_answers& answers);
// Single-precision product of the potential months and the fraction, truncated; the
// 0 for a fraction of zero; the potential months themselves when the fraction is
// negative or not a number.
std::int32_t max_missing(const run_answers& answers);
// The terminal text from the banner to the final question, for the given first five
// header lines of each file as "(a)" shows them.
std::string dialogue_text(const run_answers& answers, const std::vector<std::string>& catalogue_shown,
                          const std::vector<std::string>& observations_shown);
// Series and coordinates file names of a data type.
std::pair<std::string, std::string> output_names(int data_type);
// The first five lines of a file as the header echo shows them: carriage returns
// dropped, TABs expanded to the next multiple of 8 columns.
std::vector<std::string> shown_header_lines(std::string_view file_bytes);

// ---- The archive and the station pass

struct catalogue_station {
    std::int32_t id = 0;  // identifier as stored: the exact value truncated
    float lat = 0.0f;
    float lon = 0.0f;
    float extra = 0.0f;
};

struct observation_record {
    std::int32_t key = 0;  // identifier as compared: the exact value truncated
    float date = 0.0f;
    float value = 0.0f;
};

struct pass_result {
    int qualifying = 0;
    int saved = 0;
    int missing_reports = 0;
    int spurious_reports = 0;
    int span_rejections = 0;
    int completeness_rejections = 0;
    int rewinds = 0;
    std::string terminal;     // the station lines between the two count messages
    std::string series;       // whole .TSF
    std::string coordinates;  // whole .YX, header line included
    std::string model_error;  // non-empty when the archive holds something this model does not decide
};

// The whole engine part of a run. Blocks whose dates are not all distinct are outside
// this model (their order comes from the sort's own steps): model_error says so.
pass_result expected_pass(const std::vector<catalogue_station>& catalogue,
                          const std::vector<observation_record>& records, const run_answers& answers);

// The same pass over the text of data.txt's records, the lines after its header, read by
// the free-form rules: values separated by blanks or commas, a null value (two commas, or
// one before the first value) keeping the value of the record read before, across rewinds
// too, a record that goes on into the next lines until its four values are read, a slash
// that ends it, and the rest of a line after the fourth value passed over. A search that
// ends a block on a record of several lines starts again at that record's last line.
// Repeat counts, quotes and malformed numbers are outside this model.
pass_result expected_pass_from_text(const std::vector<catalogue_station>& catalogue,
                                    const std::vector<std::string>& lines, const run_answers& answers);

// Each search of the pass over the text, for the stations in table order: whether it
// reported the station missing, and the records of the block it found, in file order.
struct expected_search {
    bool reported_missing = false;
    std::vector<observation_record> records;
};
std::vector<expected_search> expected_searches_from_text(const std::vector<std::int32_t>& table_ids,
                                                         const std::vector<std::string>& lines);

// Full standard output before the author credit.
std::string expected_terminal(const run_answers& answers, const std::vector<std::string>& catalogue_shown,
                              const std::vector<std::string>& observations_shown, const pass_result& pass);

}  // namespace e2e::engine_expect
