// Passing quickly over the records of other stations while a station's block is searched:
// a record is judged by whole 64-byte blocks of character classes instead of character by
// character. Only records that the plain-record reader would read as four plain numbers,
// with an identifier that cannot be the wanted one, are passed over; everything else is
// left to the reader.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace engine {

// Identifiers written as plain digits without leading zero have at most this many digits
// when they fit in 32 bits.
inline constexpr std::size_t max_plain_identifier_digits = 10;

// The wanted identifier as the digits a plain record would carry: usable for every
// positive identifier, since one written as plain digits without leading zero is the
// station exactly when its digits are these.
struct wanted_digits {
    char text[max_plain_identifier_digits] = {};
    std::uint64_t bytes = 0;  // the first 8 digit characters, first in the lowest byte
    std::uint16_t more = 0;   // the 9th and 10th, when there are that many
    int length = 0;
    bool usable = false;
    std::int32_t id = 0;
};

wanted_digits digits_of(std::int32_t id);

struct skim_result {
    std::size_t bytes = 0;               // length of the records passed over
    long records = 0;                    // how many
    std::size_t last_record_offset = 0;  // where the last of them starts
};

// A record passed over whose identifier differs from the one before it (or the first).
struct record_start {
    std::size_t offset = 0;  // within the text skimmed
    long record = 0;         // how many records before it were passed over
};

// Passes over the leading whole records of `text` that belong to other stations. `text`
// must be followed by at least 64 readable bytes. Does nothing on a processor without
// the needed instructions. With `starts`, the records that start a run of one identifier
// are appended to it.
skim_result skim_other_stations(std::string_view text, const wanted_digits& wanted,
                                std::vector<record_start>* starts = nullptr);

struct gather_result {
    std::size_t bytes = 0;
    long records = 0;
    std::size_t last_record_offset = 0;
    bool ended_by_other_station = false;  // the last record passed over is another station's
};

// Reads the leading whole records of `text` while they are the wanted station's plain
// records, appending their dates and values; a plain record of another station is read
// too and ends the gathering (the block ends there). Stops without reading at a record
// it cannot judge.
gather_result gather_wanted_records(std::string_view text, const wanted_digits& wanted, std::vector<float>& dates,
                                    std::vector<float>& values);

// The leading records of a text judged once for every station, as the two functions above
// judge them: where each ends, the runs of one identifier (by its digits, as above), and
// the dates and values of the runs whose identifier was asked for. Judged once, they
// answer the searches for any station without the bytes being looked at again.
struct judged_run {
    std::uint32_t first = 0;  // index of its first record
    std::int32_t id = 0;      // the identifier as the record reader converts it
    bool converted = false;   // its dates and values are kept, from value_first on
    std::uint32_t value_first = 0;
    std::uint64_t id_bytes = 0;  // its digits, as wanted_digits keeps them
    std::uint16_t id_more = 0;
};

struct judged_records {
    std::vector<std::uint32_t> ends;  // offset just past each record's line feed
    std::vector<judged_run> runs;
    std::vector<float> dates;  // of the converted runs' records, in order
    std::vector<float> values;
    bool stopped = false;  // judging stopped at a record the reader must judge itself
};

inline std::size_t judged_count(const judged_records& j) { return j.ends.size(); }

// Offset of record `i` (of the end of the judged records when i is their count).
inline std::size_t judged_start(const judged_records& j, std::size_t i) { return i == 0 ? 0 : j.ends[i - 1]; }

// Judges the leading records of `text` (followed by at least 64 readable bytes), keeping
// the dates and values of the runs whose identifier is in the sorted `converted`. Judges
// none on a processor without the needed instructions.
// With a run limit, judging ends with the first record of the limit-th run: a search that
// lands on the block it wants needs that block and the record that ends it.
void judge_records(std::string_view text, std::span<const std::int32_t> converted, judged_records& out,
                   std::size_t run_limit = SIZE_MAX);

// Appends the judged records of `later`, judged from the text right after `earlier`'s,
// when `earlier` did not stop.
void append_judged(judged_records& earlier, const judged_records& later);

// Whether record `from` opens a run of the wanted station whose dates and values were not
// kept: gathering it needs the records judged again, with the station asked for.
bool unconverted_run_at(const judged_records& judged, std::size_t from, const wanted_digits& wanted);

// From record `from` on, what skim_other_stations and gather_wanted_records give over the
// text from that record, as far as the records were judged.
skim_result skim_judged_records(const judged_records& judged, std::size_t from, const wanted_digits& wanted,
                                std::vector<record_start>* starts = nullptr);
gather_result gather_judged_records(const judged_records& judged, std::size_t from, const wanted_digits& wanted,
                                    std::vector<float>& dates, std::vector<float>& values);

}  // namespace engine
